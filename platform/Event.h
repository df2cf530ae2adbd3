#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// An in-process event with manual or automatic reset.
//
// A manual-reset event stays signalled until Reset(); every waiter passes.
// An automatic-reset event is consumed by exactly one successful wait.
// A Set() with nobody waiting is kept until a wait consumes it (or a Reset()).
// The name is kept only for log lines.
class Event {
public:
    enum class ResetKind { Manual, Automatic };
    enum class WaitResult { Signalled, TimedOut };

    static constexpr int Infinite = -1;

    Event(QString name, ResetKind kind);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Waits up to timeoutMs milliseconds (Infinite: without limit).
    WaitResult Wait(int timeoutMs = Infinite);
    // The same, but ends as timed out, leaving the event as it is, once
    // cancel is true; whoever raises cancel calls Interrupt() afterwards so
    // that the wait looks at it.
    WaitResult WaitUnless(int timeoutMs, const std::atomic<bool>& cancel);
    // Wakes every wait so that it looks at its cancel flag again.
    void Interrupt();

    bool IsSignalled() const;
    const QString& Name() const { return name_; }
    bool IsManualReset() const { return kind_ == ResetKind::Manual; }

private:
    bool ConsumeLocked();

    const QString name_;
    const ResetKind kind_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};
