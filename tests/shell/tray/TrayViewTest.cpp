// The tray under the offscreen platform, bound to a control form: the menu,
// what the control form shows through it, and the clicks it passes back.

#include "shell/tray/TrayView.h"

#include "shell/control/TFrmControl.h"
#include "tests/shell/ControlFixture.h"

#include "foundation/PeltaRequestObject.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/Xi18n.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>

class TrayViewTest : public ControlFixture {
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        tray_ = std::make_unique<TrayView>(TrayView::Options{});
        TFrmControl::Options options;
        options.registry = registry_.get();
        control_ = std::make_unique<TFrmControl>(*tray_, options);
        tray_->Bind(*control_);
    }

    void TearDown() override
    {
        control_.reset();
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(widget))
                delete widget;
        tray_.reset();
        ControlFixture::TearDown();
    }

    QAction& Item(const char* name) { return *tray_->Item(QString::fromLatin1(name)); }

    std::unique_ptr<TrayView> tray_;
};

TEST_F(TrayViewTest, MenuAtStart)
{
    const QStringList visible = [this] {
        QStringList names;
        for (QAction* action : tray_->Menu().actions())
            if (action->isVisible() && !action->isSeparator())
                names << action->objectName() + u'=' + action->text() + (action->isEnabled() ? "" : " (off)");
        return names;
    }();
    EXPECT_EQ(visible, (QStringList{
                           QStringLiteral("miQuota=尚未綁定使用者帳號"),
                           QStringLiteral("Tessaron1=翠嵐檔案匣 首頁"),
                           QStringLiteral("miFolder=開啟檔案夾"),
                           QStringLiteral("miConfig=進階設定"),
                           QStringLiteral("miUpdate=更新軟體"),
                           QStringLiteral("miResync=重新同步 (off)"),
                           QStringLiteral("miExit=結束翠嵐檔案匣"),
                       }));
    EXPECT_FALSE(Item("miLog").isVisible());  // no debug file
    EXPECT_EQ(tray_->IconIndex(), 0);
    EXPECT_TRUE(tray_->Icon().toolTip().startsWith(Xi18n::Text(XText::_APPName) + u' '));
}

TEST_F(TrayViewTest, WhatTheControlFormDecidesIsShown)
{
    control_->SetSyncStatus(true, false, 0);
    EXPECT_EQ(tray_->IconIndex(), 3);
    control_->UpdateQuotaMenu();
    EXPECT_TRUE(Item("miQuota").isEnabled());
    EXPECT_TRUE(Item("miQuota").text().startsWith(QStringLiteral("已使用空間")));
    control_->SetResyncMenu(true);
    EXPECT_TRUE(Item("miResync").isEnabled());
    control_->ShowTransferTip(QStringLiteral("下載 b.txt"));
    EXPECT_TRUE(tray_->Icon().toolTip().endsWith(QStringLiteral("\n下載 b.txt")));

    control_->ShowMsg(QStringLiteral("hello"));
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<QMessageBox*>(widget))
            box = found;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("hello"));
    EXPECT_FALSE(box->isModal() && box->windowModality() == Qt::ApplicationModal);
}

TEST_F(TrayViewTest, MenuClicksReachTheControlForm)
{
    Item("miResync").setEnabled(true);
    Item("miResync").trigger();
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("first_sync_time")), QStringLiteral("1"));
    EXPECT_FALSE(Item("miResync").isEnabled());
    EXPECT_EQ(Item("miResync").text(), Xi18n::Text(XText::_MenuResync_Syncing));

    Item("miExit").trigger();
    EXPECT_TRUE(control_->Closing());
    ASSERT_TRUE(Pump([this] { return control_->Closed(); }));
}

TEST_F(TrayViewTest, RunsWithoutATrayWhenThereIsNone)
{
    // The offscreen platform has no system tray.
    EXPECT_FALSE(tray_->HasTray());
    EXPECT_FALSE(tray_->Icon().isVisible());
    TakeLog();
    control_->ShowBalloon(QStringLiteral("title"), QStringLiteral("text"));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("Balloon: title: text")));
}
