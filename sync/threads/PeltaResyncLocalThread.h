#pragma once

// The resync-local thread: runs the whole-folder resynchronisation jobs and
// the folder rescans and walks that the sync-final thread hands over
// (ResyncRequests): local rescans, remote walks, the full resync (both in
// turn) and the start-up resync (a local rescan, then the service's journal
// since last_sync_time: replayed, or a full remote walk when it holds 50 or
// more entries).
//
// It sleeps on "Global\ResyncLocal", resets it before it looks at the
// requests (a request asked after that sets it again), and takes one due
// request at a time. Each job marks the tray busy, raises ResyncRunning
// (no journal pull meanwhile), runs its stages and ends by waking the request
// worker ("Global\XRequestQueue") and giving the resync menu back.
//
// The sync position. last_sync_time (and, for the full resync,
// first_sync_time) is written only from a remote walk that succeeded and
// returned the service's time stamp; a failed or partial walk or replay
// keeps the old position. A job whose stage failed is put back with the
// stages that failed and runs again after a growing delay (RetryDelay, 10 s
// doubling to 10 min by default), until it succeeds.
//
// The sync folder. Before each job the folder is looked at (MountedFolder):
// - not mounted: nothing runs; the job waits and the folder is looked at
//   again every mountCheck; the user is told once, and again when it is
//   back, and then the directory monitor is started again and the whole
//   folder rescanned;
// - removed by the user (its parent is there): it is made again and filled
//   from the service by a remote walk that deletes nothing; rescans that
//   could remove items from the service wait until that walk succeeded.
//
// ResetConfig (a new sync folder) stops the running stage at its next abort
// test and abandons the job. Terminate stops a running stage the same way;
// the thread ends within a second. The owner creates, starts, stops
// (Terminate, Join) and destroys the object; it never deletes itself.

#include "platform/WorkerThread.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/FailedReads.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/RetryDelay.h"
#include "sync/rules/SyncFolderNotice.h"
#include "sync/threads/ResyncRequests.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

class PeltaSyncAgentSetting;

class PeltaResyncLocalThread : public WorkerThread {
public:
    // A journal of this many entries or more is not replayed: the whole
    // folder is walked instead.
    static constexpr int JournalWalkThreshold = 50;
    static constexpr std::chrono::milliseconds DefaultMountCheck{std::chrono::seconds(10)};

    // The engine operations a job runs, each on the thread's own engine.
    // Empty members use the engine's own: ResyncLocal (path, checkFile,
    // removeMissing); ResyncRemote (path, recursive, deleteMissing, with the
    // exchange logged, depth 1), filling the stamp; ResyncJournal (position,
    // mode 2 counts and mode 1 replays).
    struct Stages {
        std::function<PassResult(PeltaSync&, const QString& path, bool checkFile, bool removeMissing)> local;
        std::function<bool(PeltaSync&, const QString& path, bool deleteMissing, QString& stamp)> remote;
        std::function<int(PeltaSync&, const QString& position, int mode)> journal;
    };

    struct Options {
        RetryDelay::Duration firstRetry = RetryDelay::DefaultFirst;
        RetryDelay::Duration retryCap = RetryDelay::DefaultCap;
        std::chrono::milliseconds mountCheck = DefaultMountCheck;
        Stages stages;
    };

    // The thread's own engine is built on formEngine's settings facade,
    // settings store, status object and conflict tracker. requests is shared
    // with the sync-final thread and must outlive the thread.
    PeltaResyncLocalThread(PeltaSync& formEngine, ResyncRequests& requests);
    PeltaResyncLocalThread(PeltaSync& formEngine, ResyncRequests& requests, Options options);
    ~PeltaResyncLocalThread() override;

    // Re-binds the engine to the store (a new sync folder): a running
    // rescan or walk stops at its next abort test and its job is abandoned.
    // Any thread.
    void ResetConfig(PeltaSyncAgentSetting* settings);

    // Raises the terminate flag, stops a running stage and wakes the thread.
    void Terminate() override;

    // Asks for a job and wakes the thread.
    static void HandOver(ResyncRequests& requests, int kind, const QString& path);

    // Jobs wait because the sync folder is not mounted.
    bool Paused() const { return paused_.load(); }

protected:
    void Execute() override;

private:
    enum class Outcome { Done, Failed };

    int WaitTimeoutMs() const;
    // The folder is there for the job; otherwise the job is put back (or
    // given up for the walk that refills a removed folder).
    bool FolderReady(const ResyncRequests::Request& request);
    void RunJob(ResyncRequests::Request request);
    Outcome RunStage(int stage, const ResyncRequests::Request& request);
    // The job ends early: the thread was stopped or the settings changed.
    bool CutShort() const;

    Outcome LocalStage(const ResyncRequests::Request& request);
    Outcome JournalStage();
    Outcome RemoteStage(const ResyncRequests::Request& request);
    // A whole-folder walk; the position is stored when it succeeded with a
    // stamp.
    bool WalkWholeFolder(bool deleteMissing, bool firstSync);

    PassResult Local(const QString& path, bool checkFile, bool removeMissing);
    bool Remote(const QString& path, bool deleteMissing, QString& stamp);
    int Journal(const QString& position, int mode);

    void JobStart();
    void JobEnd(const ResyncRequests::Request& request, int failedStages);
    void StoreSetting(const QString& name, const QString& value);

    static QString KeyOf(const ResyncRequests::Request& request);
    static void Log(const QString& text, int category);

    std::unique_ptr<PeltaSync> engine_;
    ResyncRequests& requests_;
    const Options options_;
    std::unique_ptr<SyncFolderNotice> folderNotice_;

    std::atomic<bool> restart_{false};
    std::atomic<bool> paused_{false};

    // Used by the thread only.
    std::unique_ptr<MountedFolder> mounted_;
    bool refilling_ = false;  // a removed folder was made again; its walk has not succeeded yet
    std::map<QString, RetryDelay> delays_;  // by job
};
