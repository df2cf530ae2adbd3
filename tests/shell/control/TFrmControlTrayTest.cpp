// What the control form has the tray show: icon states, the sync status,
// tool-tip, balloons and their clicks, the menu's items, the language switch.

#include "tests/shell/ControlFixture.h"

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/Xi18n.h"

class TFrmControlTrayTest : public ControlFixture {
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        MakeControl();
        view_.iconChanges = 0;
    }

    void TearDown() override
    {
        AppState = XAPPOnline;
        RequestObject.SetQuotaFull(false);
        ControlFixture::TearDown();
    }
};

TEST_F(TFrmControlTrayTest, SyncStatusCountsRunningJobsAndShowsOfflineAlone)
{
    EXPECT_TRUE(control_->SetSyncStatus(true, false, 0));
    EXPECT_EQ(view_.icon, 3);
    EXPECT_TRUE(RequestObject.IsSyncing());
    control_->SetSyncStatus(true, false, 0);
    control_->SetSyncStatus(true, false, 0);
    EXPECT_FALSE(control_->SetSyncStatus(false, true, 0));
    EXPECT_EQ(control_->RunningJobs(), 0);
    EXPECT_EQ(view_.icon, 2);
    EXPECT_FALSE(RequestObject.IsSyncing());

    // Requests still waiting keep the syncing icon without a running job.
    EXPECT_FALSE(control_->SetSyncStatus(false, false, 4));
    EXPECT_EQ(view_.icon, 3);
    EXPECT_EQ(control_->RunningJobs(), 0);

    AppState = XAPPOffline;
    EXPECT_FALSE(control_->SetSyncStatus(true, false, 0));
    EXPECT_EQ(view_.icon, 1);
    EXPECT_EQ(control_->TrayStateNow(), TFrmControl::TrayOffline);
}

TEST_F(TFrmControlTrayTest, RepeatedStatesRedrawOnlyIdleAndSyncing)
{
    const struct {
        int state;
        int icon;
        bool redrawnAgain;
    } cases[] = {{0, 0, true}, {1, 3, false}, {2, 3, true}, {3, 2, false}, {4, 3, false}, {5, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        control_->SetTrayIcon(c.state);
        EXPECT_EQ(view_.icon, c.icon);
        const int changes = view_.iconChanges;
        control_->SetTrayIcon(c.state);
        EXPECT_EQ(view_.iconChanges - changes, c.redrawnAgain ? 1 : 0);
    }
    control_->SetTrayIcon(7);  // above 5: remembered, the icon stays
    EXPECT_EQ(view_.icon, 1);
    EXPECT_EQ(control_->TrayStateNow(), 7);
}

TEST_F(TFrmControlTrayTest, ToolTipShowsTheStatusUnderTheProgramLineAndFitsItsField)
{
    control_->ShowTransferTip(QStringLiteral("上傳 a.txt"));
    EXPECT_EQ(view_.toolTip, control_->TipText() + QStringLiteral("\n上傳 a.txt"));
    EXPECT_TRUE(control_->TipText().endsWith(QStringLiteral(" 1.0.0 RELEASE")));

    control_->ShowTransferTip(QString(2000, u'x'));
    EXPECT_EQ(view_.toolTip.size(), TFrmControl::TipLength);

    AppState = XAPPOffline;
    control_->ShowTransferTip(QStringLiteral("whatever"));
    EXPECT_EQ(view_.toolTip, control_->TipText() + u'\n' + Xi18n::Text(XText::_Connecting));
}

TEST_F(TFrmControlTrayTest, BalloonsNeedTextAndDesktopNoticesAndAreCut)
{
    control_->ShowBalloon(QStringLiteral("title"), QString());
    EXPECT_TRUE(view_.balloons.isEmpty());

    control_->ShowBalloon(QString(100, u't'), QString(400, u'b'));
    ASSERT_EQ(view_.balloons.size(), 1);
    EXPECT_EQ(view_.balloons[0], QString(63, u't') + u'|' + QString(255, u'b'));

    control_->ShowStatus(QStringLiteral("status"));
    EXPECT_EQ(view_.balloons.last(), Xi18n::Text(XText::_APPName) + QStringLiteral("|status"));

    control_->Reg().show_desktop_notify = false;
    control_->ShowBalloon(QStringLiteral("t"), QStringLiteral("quiet"));
    control_->ShowFileBalloon(QStringLiteral("t"), QStringLiteral("quiet"), QStringLiteral("/x"));
    EXPECT_EQ(view_.balloons.size(), 2);
    EXPECT_TRUE(control_->BalloonTarget().isEmpty());
}

TEST_F(TFrmControlTrayTest, BalloonClickSelectsTheFileOnceOrOpensTheQuotaPage)
{
    control_->ShowFileBalloon(QStringLiteral("已同步"), QStringLiteral("a.txt"), QStringLiteral("/sync/a.txt"));
    control_->OnBalloonClicked();
    control_->OnBalloonClicked();
    EXPECT_EQ(view_.selected, QStringList{QStringLiteral("/sync/a.txt")});

    control_->UpdateQuotaMenu();  // the quota items are enabled
    RequestObject.SetQuotaFull(true);
    control_->OnBalloonClicked();
    EXPECT_EQ(view_.opened, QStringList{QuotaPageUrl});
}

TEST_F(TFrmControlTrayTest, MenuItems)
{
    control_->miBuyClick();  // the quota items are disabled
    control_->miAdjustClick();
    EXPECT_TRUE(view_.messages.isEmpty());
    EXPECT_TRUE(view_.opened.isEmpty());

    control_->UpdateQuotaMenu();
    control_->miBuyClick();
    EXPECT_EQ(view_.messages, QStringList{Xi18n::Text(XText::_ML0301)});
    control_->Tessaron1Click();
    control_->N4Click();
    control_->miFolderClick();
    EXPECT_EQ(view_.opened, (QStringList{WebHomeUrl + WebSyncPath, FaqUrl, control_->Reg().GetSyncFolder()}));

    control_->miExitClick();
    EXPECT_TRUE(control_->Closing());
    EXPECT_EQ(AppState.load(), XAPPExit);
}

TEST_F(TFrmControlTrayTest, ResyncItemAsksForAFullResync)
{
    BindAndRestart();
    StartToMain();
    control_->SetResyncMenu(true);
    EXPECT_EQ(view_.resyncCaption, Xi18n::Text(XText::_MenuResync));
    control_->miResyncClick();

    EXPECT_EQ(control_->Settings().Get(QStringLiteral("first_sync_time")), QStringLiteral("1"));
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("last_sync_time")), QStringLiteral("1"));
    EXPECT_EQ(engine_->calls.last(), QStringLiteral("QueueResync:10:\\"));
    EXPECT_FALSE(view_.resyncEnabled);
    EXPECT_EQ(view_.resyncCaption, Xi18n::Text(XText::_MenuResync_Syncing));
}

TEST_F(TFrmControlTrayTest, LanguageSwitchRereadsTheTextsOfAKnownLanguageOnly)
{
    view_.homeCaption.clear();
    view_.toolTip.clear();
    EXPECT_TRUE(control_->SwitchLanguage(1033));  // no texts: nothing changes
    EXPECT_TRUE(view_.homeCaption.isEmpty());
    EXPECT_TRUE(view_.toolTip.isEmpty());

    EXPECT_TRUE(control_->SwitchLanguage(1028));
    EXPECT_EQ(view_.homeCaption, Xi18n::Text(XText::_APPName) + u' ' + Xi18n::Text(XText::_HomePage));
    EXPECT_EQ(view_.toolTip, control_->TipText());
    EXPECT_EQ(view_.quotaCaption, Xi18n::Text(XText::_ML0303));
    EXPECT_EQ(CurrentLcid.load(), 1028);
}
