#include "platform/Event.h"

#include <utility>

Event::Event(QString name, ResetKind kind) : name_(std::move(name)), kind_(kind) {}

void Event::Set()
{
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (kind_ == ResetKind::Manual)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::Reset()
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::IsSignalled() const
{
    std::lock_guard lock(mutex_);
    return signalled_;
}

bool Event::ConsumeLocked()
{
    if (!signalled_)
        return false;
    if (kind_ == ResetKind::Automatic)
        signalled_ = false;
    return true;
}

Event::WaitResult Event::Wait(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    if (timeoutMs < 0) {
        cv_.wait(lock, [this] { return signalled_; });
        ConsumeLocked();
        return WaitResult::Signalled;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!cv_.wait_until(lock, deadline, [this] { return signalled_; }))
        return WaitResult::TimedOut;
    ConsumeLocked();
    return WaitResult::Signalled;
}

Event::WaitResult Event::WaitUnless(int timeoutMs, const std::atomic<bool>& cancel)
{
    std::unique_lock lock(mutex_);
    const auto woken = [&] { return cancel.load() || signalled_; };
    if (timeoutMs < 0) {
        cv_.wait(lock, woken);
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        if (!cv_.wait_until(lock, deadline, woken))
            return WaitResult::TimedOut;
    }
    if (cancel.load())
        return WaitResult::TimedOut;
    ConsumeLocked();
    return WaitResult::Signalled;
}

void Event::Interrupt()
{
    // Under the lock, so a wait that has just found its flag low is asleep
    // by now and hears it.
    std::lock_guard lock(mutex_);
    cv_.notify_all();
}
