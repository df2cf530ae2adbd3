#include "sync/rules/RetryDelay.h"

#include <algorithm>

RetryDelay::RetryDelay(Duration first, Duration cap, Clock clock)
    : first_(std::max(first, Duration(1))),
      cap_(std::max(cap, first_)),
      clock_(std::move(clock)),
      next_(first_)
{
}

RetryDelay::Duration RetryDelay::Failed()
{
    const Duration delay = next_;
    ++failures_;
    const SteadyTime now = Now();
    const auto room = std::chrono::duration_cast<Duration>(SteadyTime::max() - now);
    due_ = delay < room ? now + delay : SteadyTime::max();
    // Doubling stops at the cap, so it never overflows.
    next_ = delay >= cap_ / 2 ? cap_ : delay * 2;
    return delay;
}

void RetryDelay::Succeeded()
{
    failures_ = 0;
    next_ = first_;
    due_ = SteadyTime{};
}

RetryDelay::Duration RetryDelay::Next() const
{
    return next_;
}

bool RetryDelay::IsDue() const
{
    return Now() >= due_;
}

SteadyTime RetryDelay::Now() const
{
    return clock_ ? clock_() : SteadyClock::now();
}
