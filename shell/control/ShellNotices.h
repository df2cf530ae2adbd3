#pragma once

// The control form's side of EngineNotices: every call from an engine
// thread is handed to the user-interface thread and returns at once; once
// shutdown has begun it is dropped.

#include "sync/engine/EngineNotices.h"

#include <memory>

class TFrmControl;
class UiThreadPost;

class ShellNotices : public EngineNotices {
public:
    // control lives on the user-interface thread and outlives every call
    // that post lets through.
    ShellNotices(TFrmControl& control, std::shared_ptr<UiThreadPost> post);

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
    TFrmControl& control_;
    const std::shared_ptr<UiThreadPost> post_;
};
