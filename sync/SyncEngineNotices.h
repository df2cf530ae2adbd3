#pragma once

// The notices that SyncEngine installs for its threads: every call goes on
// to the application's notices (when there are any; otherwise only the log
// hears of it), except the request to start the directory monitor again,
// which the engine answers itself, since it owns the monitor, and the
// return of the sync folder, after which the engine resumes. So the engine
// runs whole without any application around it.
//
// Any thread.

#include "sync/engine/EngineNotices.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>

class SyncEngineNotices : public EngineNotices {
public:
    // application may be null.
    explicit SyncEngineNotices(std::shared_ptr<EngineNotices> application);

    // What StartDirectoryMonitor runs; empty: nothing (the engine is gone).
    void SetMonitorStarter(std::function<void()> starter);
    // What runs after SyncFolderAvailable has been passed on (the engine
    // resumes: the monitor watches the folder again and a rescan finds what
    // changed while nothing watched); empty: nothing.
    void SetFolderBack(std::function<void()> back);

    const std::shared_ptr<EngineNotices>& Application() const { return application_; }

    void ShowBalloon(const QString& title, const QString& text) override;
    void ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide, const QString& url) override;
    void ShowFileBalloon(const QString& title, const QString& text, const QString& target) override;
    void SetSyncStatus(bool busy, bool reset, int pending) override;
    void SetTrayState(int state) override;
    void SetResyncMenu(bool enabled) override;
    void UpdateQuotaMenu() override;
    void SetSetting(const QString& name, const QString& value) override;
    void SaveSettings() override;
    void Relogin() override;
    void StartDirectoryMonitor() override;
    void WatchLimitReached(int limit, int inUse) override;
    void SyncFolderUnavailable(const QString& folder, const QString& reason) override;
    void SyncFolderAvailable(const QString& folder) override;

private:
    static void Log(const QString& text);

    const std::shared_ptr<EngineNotices> application_;
    std::mutex starterLock_;
    std::function<void()> starter_;  // guarded by starterLock_
    std::function<void()> back_;     // guarded by starterLock_
};
