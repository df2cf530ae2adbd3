#include "platform/WorkerThread.h"

#include "tests/support/ThreadState.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;

// Waits on its event until terminated, counting the wake-ups.
class CountingThread : public WorkerThread {
public:
    explicit CountingThread(QString name) : WorkerThread(std::move(name)) {}
    ~CountingThread() override { StopAndJoin(); }

    Event event{QStringLiteral("test"), Event::ResetKind::Automatic};
    std::atomic<int> wakes{0};
    std::atomic<pid_t> id{0};
    char threadName[32] = {};

protected:
    void Execute() override
    {
        pthread_getname_np(pthread_self(), threadName, sizeof threadName);
        id = CurrentThreadId();
        while (WaitFor(event, Event::Infinite))
            ++wakes;
    }
};

TEST(WorkerThreadTest, RunsWakesAndEndsPromptlyOnTerminate)
{
    CountingThread thread(QStringLiteral("AVeryLongThreadNameIndeed"));
    EXPECT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    thread.event.Set();
    ASSERT_TRUE(WaitUntil([&] { return thread.wakes.load() == 1; }));
    EXPECT_STREQ(thread.threadName, "AVeryLongThread");

    // Terminate must end the thread's endless wait, not a later event.
    ASSERT_TRUE(WaitUntil([&] { return ThreadIsAsleep(thread.id); }));
    thread.Terminate();
    EXPECT_TRUE(WaitUntil([&] { return !thread.Running(); }, 5s));
    thread.Join();
    EXPECT_EQ(thread.wakes.load(), 1);
}

TEST(WorkerThreadTest, TimedWaitAndSleepReportWhatEndedThem)
{
    class Probe : public WorkerThread {
    public:
        Probe() : WorkerThread(QStringLiteral("probe")) {}
        ~Probe() override { StopAndJoin(); }
        bool Wait(Event& event, int ms) { return WaitFor(event, ms); }
        bool Nap(int ms) { return Sleep(ms); }

    protected:
        void Execute() override {}
    } probe;
    Event event(QStringLiteral("e"), Event::ResetKind::Automatic);
    EXPECT_FALSE(probe.Wait(event, 20));
    event.Set();
    EXPECT_TRUE(probe.Wait(event, 20));
    EXPECT_TRUE(probe.Nap(10));
    probe.Terminate();
    event.Set();
    EXPECT_FALSE(probe.Wait(event, Event::Infinite));
    EXPECT_TRUE(event.IsSignalled());  // a wait ended by terminate consumes nothing
    EXPECT_FALSE(probe.Nap(10000));
    probe.Join();  // never started: nothing to join
}

}  // namespace
