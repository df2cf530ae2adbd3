#pragma once

// The sync-final thread: applies the merged folder events of the final queue
// to the store through its own engine (FileAdd, FileModify, FileRename,
// FileRemove) and hands the resync commands of the same queue to the
// resync-local thread (ResyncRequests), waking the request worker
// ("Global\XRequestQueue") after each item.
//
// It sleeps on "Global\XFSFianlQueue" and resets it before it looks at the
// queue, so an item pushed while it drains sets the event again and is
// taken in the next round.
//
// A removal is applied only while the sync folder is really there
// (MountedFolder): when it is not mounted or was removed, removals are not
// taken for deletions; a rescan of the whole folder is asked for instead,
// which runs once the folder is back (or made again).
//
// The full resync command waits fullResyncPause first (cut short when the
// thread is stopped), marks the first synchronisation as pending
// (first_sync_time "0") and keeps last_sync_time: the old position stays
// until the full resync's walk has succeeded.
//
// The owner creates, starts, stops (Terminate, Join; within a second) and
// destroys the object; it never deletes itself.

#include "platform/WorkerThread.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/MountedFolder.h"
#include "sync/threads/ResyncRequests.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>

class PeltaFSQueue;
class PeltaSyncAgentSetting;

class PeltaSyncFinalThread : public WorkerThread {
public:
    static constexpr std::chrono::milliseconds DefaultFullResyncPause{5000};

    struct Options {
        std::chrono::milliseconds fullResyncPause = DefaultFullResyncPause;
    };

    // The thread's own engine is built on formEngine's settings facade,
    // settings store, status object and conflict tracker. resync is shared
    // with the resync-local thread and must outlive the thread.
    PeltaSyncFinalThread(PeltaSync& formEngine, ResyncRequests& resync);
    PeltaSyncFinalThread(PeltaSync& formEngine, ResyncRequests& resync, Options options);
    ~PeltaSyncFinalThread() override;

    // Re-binds the engine to the store (a new sync folder); the engine keeps
    // working. Any thread.
    void ResetConfig(PeltaSyncAgentSetting* settings);

    // Raises the terminate flag, stops a running operation of the engine and
    // wakes the thread.
    void Terminate() override;

    // An item taken from the queue is being applied.
    bool Applying() const { return applying_.load(); }

protected:
    void Execute() override;

private:
    void Drain();
    // Applies one item; false when it is of no kind the queue carries (the
    // request worker is then not woken for it).
    bool Apply(const PeltaFSQueue& item);
    void Rename(const QString& from, const QString& to);
    void Remove(const QString& path);
    void FullResync();
    bool FolderMounted();

    std::atomic<bool> applying_{false};
    std::unique_ptr<PeltaSync> engine_;
    ResyncRequests& resync_;
    const Options options_;

    // Used by the thread only.
    std::unique_ptr<MountedFolder> mounted_;
};
