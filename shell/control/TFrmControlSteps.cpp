// The step machine, the logins and their results, and the agent check.

#include "shell/control/TFrmControl.h"

#include "shell/control/ControlView.h"
#include "shell/control/LoginFormView.h"
#include "shell/control/UiThreadPost.h"
#include "shell/settings/TlsCheck.h"
#include "shell/threads/ServiceCallThread.h"

#include "client/PeltaLoginThread.h"
#include "client/XApLogin.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/TimeHelpers.h"
#include "foundation/text/Xi18n.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString AppName()
{
    return Xi18n::Text(XText::_APPName);
}

// Online unless the program is already ending.
void GoOnline()
{
    XAPPState state = AppState.load();
    while (state != XAPPExit && !AppState.compare_exchange_weak(state, XAPPOnline)) {
    }
}

}  // namespace

void TFrmControl::GotoStep(int step)
{
    AppLog.Write(QStringLiteral("FrmControl::GotoStep::") + XGOName(step), LogGeneral);
    switch (step) {
    case XGOSplash: StepSplash(); break;
    case XGOLogin: StepLogin(); break;
    case XGOMain: StepMain(); break;
    case XGOExit:
        closing_ = true;
        AppState = XAPPExit;
        timer1_.start();
        break;
    case XGODoLogin: StepDoLogin(); break;
    default: break;
    }
}

void TFrmControl::DeferGotoStep(int step)
{
    if (timer1_.isActive())
        return;
    deferredStep_ = step;
    timer1_.start();
}

void TFrmControl::Timer1Timer()
{
    if (closing_) {
        timer1_.stop();
        FormClose();
        return;
    }
    if (deferredStep_ == XGONone)
        return;
    timer1_.stop();
    const int step = deferredStep_;
    deferredStep_ = XGONone;
    GotoStep(step);
}

void TFrmControl::StepSplash()
{
    SetQuotaItems(false, Xi18n::Text(XText::_UserNotBinding));
    if (!CheckOpenSSLDlls()) {
        GotoStep(XGOLogin);
        return;
    }
    if (!reg_->IsConfigured()) {
        GotoStep(XGOLogin);
        return;
    }
    SetQuotaItems(false, Xi18n::Text(XText::_ML0302));
    LoginWithStoredCredentials(true);
}

void TFrmControl::StepDoLogin()
{
    LoginWithStoredCredentials(false);
}

void TFrmControl::LoginWithStoredCredentials(bool setUserId)
{
    const QString login = reg_->GetLogin();
    const QString password = reg_->GetPass();
    if (LoginMode != QLatin1String("0")) {
        DoWebLogin(login, password);
        return;
    }
    if (setUserId)
        SetSetting(QStringLiteral("user_id"), login);
    DoLogin(login, password);
}

void TFrmControl::StepLogin()
{
    view_.SetResyncItem(false, Xi18n::Text(XText::_Syncing));
    SetStatusMessage(Xi18n::Text(XText::_Connecting));
    SetQuotaItems(false, Xi18n::Text(XText::_ML0303));
    StartCheckVersion(false);
    view_.ShowBindingPages(wizardMode_);
}

void TFrmControl::StepMain()
{
    if (closing_)
        return;
    SetStatusMessage(Xi18n::Text(XText::_Connected));
    SetRunningMarker(true);
    SyncStartTime = SteadyClock::now();
    AppLog.Write(QStringLiteral("version:") + tipText_, LogGeneral);
    if (loginForm_)
        loginForm_->HideLoginForm();
    if (!reg_->bound || closing_)
        return;
    reg_->UpdateRegistryPaths();
    SetQuotaItems(quotaEnabled_, Xi18n::Text(XText::_QuotaUsed) + Xi18n::Text(XText::_Colon) +
                                     Xi18n::Text(XText::_Querying));
    GoOnline();
    SetSetting(QStringLiteral("last_login_time"), QString::number(UnixTimeNow()));

    if (agentCheckPending_) {
        AppLog.Write(QStringLiteral("FrmControl: an agent check is running already"), LogGeneral);
        return;
    }
    agentCheckPending_ = true;
    serviceCalls_->Queue([this, agent = agent_.get(), post = post_] {
        const AgentService::Check check = agent->CheckAgent();
        post->Post([this, check] { OnAgentChecked(check); });
    });
}

void TFrmControl::OnAgentChecked(const AgentService::Check& check)
{
    agentCheckPending_ = false;
    if (closing_)
        return;
    if (check.result == AgentService::Check::NotRegistered) {
        ShowMsg(Xi18n::Text(XText::_ML0318));
        GotoStep(XGOLogin);
        return;
    }
    if (check.result == AgentService::Check::Failed) {
        SetLoginStatus(Xi18n::Text(XText::_ConnectFail));
        SetStatusMessage(Xi18n::Text(XText::_ConnectFail));
        const int seconds = backoff_.OnAgentCheckFailure();
        ArmLoginTimer(seconds);
        AppLog.Write(QStringLiteral("Sleep for %1 sec").arg(seconds), LogGeneral);
        return;
    }
    if (check.agentKey != settings_->Get(QStringLiteral("agent_key"))) {
        ShowMsg(Xi18n::Text(XText::_ML0309));
        ClearPass();
        GotoStep(XGOLogin);
        return;
    }
    if (check.folderMd5 != settings_->Get(QStringLiteral("sync_folder_md5sum")))
        ShowMsg(Xi18n::Text(XText::_ML0310));
    const QString folder = settings_->Get(QStringLiteral("sync_folder"));
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkdir(folder)) {
            AppLog.Write(QStringLiteral("FrmControl: the sync folder %1 is missing and cannot be made").arg(folder),
                         LogGeneral);
            ShowMsg(Xi18n::Text(XText::_MkdirFail) + u'\n' + folder);
        }
        settings_->Set(QStringLiteral("first_sync_time"), QStringLiteral("0"));
    } else if (!QFileInfo(folder).isWritable()) {
        AppLog.Write(QStringLiteral("FrmControl: the sync folder %1 is not writable; changes from the service "
                                    "cannot be written into it")
                         .arg(folder),
                     LogGeneral);
    }
    ApplyBandwidth();
    StartEngine();
}

void TFrmControl::StartEngine()
{
    if (!engine_ && options_.engineFactory) {
        engine_ = options_.engineFactory(*reg_, *settings_, notices_);
        if (engine_ && !pushChannelAllowed_)
            engine_->StopPushChannel();
    }
    if (!engine_) {
        AppLog.Write(QStringLiteral("FrmControl: this program has no sync engine; nothing is synchronised"),
                     LogGeneral);
        return;
    }
    if (reg_->relogin.exchange(false)) {
        ResyncRunning = false;
        if (engine_->Running()) {
            AppLog.Write(QStringLiteral("PeltaSyncThread Start"), LogGeneral);  // the engine logs its own starts
            engine_->Start(EngineControl::FirstCommand::AppStart);              // only wakes the event application
            return;
        }
    }
    engine_->Start(ChooseFirstCommand());
    if (!versionCheckStarted_)
        StartCheckVersion(false);
}

EngineControl::FirstCommand TFrmControl::ChooseFirstCommand()
{
    if (reg_->folder_missing.exchange(false))
        return EngineControl::FirstCommand::RemoteResync;
    const QString firstSync = settings_->Get(QStringLiteral("first_sync_time"));
    if (firstSync == QLatin1String("0") || firstSync == QLatin1String("1"))
        return EngineControl::FirstCommand::FullSync;
    SetResyncMenu(false);
    return EngineControl::FirstCommand::AppStart;
}

// ---- Logins -------------------------------------------------------------------------

void TFrmControl::DoLogin(const QString& login, const QString& password)
{
    if (closing_)
        return;
    if (!loginThread_) {
        login_ = std::make_unique<XApLogin>();
        if (!debug_.accountServer.isEmpty())
            login_->SetAccountUrls(debug_.MemberTokenUrl(), debug_.ClientAuthUrl());
        loginThread_ = std::make_unique<PeltaLoginThread>(login_.get());
        loginThread_->Start();
    }
    PeltaLoginThread::Credentials credentials;
    credentials.callback = [this, post = post_](int code, const QString& message) {
        post->Post([this, code, message] {
            if (code >= XApLogin::CodeSuccess)
                loginInFlight_ = false;  // the login has ended
            OnLoginResult(code, message);
        });
    };
    credentials.login = login;
    credentials.password = password;
    credentials.store = settings_.get();
    credentials.facade = reg_.get();
    if (loginThread_->RequestLogin(std::move(credentials))) {
        loginInFlight_ = true;
        return;
    }
    if (loginInFlight_) {
        AppLog.Write(QStringLiteral("FrmControl: a login runs already; this one is dropped"), LogGeneral);
        return;
    }
    // The login thread has reported its last login and is only finishing
    // it: dropping this request would leave nothing to retry the login.
    QTimer::singleShot(LoginHandOverRetryMs, this, [this, login, password] { DoLogin(login, password); });
}

void TFrmControl::DoWebLogin(const QString&, const QString&)
{
    ShowMsg(QStringLiteral("no more support weblogin"));
}

void TFrmControl::OnLoginResult(int code, const QString& message)
{
    if (AppState == XAPPExit || closing_)
        return;
    switch (code) {
    case XApLogin::CodeSuccess:
        GotoStep(XGOMain);
        break;
    case XApLogin::CodeWrongPassword:
        ShowMsg(FormatText(Xi18n::Text(XText::_ML0319), {AppName()}));
        wizardMode_ = 10;
        DeferGotoStep(XGOLogin);
        break;
    case XApLogin::CodeNotActivated:
        ShowMsg(FormatText(Xi18n::Text(XText::_ML0304), {AppName()}));
        wizardMode_ = 7;
        GotoStep(XGOLogin);
        break;
    case XApLogin::CodeFailed:
        OnNetworkLoginFailure(message);
        break;
    case 9:
        if (!message.isEmpty())
            ShowMsg(message);
        break;
    default:
        break;
    }
}

void TFrmControl::OnNetworkLoginFailure(const QString& message)
{
    const LoginBackoff::Retry retry = backoff_.OnNetworkFailure();
    if (retry.stepRaised) {
        const QString status = !message.isEmpty() ? message
                                                  : Xi18n::Text(XText::_ConnectFail) + Xi18n::Text(XText::_Comma) +
                                                        Xi18n::Text(XText::_ConfirmNetwork);
        SetLoginStatus(status);
        SetStatusMessage(status);
        AppLog.Write(QStringLiteral("Sleep for %1 sec").arg(retry.seconds), LogGeneral);
    }
    ArmLoginTimer(retry.seconds);
}

void TFrmControl::ArmLoginTimer(int seconds)
{
    timerLogin_.stop();
    if (closing_)
        return;
    timerLogin_.start(backoff_.ArmMilliseconds(seconds));
}

void TFrmControl::TimerLoginTimer()
{
    timerLogin_.stop();
    GotoStep(XGODoLogin);
}

void TFrmControl::Relogin()
{
    ResyncRunning = false;
    reg_->relogin = true;
    ArmLoginTimer(2);
}

bool TFrmControl::CheckOpenSSLDlls()
{
    SetTrayIcon(TrayIdle);
    if (TlsCheck::Available())
        return true;
    AppLog.Write(QStringLiteral("FrmControl: the HTTP library has no TLS support"), LogGeneral);
    ShowMsg(Xi18n::Text(XText::_ML0314) + AppName());
    SetLoginStatus(Xi18n::Text(XText::_ML0315));
    return false;
}
