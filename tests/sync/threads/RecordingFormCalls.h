#pragma once

// What the worker threads ask of the control form, recorded in order as
// texts: "status busy", "status idle", "setting <name>=<value>", "save",
// "menu on", "menu off", "tray <state>", "monitor", "unavailable <folder>",
// "available <folder>". Any thread.

#include "sync/engine/EngineNotices.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

class RecordingFormCalls : public EngineNotices {
public:
    // Installs a new recorder as the engine's notices; tests put the earlier
    // state back with EngineNotices::Install(nullptr).
    static std::shared_ptr<RecordingFormCalls> InstallNew();

    void ShowBalloon(const QString& title, const QString& text) override;
    void ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide, const QString& url) override;
    void ShowFileBalloon(const QString& title, const QString& text, const QString& target) override;
    void SetSyncStatus(bool busy, bool reset, int pending) override;
    void SetTrayState(int state) override;
    void SetResyncMenu(bool enabled) override;
    void SetSetting(const QString& name, const QString& value) override;
    void SaveSettings() override;
    void StartDirectoryMonitor() override;
    void SyncFolderUnavailable(const QString& folder, const QString& reason) override;
    void SyncFolderAvailable(const QString& folder) override;

    QStringList Calls() const;
    // The calls that start with prefix.
    QStringList Calls(const QString& prefix) const;

private:
    void Record(const QString& call);

    mutable std::mutex mutex_;
    QStringList calls_;
};
