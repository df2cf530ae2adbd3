#pragma once

// The request worker ("QueueSub"): the one thread that works off the rows of
// sync_request. Each row is driven by RequestSteps through registration
// (setSyncJournal), transfer and commit (commitSyncJournal) on the thread's
// own engine.
//
// It waits on "Global\XRequestQueue" (wait at a time). Each turn it
//  - keeps the online state in step with the network failure count (more
//    than 5: offline; none: online again), telling the tray;
//  - looks at the sync folder (MountedFolder): while it is removed or not
//    mounted no row is handled (a download must never land on another file
//    system, and a removal must never reach the service); the first turn
//    that finds it gone hands it over (folderGone: by default a remote
//    resync of "\" on the final queue, which the resync-local thread runs
//    once the folder is made again or mounted again);
//  - refreshes every overlay icon once, iconRefreshAfter after the sync
//    threads started (SyncStartTime);
//  - rescans every folder whose folder-add mark has grown older than 15 s,
//    so files copied into a new folder are never missed;
//  - runs a batch when woken, and otherwise on every (quietTurns + 1)th
//    time-out, so rows whose retry delay has passed are taken without any
//    event.
//
// A batch takes rows while the application is online and the thread is not
// stopped. A failed row waits its retry delay in the store (growing with its
// failures, never dropped). A row that comes back in the same batch without
// having failed and at the status it was taken at (its handling changed
// nothing) is counted as failed instead of being handled again, and so is
// one that keeps coming back; so a batch always ends and no row is repeated
// without end.
//
// The owner creates, starts, stops (Terminate, Join) and destroys the object;
// it never deletes itself. Terminate aborts the engine's running exchange or
// transfer, so the thread ends within a second.

#include "platform/WorkerThread.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/MountedFolder.h"
#include "sync/threads/InstalledFolderNotice.h"
#include "sync/threads/QuotaCheck.h"
#include "sync/threads/RequestSteps.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

class PeltaSyncAgentSetting;

class PeltaQueueSubThread : public WorkerThread {
public:
    static constexpr std::chrono::milliseconds DefaultWait{10000};
    static constexpr int DefaultQuietTurns = 3;
    static constexpr std::chrono::milliseconds DefaultIconRefreshAfter{60000};
    static constexpr std::chrono::milliseconds OtherStatePause{5000};

    struct Options {
        std::chrono::milliseconds wait = DefaultWait;
        int quietTurns = DefaultQuietTurns;
        std::chrono::milliseconds iconRefreshAfter = DefaultIconRefreshAfter;
        QuotaCheck::Options quota;
        // After each commit the service accepted (the push channel's SEND).
        std::function<void()> committed;
        // The sync folder was found removed or not mounted; empty: a remote
        // resync of "\" is queued on the final queue.
        std::function<void(MountedFolder::State)> folderGone;
    };

    // The thread's own engine is built on formEngine's settings facade,
    // settings store, status object and conflict tracker.
    explicit PeltaQueueSubThread(PeltaSync& formEngine);
    PeltaQueueSubThread(PeltaSync& formEngine, Options options);
    ~PeltaQueueSubThread() override;

    // Re-binds the engine to the store (a new sync folder); a running row
    // stops early and the flag is lowered after it. Any thread.
    void ResetConfig(PeltaSyncAgentSetting* settings);

    // Raises the terminate flag, aborts the engine's running exchange or
    // transfer and wakes the thread.
    void Terminate() override;

    // Batches run so far; a batch that found no row counts too.
    int Batches() const { return batches_.load(); }
    // The sync folder was found removed or not mounted and is not back yet.
    bool FolderGone() const { return folderGone_.load(); }

protected:
    void Execute() override;

private:
    // Online and offline by the failure count; false when the turn ends
    // here (exit, or a state in which nothing runs).
    bool FollowState();
    bool FolderReady();
    void RefreshIconsOnce();
    void RescanAddedFolders();
    void RunBatch();
    // A row handled in this batch: the status it was taken at, and how
    // often.
    struct Visit {
        int status = 0;
        int times = 0;
    };
    static constexpr int MaxVisitsPerBatch = 3;

    // A row that comes back in this batch without having failed and without
    // its handling having moved it on: counted as failed instead.
    bool Repeated(const PeltaRecSyncRequest& row, const std::map<int, Visit>& visits);
    void Log(const QString& text, int category = LogGeneral) const;

    std::unique_ptr<PeltaSync> engine_;
    Options options_;
    RequestSteps steps_;
    QuotaCheck quota_;

    std::atomic<int> batches_{0};
    std::atomic<bool> folderGone_{false};

    // Used by the thread only.
    InstalledFolderNotice folderNotice_;
    std::unique_ptr<MountedFolder> mounted_;
    SteadyTime started_{};
};
