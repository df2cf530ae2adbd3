#pragma once

// What the engine and its threads ask of the application around them: the
// balloons and notices shown to the user, the tray's state and menus, the
// settings the control form keeps, a new login and a restart of the directory
// monitor. The tray application installs an implementation that hands each
// call to the user-interface thread and returns at once (a worker never waits
// on that thread: shutdown joins the workers); tests install ones that record
// the calls. Without any, the calls only reach the log.
//
// Every operation but the balloons has an empty default, so an implementation
// overrides what it shows.

#include "sync/monitor/MonitorNotice.h"
#include "sync/rules/SyncFolderNotice.h"

#include <QString>

#include <memory>

class EngineNotices : public MonitorNotice, public SyncFolderNotice {
public:
    ~EngineNotices() override = default;

    // A plain balloon.
    virtual void ShowBalloon(const QString& title, const QString& text) = 0;
    // A balloon whose click opens url.
    virtual void ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide, const QString& url) = 0;
    // A notice about synchronised files; a click opens target when it is not
    // empty. Shown only when desktop notices are on.
    virtual void ShowFileBalloon(const QString& title, const QString& text, const QString& target) = 0;

    // The tray's sync state: busy or idle, whether the icon is set anew, and
    // the number of requests still waiting.
    virtual void SetSyncStatus(bool /*busy*/, bool /*reset*/, int /*pending*/) {}
    // The tray icon's state (an XICOState value).
    virtual void SetTrayState(int /*state*/) {}
    // The resync menu item: enabled, or showing that a resync runs.
    virtual void SetResyncMenu(bool /*enabled*/) {}
    // The quota figures changed: the quota menu is built again.
    virtual void UpdateQuotaMenu() {}
    // A setting the control form keeps in the settings store, "config.db"
    // and, where flagged, the registry; SaveSettings writes them all out.
    virtual void SetSetting(const QString& /*name*/, const QString& /*value*/) {}
    virtual void SaveSettings() {}
    // The member access is gone: log in again with the stored credentials.
    virtual void Relogin() {}
    // Start the directory monitor again when it no longer runs (after the
    // sync folder was made again).
    virtual void StartDirectoryMonitor() {}

    // MonitorNotice and SyncFolderNotice: shown to the user; empty defaults.
    void WatchLimitReached(int /*limit*/, int /*inUse*/) override {}
    void SyncFolderUnavailable(const QString& /*folder*/, const QString& /*reason*/) override {}
    void SyncFolderAvailable(const QString& /*folder*/) override {}

    // Replaces the process-wide notices (null: the log only).
    static void Install(std::shared_ptr<EngineNotices> notices);
    // The installed notices; null when none.
    static std::shared_ptr<EngineNotices> Installed();
};
