#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {
using Kind = Event::ResetKind;
using Result = Event::WaitResult;
}

TEST(Event, SetBeforeWaitStaysSignalled)
{
    Event manual(QStringLiteral("m"), Kind::Manual);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), Result::Signalled);
    EXPECT_EQ(manual.Wait(0), Result::Signalled) << "a manual event stays set until reset";
    manual.Reset();
    EXPECT_EQ(manual.Wait(0), Result::TimedOut);

    Event automatic(QStringLiteral("a"), Kind::Automatic);
    automatic.Set();
    EXPECT_EQ(automatic.Wait(0), Result::Signalled);
    EXPECT_EQ(automatic.Wait(0), Result::TimedOut) << "one wait consumes an automatic event";
}

TEST(Event, TimedWaitTimesOutAfterItsInterval)
{
    Event event(QStringLiteral("t"), Kind::Automatic);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(80), Result::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 80ms);
    EXPECT_LT(waited, 2s);
}

TEST(Event, SetWakesAnInfiniteWaiter)
{
    Event event(QStringLiteral("w"), Kind::Manual);
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        event.Set();
    });
    EXPECT_EQ(event.Wait(Event::Infinite), Result::Signalled);
    setter.join();
}

// A manual event releases every waiter; an automatic one exactly one per Set.
TEST(Event, ManualWakesAllAutomaticWakesOne)
{
    struct Case {
        Kind kind;
        int expectedWoken;
    };
    for (const Case& c : {Case{Kind::Manual, 3}, Case{Kind::Automatic, 1}}) {
        Event event(QStringLiteral("many"), c.kind);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i)
            waiters.emplace_back([&] {
                if (event.Wait(400) == Result::Signalled)
                    ++woken;
            });
        std::this_thread::sleep_for(50ms);
        event.Set();
        for (auto& t : waiters)
            t.join();
        EXPECT_EQ(woken.load(), c.expectedWoken) << (c.kind == Kind::Manual ? "manual" : "automatic");
    }
}
