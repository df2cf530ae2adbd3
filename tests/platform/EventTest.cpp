#include "platform/Event.h"

#include "tests/support/ThreadState.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Kind = Event::ResetKind;
using Result = Event::WaitResult;

// One Wait on the event, on a thread of its own. Asleep() tells when the
// thread is blocked in it, so a test can act on a waiting thread without a
// fixed sleep.
class Waiter {
public:
    Waiter(Event& event, int timeoutMs)
        : thread_([this, &event, timeoutMs] {
              id_ = CurrentThreadId();
              const auto start = std::chrono::steady_clock::now();
              result_ = event.Wait(timeoutMs);
              waited_ = std::chrono::steady_clock::now() - start;
              done_ = true;
          })
    {
    }
    ~Waiter() { thread_.join(); }

    bool Asleep() const { return id_ != 0 && ThreadIsAsleep(id_); }
    bool Done() const { return done_; }
    Result Outcome() const { return result_; }
    std::chrono::steady_clock::duration Waited() const { return waited_; }

private:
    std::atomic<pid_t> id_{0};
    std::atomic<bool> done_{false};
    std::atomic<Result> result_{Result::TimedOut};
    std::atomic<std::chrono::steady_clock::duration> waited_{};
    std::thread thread_;  // last: starts once the rest is there
};

}  // namespace

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

// The wait lasts at least its interval (the clock cannot make that flake),
// and it does end: a wait that ignored its interval fails here instead of
// hanging the test.
TEST(Event, TimedWaitTimesOutAfterItsInterval)
{
    Event event(QStringLiteral("t"), Kind::Automatic);
    Waiter waiter(event, 80);
    const bool ended = WaitUntil([&] { return waiter.Done(); }, 5s);
    if (!ended)
        event.Set();  // lets the waiter go
    EXPECT_TRUE(ended);
    EXPECT_EQ(waiter.Outcome(), Result::TimedOut);
    EXPECT_GE(waiter.Waited(), 80ms);
}

TEST(Event, SetWakesAnInfiniteWaiter)
{
    Event event(QStringLiteral("w"), Kind::Manual);
    Waiter waiter(event, Event::Infinite);
    ASSERT_TRUE(WaitUntil([&] { return waiter.Asleep(); })) << "the waiter never blocked";
    EXPECT_FALSE(waiter.Done());
    event.Set();
    EXPECT_TRUE(WaitUntil([&] { return waiter.Done(); }));
    EXPECT_EQ(waiter.Outcome(), Result::Signalled);
}

// With three threads blocked in Wait, a Set releases all of them on a manual
// event and exactly one on an automatic event (which it then consumes); each
// further Set releases one more. The waits are long enough that none ends
// by itself while the test watches.
TEST(Event, ManualWakesAllAutomaticWakesOne)
{
    struct Case {
        Kind kind;
        int woken;
    };
    for (const Case& c : {Case{Kind::Manual, 3}, Case{Kind::Automatic, 1}}) {
        SCOPED_TRACE(c.kind == Kind::Manual ? "manual" : "automatic");
        Event event(QStringLiteral("many"), c.kind);
        std::vector<std::unique_ptr<Waiter>> waiters;
        for (int i = 0; i < 3; ++i)
            waiters.push_back(std::make_unique<Waiter>(event, 30000));
        auto done = [&waiters] {
            int count = 0;
            for (const auto& waiter : waiters)
                count += waiter->Done() ? 1 : 0;
            return count;
        };
        ASSERT_TRUE(WaitUntil([&] {
            for (const auto& waiter : waiters)
                if (!waiter->Asleep())
                    return false;
            return true;
        }));

        event.Set();
        EXPECT_TRUE(WaitUntil([&] { return done() >= c.woken; }, 5s));
        std::this_thread::sleep_for(50ms);  // the others, if any, must stay asleep
        EXPECT_EQ(done(), c.woken);
        EXPECT_EQ(event.IsSignalled(), c.kind == Kind::Manual);

        for (int woken = done() + 1; woken <= 3; ++woken) {
            event.Set();
            EXPECT_TRUE(WaitUntil([&] { return done() >= woken; }, 5s));
        }
        for (const auto& waiter : waiters)
            EXPECT_EQ(waiter->Outcome(), Result::Signalled);
    }
}
