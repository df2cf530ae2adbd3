#include "shell/threads/ServiceCallThread.h"

#include "client/PeltaAPI.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <mutex>

TEST(ServiceCallThreadTest, JobsRunInOrderAndNoneAfterTerminate)
{
    PeltaAPI api(nullptr, nullptr);
    ServiceCallThread thread(api);
    std::mutex mutex;
    QStringList ran;
    const auto job = [&](const char* name) {
        return [&, name] {
            std::lock_guard lock(mutex);
            ran << QLatin1String(name);
        };
    };
    thread.Queue(job("a"));  // queued before the start
    ASSERT_TRUE(thread.Start());
    thread.Queue(job("b"));
    thread.Queue(job("c"));
    ASSERT_TRUE(WaitUntil([&thread] { return thread.Pending() == 0; }));
    thread.Terminate();
    thread.Queue(job("late"));
    thread.Join();
    std::lock_guard lock(mutex);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}
