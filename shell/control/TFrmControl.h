#pragma once

// The control form: the object that owns the running agent. It wires the
// process at construction (process-wide values, the debug file, the log
// file, the settings facade and store, the local databases), drives the step
// machine (splash, login with the stored credentials, main, exit), starts
// and stops the engine through EngineControl, keeps the settings in their
// three places, and decides what the tray shows. It holds no widget: what it
// shows goes through a ControlView, so it is tested without one.
//
// Threads: every operation runs on the user-interface thread. Workers reach
// it only through Notices() and the message sink it installs, which hand
// each call to that thread and return at once; once shutdown has begun
// those calls are dropped. Nothing here waits on the network: logins run on
// the login thread, the agent check and the folder registration on the
// service-call thread, each with time-outs, and their results come back as
// posted calls. The control form owns and joins every thread it starts;
// the engine's threads are owned and joined by the engine's owner class.

#include "shell/control/AgentService.h"
#include "shell/control/EngineControl.h"
#include "shell/control/LoginBackoff.h"
#include "shell/settings/DebugFile.h"

#include "foundation/Constants.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class ControlView;
class EngineNotices;
class LoginFormView;
class PeltaAPI;
class PeltaLoginThread;
class PeltaReg;
class PeltaSyncAgentSetting;
class PeltaTransferStatusThread;
class RegistryStore;
class ServiceCallThread;
class TerminalLogThread;
class UiThreadPost;
class XApLogin;

class TFrmControl : public QObject {
    Q_OBJECT

public:
    using EngineFactory = std::function<std::unique_ptr<EngineControl>(PeltaReg&, PeltaSyncAgentSetting&,
                                                                      std::shared_ptr<EngineNotices>)>;
    using VersionCheck = std::function<void(bool reportNone)>;
    using FolderChanged = std::function<void(bool changed)>;
    // ok: the service answered with status 1 and reply is its answer;
    // otherwise reply is the service's message (empty without an answer).
    using MetadataDone = std::function<void(bool ok, const QString& reply)>;

    struct Options {
        RegistryStore* registry = nullptr;  // the process's shared store when null
        // Makes the engine at the first main step; empty: the agent runs
        // without one (logged).
        EngineFactory engineFactory;
        // Starts the version check; empty: the check is not part of this
        // program and a start is only logged.
        VersionCheck versionCheck;
        // Copy the log to standard error (the agent runs without a tray icon).
        bool logToTerminal = false;
        // Shows the preferences at a tab; empty: the program has no
        // preferences window and the menu item is only logged.
        std::function<void(int page)> showPreference;
    };

    // Tray states (SetTrayIcon).
    static constexpr int TrayIdle = 0;
    static constexpr int TraySyncing = 2;
    static constexpr int TrayInSync = 3;
    static constexpr int TrayOffline = 5;

    // Field sizes of the tray's texts; longer texts are cut.
    static constexpr int TipLength = 127;
    static constexpr int BalloonTextLength = 255;
    static constexpr int BalloonTitleLength = 63;

    static constexpr int Timer1Ms = 200;
    // A login handed over while the login thread finishes the one that has
    // just reported is handed over again this much later.
    static constexpr int LoginHandOverRetryMs = 20;

    // Wires the process. view must outlive the object.
    TFrmControl(ControlView& view, Options options);
    // Runs the close handler when it has not run.
    ~TFrmControl() override;

    TFrmControl(const TFrmControl&) = delete;
    TFrmControl& operator=(const TFrmControl&) = delete;

    // ---- Step machine ------------------------------------------------------
    void GotoStep(int step);
    // Runs the step 200 ms later; ignored while a deferred step waits.
    void DeferGotoStep(int step);
    void Timer1Timer();
    // A login's outcome (XApLogin codes).
    void OnLoginResult(int code, const QString& message);
    void ArmLoginTimer(int seconds);
    void TimerLoginTimer();
    // The member access is gone: the stored login runs again in 2 s.
    void Relogin();
    // Hands a login to the login thread; dropped while one runs.
    void DoLogin(const QString& login, const QString& password);
    void DoWebLogin(const QString& login, const QString& password);
    bool CheckOpenSSLDlls();

    // ---- Main-step services --------------------------------------------------
    void StartDirectoryMonitor();
    // Starts the version check (Options::versionCheck).
    void StartCheckVersion(bool reportNone);

    // Settings in the store, "config.db" and, where flagged, the registry.
    void SetSetting(const QString& name, const QString& value);
    void SetSettingBool(const QString& name, bool on);
    void SaveBinding(const QString& login, const QString& password, const QString& agentName);
    void ImportRegistrySettings();
    void LoadSettings();
    void SaveSettings();
    void ClearPass();

    // Moves the sync folder: the folder is made, registered with the service
    // on the service-call thread, and done runs on this thread with the
    // outcome. A refused folder leaves the previous one everywhere.
    void ChangeSyncFolder(const QString& folder, bool quiet, FolderChanged done = {});
    void CreateShortcuts(const QString& syncFolder);
    void UpdateQuotaMenu();
    void ApplyBandwidth();
    void SetResyncMenu(bool enabled);
    void SetRunningMarker(bool on);
    // Reads the proxy from the registry into the process's copy and the
    // facade; the engine takes a fresh copy.
    void ApplyProxy();
    // Unbinds the computer: the engine stops, the account's settings are
    // cleared, open requests are cancelled, and the login step follows. A
    // later main step starts the engine again.
    void UnbindAccount();

    // ---- Tray ------------------------------------------------------------------
    void SetTrayIcon(int state);
    void SetTrayState(int state) { SetTrayIcon(state); }
    bool SetSyncStatus(bool busy, bool reset, int pending);
    void ShowTransferTip(const QString& text);
    void ShowBalloonText(const QString& title, const QString& text, bool timed);
    void ShowBalloon(const QString& title, const QString& text) { ShowBalloonText(title, text, false); }
    void ShowBalloonWithPath(const QString& title, const QString& text, bool timed, const QString& target);
    void ShowFileBalloon(const QString& title, const QString& text, const QString& path);
    void ShowStatus(const QString& text);
    void ShowMsg(const QString& text);
    void ShowMsg(const QString& title, const QString& text);
    void OpenSyncFolder();
    void OnBalloonClicked();
    void OnTrayDoubleClicked() { OpenSyncFolder(); }
    // Re-reads the texts in the language; true unless the language is
    // known and could not be loaded.
    bool SwitchLanguage(int lcid);

    // Menu items.
    void miExitClick();
    void miConfigClick();
    void miFolderClick() { OpenSyncFolder(); }
    void miWriteLog();
    void Tessaron1Click();
    void miUpdateClick();
    void miAdjustClick();
    void miBuyClick();
    void miResyncClick();
    void N4Click();

    // ---- Debug actions (the log window) ---------------------------------------------
    // Asks the service for the metadata of a folder (a path below the sync
    // folder) on the service-call thread; done runs on this thread, unless
    // the control form has closed meanwhile.
    void QueryMetadata(const QString& path, int recursive, bool recycle, MetadataDone done);
    // A remote walk of the whole folder, run by the engine's threads.
    void ResyncRemote();
    // Stops the push channel for good: an engine made or started later runs
    // without it.
    void StopPushChannel();
    bool PushChannelAllowed() const { return pushChannelAllowed_; }

    // The login form the step machine reports to; null: none. It must stay
    // until it is replaced or the control form has closed.
    void SetLoginForm(LoginFormView* form) { loginForm_ = form; }

    // ---- Shutdown ----------------------------------------------------------------
    // The close handler: every thread told, woken and joined, then every
    // shared object released once; the view's event loop then ends.
    void FormClose();

    // ---- For the view and the tests ------------------------------------------------
    // Calls from the engine's threads, handed to this thread.
    std::shared_ptr<EngineNotices> Notices() const { return notices_; }
    PeltaReg& Reg() { return *reg_; }
    PeltaSyncAgentSetting& Settings() { return *settings_; }
    const DebugFile& Debug() const { return debug_; }
    EngineControl* Engine() const { return engine_.get(); }
    const QString& TipText() const { return tipText_; }
    bool Closing() const { return closing_; }
    bool Closed() const { return closed_; }
    int DeferredStep() const { return deferredStep_; }
    bool Timer1Active() const { return timer1_.isActive(); }
    bool LoginTimerActive() const { return timerLogin_.isActive(); }
    int LoginTimerMs() const { return timerLogin_.interval(); }
    const LoginBackoff& Backoff() const { return backoff_; }
    int WizardMode() const { return wizardMode_; }
    bool AgentCheckPending() const { return agentCheckPending_; }
    int TrayStateNow() const { return trayState_; }
    int RunningJobs() const { return runningJobs_; }
    QString BalloonTarget() const { return balloonTarget_; }

private:
    void WireProcess();
    void ReadDebugFile();
    void PrepareDatabase();
    void StartOwnThreads();
    void RebuildTipText();

    void StepSplash();
    void StepLogin();
    void StepMain();
    void StepDoLogin();
    void LoginWithStoredCredentials(bool setUserId);
    void OnNetworkLoginFailure(const QString& message);

    // The main step after the agent check.
    void OnAgentChecked(const AgentService::Check& check);
    void StartEngine();
    EngineControl::FirstCommand ChooseFirstCommand();

    void OnFolderRegistered(bool registered, bool quiet, const FolderChanged& done);
    void RestorePreviousFolder();

    void SetQuotaItems(bool enabled, const QString& caption);
    void SetStatusMessage(const QString& text);
    void SetLoginStatus(const QString& text);
    void StopThreads();

    ControlView& view_;
    Options options_;
    std::shared_ptr<UiThreadPost> post_;
    std::shared_ptr<EngineNotices> notices_;

    std::unique_ptr<PeltaReg> reg_;
    std::unique_ptr<PeltaSyncAgentSetting> settings_;
    std::unique_ptr<PeltaAPI> api_;
    std::unique_ptr<AgentService> agent_;
    std::unique_ptr<EngineControl> engine_;
    DebugFile debug_;

    std::unique_ptr<XApLogin> login_;
    std::unique_ptr<PeltaLoginThread> loginThread_;
    std::unique_ptr<ServiceCallThread> serviceCalls_;
    std::unique_ptr<PeltaTransferStatusThread> transferStatus_;
    std::unique_ptr<TerminalLogThread> terminalLog_;

    QTimer timer1_;
    QTimer timerLogin_;
    int deferredStep_ = XGONone;
    bool closing_ = false;
    bool closed_ = false;
    bool versionCheckStarted_ = false;
    bool agentCheckPending_ = false;
    bool loginInFlight_ = false;  // handed to the login thread, no final result yet
    bool folderChangePending_ = false;
    bool pushChannelAllowed_ = true;
    LoginFormView* loginForm_ = nullptr;
    QString previousFolder_;  // while a folder change waits for the service
    QString previousFolderMd5_;
    QString debugLogPath_;
    LoginBackoff backoff_;
    int wizardMode_ = 0;

    QString tipText_;
    QString startStamp_;
    int trayState_ = TrayIdle;
    int runningJobs_ = 0;
    QString balloonTarget_;
    bool quotaEnabled_ = false;
};
