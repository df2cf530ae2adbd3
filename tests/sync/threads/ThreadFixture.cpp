#include "tests/sync/threads/ThreadFixture.h"

#include "foundation/ProcessState.h"
#include "sync/rules/MountedFolder.h"
#include "tests/sync/FolderEvents.h"

#include <gtest/gtest.h>

void StageCalls::Record(const QString& call)
{
    std::lock_guard lock(mutex_);
    calls_ << call;
}

QStringList StageCalls::Calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

int StageCalls::Count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(calls_.size());
}

namespace {

void ResetThreadEvents()
{
    ResetFolderEventQueues();
    evtResyncLocal.Reset();
    evtRequestQueue.Reset();
    evtRequestSyncJournal.Reset();
    ResyncRunning = false;
}

}  // namespace

void ThreadFixture::SetUp()
{
    SyncFixture::SetUp();
    ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
    form_ = RecordingFormCalls::InstallNew();
    ResetThreadEvents();
    TakeLog();
}

void ThreadFixture::TearDown()
{
    final_.reset();
    resyncLocal_.reset();
    EngineNotices::Install(nullptr);
    ResetThreadEvents();
    SyncFixture::TearDown();
}

PeltaResyncLocalThread::Options ThreadFixture::RecordingOptions()
{
    PeltaResyncLocalThread::Options options;
    options.firstRetry = std::chrono::milliseconds(20);
    options.retryCap = std::chrono::milliseconds(200);
    options.mountCheck = std::chrono::milliseconds(20);
    options.stages.local = [this](PeltaSync& engine, const QString& path, bool checkFile, bool removeMissing) {
        stages_.Record(QStringLiteral("local %1 check=%2 remove=%3").arg(path).arg(checkFile).arg(removeMissing));
        if (localScript)
            return localScript(engine, path, checkFile, removeMissing);
        return engine.ResyncLocal(path, checkFile, removeMissing);
    };
    options.stages.remote = [this](PeltaSync& engine, const QString& path, bool deleteMissing, QString& stamp) {
        stages_.Record(QStringLiteral("remote %1 delete=%2").arg(path).arg(deleteMissing));
        if (remoteScript)
            return remoteScript(engine, path, deleteMissing, stamp);
        stamp = remoteStamp;
        return remoteResult;
    };
    options.stages.journal = [this](PeltaSync&, const QString& position, int mode) {
        stages_.Record((mode == 2 ? QStringLiteral("count ") : QStringLiteral("replay ")) + position);
        return mode == 2 ? journalCount : replayResult;
    };
    return options;
}

void ThreadFixture::StartResyncLocal(PeltaResyncLocalThread::Options options)
{
    resyncLocal_ = std::make_unique<PeltaResyncLocalThread>(*engine_, requests_, std::move(options));
    ASSERT_TRUE(resyncLocal_->Start());
}

void ThreadFixture::StartFinal(std::chrono::milliseconds fullResyncPause)
{
    PeltaSyncFinalThread::Options options;
    options.fullResyncPause = fullResyncPause;
    final_ = std::make_unique<PeltaSyncFinalThread>(*engine_, requests_, options);
    ASSERT_TRUE(final_->Start());
}

void ThreadFixture::StoreCommitted(const QStringList& paths)
{
    for (const QString& path : paths)
        engine_->FileAdd(path, 1, false, false);
    Run(QStringLiteral("update vfs_sync_file set version='v1'"));
    Run(QStringLiteral("update vfs_sync_folder set version='v1'"));
    Run(QStringLiteral("delete from sync_request"));
    ASSERT_EQ(Requests(), QStringList());
}

void ThreadFixture::PushFinal(int kind, const QString& path, const QString& path2)
{
    {
        std::lock_guard lock(csFSFinalQueue);
        FSFinalQueue.Push(std::make_unique<PeltaFSQueue>(kind, path, path2));
    }
    evtFSFinalQueue.Set();
}
