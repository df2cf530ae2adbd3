// Construction (the wiring of the process) and the close handler.

#include "shell/control/TFrmControl.h"

#include "shell/control/ControlView.h"
#include "shell/control/ShellMessageSink.h"
#include "shell/control/ShellNotices.h"
#include "shell/control/UiThreadPost.h"
#include "shell/threads/PeltaTransferStatusThread.h"
#include "shell/threads/ServiceCallThread.h"
#include "shell/threads/TerminalLogThread.h"

#include "client/PeltaAPI.h"
#include "client/PeltaLoginThread.h"
#include "client/XApLogin.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaProxy.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/Xi18n.h"
#include "platform/RegistryStore.h"
#include "sync/engine/EngineNotices.h"

#include <QDateTime>

TFrmControl::TFrmControl(ControlView& view, Options options) : view_(view), options_(std::move(options))
{
    post_ = std::make_shared<UiThreadPost>(this);
    notices_ = std::make_shared<ShellNotices>(*this, post_);
    timer1_.setInterval(Timer1Ms);
    connect(&timer1_, &QTimer::timeout, this, &TFrmControl::Timer1Timer);
    connect(&timerLogin_, &QTimer::timeout, this, &TFrmControl::TimerLoginTimer);
    WireProcess();
}

TFrmControl::~TFrmControl()
{
    FormClose();
}

void TFrmControl::WireProcess()
{
    DebugMode = false;
    ShowLogWindow = false;
    const QDateTime started = QDateTime::currentDateTime();
    startStamp_ = started.toString(QStringLiteral("yyyyMMddHHmm"));
    InitProcessState();  // profile, endpoints, key and secret, counters, events
    BalloonTime = SteadyTime{};
    QuotaNoticeTime = SteadyTime{};
    QuotaUsed = 0;
    QuotaTotal = 0;
    QuotaMaxFileSize = 0;

    RegistryStore& registry = options_.registry ? *options_.registry : RegistryStore::Shared();
    reg_ = std::make_unique<PeltaReg>(registry);
    ReadDebugFile();
    if (DebugMode) {
        debugLogPath_ = PeltaLog::DebugFileName(reg_->ProgramFolder(), started);
        if (!AppLog.OpenFile(debugLogPath_))
            AppLog.Write(QStringLiteral("FrmControl: cannot open the debug log file ") + debugLogPath_, LogGeneral);
    }
    ApiMethodMap.clear();
    PeltaReg::FillApiMethodMap(ApiMethodMap);

    settings_ = std::make_unique<PeltaSyncAgentSetting>();
    PrepareDatabase();
    reg_->LoadSettings(*settings_);
    api_ = std::make_unique<PeltaAPI>(reg_.get(), settings_.get());
    agent_ = std::make_unique<AgentService>(*api_, *reg_, *settings_);

    view_.SetLogItemVisible(DebugMode);
    DevUpdate = DebugMode && settings_->Get(QStringLiteral("dev_update")) == QLatin1String("1");
    if (!DevUpdate)
        reg_->SetAgentVer(reg_->GetFileVersion(QString(), 3));
    RebuildTipText();
    trayState_ = TrayIdle;
    view_.SetTrayIcon(0);
    view_.SetToolTip(tipText_);

    ResyncRunning = false;
    UploadBitRate = 0;
    DownloadBitRate = 0;
    UploadMethod = UploadMethodPostFile2;
    AppProxy.Set(reg_->Proxy());  // LoadSettings read it from the registry
    IconRefreshDone = false;
    SyncStartTime = SteadyClock::now();

    EngineNotices::Install(notices_);
    UserMessageSink::Install(std::make_shared<ShellMessageSink>(*this, post_));
    StartOwnThreads();
}

void TFrmControl::ReadDebugFile()
{
    debug_ = DebugFile::Read(reg_->ProgramFolder() + u'/' + DebugFile::FileName);
    if (!debug_.present)
        return;
    DebugMode = true;
    ShowLogWindow = true;
    for (const QString& problem : debug_.problems)
        AppLog.Write(QStringLiteral("FrmControl: ") + DebugFile::FileName + QStringLiteral(": ") + problem, LogGeneral);
    debug_.ApplyToProcess();
}

void TFrmControl::PrepareDatabase()
{
    try {
        PeltaDb db(*settings_);  // creates or upgrades the schema
        db.Open();
        db.Close();
    } catch (const Lithos::SQLiteException& failure) {
        AppLog.Write(QStringLiteral("FrmControl: preparing profile.db failed: ") +
                         PeltaSQLite3::FormatSQLiteException(failure),
                     LogDB);
    }
}

void TFrmControl::StartOwnThreads()
{
    serviceCalls_ = std::make_unique<ServiceCallThread>(*api_);
    serviceCalls_->Start();
    transferStatus_ = std::make_unique<PeltaTransferStatusThread>(
        evtTrayIconMsn, [] { return RequestObject.GetStatusText(); },
        [this, post = post_](const QString& text) { post->Post([this, text] { ShowTransferTip(text); }); });
    transferStatus_->Start();
    if (options_.logToTerminal) {
        terminalLog_ = std::make_unique<TerminalLogThread>(AppLog, evtLog);
        terminalLog_->Start();
    }
}

void TFrmControl::RebuildTipText()
{
    tipText_ = Xi18n::Text(XText::_APPName) + u' ' + reg_->AgentVer() + u' ' + ServerProfile;
    view_.SetHomePageCaption(Xi18n::Text(XText::_APPName) + u' ' + Xi18n::Text(XText::_HomePage));
}

// ---- Shutdown ----------------------------------------------------------------------

void TFrmControl::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    closing_ = true;
    AppState = XAPPExit;
    post_->Close();  // workers' hand-overs are dropped from now on
    timer1_.stop();
    timerLogin_.stop();
    if (folderChangePending_)
        RestorePreviousFolder();
    SetRunningMarker(false);
    StopThreads();
    EngineNotices::Install(nullptr);
    UserMessageSink::Install(nullptr);
    view_.Quit();
}

void TFrmControl::StopThreads()
{
    // Tell and wake every thread first, then join them; nothing they use is
    // released before the last one has ended.
    if (loginThread_)
        loginThread_->Terminate();
    if (serviceCalls_)
        serviceCalls_->Terminate();
    if (engine_)
        engine_->Stop();  // the engine's threads, in their own order, joined there
    if (transferStatus_)
        transferStatus_->Terminate();
    if (loginThread_)
        loginThread_->Join();
    if (serviceCalls_)
        serviceCalls_->Join();
    if (transferStatus_)
        transferStatus_->Join();
    AppLog.Write(QStringLiteral("FrmControl: every thread has ended"), LogGeneral);
    if (terminalLog_) {
        terminalLog_->Terminate();
        terminalLog_->Join();
    }

    loginThread_.reset();
    login_.reset();
    serviceCalls_.reset();
    transferStatus_.reset();
    terminalLog_.reset();
    engine_.reset();
    agent_.reset();
    api_.reset();
}
