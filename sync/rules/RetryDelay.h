#pragma once

// Retry, never drop: a pass or a row that failed is tried again after a
// delay that grows with each failure in a row (the first delay, then twice
// as long each time) up to a cap, and starts again from the first delay once
// an attempt succeeds. Nothing is given up for failing often, and nothing is
// retried in a tight loop.
//
// Times are taken from the steady clock (a clock step never stalls or
// expires a delay); tests hand in a clock of their own. One object belongs
// to one owner (a thread) and is not shared.

#include "foundation/ProcessState.h"

#include <chrono>
#include <functional>

class RetryDelay {
public:
    using Duration = std::chrono::milliseconds;
    using Clock = std::function<SteadyTime()>;

    static constexpr Duration DefaultFirst{std::chrono::seconds(10)};
    static constexpr Duration DefaultCap{std::chrono::minutes(10)};

    // first and cap are at least 1 ms, cap at least first. A null clock is
    // the steady clock.
    explicit RetryDelay(Duration first = DefaultFirst, Duration cap = DefaultCap, Clock clock = {});

    // An attempt failed: the delay before the next one, which is due that
    // long from now.
    Duration Failed();
    // An attempt succeeded: the next failure waits the first delay again,
    // and an attempt may run at once.
    void Succeeded();

    // The delay that the next failure will give.
    Duration Next() const;
    // When the next attempt may run; SteadyTime{} (at once) with no failure.
    SteadyTime Due() const { return due_; }
    bool IsDue() const;
    // Failures in a row since the last success.
    int Failures() const { return failures_; }

private:
    SteadyTime Now() const;

    Duration first_;
    Duration cap_;
    Clock clock_;
    Duration next_;
    SteadyTime due_{};
    int failures_ = 0;
};
