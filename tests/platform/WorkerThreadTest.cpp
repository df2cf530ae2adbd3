#include "platform/WorkerThread.h"

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
    char threadName[32] = {};

protected:
    void Execute() override
    {
        pthread_getname_np(pthread_self(), threadName, sizeof threadName);
        while (WaitFor(event, Event::Infinite))
            ++wakes;
    }
};

template <typename Predicate>
bool Eventually(Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(WorkerThreadTest, RunsWakesAndEndsPromptlyOnTerminate)
{
    CountingThread thread(QStringLiteral("AVeryLongThreadNameIndeed"));
    EXPECT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    thread.event.Set();
    ASSERT_TRUE(Eventually([&] { return thread.wakes.load() == 1; }));
    EXPECT_STREQ(thread.threadName, "AVeryLongThread");

    const auto before = std::chrono::steady_clock::now();
    thread.Terminate();
    thread.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(thread.Running());
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
