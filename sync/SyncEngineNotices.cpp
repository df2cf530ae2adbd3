#include "sync/SyncEngineNotices.h"

#include "foundation/log/PeltaLog.h"

#include <utility>

SyncEngineNotices::SyncEngineNotices(std::shared_ptr<EngineNotices> application)
    : application_(std::move(application))
{
}

void SyncEngineNotices::SetMonitorStarter(std::function<void()> starter)
{
    std::lock_guard lock(starterLock_);
    starter_ = std::move(starter);
}

void SyncEngineNotices::SetFolderBack(std::function<void()> back)
{
    std::lock_guard lock(starterLock_);
    back_ = std::move(back);
}

void SyncEngineNotices::Log(const QString& text)
{
    AppLog.Write(QStringLiteral("Notice:") + text, LogGeneral);
}

void SyncEngineNotices::ShowBalloon(const QString& title, const QString& text)
{
    if (application_)
        application_->ShowBalloon(title, text);
    else
        Log(title + QLatin1Char(':') + text);
}

void SyncEngineNotices::ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide,
                                            const QString& url)
{
    if (application_)
        application_->ShowBalloonWithPath(title, text, autoHide, url);
    else
        Log(title + QLatin1Char(':') + text);
}

void SyncEngineNotices::ShowFileBalloon(const QString& title, const QString& text, const QString& target)
{
    if (application_)
        application_->ShowFileBalloon(title, text, target);
    else
        Log(title + QLatin1Char(':') + text);
}

void SyncEngineNotices::SetSyncStatus(bool busy, bool reset, int pending)
{
    if (application_)
        application_->SetSyncStatus(busy, reset, pending);
}

void SyncEngineNotices::SetTrayState(int state)
{
    if (application_)
        application_->SetTrayState(state);
}

void SyncEngineNotices::SetResyncMenu(bool enabled)
{
    if (application_)
        application_->SetResyncMenu(enabled);
}

void SyncEngineNotices::UpdateQuotaMenu()
{
    if (application_)
        application_->UpdateQuotaMenu();
}

void SyncEngineNotices::SetSetting(const QString& name, const QString& value)
{
    if (application_)
        application_->SetSetting(name, value);
}

void SyncEngineNotices::SaveSettings()
{
    if (application_)
        application_->SaveSettings();
}

void SyncEngineNotices::Relogin()
{
    if (application_)
        application_->Relogin();
    else
        Log(QStringLiteral("a new login is needed"));
}

void SyncEngineNotices::StartDirectoryMonitor()
{
    std::function<void()> starter;
    {
        std::lock_guard lock(starterLock_);
        starter = starter_;
    }
    if (starter)
        starter();
}

void SyncEngineNotices::WatchLimitReached(int limit, int inUse)
{
    if (application_)
        application_->WatchLimitReached(limit, inUse);
    else
        Log(QStringLiteral("watch limit reached: %1 of %2").arg(inUse).arg(limit));
}

void SyncEngineNotices::SyncFolderUnavailable(const QString& folder, const QString& reason)
{
    if (application_)
        application_->SyncFolderUnavailable(folder, reason);
    else
        Log(QStringLiteral("sync folder unavailable:") + folder + QLatin1Char(':') + reason);
}

void SyncEngineNotices::SyncFolderAvailable(const QString& folder)
{
    if (application_)
        application_->SyncFolderAvailable(folder);
    else
        Log(QStringLiteral("sync folder available:") + folder);
    std::function<void()> back;
    {
        std::lock_guard lock(starterLock_);
        back = back_;
    }
    if (back)
        back();
}
