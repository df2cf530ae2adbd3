// The main step's services: settings in their three places, the sync
// folder, shortcuts, quota, bandwidth, proxy, the running marker, unbinding.

#include "shell/control/TFrmControl.h"

#include "shell/control/ControlView.h"
#include "shell/control/LoginFormView.h"
#include "shell/control/UiThreadPost.h"
#include "shell/settings/Bandwidth.h"
#include "shell/settings/QuotaCaption.h"
#include "shell/settings/RunningMarker.h"
#include "shell/settings/Shortcuts.h"
#include "shell/threads/ServiceCallThread.h"

#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaProxy.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaRegistryFunc.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TimeHelpers.h"
#include "foundation/text/Xi18n.h"
#include "platform/RegistryStore.h"

#include <QFileInfo>

void TFrmControl::StartDirectoryMonitor()
{
    if (engine_)
        engine_->StartDirectoryMonitor();
}

void TFrmControl::StartCheckVersion(bool reportNone)
{
    versionCheckStarted_ = true;
    if (options_.versionCheck) {
        options_.versionCheck(reportNone);
        return;
    }
    AppLog.Write(QStringLiteral("FrmControl: no version check in this program"), LogGeneral);
}

// ---- Settings -------------------------------------------------------------------------

void TFrmControl::SetSetting(const QString& name, const QString& value)
{
    settings_->Set(name, value);
    reg_->SetConfigSetting(name, value);
    if (PeltaSyncAgentSetting::IsRegistrySetting(name))
        reg_->WriteString(name, value);
    if (name == QLatin1String("agent_name"))
        SetSetting(QStringLiteral("agent_name_base64"), Base64UrlEncodeText(value));
}

void TFrmControl::SetSettingBool(const QString& name, bool on)
{
    const QString value = on ? QStringLiteral("1") : QStringLiteral("0");
    settings_->Set(name, value);
    reg_->SetConfigSetting(name, value);
    if (PeltaSyncAgentSetting::IsRegistrySetting(name))
        reg_->WriteBool(name, on);
}

void TFrmControl::SaveBinding(const QString& login, const QString& password, const QString& agentName)
{
    settings_->Set(QStringLiteral("login"), login);
    settings_->Set(QStringLiteral("pass"), password);
    reg_->SetCachedLogin(login);
    reg_->SetCachedPass(password);
    reg_->SetConfigSetting(QStringLiteral("login"), login);
    reg_->SetPass(password);
    reg_->SetCachedAgentName(agentName);
    SetSetting(QStringLiteral("agent_name"), agentName);
    SetSetting(QStringLiteral("setting_time"), QString::number(UnixTimeNow()));
    SetSettingBool(QStringLiteral("account_valid"), true);
    reg_->account_valid = true;
    reg_->bound = true;
}

void TFrmControl::ImportRegistrySettings()
{
    reg_->ImportRegistrySettings(*settings_);
}

void TFrmControl::LoadSettings()
{
    reg_->LoadSettings(*settings_);
}

void TFrmControl::SaveSettings()
{
    reg_->SaveSettings(*settings_);
}

void TFrmControl::ClearPass()
{
    reg_->ClearPass(*settings_);
}

// ---- The sync folder --------------------------------------------------------------------

void TFrmControl::ChangeSyncFolder(const QString& folder, bool quiet, FolderChanged done)
{
    if (closing_ || folderChangePending_) {
        AppLog.Write(QStringLiteral("FrmControl: the sync folder cannot change now: ") + folder, LogGeneral);
        if (done)
            done(false);
        return;
    }
    const QString previousFolder = settings_->Get(QStringLiteral("sync_folder"));
    const QString previousMd5 = settings_->Get(QStringLiteral("sync_folder_md5sum"));
    if (!reg_->SetSyncFolder(folder) || !QFileInfo(folder).isDir()) {
        if (done)
            done(false);
        return;
    }
    previousFolder_ = previousFolder;
    previousFolderMd5_ = previousMd5;
    settings_->Set(QStringLiteral("sync_folder"), reg_->CachedSyncFolder());
    settings_->Set(QStringLiteral("sync_folder_md5sum"), reg_->GetSyncFolderMd5());
    folderChangePending_ = true;
    serviceCalls_->Queue([this, agent = agent_.get(), post = post_, quiet, done = std::move(done)] {
        const bool registered = agent->SetAgentSetting();
        post->Post([this, registered, quiet, done] { OnFolderRegistered(registered, quiet, done); });
    });
}

void TFrmControl::OnFolderRegistered(bool registered, bool quiet, const FolderChanged& done)
{
    folderChangePending_ = false;
    if (!registered) {
        RestorePreviousFolder();
        if (!quiet)
            ShowMsg(Xi18n::Text(XText::_ML0311));
        if (done)
            done(false);
        return;
    }
    const QString folder = settings_->Get(QStringLiteral("sync_folder"));
    if (!quiet)
        ShowMsg(Xi18n::Text(XText::_ConfigSuccess));
    SetSetting(QStringLiteral("sync_folder"), folder);
    SetSetting(QStringLiteral("sync_folder_md5sum"), settings_->Get(QStringLiteral("sync_folder_md5sum")));
    CreateShortcuts(folder);
    SetSettingBool(QStringLiteral("last_sync_time"), true);
    SetSettingBool(QStringLiteral("first_sync_time"), true);
    if (engine_) {
        engine_->ChangeSyncFolder();
        engine_->StartDirectoryMonitor();  // a monitor that had ended watches the new folder
        engine_->ReloadProxy();
        if (!quiet)
            engine_->QueueResync(XMOResyncFull, QStringLiteral("\\"));
    }
    if (done)
        done(true);
}

void TFrmControl::RestorePreviousFolder()
{
    folderChangePending_ = false;
    reg_->SetSyncFolder(previousFolder_);
    settings_->Set(QStringLiteral("sync_folder"), previousFolder_);
    settings_->Set(QStringLiteral("sync_folder_md5sum"), previousFolderMd5_);
}

void TFrmControl::CreateShortcuts(const QString& syncFolder)
{
    const QString program =
        settings_->Get(QStringLiteral("install_dir")) + u'/' + QFileInfo(reg_->ExecutablePath()).fileName();
    Shortcuts::Create(program, syncFolder);
}

// ---- Quota, bandwidth, proxy, marker -------------------------------------------------------

void TFrmControl::UpdateQuotaMenu()
{
    const double total = QuotaTotal.load();
    const double used = QuotaUsed.load();
    if (total > used)
        RequestObject.SetQuotaFull(false);
    SetQuotaItems(true, QuotaCaption::Text(total, used));
}

void TFrmControl::SetQuotaItems(bool enabled, const QString& caption)
{
    quotaEnabled_ = enabled;
    view_.SetQuotaItems(enabled, caption);
}

void TFrmControl::ApplyBandwidth()
{
    Bandwidth::Apply(*settings_);
}

void TFrmControl::SetResyncMenu(bool enabled)
{
    view_.SetResyncItem(enabled, Xi18n::Text(enabled ? XText::_MenuResync : XText::_MenuResync_Syncing));
}

void TFrmControl::SetRunningMarker(bool on)
{
    RunningMarker::Set(reg_->MarkerFolder(), on);
}

void TFrmControl::ApplyProxy()
{
    PeltaProxy proxy;
    PeltaRegistryFunc registry(RegistryRoot::CurrentUser,
                               options_.registry ? *options_.registry : RegistryStore::Shared());
    registry.LoadProxy(proxy);
    reg_->SetProxy(proxy);
    AppProxy.Set(proxy);
    if (engine_)
        engine_->ReloadProxy();
}

void TFrmControl::SetStatusMessage(const QString& text)
{
    RequestObject.SetMessage(text);
}

void TFrmControl::SetLoginStatus(const QString& text)
{
    if (loginForm_)
        loginForm_->ShowLoginStatus(text);
}

// ---- Debug actions -------------------------------------------------------------------------

void TFrmControl::QueryMetadata(const QString& path, int recursive, bool recycle, MetadataDone done)
{
    if (closing_ || !done)
        return;
    serviceCalls_->Queue([agent = agent_.get(), post = post_, path, recursive, recycle, done = std::move(done)] {
        QString reply;
        const bool ok = agent->GetMetadata(path, recursive, recycle, reply);
        post->Post([ok, reply, done] { done(ok, reply); });
    });
}

void TFrmControl::ResyncRemote()
{
    if (!engine_) {
        AppLog.Write(QStringLiteral("FrmControl: no engine runs; the remote resync is not queued"), LogGeneral);
        return;
    }
    engine_->QueueResync(XMOResyncRemote, QStringLiteral("\\"));
}

void TFrmControl::StopPushChannel()
{
    pushChannelAllowed_ = false;
    if (engine_)
        engine_->StopPushChannel();
}

// ---- Unbinding ----------------------------------------------------------------------------

void TFrmControl::UnbindAccount()
{
    XAPPState state = AppState.load();
    while (state != XAPPExit && !AppState.compare_exchange_weak(state, XAPPLogin)) {
    }
    if (engine_)
        engine_->Stop();
    reg_->ResetAccount(*settings_);
    reg_->bound = false;
    reg_->account_valid = false;
    try {
        PeltaDb db(*settings_);
        db.CancelAllRequests();
    } catch (const Lithos::SQLiteException& failure) {
        AppLog.Write(QStringLiteral("FrmControl: open requests not cancelled: ") +
                         PeltaSQLite3::FormatSQLiteException(failure),
                     LogDB);
    }
    SetQuotaItems(false, Xi18n::Text(XText::_ML0303));
    DeferGotoStep(XGOLogin);
}
