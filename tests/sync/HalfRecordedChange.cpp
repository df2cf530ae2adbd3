#include "tests/sync/HalfRecordedChange.h"

#include "tests/support/WaitUntil.h"

#include <atomic>
#include <thread>

bool HalfRecordedChange::RaceWith(const std::function<void()>& act, const std::function<void()>& rest)
{
    std::atomic<bool> ended{false};
    std::thread other([&] {
        act();
        ended = true;
    });
    const bool reached = WaitUntil([&] { return ended.load() || LocalChangeLock::Waiting() > 0; }) && !ended.load();
    rest();
    lock_.reset();
    other.join();
    return reached;
}
