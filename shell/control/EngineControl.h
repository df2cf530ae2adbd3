#pragma once

// What the control form asks of the sync engine: its only way in. The
// program's implementation forwards to the engine's owner class, which owns
// and joins every engine thread; tests use one that records the calls.
// Every operation is called on the user-interface thread and never waits on
// the network; Stop joins the engine's threads within a bounded time.

#include <QString>

class EngineControl {
public:
    // The first command queued when the threads start: a first full sync, a
    // remote resync of the whole folder (it was missing at start), or the
    // start-up resync.
    enum class FirstCommand { FullSync, RemoteResync, AppStart };

    virtual ~EngineControl() = default;

    // Starts every thread that does not run and queues the first command;
    // while the threads run it only wakes the event application thread.
    virtual void Start(FirstCommand first) = 0;
    // Stops and joins every thread; Start may follow.
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    // The settings store holds a new sync folder: every thread takes it up.
    virtual void ChangeSyncFolder() = 0;
    // Starts the directory monitor again when it no longer runs.
    virtual void StartDirectoryMonitor() = 0;
    // Queues a resync command (an XMOKind) for the path and wakes its thread.
    virtual void QueueResync(int command, const QString& path) = 0;
    // The proxy settings changed.
    virtual void ReloadProxy() = 0;
    // Stops the push channel for good: later starts leave it stopped.
    virtual void StopPushChannel() = 0;
};
