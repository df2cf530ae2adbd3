// What the tray shows: icon, tool-tip, balloons, message boxes, the menu's
// items and the language switch.

#include "shell/control/TFrmControl.h"

#include "shell/control/ControlView.h"

#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/text/Xi18n.h"

#include <QCoreApplication>
#include <QEvent>
#include <QUrl>

#include <algorithm>

void TFrmControl::SetTrayIcon(int state)
{
    if (state == trayState_ && state != TrayIdle && state != TraySyncing)
        return;
    int icon = -1;  // a state above 5 keeps the icon shown
    switch (state) {
    case 1:
    case TraySyncing:
    case 4: icon = 3; break;
    case TrayInSync: icon = 2; break;
    case TrayOffline: icon = 1; break;
    case TrayIdle: icon = 0; break;
    default: break;
    }
    trayState_ = state;
    if (icon >= 0)
        view_.SetTrayIcon(icon);
}

bool TFrmControl::SetSyncStatus(bool busy, bool reset, int pending)
{
    if (busy)
        ++runningJobs_;
    else if (reset)
        runningJobs_ = 0;
    else
        --runningJobs_;
    if (AppState == XAPPOffline) {
        SetTrayIcon(TrayOffline);
        return false;
    }
    runningJobs_ = std::max(runningJobs_, 0);
    const bool syncing = runningJobs_ > 0 || pending > 0;
    RequestObject.SetSyncing(syncing);
    AppLog.Write(QStringLiteral("evtIcon:SetSyncStatus:") + (syncing ? QStringLiteral("Resync") : QStringLiteral("Sync")),
                 LogIcon);
    SetTrayIcon(syncing ? TraySyncing : TrayInSync);
    evtTrayIconMsn.Set();
    return runningJobs_ > 0;
}

void TFrmControl::ShowTransferTip(const QString& text)
{
    QString tip = tipText_;
    if (AppState == XAPPOffline)
        tip += u'\n' + Xi18n::Text(XText::_Connecting);
    else if (!text.isEmpty())
        tip += u'\n' + text;
    view_.SetToolTip(tip.left(TipLength));
}

void TFrmControl::ShowBalloonText(const QString& title, const QString& text, bool timed)
{
    if (!reg_->show_desktop_notify)
        return;
    if (!timed)
        BalloonTime = SteadyTime{};
    if (text.isEmpty())
        return;
    view_.ShowBalloon(title.left(BalloonTitleLength), text.left(BalloonTextLength));
    if (timed)
        BalloonTime = SteadyClock::now();
}

void TFrmControl::ShowBalloonWithPath(const QString& title, const QString& text, bool timed, const QString& target)
{
    if (!target.isEmpty())
        balloonTarget_ = target;
    ShowBalloonText(title, text, timed);
}

void TFrmControl::ShowFileBalloon(const QString& title, const QString& text, const QString& path)
{
    if (reg_->show_desktop_notify && !title.isEmpty())
        ShowBalloonWithPath(title, text, false, path);
}

void TFrmControl::ShowStatus(const QString& text)
{
    if (reg_->show_desktop_notify && !text.isEmpty())
        ShowBalloon(Xi18n::Text(XText::_APPName), text);
}

void TFrmControl::ShowMsg(const QString& text)
{
    AppLog.Write(QStringLiteral("FrmControl::ShowMsg:") + text, LogGeneral);
    ShowMsg(Xi18n::Text(XText::_APPName), text);
}

void TFrmControl::ShowMsg(const QString& title, const QString& text)
{
    if (!closing_)
        view_.ShowMessage(title, text);
}

void TFrmControl::OpenSyncFolder()
{
    view_.OpenFolder(reg_->GetSyncFolder());
}

void TFrmControl::OnBalloonClicked()
{
    if (RequestObject.IsQuotaFull()) {
        miAdjustClick();
        return;
    }
    if (balloonTarget_.isEmpty())
        return;
    view_.SelectFile(balloonTarget_);
    balloonTarget_.clear();
}

bool TFrmControl::SwitchLanguage(int lcid)
{
    if (Xi18n::SetLanguage(lcid) != lcid) {
        AppLog.Write(QStringLiteral("FrmControl: no texts for language %1").arg(lcid), LogGeneral);
        return true;
    }
    CurrentLcid = lcid;
    RebuildTipText();
    ShowTransferTip(QString());
    if (reg_->bound) {
        SetQuotaItems(true, Xi18n::Text(XText::_QuotaUsed) + Xi18n::Text(XText::_Colon) +
                                Xi18n::Text(XText::_Querying));
        UpdateQuotaMenu();
    } else {
        SetQuotaItems(false, Xi18n::Text(XText::_ML0303));
    }
    evtTrayIconMsn.Set();
    // The windows take their captions again (the application passes the
    // notice on to every window).
    if (QCoreApplication* application = QCoreApplication::instance()) {
        QEvent changed(QEvent::LanguageChange);
        QCoreApplication::sendEvent(application, &changed);
    }
    return true;
}

// ---- Menu ------------------------------------------------------------------------------------

void TFrmControl::miExitClick()
{
    if (!closing_)
        GotoStep(XGOExit);
}

void TFrmControl::miConfigClick()
{
    if (options_.showPreference) {
        options_.showPreference(0);
        return;
    }
    AppLog.Write(QStringLiteral("FrmControl: the preferences are not part of this program"), LogGeneral);
}

void TFrmControl::miWriteLog()
{
    if (!debugLogPath_.isEmpty())
        view_.OpenUrl(QUrl::fromLocalFile(debugLogPath_).toString());
}

void TFrmControl::Tessaron1Click()
{
    view_.OpenUrl(WebHomeUrl + WebSyncPath);
}

void TFrmControl::miUpdateClick()
{
    StartCheckVersion(true);
}

void TFrmControl::miAdjustClick()
{
    if (quotaEnabled_)
        view_.OpenUrl(QuotaPageUrl);
}

void TFrmControl::miBuyClick()
{
    if (quotaEnabled_)
        ShowMsg(Xi18n::Text(XText::_ML0301));
}

void TFrmControl::miResyncClick()
{
    SetSettingBool(QStringLiteral("first_sync_time"), true);
    SetSettingBool(QStringLiteral("last_sync_time"), true);
    if (engine_)
        engine_->QueueResync(XMOResyncFull, QStringLiteral("\\"));
    SetResyncMenu(false);
}

void TFrmControl::N4Click()
{
    view_.OpenUrl(FaqUrl);
}
