#include "shell/control/LoginBackoff.h"

#include <algorithm>

int LoginBackoff::ArmMilliseconds(int seconds)
{
    int wait = seconds;
    if (seconds == 0) {
        wait = 1;
        step_ = 1;
    }
    if (seconds > 1000)
        wait = seconds / 1000;
    if (wait > MaxSeconds)
        step_ = 150;
    return std::clamp(wait, 0, MaxSeconds) * 1000;
}

LoginBackoff::Retry LoginBackoff::OnNetworkFailure()
{
    ++failures_;
    if (failures_ < FailuresPerStep)
        return {2, false};
    failures_ = 0;
    ++step_;
    return {2 * step_, true};
}

int LoginBackoff::OnAgentCheckFailure()
{
    ++step_;
    return 2 * step_;
}
