// The request worker running on its own thread against the fake service:
// batches on events and without them, online and offline, rows that change
// nothing, the rescans of new folders and a sync folder that is gone.

#include "tests/sync/threads/EngineThreadFixture.h"

#include "foundation/ProcessState.h"
#include "sync/rules/FileInUse.h"
#include "sync/rules/MountedFolder.h"
#include "sync/threads/PeltaQueueSubThread.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

namespace {

class PeltaQueueSubThreadTest : public EngineThreadFixture {
protected:
    void SetUp() override
    {
        EngineThreadFixture::SetUp();
        // A status object whose clock the test moves.
        status_ = std::make_unique<PeltaRequestObject>(conflicts_, trayEvent_, [this] { return now_.load(); });
        steps_.reset();
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_, *status_, conflicts_);
        steps_ = std::make_unique<RequestSteps>(*engine_);
    }

    void TearDown() override
    {
        if (worker_)
            worker_->StopAndJoin();
        worker_.reset();
        FileInUse::Override({});
        EngineThreadFixture::TearDown();
    }

    void StartWorker(PeltaQueueSubThread::Options options = {})
    {
        options.wait = 20ms;
        if (!options.committed)
            options.committed = [this] { ++committed_; };
        worker_ = std::make_unique<PeltaQueueSubThread>(*engine_, std::move(options));
        ASSERT_TRUE(worker_->Start());
    }

    bool Committed(const QString& relative)
    {
        return Number(QStringLiteral("select count(*) from sync_request where commit_time is not null and path=") +
                      PeltaRec::Literal(relative)) > 0;
    }
    int OpenRows()
    {
        return int(Number(QStringLiteral("select count(*) from sync_request where commit_time is null and status<10")));
    }

    void Advance(std::chrono::seconds seconds) { now_ = now_.load() + seconds; }

    std::atomic<SteadyTime> now_{SteadyClock::now()};
    std::atomic<int> committed_{0};
    std::unique_ptr<PeltaQueueSubThread> worker_;
};

// A folder and a file in it go from registration through the upload to the
// commit in the first batch; the push channel is asked to tell the others
// after each commit and the tray is busy for the batch.
TEST_F(PeltaQueueSubThreadTest, TheFirstBatchCommitsEveryRow)
{
    MakeFolder(QStringLiteral("\\Docs"));
    engine_->FileAdd(QStringLiteral("\\Docs"), 1, false, false);
    AddLocal(QStringLiteral("\\Docs\\a.txt"), "alpha", 1000);
    StartWorker();

    ASSERT_TRUE(WaitUntil([&] { return OpenRows() == 0; })) << Joined(RowStates());
    EXPECT_TRUE(Committed(QStringLiteral("\\Docs\\a.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/Docs/a.txt")), "alpha");
    EXPECT_TRUE(ServiceItem(QStringLiteral("/Docs")));
    EXPECT_TRUE(WaitUntil([&] { return committed_.load() >= 2; }));
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("SetSyncStatus(0,0,0)")) >= 1; }));
    EXPECT_EQ(threadNotices_->Count(QStringLiteral("SetSyncStatus(1,0,0)")), 1);
}

// Rows queued later are taken when the worker is woken; a failed row is
// taken again once its retry delay has passed, without any event.
TEST_F(PeltaQueueSubThreadTest, WokenItTakesNewRowsAndAfterTheirDelayFailedOnes)
{
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return worker_->Batches() >= 1; }));

    service_.Faults().SetNext("setSyncJournal", Fault::Http500());
    AddLocal(QStringLiteral("\\b.txt"), "beta", 1000);
    evtRequestQueue.Set();
    ASSERT_TRUE(WaitUntil([&] { return Number(QStringLiteral("select err_count from sync_request")) == 1; }));
    EXPECT_FALSE(Committed(QStringLiteral("\\b.txt")));

    RetriesDue();
    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\b.txt")); })) << Joined(RowStates());
    EXPECT_EQ(ServiceContent(QStringLiteral("/b.txt")), "beta");
}

// More than five network failures in a row turn the application offline:
// no row is handled, the tray is told; once a call succeeds again (the count
// is 0) it is online and the rows go up.
TEST_F(PeltaQueueSubThreadTest, OfflineHandlesNoRowUntilTheNetworkIsBack)
{
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return worker_->Batches() >= 1; }));
    NetFailCount = 6;
    AddLocal(QStringLiteral("\\c.txt"), "gamma", 1000);
    evtRequestQueue.Set();
    ASSERT_TRUE(WaitUntil([] { return AppState.load() == XAPPOffline; }));
    const int batches = worker_->Batches();
    ASSERT_TRUE(WaitUntil([&] { return worker_->Batches() >= batches + 2; }));
    EXPECT_EQ(service_.CallCount("setSyncJournal"), 0u);
    EXPECT_EQ(threadNotices_->Count(QStringLiteral("SetSyncStatus(0,0,0)")), 1);

    NetFailCount = 0;
    ASSERT_TRUE(WaitUntil([] { return AppState.load() == XAPPOnline; }));
    evtRequestQueue.Set();
    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\c.txt")); }));
    EXPECT_GE(threadNotices_->Count(QStringLiteral("SetSyncStatus(1,0,0)")), 1);
}

// A row that its handling sends back to registration (its upload snapshot
// is gone) is taken again at once in the same batch, registered with a fresh
// snapshot and committed; it does not wait for a later batch.
TEST_F(PeltaQueueSubThreadTest, ARowSentBackToRegistrationIsHandledAgainInTheSameBatch)
{
    AddLocal(QStringLiteral("\\s.txt"), "snapshot", 1000);
    service_.Faults().SetNext("postFile2", Fault::Http500());
    Drive();
    ASSERT_EQ(Joined(RowStates()), "1|5|1");
    const PeltaRecSyncRequest row = LoadRow(1);
    ASSERT_TRUE(QFile::remove(engine_->SnapshotOf(row)));
    Run(QStringLiteral("update sync_request set err_count=0"));

    PeltaQueueSubThread::Options options;
    options.quietTurns = 1000000;  // no batch but the first
    StartWorker(options);
    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\s.txt")); })) << Joined(RowStates());
    EXPECT_EQ(worker_->Batches(), 1);
    EXPECT_EQ(ServiceContent(QStringLiteral("/s.txt")), "snapshot");
}

// Every folder whose add mark is older than 15 s is rescanned, also when
// items were added below it meanwhile: a file copied in before the folder
// was watched is found. A younger mark waits.
TEST_F(PeltaQueueSubThreadTest, NewFoldersAreRescannedOnceTheirMarkIsFifteenSecondsOld)
{
    MakeFolder(QStringLiteral("\\New"));
    engine_->FileAdd(QStringLiteral("\\New"), 1, false, false);
    AddLocal(QStringLiteral("\\New\\seen.txt"), "seen", 1000);
    MakeFile(QStringLiteral("\\New\\missed.txt"), "missed", 1000);
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\New\\seen.txt")); }));

    Advance(10s);
    MakeFolder(QStringLiteral("\\Later"));
    engine_->FileAdd(QStringLiteral("\\Later"), 1, false, false);
    MakeFile(QStringLiteral("\\Later\\waits.txt"), "waits", 1000);
    Advance(6s);  // New: 16 s, Later: 6 s
    evtRequestQueue.Set();

    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\New\\missed.txt")); })) << Joined(RowStates());
    EXPECT_EQ(ServiceContent(QStringLiteral("/New/missed.txt")), "missed");
    EXPECT_EQ(status_->FolderAddCount(), 1);
    EXPECT_TRUE(Rows(QStringLiteral("select path from sync_request where path like '%waits%'")).isEmpty());

    Advance(10s);
    evtRequestQueue.Set();
    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\Later\\waits.txt")); }));
    EXPECT_EQ(status_->FolderAddCount(), 0);
}

// A sync folder that is gone, removed by the user or on a disk that is not
// mounted, stops every row (nothing is downloaded into another file system,
// nothing removed on the service) and is handed over once; the rows go on
// when it is back.
TEST_F(PeltaQueueSubThreadTest, NoRowIsHandledWhileTheSyncFolderIsGone)
{
    const struct {
        const char* name;
        bool removeParent;
        MountedFolder::State state;
    } cases[] = {
        {"removed", false, MountedFolder::State::Removed},
        {"unmounted", true, MountedFolder::State::NotMounted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString parent = dir_.filePath(QStringLiteral("disk"));
        const QString folder = parent + QStringLiteral("/sync");
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(MountedFolder(folder).WriteMarker());
        settings_.Set(QStringLiteral("sync_folder"), folder);
        engine_->SetAgentSetting(&settings_);
        engine_->ClearAbort();
        const QString name = QString::fromLatin1(c.name) + QStringLiteral(".txt");
        const QString file = QLatin1Char('\\') + name;
        ASSERT_TRUE(WriteFileBytes(folder + QLatin1Char('/') + name, "data"));
        engine_->FileAdd(file, 0, false, false);
        ASSERT_TRUE(QDir(c.removeParent ? parent : folder).removeRecursively());

        const std::size_t registered = service_.CallCount("setSyncJournal");
        std::atomic<int> handedOver{0};
        std::atomic<int> handedState{-1};
        PeltaQueueSubThread::Options options;
        options.folderGone = [&](MountedFolder::State state) {
            handedState = int(state);
            ++handedOver;
        };
        StartWorker(options);
        ASSERT_TRUE(WaitUntil([&] { return handedOver.load() == 1; }));
        EXPECT_EQ(handedState.load(), int(c.state));
        EXPECT_TRUE(worker_->FolderGone());
        for (int turn = 0; turn < 3; ++turn) {
            evtRequestQueue.Set();
            ASSERT_TRUE(WaitUntil([] { return !evtRequestQueue.IsSignalled(); }));
        }
        EXPECT_EQ(worker_->Batches(), 0);
        EXPECT_EQ(service_.CallCount("setSyncJournal"), registered);

        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(MountedFolder(folder).WriteMarker());
        ASSERT_TRUE(WriteFileBytes(folder + QLatin1Char('/') + name, "back"));
        evtRequestQueue.Set();
        ASSERT_TRUE(WaitUntil([&] { return Committed(file); })) << Joined(RowStates());
        EXPECT_EQ(ServiceContent(QLatin1Char('/') + name), "back");
        EXPECT_FALSE(worker_->FolderGone());
        EXPECT_EQ(handedOver.load(), 1);

        worker_->StopAndJoin();
        worker_.reset();
        ASSERT_TRUE(QDir(parent).removeRecursively());
    }
}

// Without a handler of its own the worker queues a remote resync of the
// whole folder on the final queue and wakes its thread.
TEST_F(PeltaQueueSubThreadTest, AGoneFolderAsksTheFinalQueueForARemoteResync)
{
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return worker_->Batches() >= 1; }));
    ASSERT_TRUE(QDir(SyncRoot()).removeRecursively());
    ASSERT_TRUE(WaitUntil([] { return evtFSFinalQueue.IsSignalled(); }));
    const std::vector<PeltaFSQueue> items = TakeFinalQueue();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].status, int(XMOResyncRemote));
    EXPECT_EQ(items[0].path, QStringLiteral("\\"));
}

// Terminate ends the thread promptly while an upload is held by the service.
TEST_F(PeltaQueueSubThreadTest, StoppingEndsARunningUploadAtOnce)
{
    AddLocal(QStringLiteral("\\held.bin"), QByteArray(256 * 1024, 'h'), 1000);
    service_.Faults().SetAlways("postFile2", Fault::Delay(20s));
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return service_.CallCount("postFile2") > 0; }));

    const auto stopped = std::chrono::steady_clock::now();
    worker_->StopAndJoin();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_FALSE(Committed(QStringLiteral("\\held.bin")));
    EXPECT_EQ(OpenRows(), 1);
}

// A file held in use keeps its row, which waits its retry delay like any
// failed row: batches woken meanwhile do not try it again.
TEST_F(PeltaQueueSubThreadTest, AFileInUseWaitsItsRetryDelayAndKeepsItsRow)
{
    std::atomic<int> asked{0};
    FileInUse::Override([&](const QString& full) {
        if (!full.endsWith(QStringLiteral("/held.txt")))
            return false;
        ++asked;
        return true;
    });
    AddLocal(QStringLiteral("\\held.txt"), "held", 1000);
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return Number(QStringLiteral("select err_count from sync_request")) >= 1; }));
    const int first = asked.load();
    for (int turn = 0; turn < 20; ++turn) {
        const int before = worker_->Batches();
        evtRequestQueue.Set();
        ASSERT_TRUE(WaitUntil([&] { return worker_->Batches() > before; }));
    }
    EXPECT_EQ(asked.load(), first);
    EXPECT_EQ(Joined(RowStates()), "1|1|1");

    FileInUse::Override({});
    RetriesDue();
    ASSERT_TRUE(WaitUntil([&] { return Committed(QStringLiteral("\\held.txt")); })) << Joined(RowStates());
}

}  // namespace
