#include "fakeservice/StopSignal.h"

void StopSignal::Raise()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        isRaised_ = true;
    }
    raised_.notify_all();
}

bool StopSignal::Raised() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return isRaised_;
}

bool StopSignal::WaitFor(std::chrono::milliseconds duration)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return !raised_.wait_for(lock, duration, [this] { return isRaised_; });
}
