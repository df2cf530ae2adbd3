// The step machine against the fake service: the stored login, its results
// and back-off, the agent check and the start of the engine.

#include "tests/shell/ControlFixture.h"

#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

QString Text(XText name)
{
    return Xi18n::Text(name);
}

}  // namespace

class TFrmControlStepsTest : public ControlFixture {};

TEST_F(TFrmControlStepsTest, BoundComputerSignsInVerifiesTheAgentAndStartsTheEngine)
{
    BindAndRestart();
    StartToMain();

    EXPECT_EQ(engine_->calls, QStringList{QStringLiteral("Start:FullSync")});
    EXPECT_TRUE(QFileInfo::exists(DataPath(QStringLiteral(".ShellCache/.tessaron"))));
    EXPECT_EQ(AppState.load(), XAPPOnline);
    EXPECT_TRUE(control_->Reg().bound);
    EXPECT_NE(control_->Settings().Get(QStringLiteral("last_login_time")), QStringLiteral("0"));
    EXPECT_EQ(view_.quotaCaption, Text(XText::_QuotaUsed) + Text(XText::_Colon) + Text(XText::_Querying));
    EXPECT_GE(service_.CallCount("login2"), 1u);
    EXPECT_EQ(service_.CallCount("getAgentInfo"), 1u);
    EXPECT_EQ(ServerProfile, QStringLiteral("DEV"));
}

TEST_F(TFrmControlStepsTest, FirstCommandFollowsTheStoredSyncState)
{
    // A stored service time stamp: the start-up resync, with the resync item
    // disabled while it runs.
    BindAndRestart();
    control_->SetSetting(QStringLiteral("first_sync_time"), QStringLiteral("1700000000.25"));
    StartToMain();
    EXPECT_EQ(engine_->calls, QStringList{QStringLiteral("Start:AppStart")});
    EXPECT_FALSE(view_.resyncEnabled);
    EXPECT_EQ(view_.resyncCaption, Text(XText::_MenuResync_Syncing));
}

TEST_F(TFrmControlStepsTest, UnboundComputerGoesToTheBindingPagesWithoutCallingTheService)
{
    MakeControl();
    control_->GotoStep(XGOSplash);

    EXPECT_EQ(view_.bindingPages, QList<int>{0});
    EXPECT_FALSE(view_.quotaEnabled);
    EXPECT_EQ(view_.quotaCaption, Text(XText::_ML0303));
    EXPECT_EQ(RequestObject.Message(), Text(XText::_Connecting));
    EXPECT_TRUE(service_.Calls().empty());
    EXPECT_EQ(engine_->made, 0);
}

TEST_F(TFrmControlStepsTest, RefusedPasswordShowsTheMessageAndTheLoginPageAMomentLater)
{
    BindAndRestart(QStringLiteral("not-the-password"));
    control_->GotoStep(XGOSplash);

    ASSERT_TRUE(Pump([this] { return !view_.bindingPages.isEmpty(); }));
    EXPECT_EQ(view_.messages, QStringList{FormatText(Text(XText::_ML0319), {Text(XText::_APPName)})});
    EXPECT_EQ(view_.bindingPages, QList<int>{10});
    EXPECT_EQ(engine_->made, 0);
}

TEST_F(TFrmControlStepsTest, UnreachableServiceRetriesWithBackOffAndNeverHoldsTheUserInterface)
{
    BindAndRestart();
    service_.Faults().SetAlways("invoke_auth", Fault::DropBeforeReply());

    QElapsedTimer clock;
    clock.start();
    control_->GotoStep(XGOSplash);
    EXPECT_LT(clock.elapsed(), 1000);  // the login runs on its own thread

    // Each failure arms the login timer; its tick runs the stored login again.
    // The tick comes at once after each result, while the login thread may
    // still be finishing the login that reported.
    const QList<int> waits{2000, 2000, 2000, 2000, 2000, 4000};
    for (qsizetype i = 0; i < waits.size(); ++i) {
        ASSERT_TRUE(Pump([this] { return control_->LoginTimerActive(); })) << "failure " << i + 1;
        EXPECT_EQ(control_->LoginTimerMs(), waits[i]);
        if (i + 1 < waits.size())
            control_->TimerLoginTimer();
    }
    EXPECT_EQ(RequestObject.Message(),
              Text(XText::_ConnectFail) + Text(XText::_Comma) + Text(XText::_ConfirmNetwork));
    EXPECT_EQ(engine_->made, 0);
}

TEST_F(TFrmControlStepsTest, AgentCheckRunsOffTheUserInterfaceThread)
{
    BindAndRestart();
    service_.Faults().SetNext("getAgentInfo", Fault::Delay(2000ms));
    control_->GotoStep(XGOSplash);

    // While the service holds its answer, every turn of the event loop is
    // short: the check waits on its own thread.
    qint64 longestTurn = 0;
    ASSERT_TRUE(Pump([this, &longestTurn] {
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents();
        longestTurn = std::max(longestTurn, turn.elapsed());
        return engine_->running;
    }));
    EXPECT_LT(longestTurn, 1000);
    EXPECT_FALSE(control_->AgentCheckPending());
}

TEST_F(TFrmControlStepsTest, AgentCheckOutcomes)
{
    struct Case {
        const char* name;
        std::function<void(TFrmControl&, FakeService&)> arrange;
        XText message;
        bool loginPage;
        bool passwordCleared;
    };
    const Case cases[] = {
        // The service does not know this key: the agent registers itself, and
        // the service's copy then differs from the local one.
        {"another agent key", [](TFrmControl& control, FakeService&) {
             control.SetSetting(QStringLiteral("agent_key"), QStringLiteral("1111"));
         },
         XText::_ML0309, true, true},
        {"another sync folder", [](TFrmControl& control, FakeService&) {
             control.SetSetting(QStringLiteral("sync_folder_md5sum"), QStringLiteral("ffff"));
         },
         XText::_ML0310, false, false},
        {"not registered and refused", [](TFrmControl&, FakeService& service) {
             service.Faults().SetNext("getAgentInfo", Fault::Message(QStringLiteral("user agent not register")));
             service.Faults().SetNext("setAgentInfo", Fault::Message(QStringLiteral("refused")));
         },
         XText::_ML0318, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine_ = std::make_shared<EngineLog>();
        view_ = RecordingView();
        BindAndRestart();
        c.arrange(*control_, service_);
        control_->GotoStep(XGOSplash);
        ASSERT_TRUE(Pump([this] { return !view_.messages.isEmpty() && !control_->AgentCheckPending(); }));
        EXPECT_EQ(view_.messages.value(0), Text(c.message));
        EXPECT_EQ(!view_.bindingPages.isEmpty(), c.loginPage);
        EXPECT_EQ(engine_->running, !c.loginPage);
        EXPECT_EQ(control_->Reg().GetPass().isEmpty(), c.passwordCleared);
        control_.reset();
    }
}

TEST_F(TFrmControlStepsTest, AgentCheckNetworkFailureRetriesTheLoginWithTheBackOffStep)
{
    BindAndRestart();
    service_.Faults().SetNext("getAgentInfo", Fault::Http500());
    control_->GotoStep(XGOSplash);
    ASSERT_TRUE(Pump([this] { return control_->LoginTimerActive(); }));
    EXPECT_EQ(control_->Backoff().Step(), 1);
    EXPECT_EQ(control_->LoginTimerMs(), 2000);
    EXPECT_EQ(RequestObject.Message(), Text(XText::_ConnectFail));
    EXPECT_FALSE(engine_->running);

    control_->TimerLoginTimer();  // the stored login again, then the main step
    ASSERT_TRUE(Pump([this] { return engine_->running; }));
}

TEST_F(TFrmControlStepsTest, ReloginReusesTheRunningEngineAndOnlyWakesIt)
{
    BindAndRestart();
    StartToMain();
    control_->Relogin();
    EXPECT_TRUE(control_->Reg().relogin);
    EXPECT_EQ(control_->LoginTimerMs(), 2000);

    control_->TimerLoginTimer();
    ASSERT_TRUE(Pump([this] { return engine_->calls.size() == 2; }));
    EXPECT_EQ(engine_->calls, (QStringList{QStringLiteral("Start:FullSync"), QStringLiteral("Start:AppStart")}));
    EXPECT_EQ(engine_->made, 1);
    EXPECT_FALSE(control_->Reg().relogin);
}

TEST_F(TFrmControlStepsTest, WorkersStoppedByAnUnbindingStartAgainAtTheNextMainStep)
{
    BindAndRestart();
    StartToMain();
    control_->UnbindAccount();
    EXPECT_EQ(engine_->calls.last(), QStringLiteral("Stop"));
    EXPECT_EQ(AppState.load(), XAPPLogin);
    EXPECT_FALSE(control_->Reg().IsConfigured());
    ASSERT_TRUE(Pump([this] { return !view_.bindingPages.isEmpty(); }));

    // Bound again (as the wizard would), the main step starts the same engine.
    control_->SaveBinding(TestAccount::Login, TestAccount::Password, QStringLiteral("laptop"));
    control_->ImportRegistrySettings();
    const PeltaSyncAgentSetting& settings = control_->Settings();
    service_.State().RegisterAgent(UserId, FakeAgent{settings.Get(QStringLiteral("agent_key")), QString(),
                                                     settings.Get(QStringLiteral("sync_folder_md5sum")), QString()});
    control_->GotoStep(XGODoLogin);
    ASSERT_TRUE(Pump([this] { return engine_->running; }));
    EXPECT_EQ(engine_->made, 1);
    EXPECT_EQ(engine_->calls.last(), QStringLiteral("Start:FullSync"));
    EXPECT_EQ(AppState.load(), XAPPOnline);
}

TEST_F(TFrmControlStepsTest, DeferredStepRunsOnceAndALaterRequestWhileItWaitsIsIgnored)
{
    MakeControl();
    control_->DeferGotoStep(XGOLogin);
    control_->DeferGotoStep(XGOMain);
    EXPECT_EQ(control_->DeferredStep(), XGOLogin);
    control_->Timer1Timer();
    EXPECT_EQ(view_.bindingPages, QList<int>{0});
    EXPECT_FALSE(control_->Timer1Active());
    control_->Timer1Timer();
    EXPECT_EQ(view_.bindingPages.size(), 1);
}

TEST_F(TFrmControlStepsTest, ExitStepClosesTheFormAtTheNextTick)
{
    MakeControl();
    control_->GotoStep(XGOExit);
    EXPECT_TRUE(control_->Closing());
    EXPECT_EQ(AppState.load(), XAPPExit);
    EXPECT_FALSE(control_->Closed());
    ASSERT_TRUE(Pump([this] { return control_->Closed(); }));
    EXPECT_EQ(view_.quits, 1);

    // Results that arrive afterwards change nothing.
    control_->OnLoginResult(5, QString());
    EXPECT_EQ(engine_->made, 0);
}
