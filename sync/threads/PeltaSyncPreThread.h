#pragma once

// The sync-pre thread: takes the raw folder events of the FS queue, merges
// bursts of them (EventMerger) and passes what is left on to the final queue
// once nothing more has come for the hold time (2000 ms), signalling
// "Global\XFSFianlQueue".
//
// After activity it makes three more immediate rounds that look for further
// events before the quiet wait begins; the FS queue's event is reset only
// under csFSQueue and only when the queue is empty, so no signal is lost.
//
// The thread needs the engine only to turn a relative path into a full one
// (the folder tests of the merge); the owner hands it that conversion and
// may replace it while the thread runs. The owner creates, starts, stops
// (Terminate, Join; the waits end within 50 ms) and destroys the object.

#include "platform/WorkerThread.h"
#include "sync/threads/EventMerger.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

class PeltaSyncPreThread : public WorkerThread {
public:
    // The full local path ("/"-separated) of a relative path, as the engine's
    // ToLocalPath gives it.
    using PathMapper = std::function<QString(const QString& path)>;

    static constexpr std::chrono::milliseconds DefaultHold{2000};
    static constexpr int QuietRounds = 3;

    explicit PeltaSyncPreThread(PathMapper toLocalPath, std::chrono::milliseconds hold = DefaultHold);
    ~PeltaSyncPreThread() override;

    // Points the thread at another engine's conversion (another sync folder).
    void SetPathMapper(PathMapper toLocalPath);

    // An event is held back, waiting for the hold time to pass.
    bool Holding() const { return holding_.load(); }

protected:
    void Execute() override;

private:
    bool IsFolder(const QString& path) const;
    int DrainFSQueue(EventMerger& merger);
    static void PassOn(const PeltaFSQueue& event);

    const std::chrono::milliseconds hold_;
    mutable std::mutex mapperLock_;
    PathMapper toLocalPath_;  // guarded by mapperLock_
    std::atomic<bool> holding_{false};
};
