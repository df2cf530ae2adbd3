#pragma once

// The journal pull thread ("ResyncJournal"): keeps the local folder up to
// date with changes made elsewhere by replaying the service's change journal
// since last_sync_time (PeltaSync::ResyncJournal, replay mode) on its own
// engine, and wakes the request worker when a replay applied entries (the
// downloads it queued).
//
// It waits on "Global\XRequestSyncJournal" (wait at a time), which the push
// channel sets for every change notice (counted in JournalRequestCount). A
// pull runs when the event woke it, while notices are pending, and by itself
// once the push channel has had no successful exchange for pushSilence and
// the last pull is pullInterval old. No pull runs while a full resync runs
// (ResyncRunning): the notices stay counted and are pulled after it.
//
// A pull takes every pending notice; one that failed (the exchange, the
// replay stopped, the folder not mounted) puts them back, at least one, and
// is tried again after a growing delay (RetryDelay), never dropped and never
// in a tight loop. No position is pulled from before the first full sync
// (last_sync_time "0" or empty).
//
// Each turn it keeps the online state in step with the network failure
// count, follows a change of the sync folder in the settings store, and
// queries the quota when it is due (QuotaCheck: at start, every 600 s, at
// once after a push notice cleared it; a failed query waits its delay).
//
// The owner creates, starts, stops (Terminate, Join) and destroys the object;
// it never deletes itself. Terminate stops a running replay and its exchange,
// so the thread ends within a second.

#include "platform/WorkerThread.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/RetryDelay.h"
#include "sync/threads/QuotaCheck.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>

class PeltaSyncAgentSetting;

class PeltaResyncJournalThread : public WorkerThread {
public:
    static constexpr std::chrono::milliseconds DefaultWait{10000};
    static constexpr std::chrono::milliseconds DefaultPushSilence{std::chrono::seconds(120)};
    static constexpr std::chrono::milliseconds DefaultPullInterval{std::chrono::seconds(600)};
    static constexpr std::chrono::milliseconds OtherStatePause{5000};

    struct Options {
        std::chrono::milliseconds wait = DefaultWait;
        std::chrono::milliseconds pushSilence = DefaultPushSilence;
        std::chrono::milliseconds pullInterval = DefaultPullInterval;
        // Delays after a failed pull.
        RetryDelay::Duration firstRetry = RetryDelay::DefaultFirst;
        RetryDelay::Duration retryCap = RetryDelay::DefaultCap;
        QuotaCheck::Options quota;
    };

    // The thread's own engine is built on formEngine's settings facade,
    // settings store, status object and conflict tracker.
    explicit PeltaResyncJournalThread(PeltaSync& formEngine);
    PeltaResyncJournalThread(PeltaSync& formEngine, Options options);
    ~PeltaResyncJournalThread() override;

    // Re-binds the engine to the store (a new sync folder). Any thread.
    void ResetConfig(PeltaSyncAgentSetting* settings);

    // Raises the terminate flag, stops a running replay and its exchange and
    // wakes the thread.
    void Terminate() override;

    // Pulls that ran to an answer (replayed or nothing new), and pulls that
    // failed.
    int Pulls() const { return pulls_.load(); }
    int FailedPulls() const { return failedPulls_.load(); }
    // A pull is running.
    bool Pulling() const { return pulling_.load(); }

protected:
    void Execute() override;

private:
    bool FollowState();
    // The engine follows a sync folder changed in the settings store.
    void FollowSettings();
    bool PullDue(bool woken) const;
    void Pull();
    void CheckQuota();
    static void Log(const QString& text, int category = LogGeneral);

    std::unique_ptr<PeltaSync> engine_;
    const Options options_;
    QuotaCheck quota_;
    std::atomic<int> pulls_{0};
    std::atomic<int> failedPulls_{0};
    std::atomic<bool> pulling_{false};

    // Used by the thread only.
    RetryDelay retry_;
    SteadyTime lastPull_{};
};
