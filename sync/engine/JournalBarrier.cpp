#include "sync/engine/JournalBarrier.h"

#include "foundation/ProcessState.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex barrierMutex;
std::condition_variable pullEnded;
int pullers = 0;                  // guarded by barrierMutex
std::uint64_t pullsStarted = 0;   // guarded by barrierMutex
std::uint64_t lastEnded = 0;      // the number of the latest pull that ended
bool lastAnswered = false;        // whether that pull ran to an answer
thread_local int pullerHere = 0;  // the calling thread is the journal thread

constexpr JournalBarrier::Duration kStopPoll{50};

}  // namespace

JournalBarrier::Puller::Puller()
{
    std::lock_guard lock(barrierMutex);
    ++pullers;
    ++pullerHere;
}

JournalBarrier::Puller::~Puller()
{
    {
        std::lock_guard lock(barrierMutex);
        --pullers;
        --pullerHere;
    }
    pullEnded.notify_all();
}

JournalBarrier::Pull::Pull()
{
    std::lock_guard lock(barrierMutex);
    number_ = ++pullsStarted;
}

JournalBarrier::Pull::~Pull()
{
    {
        std::lock_guard lock(barrierMutex);
        if (number_ > lastEnded) {
            lastEnded = number_;
            lastAnswered = answered_;
        }
    }
    pullEnded.notify_all();
}

bool JournalBarrier::WaitForReplay(const std::function<bool()>& stop, Duration limit)
{
    std::uint64_t wanted = 0;
    {
        std::lock_guard lock(barrierMutex);
        if (pullers == 0 || pullerHere > 0)
            return true;
        if (ResyncRunning.load())
            return false;  // no pull runs until the full resync ends
        wanted = pullsStarted + 1;  // a pull running now may have read the journal before the refusal
    }
    JournalRequestCount.fetch_add(1);
    evtRequestSyncJournal.Set();

    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(barrierMutex);
    while (lastEnded < wanted) {
        if (pullers == 0 || (stop && stop()))
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        pullEnded.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kStopPoll, deadline - now));
    }
    return lastAnswered;
}
