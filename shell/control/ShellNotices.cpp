#include "shell/control/ShellNotices.h"

#include "shell/control/TFrmControl.h"
#include "shell/control/UiThreadPost.h"

#include "foundation/log/PeltaLog.h"

ShellNotices::ShellNotices(TFrmControl& control, std::shared_ptr<UiThreadPost> post)
    : control_(control), post_(std::move(post))
{
}

void ShellNotices::ShowBalloon(const QString& title, const QString& text)
{
    post_->Post([&control = control_, title, text] { control.ShowBalloon(title, text); });
}

void ShellNotices::ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide, const QString& url)
{
    post_->Post([&control = control_, title, text, autoHide, url] {
        control.ShowBalloonWithPath(title, text, autoHide, url);
    });
}

void ShellNotices::ShowFileBalloon(const QString& title, const QString& text, const QString& target)
{
    post_->Post([&control = control_, title, text, target] { control.ShowFileBalloon(title, text, target); });
}

void ShellNotices::SetSyncStatus(bool busy, bool reset, int pending)
{
    post_->Post([&control = control_, busy, reset, pending] { control.SetSyncStatus(busy, reset, pending); });
}

void ShellNotices::SetTrayState(int state)
{
    post_->Post([&control = control_, state] { control.SetTrayState(state); });
}

void ShellNotices::SetResyncMenu(bool enabled)
{
    post_->Post([&control = control_, enabled] { control.SetResyncMenu(enabled); });
}

void ShellNotices::UpdateQuotaMenu()
{
    post_->Post([&control = control_] { control.UpdateQuotaMenu(); });
}

void ShellNotices::SetSetting(const QString& name, const QString& value)
{
    post_->Post([&control = control_, name, value] { control.SetSetting(name, value); });
}

void ShellNotices::SaveSettings()
{
    post_->Post([&control = control_] { control.SaveSettings(); });
}

void ShellNotices::Relogin()
{
    post_->Post([&control = control_] { control.Relogin(); });
}

void ShellNotices::StartDirectoryMonitor()
{
    post_->Post([&control = control_] { control.StartDirectoryMonitor(); });
}

void ShellNotices::WatchLimitReached(int limit, int inUse)
{
    AppLog.Write(QStringLiteral("FrmControl: the system's limit of %1 folder watches is reached (%2 in use); "
                                "some folders are rescanned at intervals instead")
                     .arg(limit)
                     .arg(inUse),
                 LogGeneral);
}

void ShellNotices::SyncFolderUnavailable(const QString& folder, const QString& reason)
{
    AppLog.Write(QStringLiteral("FrmControl: the sync folder %1 is not available (%2); syncing waits for it")
                     .arg(folder, reason),
                 LogGeneral);
    post_->Post([&control = control_, folder, reason] { control.ShowStatus(folder + QStringLiteral(": ") + reason); });
}

void ShellNotices::SyncFolderAvailable(const QString& folder)
{
    AppLog.Write(QStringLiteral("FrmControl: the sync folder %1 is available again").arg(folder), LogGeneral);
}
