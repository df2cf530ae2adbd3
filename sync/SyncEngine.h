#pragma once

// The one owner of the sync engine's threads. The tray application creates
// one SyncEngine and calls nothing else of the engine: it starts the workers
// at the main step, reconfigures them when the sync folder changes, asks for
// resyncs, and stops them at exit or before a new login. Everything the
// engine asks of the application goes through the EngineNotices it is given;
// no engine thread ever waits on the user-interface thread.
//
// Threads owned here, in the order Start creates them: the merging
// (sync-pre) thread, the event application (sync-final) thread and the
// resync-local thread; then the first command is queued; then the directory
// monitor, the request worker (queue-sub), the journal pull (resync-journal)
// thread and the push channel. Each is owned and joined here; none deletes
// itself. Stop tells them all, wakes them and joins them, in the shutdown
// order of the control form (push channel, monitor, resync-local, sync-pre,
// sync-final, queue-sub, resync-journal), and returns within 2 s even with a
// transfer or a long poll in progress: a held poll, a running exchange and a
// running upload or download are aborted. Start after Stop starts them
// again, so a re-login or an unbinding never leaves the engine ended for good.
//
// The sync folder's marker (MountedFolder) is written when the folder is
// bound: by Start with a first full sync or a remote resync, and by
// ChangeSyncFolder. Without it an empty folder counts as a disk that is not
// mounted, and nothing syncs.
//
// The engine installs notices of its own (EngineNotices::Install) that pass
// every call on to the application's notices, except the restart of the
// directory monitor, which it does itself; settings that the engine writes
// are in the settings store and "config.db" already when the application
// hears of them (EngineNotices::SetSetting: mirror flagged keys into the
// registry).
//
// The application state (AppState) belongs to the application: threads run
// only while it is XAPPOnline or XAPPOffline, and XAPPExit ends them.
//
// All operations are called from one thread (the tray application's
// controller); they never wait on the network.

#include "sync/engine/EngineNotices.h"

#include <QString>

#include <memory>

class PeltaReg;
class PeltaSync;
class PeltaSyncAgentSetting;
struct SyncEngineOptions;

class SyncEngine {
public:
    // The first command queued by Start (the main step's start-up decision):
    // a first full sync, a remote resync of the whole folder (the folder was
    // missing at start) or the start-up resync.
    enum class FirstCommand { FullSync, RemoteResync, AppStart };

    // reg and settings are shared with the application and must outlive
    // this object; notices may be null (log only).
    SyncEngine(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices);
    // The same with the threads' tuning (tests and benchmarks).
    SyncEngine(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices,
               const SyncEngineOptions& options);
    ~SyncEngine();  // Stop()

    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    // Starts every thread that does not run yet and queues the first command.
    // Calling it while the threads run only wakes the event application
    // thread (the main step after a re-login).
    void Start(FirstCommand first);

    // Stops and joins every thread; the engine can be started again.
    void Stop();

    bool Running() const;

    // The sync folder changed (the settings store holds the new one): the
    // monitor watches the new folder, open requests are cancelled, rows of
    // other accounts removed, every thread is bound to the settings again.
    void ChangeSyncFolder();

    // Starts the directory monitor again when it no longer runs (while the
    // engine runs).
    void StartDirectoryMonitor();

    // Queues a resync command (XMOResyncFull, XMOResyncLocal, XMOResyncRemote
    // or XMOResyncAppStart) for path on the final queue and wakes its thread.
    void QueueResync(int command, const QString& path = QStringLiteral("\\"));

    // The proxy settings changed: the push channel takes a fresh copy.
    void ReloadProxy();

    // Stops and joins the push channel (a held poll is cut at once) and keeps
    // it stopped: no later Start starts it again. The other threads go on.
    void StopPushChannel();

    // The engine runs and has nothing to do now: no event waits in the
    // queues or in the merging thread, none is being applied, no whole-folder
    // job waits or runs, no journal notice waits and no pull runs, and no
    // request row is open (a failed row waiting its retry delay is open).
    // Changes the monitor has not read yet are not seen, and work may begin
    // right after the look: a caller that must be sure looks twice, some
    // time apart. Not while Stop runs.
    bool Quiet();

    // The engine of the application's own thread (path conversion, agent
    // checks); valid while this object lives.
    PeltaSync& Engine();

private:
    class Threads;
    std::unique_ptr<Threads> threads_;
};
