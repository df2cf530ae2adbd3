#pragma once

// The sync fixture for the worker threads: the sync folder carries its
// mounted marker, the control form's calls are recorded, the shared queues,
// events and requests start empty, and the threads a test starts are stopped
// before anything they use goes. Stage calls of the resync-local thread can
// be recorded and scripted.

#include "sync/rules/FailedReads.h"
#include "sync/threads/PeltaResyncLocalThread.h"
#include "sync/threads/PeltaSyncFinalThread.h"
#include "sync/threads/ResyncRequests.h"
#include "tests/sync/SyncFixture.h"
#include "tests/sync/threads/RecordingFormCalls.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

// The stage calls of the resync-local thread, as texts: "local <path>
// check=<0|1> remove=<0|1>", "remote <path> delete=<0|1>", "count
// <position>", "replay <position>". Any thread.
class StageCalls {
public:
    void Record(const QString& call);
    QStringList Calls() const;
    int Count() const;

private:
    mutable std::mutex mutex_;
    QStringList calls_;
};

class ThreadFixture : public SyncFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Stages that record their calls: the local stage runs the engine's own
    // rescan, the walk answers remoteResult with remoteStamp, the journal
    // count answers journalCount and the replay replayResult. A script
    // member, when set, answers instead.
    PeltaResyncLocalThread::Options RecordingOptions();
    std::function<PassResult(PeltaSync&, const QString&, bool, bool)> localScript;
    std::function<bool(PeltaSync&, const QString&, bool, QString&)> remoteScript;
    bool remoteResult = true;
    QString remoteStamp = QStringLiteral("1700000100.5");
    int journalCount = 0;
    int replayResult = 1;

    void StartResyncLocal(PeltaResyncLocalThread::Options options);
    void StartResyncLocal() { StartResyncLocal(RecordingOptions()); }
    void StartFinal(std::chrono::milliseconds fullResyncPause = std::chrono::milliseconds(1));

    // Items stored and committed, as after their upload; no request rows.
    void StoreCommitted(const QStringList& paths);
    // Pushes an item onto the final queue and signals it.
    static void PushFinal(int kind, const QString& path, const QString& path2 = QString());

    std::shared_ptr<RecordingFormCalls> form_;
    ResyncRequests requests_;
    StageCalls stages_;
    std::unique_ptr<PeltaResyncLocalThread> resyncLocal_;
    std::unique_ptr<PeltaSyncFinalThread> final_;
};
