// Waiting for the journal to be replayed past a refusal of the service.

#include "sync/engine/JournalBarrier.h"

#include "foundation/ProcessState.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/JournalStandIn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

const auto kNever = [] { return false; };

TEST(JournalBarrierTest, NobodyWaitsWithoutAJournalThreadOrOnIt)
{
    EXPECT_TRUE(JournalBarrier::WaitForReplay(kNever, 0ms));

    // On the journal thread itself, a replay running there calls it.
    const JournalBarrier::Puller puller;
    EXPECT_TRUE(JournalBarrier::WaitForReplay(kNever, 0ms));
}

// A pull already running when the refusal came may have read the journal
// before the entry that explains it: only a pull begun afterwards counts.
TEST(JournalBarrierTest, OnlyAPullBegunAfterTheCallReleasesTheWait)
{
    std::atomic<bool> registered{false};
    std::atomic<bool> runningEnded{false};
    std::promise<void> endRunningPull;
    std::promise<void> beginNextPull;
    std::thread journal([&] {
        const JournalBarrier::Puller puller;
        auto running = std::make_unique<JournalBarrier::Pull>();
        running->Answered();
        evtRequestSyncJournal.Reset();
        registered = true;
        endRunningPull.get_future().wait();
        running.reset();
        runningEnded = true;
        beginNextPull.get_future().wait();
        JournalBarrier::Pull next;
        next.Answered();
    });
    ASSERT_TRUE(WaitUntil([&] { return registered.load(); }));

    auto waiter = std::async(std::launch::async, [] { return JournalBarrier::WaitForReplay(kNever, 10s); });
    ASSERT_TRUE(WaitUntil([] { return evtRequestSyncJournal.IsSignalled(); }));
    EXPECT_GE(JournalRequestCount.load(), 1);
    endRunningPull.set_value();
    ASSERT_TRUE(WaitUntil([&] { return runningEnded.load(); }));
    EXPECT_EQ(waiter.wait_for(200ms), std::future_status::timeout) << "released by a pull begun before the call";
    beginNextPull.set_value();
    journal.join();
    EXPECT_TRUE(waiter.get());
    JournalRequestCount.store(0);
    evtRequestSyncJournal.Reset();
}

TEST(JournalBarrierTest, AFailedPullAStopOrAFullResyncEndsTheWaitUnreplayed)
{
    {
        JournalStandIn failing(nullptr, false);
        EXPECT_FALSE(JournalBarrier::WaitForReplay(kNever, 10s));
        EXPECT_TRUE(failing.Pulled());
    }
    {
        // A journal thread busy elsewhere: no pull comes.
        std::atomic<bool> registered{false};
        std::promise<void> done;
        std::thread journal([&] {
            const JournalBarrier::Puller puller;
            registered = true;
            done.get_future().wait();
        });
        ASSERT_TRUE(WaitUntil([&] { return registered.load(); }));
        std::atomic<bool> stop{false};
        auto waiter = std::async(std::launch::async,
                                 [&] { return JournalBarrier::WaitForReplay([&] { return stop.load(); }, 10s); });
        ASSERT_TRUE(WaitUntil([] { return JournalRequestCount.load() > 0; }));
        stop = true;
        EXPECT_FALSE(waiter.get());

        // While a full resync holds the pulls back, no pull is asked for and
        // nothing is waited for.
        JournalRequestCount.store(0);
        evtRequestSyncJournal.Reset();
        ResyncRunning = true;
        EXPECT_FALSE(JournalBarrier::WaitForReplay(kNever, 10s));
        ResyncRunning = false;
        EXPECT_EQ(JournalRequestCount.load(), 0);
        EXPECT_FALSE(evtRequestSyncJournal.IsSignalled());

        done.set_value();
        journal.join();
        JournalRequestCount.store(0);
        evtRequestSyncJournal.Reset();
    }
}

}  // namespace
