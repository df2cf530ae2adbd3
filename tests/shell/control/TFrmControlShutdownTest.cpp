// The close handler and the hand-over of workers' calls: nothing a worker
// calls waits for the user-interface thread, calls after shutdown began are
// dropped, and closing is quick with calls in progress.

#include "tests/shell/ControlFixture.h"
#include "tests/support/WaitUntil.h"

#include "foundation/ProcessState.h"
#include "foundation/UserMessageSink.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/EngineNotices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

class TFrmControlShutdownTest : public ControlFixture {};

TEST_F(TFrmControlShutdownTest, ClosingBeforeAnyLoginEndsTheOwnThreadsAndReleasesTheHandOvers)
{
    MakeControl();
    EXPECT_EQ(EngineNotices::Installed(), control_->Notices());
    control_->FormClose();
    EXPECT_TRUE(control_->Closed());
    EXPECT_EQ(view_.quits, 1);
    EXPECT_EQ(EngineNotices::Installed(), nullptr);
    EXPECT_EQ(AppState.load(), XAPPExit);
    control_->FormClose();  // once only
    EXPECT_EQ(view_.quits, 1);
}

TEST_F(TFrmControlShutdownTest, EngineIsStoppedOnceAndTheRunningMarkerIsGone)
{
    BindAndRestart();
    StartToMain();
    const QString marker = DataPath(QStringLiteral(".ShellCache/.tessaron"));
    ASSERT_TRUE(QFileInfo::exists(marker));
    control_->FormClose();
    EXPECT_EQ(engine_->calls.last(), QStringLiteral("Stop"));
    EXPECT_EQ(engine_->Count(QStringLiteral("Stop")), 1);
    EXPECT_EQ(engine_->released, 1);
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(TFrmControlShutdownTest, ClosingIsQuickWhileTheServiceHoldsALogin)
{
    BindAndRestart();
    service_.Faults().SetAlways("invoke_auth", Fault::Delay(20000ms));
    control_->GotoStep(XGOSplash);
    ASSERT_TRUE(Pump([this] { return service_.CallCount("invoke_auth") > 0; }));

    QElapsedTimer clock;
    clock.start();
    control_->FormClose();
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(TFrmControlShutdownTest, ClosingIsQuickWhileTheServiceHoldsTheAgentCheck)
{
    BindAndRestart();
    service_.Faults().SetAlways("getAgentInfo", Fault::Delay(20000ms));
    control_->GotoStep(XGOSplash);
    ASSERT_TRUE(Pump([this] { return control_->AgentCheckPending() && service_.CallCount("getAgentInfo") > 0; }));

    QElapsedTimer clock;
    clock.start();
    control_->FormClose();
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(engine_->made, 0);
}

TEST_F(TFrmControlShutdownTest, WorkersNeverWaitForTheUserInterfaceThread)
{
    MakeControl();
    const std::shared_ptr<EngineNotices> notices = control_->Notices();
    std::atomic<bool> done{false};
    // The worker calls while this thread does not run its event loop, as
    // while the close handler joins it.
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            notices->SetSyncStatus(true, false, 0);
            notices->ShowBalloon(QStringLiteral("t"), QStringLiteral("b"));
            notices->SetSetting(QStringLiteral("user_sn"), QString::number(i));
            UserMessageSink::Show(QStringLiteral("t"), QStringLiteral("m"));
        }
        done = true;
    });
    const bool finished = WaitUntil([&done] { return done.load(); }, 10s);
    if (!finished)
        Pump([&done] { return done.load(); }, 60s);  // let a blocked worker go, so the test can end
    worker.join();
    ASSERT_TRUE(finished);

    // The calls run later, on this thread, in order.
    ASSERT_TRUE(Pump([this] { return view_.messages.size() == 50; }));
    EXPECT_EQ(view_.balloons.size(), 50);
    EXPECT_EQ(control_->RunningJobs(), 50);
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("user_sn")), QStringLiteral("49"));
}

TEST_F(TFrmControlShutdownTest, CallsHandedOverOnceShutdownBeganAreDropped)
{
    MakeControl();
    const std::shared_ptr<EngineNotices> notices = control_->Notices();
    notices->ShowBalloon(QStringLiteral("queued"), QStringLiteral("before the close"));
    control_->FormClose();
    notices->ShowBalloon(QStringLiteral("late"), QStringLiteral("after the close"));
    notices->SetSyncStatus(true, false, 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(view_.balloons.isEmpty());
    EXPECT_EQ(control_->RunningJobs(), 0);
}
