// The whole engine running in this process against the fake service, as the
// tray application starts it: local changes reach the service, changes of
// another agent arrive after a push notice or after silence, both sides'
// edits are kept, the engine stops promptly whatever runs, and bad input
// from the service, the disk and the push channel is survived.

#include "sync/SyncEngine.h"

#include "fakeservice/PushChannel.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "sync/SyncEngineOptions.h"
#include "sync/rules/MountedFolder.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/threads/EngineThreadFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <csignal>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kLong{30000};

// The folder a watch is added for (the monitor names it through its open
// descriptor).
QString WatchedPath(const char* path)
{
    const QString given = QString::fromUtf8(path);
    return given.startsWith(QLatin1String("/proc/self/fd/")) ? QFileInfo(given).symLinkTarget() : given;
}

class SyncEngineTest : public EngineThreadFixture {
protected:
    void SetUp() override
    {
        EngineThreadFixture::SetUp();
        service_.Push().SetHoldTime(300ms);
        settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
        settings_.Set(QStringLiteral("first_sync_time"), QStringLiteral("1"));
        options_.monitor.watcher.addWatch = [this](int fd, const char* path, std::uint32_t mask) {
            const int watch = ::inotify_add_watch(fd, path, mask);
            if (watch >= 0 && WatchedPath(path) == SyncRoot())
                ++rootWatches_;
            return watch;
        };
        options_.eventHold = 100ms;
        options_.final.fullResyncPause = 0ms;
        options_.resyncLocal.firstRetry = 200ms;
        options_.resyncLocal.retryCap = 1s;
        options_.resyncLocal.mountCheck = 200ms;
        options_.queueSub.wait = 100ms;
        options_.journal.wait = 100ms;
        options_.journal.firstRetry = 200ms;
        options_.journal.retryCap = 2s;
        options_.push.readTimeout = 5s;
        options_.push.failurePeriod = 1s;
        options_.push.errorWait = 100ms;
        options_.push.minGap = 20ms;
        options_.push.sendInterval = 0s;
        options_.pushUrl = QString::fromStdString(service_.PushUrl());
    }

    void TearDown() override
    {
        if (sync_)
            sync_->Stop();
        sync_.reset();
        EngineThreadFixture::TearDown();
    }

    // Starts the engine and waits until it watches the folder, has run its
    // start-up job and (with the push channel) holds its poll.
    void Start(SyncEngine::FirstCommand first = SyncEngine::FirstCommand::AppStart)
    {
        sync_ = std::make_unique<SyncEngine>(*reg_, settings_, threadNotices_, options_);
        const int watches = rootWatches_.load();
        sync_->Start(first);
        ASSERT_TRUE(sync_->Running());
        ASSERT_TRUE(WaitUntil([&] { return rootWatches_.load() > watches; }, kLong));
        ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("SetResyncMenu(1)")) >= 1; }, kLong));
        if (options_.pushChannel) {
            ASSERT_TRUE(WaitUntil([&] { return service_.Push().HeldChecks() >= 1; }, kLong))
                << TakeLog().right(4000).toStdString();
        }
    }

    // A change notice on the account's channel, as another agent's SEND.
    void Notice() { service_.Push().InjectMessage(PushChannel::ChannelOf(TestAccount::UserSn), QStringLiteral("1")); }

    bool ServiceHas(const QString& servicePath, const QByteArray& content)
    {
        return ServiceContent(servicePath) == content;
    }
    bool ServiceLacks(const QString& servicePath) { return !ServiceItem(servicePath); }
    bool LocalHas(const QString& relative, const QByteArray& content) const
    {
        return QFileInfo(Local(relative)).isFile() && ReadFileBytes(Local(relative)) == content;
    }
    std::string LogTail() { return TakeLog().right(6000).toStdString(); }

    // Waits with every failed row made due at once, so a retry does not wait
    // its real delay.
    bool WaitRetrying(const std::function<bool()>& condition)
    {
        return WaitUntil(
            [&] {
                RetriesDue();
                return condition();
            },
            kLong);
    }
    int OpenRows()
    {
        return int(Number(QStringLiteral("select count(*) from sync_request where commit_time is null and status<10")));
    }

    // "path|content" of the live files the service holds, by path.
    QStringList ServiceFiles()
    {
        QStringList files;
        for (const FakeItem& item : service_.State().Items(UserId)) {
            if (!item.recycled && !item.isFolder)
                files << item.path + QLatin1Char('|') + QString::fromUtf8(item.content.Bytes());
        }
        files.sort();
        return files;
    }
    // The contents of the local files, the cache folder aside, sorted.
    QStringList LocalContents() const
    {
        QStringList contents;
        QDirIterator it(SyncRoot(), QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.contains(CacheFolderName))
                contents << QString::fromUtf8(ReadFileBytes(path));
        }
        contents.sort();
        return contents;
    }

    SyncEngineOptions options_;
    std::atomic<int> rootWatches_{0};
    std::unique_ptr<SyncEngine> sync_;
};

// ---- Local changes -------------------------------------------------------------------------

// Files written, folders of files, renames, moves and deletions in the sync
// folder reach the service through the monitor, the merging, the event
// application and the request worker.
TEST_F(SyncEngineTest, LocalChangesReachTheService)
{
    Start();
    MakeFile(QStringLiteral("\\a.txt"), "alpha");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/a.txt"), "alpha"); }, kLong));

    MakeFolder(QStringLiteral("\\Docs"));
    MakeFolder(QStringLiteral("\\Docs\\Sub"));
    for (int n = 0; n < 5; ++n)
        MakeFile(QStringLiteral("\\Docs\\f%1.txt").arg(n), QByteArray("file ") + QByteArray::number(n));
    MakeFile(QStringLiteral("\\Docs\\Sub\\deep.txt"), "deep");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/Docs/Sub/deep.txt"), "deep"); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/Docs/f4.txt"), "file 4"); }, kLong));

    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/b.txt"), "alpha"); }, kLong));
    EXPECT_TRUE(ServiceLacks(QStringLiteral("/a.txt")));

    Move(QStringLiteral("\\b.txt"), QStringLiteral("\\Docs\\Sub\\b.txt"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/Docs/Sub/b.txt"), "alpha"); }, kLong));
    EXPECT_TRUE(ServiceLacks(QStringLiteral("/b.txt")));

    Move(QStringLiteral("\\Docs\\Sub"), QStringLiteral("\\Moved"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/Moved/deep.txt"), "deep"); }, kLong));
    EXPECT_TRUE(ServiceLacks(QStringLiteral("/Docs/Sub")));

    Remove(QStringLiteral("\\Docs\\f0.txt"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceLacks(QStringLiteral("/Docs/f0.txt")); }, kLong));
    Remove(QStringLiteral("\\Docs"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceLacks(QStringLiteral("/Docs")); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return sync_->Quiet(); }, kLong));
    EXPECT_EQ(OpenRows(), 0);
    EXPECT_EQ(Joined(ServiceFiles()), "/Moved/b.txt|alpha\n/Moved/deep.txt|deep");
}

// A file written again while its upload runs ends with its last content on
// the service.
TEST_F(SyncEngineTest, AFileWrittenDuringItsUploadEndsWithItsLastContent)
{
    Start();
    service_.Faults().SetNext("postFile2", Fault::Delay(800ms));
    MakeFile(QStringLiteral("\\w.txt"), "first content");
    ASSERT_TRUE(WaitUntil([&] { return service_.CallCount("postFile2") >= 1; }, kLong));
    MakeFile(QStringLiteral("\\w.txt"), "the second, longer content");

    ASSERT_TRUE(WaitRetrying([&] {
        return ServiceHas(QStringLiteral("/w.txt"), "the second, longer content") && OpenRows() == 0;
    })) << Joined(RowStates());
}

// ---- Changes made elsewhere -----------------------------------------------------------------

// Another agent's commits arrive after a push notice: a new file, an edit,
// a move and a deletion.
TEST_F(SyncEngineTest, AnotherAgentsChangesArriveAfterAPushNotice)
{
    Start();
    OtherAgentAdds(QStringLiteral("/n.txt"), "from elsewhere");
    OtherAgentAdds(QStringLiteral("/gone.txt"), "to be deleted");
    Notice();
    ASSERT_TRUE(WaitUntil([&] { return LocalHas(QStringLiteral("\\n.txt"), "from elsewhere"); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return LocalHas(QStringLiteral("\\gone.txt"), "to be deleted"); }, kLong));

    OtherAgentCommits(FakeObjType::File, FakeAction::Edit, QStringLiteral("/n.txt"), "edited elsewhere");
    OtherAgentCommits(FakeObjType::File, FakeAction::Move, QStringLiteral("/n.txt"), {}, QStringLiteral("/m.txt"));
    OtherAgentCommits(FakeObjType::File, FakeAction::Recycle, QStringLiteral("/gone.txt"));
    Notice();
    ASSERT_TRUE(WaitUntil([&] { return LocalHas(QStringLiteral("\\m.txt"), "edited elsewhere"); }, kLong))
        << Joined(LocalContents()) << Joined(RowStates()) << LogTail();
    ASSERT_TRUE(WaitUntil([&] { return !QFileInfo::exists(Local(QStringLiteral("\\gone.txt"))); }, kLong));
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\n.txt"))));
    ASSERT_TRUE(WaitUntil([&] { return OpenRows() == 0; }, kLong));
    EXPECT_EQ(Joined(ServiceFiles()), "/m.txt|edited elsewhere");
}

// Without notices, whether the push channel is off (silent) or every poll
// breaks, the journal is pulled once the channel has been silent long
// enough.
TEST_F(SyncEngineTest, AnotherAgentsChangeArrivesAfterSilence)
{
    for (const bool broken : {false, true}) {
        SCOPED_TRACE(broken ? "broken" : "silent");
        options_.pushChannel = broken;
        options_.journal.pushSilence = 300ms;
        options_.journal.pullInterval = 300ms;
        if (broken) {
            service_.Faults().SetAlways("CONNECT", Fault::DropBeforeReply());
            service_.Faults().SetAlways("CHECK", Fault::DropBeforeReply());
        }
        LastApeOkTime = SteadyClock::now() - 1h;
        sync_ = std::make_unique<SyncEngine>(*reg_, settings_, threadNotices_, options_);
        sync_->Start(SyncEngine::FirstCommand::AppStart);

        const QString name = broken ? QStringLiteral("broken.txt") : QStringLiteral("silent.txt");
        OtherAgentAdds(QLatin1Char('/') + name, "no notice");
        ASSERT_TRUE(WaitUntil([&] { return LocalHas(QLatin1Char('\\') + name, "no notice"); }, kLong));
        sync_->Stop();
        sync_.reset();
        service_.Faults().ClearAll();
    }
}

// An edit on both sides keeps both contents: one of them as a conflict copy,
// on the service and locally.
TEST_F(SyncEngineTest, AnEditOnBothSidesKeepsBothContents)
{
    Start();
    MakeFile(QStringLiteral("\\both.txt"), "base");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/both.txt"), "base"); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return OpenRows() == 0; }, kLong));

    OtherAgentCommits(FakeObjType::File, FakeAction::Edit, QStringLiteral("/both.txt"), "theirs");
    MakeFile(QStringLiteral("\\both.txt"), "mine, edited here");
    ASSERT_TRUE(WaitRetrying([&] {
        return ServiceFiles().size() == 2 && LocalContents().size() == 2 && OpenRows() == 0;
    })) << Joined(ServiceFiles());
    Notice();  // what the other agent's SEND would bring
    ASSERT_TRUE(WaitRetrying([&] {
        return LocalContents() == QStringList{QStringLiteral("mine, edited here"), QStringLiteral("theirs")};
    })) << Joined(LocalContents());
    QStringList onService;
    for (const QString& file : ServiceFiles())
        onService << file.section(QLatin1Char('|'), 1);
    onService.sort();
    EXPECT_EQ(onService, LocalContents());
}

// Files that just arrived from another agent stay marked as the engine's
// own for a few seconds; what the user does to them in that time is the
// user's all the same: an edit, a removal and a rename right after the
// arrival all reach the service. What the engine itself then writes, moves
// and removes for the other agent sends nothing back.
TEST_F(SyncEngineTest, TheUsersChangesRightAfterTheEnginesOwnReachTheService)
{
    Start();
    for (const char* name : {"/edit.txt", "/gone.txt", "/old.txt"})
        OtherAgentAdds(QString::fromLatin1(name), "from elsewhere");
    Notice();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return LocalHas(QStringLiteral("\\edit.txt"), "from elsewhere") &&
                   LocalHas(QStringLiteral("\\gone.txt"), "from elsewhere") &&
                   LocalHas(QStringLiteral("\\old.txt"), "from elsewhere");
        },
        kLong));
    MakeFile(QStringLiteral("\\edit.txt"), "edited here");
    Remove(QStringLiteral("\\gone.txt"));
    Move(QStringLiteral("\\old.txt"), QStringLiteral("\\new.txt"));
    ASSERT_TRUE(WaitRetrying([&] {
        return ServiceFiles() == QStringList{QStringLiteral("/edit.txt|edited here"),
                                             QStringLiteral("/new.txt|from elsewhere")} &&
               OpenRows() == 0;
    })) << Joined(ServiceFiles()) << Joined(RowStates()) << LogTail();

    // Rows that would send something to the service (downloads aside).
    const QString sent = QStringLiteral("select count(*) from sync_request where action<>") +
                         QString::number(XSYNCFileGet) + QStringLiteral(" and action<>") +
                         QString::number(XSYNCFolderGet);
    const int rows = int(Number(sent));
    OtherAgentCommits(FakeObjType::File, FakeAction::Edit, QStringLiteral("/edit.txt"), "edited elsewhere");
    OtherAgentCommits(FakeObjType::File, FakeAction::Move, QStringLiteral("/new.txt"), {}, QStringLiteral("/back.txt"));
    OtherAgentCommits(FakeObjType::File, FakeAction::Recycle, QStringLiteral("/edit.txt"));
    OtherAgentAdds(QStringLiteral("/last.txt"), "last");
    Notice();
    ASSERT_TRUE(WaitUntil([&] { return LocalHas(QStringLiteral("\\last.txt"), "last"); }, kLong)) << LogTail();
    ASSERT_TRUE(WaitUntil([&] { return sync_->Quiet() && sync_->Quiet(); }, kLong));
    EXPECT_EQ(Joined(LocalContents()), "from elsewhere\nlast");
    EXPECT_TRUE(LocalHas(QStringLiteral("\\back.txt"), "from elsewhere"));
    EXPECT_EQ(Joined(ServiceFiles()), "/back.txt|from elsewhere\n/last.txt|last");
    EXPECT_EQ(int(Number(sent)), rows) << Joined(RowStates());
}

// ---- Stopping ----------------------------------------------------------------------------------

// The engine stops in well under 2 s while an upload and the push
// channel's long poll are held by the service, and starts again.
TEST_F(SyncEngineTest, StoppingIsPromptWhateverRunsAndTheEngineStartsAgain)
{
    service_.Push().SetHoldTime(20s);
    Start();
    service_.Faults().SetAlways("postFile2", Fault::Delay(20s));
    MakeFile(QStringLiteral("\\held.bin"), PatternData(300 * 1024));
    ASSERT_TRUE(WaitUntil([&] { return service_.CallCount("postFile2") >= 1; }, kLong));
    ASSERT_GE(service_.Push().HeldChecks(), 1u);
    EXPECT_FALSE(sync_->Quiet());

    const auto stopping = std::chrono::steady_clock::now();
    sync_->Stop();
    const auto took = std::chrono::steady_clock::now() - stopping;
    EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_FALSE(sync_->Running());

    service_.Faults().ClearAll();
    service_.Push().SetHoldTime(300ms);
    const int watches = rootWatches_.load();
    sync_->Start(SyncEngine::FirstCommand::AppStart);
    ASSERT_TRUE(WaitUntil([&] { return rootWatches_.load() > watches; }, kLong));
    ASSERT_TRUE(WaitRetrying([&] { return ServiceHas(QStringLiteral("/held.bin"), PatternData(300 * 1024)); }));
    MakeFile(QStringLiteral("\\after.txt"), "after the restart");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/after.txt"), "after the restart"); }, kLong));
}

// ---- Bad input ---------------------------------------------------------------------------------

// A file removed while its upload runs: its row ends, nothing hangs, and
// the next file goes up.
TEST_F(SyncEngineTest, AFileRemovedDuringItsUploadEndsItsRow)
{
    Start();
    service_.Faults().SetNext("postFile2", Fault::Delay(800ms));
    MakeFile(QStringLiteral("\\brief.txt"), "short-lived");
    ASSERT_TRUE(WaitUntil([&] { return service_.CallCount("postFile2") >= 1; }, kLong));
    Remove(QStringLiteral("\\brief.txt"));
    MakeFile(QStringLiteral("\\next.txt"), "goes on");

    ASSERT_TRUE(WaitRetrying([&] { return ServiceHas(QStringLiteral("/next.txt"), "goes on") && OpenRows() == 0; }))
        << Joined(RowStates());
    EXPECT_TRUE(ServiceLacks(QStringLiteral("/brief.txt")));
}

// Every error text of the service's table, answered once to a file's
// registration: each gets its handling and a log line, the file is on the
// service in the end (or its row ended for good, the file kept), and the
// next file goes up.
TEST_F(SyncEngineTest, EveryErrorTextOfTheServiceIsSurvived)
{
    const char* const messages[] = {
        "object path error",
        "sync_journal is expired or commited or fail",
        "Quota 已滿",
        "Quota Error",
        "agent_key not match in sync_journal",
        "parent not exist",
        "file not exist",
        "file has been recycled",
        "file not found in metadata",
        "caching data expired or not set",
        "an error the agent has never heard of",
    };
    Start();
    int n = 0;
    for (const char* message : messages) {
        SCOPED_TRACE(message);
        const QString name = QStringLiteral("e%1.txt").arg(n++);
        NextMessage("setSyncJournal", QString::fromUtf8(message));
        MakeFile(QLatin1Char('\\') + name, "content of " + name.toUtf8());
        ASSERT_TRUE(WaitRetrying([&] { return OpenRows() == 0; })) << Joined(RowStates());
        EXPECT_TRUE(ServiceHas(QLatin1Char('/') + name, "content of " + name.toUtf8()) ||
                    LocalHas(QLatin1Char('\\') + name, "content of " + name.toUtf8()));
    }
    MakeFile(QStringLiteral("\\last.txt"), "still syncing");
    ASSERT_TRUE(WaitRetrying([&] { return ServiceHas(QStringLiteral("/last.txt"), "still syncing"); }));
}

// A folder that another agent recycles and replaces by a file of the same
// name: what was synced goes with the folder, a file written here that has not gone up yet stays here, the
// service's file arrives beside it, nothing hangs, and syncing goes on.
TEST_F(SyncEngineTest, AFolderReplacedByAFileOnTheServiceLosesNothing)
{
    Start();
    MakeFolder(QStringLiteral("\\F"));
    MakeFile(QStringLiteral("\\F\\inside.txt"), "inside");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/F/inside.txt"), "inside"); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return OpenRows() == 0; }, kLong));

    service_.Faults().SetAlways("setSyncJournal", Fault::Http500());
    MakeFile(QStringLiteral("\\F\\unsent.txt"), "written here only");
    ASSERT_TRUE(WaitUntil([&] { return Number(QStringLiteral("select max(err_count) from sync_request")) >= 1; },
                          kLong));
    OtherAgentCommits(FakeObjType::Folder, FakeAction::Recycle, QStringLiteral("/F"));
    OtherAgentAdds(QStringLiteral("/F"), "a file now");
    Notice();
    ASSERT_TRUE(WaitUntil([&] { return LocalContents().contains(QStringLiteral("a file now")); }, kLong))
        << Joined(LocalContents()) << LogTail();
    service_.Faults().ClearAll();

    MakeFile(QStringLiteral("\\after.txt"), "goes on");
    ASSERT_TRUE(WaitRetrying([&] { return ServiceHas(QStringLiteral("/after.txt"), "goes on"); }))
        << Joined(RowStates()) << LogTail();
    // The folder cannot go up while the service has a file of its name: its
    // file stays here, retried, and is not lost.
    EXPECT_TRUE(LocalHas(QStringLiteral("\\F\\unsent.txt"), "written here only")) << Joined(LocalContents());
    EXPECT_TRUE(ServiceHas(QStringLiteral("/F"), "a file now"));
}

// A download that meets a full disk fails (and says so in the log), loses
// nothing, and completes once there is room again; syncing goes on.
TEST_F(SyncEngineTest, AFullDiskWhileDownloadingIsRetriedUntilThereIsRoom)
{
    Start();
    const QByteArray large = PatternData(3 * 1048576, 3);
    OtherAgentAdds(QStringLiteral("/large.bin"), large);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1048576 + 512 * 1024;  // writes past 1.5 MiB fail as on a full disk
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Notice();
    const bool failed = WaitUntil([&] { return Number(QStringLiteral("select max(err_count) from sync_request")) >= 1; },
                                  kLong);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(failed) << Joined(RowStates());
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\large.bin"))));

    ASSERT_TRUE(WaitRetrying([&] { return LocalHas(QStringLiteral("\\large.bin"), large); })) << Joined(RowStates());
    MakeFile(QStringLiteral("\\small.txt"), "goes on");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/small.txt"), "goes on"); }, kLong));
}

// ---- The sync folder -------------------------------------------------------------------------

// A sync folder removed by the user (its parent is there) is made again,
// watched again and filled from the service; nothing is deleted there, not
// even the files whose deletions the monitor saw while the folder went.
TEST_F(SyncEngineTest, ARemovedSyncFolderIsMadeAgainAndFilledFromTheService)
{
    Start();
    MakeFile(QStringLiteral("\\keep.txt"), "kept on the service");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/keep.txt"), "kept on the service"); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return OpenRows() == 0; }, kLong));

    const int watches = rootWatches_.load();
    // The engine may write into its cache folder meanwhile: removed again
    // until nothing is left, as a user would.
    ASSERT_TRUE(WaitUntil([&] { return QDir(SyncRoot()).removeRecursively(); }, kLong));
    ASSERT_TRUE(WaitRetrying([&] { return LocalHas(QStringLiteral("\\keep.txt"), "kept on the service"); }))
        << Joined(RowStates()) << TakeLog().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return rootWatches_.load() > watches; }, kLong));
    EXPECT_TRUE(ServiceHas(QStringLiteral("/keep.txt"), "kept on the service"));

    MakeFile(QStringLiteral("\\again.txt"), "watched again");
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/again.txt"), "watched again"); }, kLong));
    EXPECT_TRUE(ServiceHas(QStringLiteral("/keep.txt"), "kept on the service"));
}

// A sync folder on a disk that is gone (its parent is gone too) is never
// made elsewhere: syncing pauses with a message, nothing is deleted on the
// service, and it resumes once the disk is back.
TEST_F(SyncEngineTest, AnUnmountedSyncFolderPausesSyncingUntilItIsBack)
{
    const QString disk = dir_.filePath(QStringLiteral("disk"));
    const QString folder = disk + QStringLiteral("/sync");
    ASSERT_TRUE(QDir().mkpath(folder));
    settings_.Set(QStringLiteral("sync_folder"), folder);
    ASSERT_TRUE(MountedFolder(folder).WriteMarker());
    options_.monitor.watcher.addWatch = [&](int fd, const char* path, std::uint32_t mask) {
        const int watch = ::inotify_add_watch(fd, path, mask);
        if (watch >= 0 && WatchedPath(path) == folder)
            ++rootWatches_;
        return watch;
    };
    Start();
    ASSERT_TRUE(WriteFileBytes(folder + QStringLiteral("/on-disk.txt"), "on the disk"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/on-disk.txt"), "on the disk"); }, kLong));
    ASSERT_TRUE(WaitUntil([&] { return OpenRows() == 0; }, kLong));

    const QString away = dir_.filePath(QStringLiteral("away"));
    ASSERT_TRUE(QDir().rename(disk, away));  // the disk is gone
    OtherAgentAdds(QStringLiteral("/while-away.txt"), "waits");
    Notice();
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("SyncFolderUnavailable")) >= 1; }, kLong));
    EXPECT_FALSE(QFileInfo::exists(disk));
    EXPECT_TRUE(ServiceHas(QStringLiteral("/on-disk.txt"), "on the disk"));

    const int watches = rootWatches_.load();
    ASSERT_TRUE(QDir().rename(away, disk));  // back
    ASSERT_TRUE(WaitRetrying([&] {
        return QFileInfo(folder + QStringLiteral("/while-away.txt")).isFile();
    }));
    ASSERT_TRUE(WaitUntil([&] { return rootWatches_.load() > watches; }, kLong)) << LogTail();
    EXPECT_GE(threadNotices_->Count(QStringLiteral("SyncFolderAvailable")), 1);
    EXPECT_TRUE(ServiceHas(QStringLiteral("/on-disk.txt"), "on the disk"));
    ASSERT_TRUE(WriteFileBytes(folder + QStringLiteral("/back.txt"), "back again"));
    ASSERT_TRUE(WaitUntil([&] { return ServiceHas(QStringLiteral("/back.txt"), "back again"); }, kLong));
}

}  // namespace
