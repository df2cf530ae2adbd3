#include "shell/windows/PeltaLogThread.h"

#include "tests/support/WaitUntil.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <atomic>
#include <mutex>

namespace {

class PeltaLogThreadTest : public ::testing::Test {
protected:
    void TearDown() override { AppState = XAPPOnline; }

    QStringList Delivered()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return delivered_;
    }

    Event event_{QStringLiteral("TestLog"), Event::ResetKind::Manual};
    std::atomic<int> mask_{0x7FFFFFFF};
    PeltaLog log_{event_, mask_};
    std::mutex mutex_;
    QStringList delivered_;
    PeltaLogThread thread_{log_, event_, [this](const QString& text) {
                               std::lock_guard<std::mutex> guard(mutex_);
                               delivered_ << text;
                           }};
};

TEST_F(PeltaLogThreadTest, EveryLineReachesTheWindowAndTheEventIsResetBeforeTheTake)
{
    ASSERT_TRUE(thread_.Start());
    for (int i = 0; i < 50; ++i) {
        log_.Write(QStringLiteral("line %1").arg(i), 2);
        ASSERT_TRUE(WaitUntil([&] { return Delivered().join(QString()).contains(QStringLiteral("line %1").arg(i)); }))
            << i;
    }
    ASSERT_TRUE(WaitUntil([&] { return !event_.IsSignalled(); }));
    EXPECT_EQ(log_.BufferSize(), 0);
}

TEST_F(PeltaLogThreadTest, NothingIsHandedOverOnceTheProgramExits)
{
    AppState = XAPPExit;
    ASSERT_TRUE(thread_.Start());
    log_.Write(QStringLiteral("late"), 2);
    ASSERT_TRUE(WaitUntil([&] { return log_.BufferSize() == 0; }));
    thread_.StopAndJoin();
    EXPECT_TRUE(Delivered().isEmpty());
}

}  // namespace
