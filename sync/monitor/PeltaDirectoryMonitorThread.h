#pragma once

// The directory monitor: watches the whole sync folder tree through an
// InotifyWatcher and puts each folder event into the FS queue (under
// csFSQueue), signalling "Global\XFSQueue" after each one, for the sync-pre
// thread to merge.
//
// The thread blocks in poll() on the inotify descriptor and on an eventfd of
// its own; Terminate() and ResetConfig() write the eventfd, so stopping and
// re-pointing take effect at once without touching the folder. The thread
// ends by itself when the folder cannot be watched or the sync folder is
// removed, moved or unmounted (logged); its owner starts a new one when
// needed. While some folders cannot be watched for lack of watches the
// monitor walks the tree again and queues a full rescan every
// shortWatchRescan, and tells the user once.
//
// The owner creates, starts, stops (Terminate, Join) and destroys the object;
// it never deletes itself.

#include "platform/WorkerThread.h"
#include "sync/monitor/InotifyWatcher.h"
#include "sync/monitor/MonitorNotice.h"
#include "sync/monitor/UniqueFd.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

class PeltaReg;

class PeltaDirectoryMonitorThread : public WorkerThread {
public:
    static constexpr std::chrono::milliseconds DefaultShortWatchRescan{std::chrono::minutes(5)};
    // Reads of the inotify descriptor per turn of the loop, at most.
    static constexpr int MaxReadsPerTurn = 64;

    struct Options {
        // Its isOwnChange defaults to the status object's self-change marks
        // (RequestObject.IsFileMonitored); the engine's owner gives the
        // engine's own test, which also asks the store (SelfChange).
        InotifyWatcher::Options watcher;
        std::chrono::milliseconds shortWatchRescan = DefaultShortWatchRescan;
        std::shared_ptr<MonitorNotice> notice;  // null: the shortage is only logged
    };

    // Watches the sync folder that the settings facade names.
    explicit PeltaDirectoryMonitorThread(PeltaReg& reg);
    PeltaDirectoryMonitorThread(PeltaReg& reg, Options options);
    explicit PeltaDirectoryMonitorThread(QString folder);
    PeltaDirectoryMonitorThread(QString folder, Options options);
    ~PeltaDirectoryMonitorThread() override;

    // Points the monitor at another folder; it is watched from the next turn
    // of the loop, which this wakes. With logFlag, logs "ResetConfig:" and
    // the calling thread's last system error code.
    void ResetConfig(const QString& folder, bool logFlag);

    // Raises the terminate flag and wakes the thread's poll.
    void Terminate() override;

    // The folder to watch, as last set.
    QString Folder() const;
    // The folder whose tree is being watched; empty before the first walk
    // has finished and after the monitor ended.
    QString WatchedFolder() const;
    int WatchCount() const { return watchCount_.load(); }

protected:
    void Execute() override;

private:
    bool OpenWatcher();
    void SetWatchedFolder(const QString& folder);
    void RunOnce(bool readable);
    int PollTimeoutMs(SteadyTime now) const;
    void QueueEvents(const std::vector<PeltaFSQueue>& events);
    void TellLimitOnce();
    void Wake();
    void DrainWake();

    const Options options_;
    UniqueFd wakeFd_;  // eventfd written by Terminate and ResetConfig

    mutable std::mutex folderLock_;
    QString folder_;         // guarded by folderLock_
    QString watchedFolder_;  // guarded by folderLock_
    std::atomic<bool> reopen_{false};
    std::atomic<int> watchCount_{0};
    std::atomic<bool> limitTold_{false};

    // Used by the monitor's thread only.
    std::unique_ptr<InotifyWatcher> watcher_;
    SteadyTime nextRewatch_{};
};
