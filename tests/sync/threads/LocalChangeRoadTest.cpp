// Real file operations in a temporary sync folder, along the whole road of a
// local change: the directory monitor, the merging thread, the final queue
// and the sync-final thread with its own engine. What each leaves in the
// store: the rows of files and folders, and the request rows to send.

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "sync/monitor/PeltaDirectoryMonitorThread.h"
#include "sync/threads/PeltaSyncPreThread.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/FolderEvents.h"
#include "tests/sync/threads/ThreadFixture.h"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr auto Hold = 200ms;
const QString Sentinel = QStringLiteral("\\zz-sentinel");

class RoadFixture : public ThreadFixture {
protected:
    void SetUp() override
    {
        ThreadFixture::SetUp();
        outside_ = SyncRoot() + QStringLiteral("-outside");
        ASSERT_TRUE(QDir().mkpath(outside_));
    }
    void TearDown() override
    {
        if (monitor_)
            monitor_->StopAndJoin();
        if (syncPre_)
            syncPre_->StopAndJoin();
        ThreadFixture::TearDown();
    }

    void StartRoad()
    {
        PeltaSync* engine = engine_.get();
        syncPre_ = std::make_unique<PeltaSyncPreThread>(
            [engine](const QString& path) { return engine->ToLocalPath(path); }, Hold);
        monitor_ = std::make_unique<PeltaDirectoryMonitorThread>(SyncRoot());
        ASSERT_TRUE(syncPre_->Start());
        ASSERT_TRUE(monitor_->Start());
        StartFinal();
        ASSERT_TRUE(WaitUntil([&] { return monitor_->WatchedFolder() == SyncRoot(); }));
    }

    // Everything the road applied before a last, unrelated file reached the
    // store.
    void WaitForTheRoad()
    {
        Folder().Write(Sentinel.mid(1));
        ASSERT_TRUE(WaitUntil([&] { return Joined(FileRows()).find(Sentinel.toStdString()) != std::string::npos; }))
            << Joined(Requests());
    }
    QStringList Paths(const QString& table)
    {
        QStringList paths = Rows(QStringLiteral("select path from ") + table + QStringLiteral(" order by path"));
        paths.removeAll(Sentinel);
        return paths;
    }
    QStringList RequestRows()
    {
        QStringList rows = Requests();
        rows.removeAll(QStringLiteral("1|") + Sentinel + QStringLiteral("||1"));
        return rows;
    }

    // Made when asked: the sync folder exists only from SetUp on.
    TestFolder Folder() const { return TestFolder(SyncRoot()); }

    QString outside_;
    std::unique_ptr<PeltaSyncPreThread> syncPre_;
    std::unique_ptr<PeltaDirectoryMonitorThread> monitor_;
};

struct RoadCase {
    const char* name;
    std::function<void(const TestFolder&)> before;  // items then stored as synchronised
    QStringList stored;
    std::function<void(const TestFolder&, const QString& outside)> change;
    QStringList files;
    QStringList folders;
    QStringList requests;  // "action|path|path2|status" (a move: new path, old path)
};

void PrintTo(const RoadCase& value, std::ostream* out) { *out << value.name; }

class LocalChangeRoadTest : public RoadFixture, public testing::WithParamInterface<RoadCase> {};

TEST_P(LocalChangeRoadTest, EndsAsTheRightRowsAndRequests)
{
    const RoadCase& road = GetParam();
    const TestFolder folder = Folder();
    if (road.before) {
        road.before(folder);
        StoreCommitted(road.stored);
    }
    StartRoad();
    road.change(folder, outside_);
    WaitForTheRoad();
    EXPECT_EQ(Joined(Paths(QStringLiteral("vfs_sync_file"))), Joined(road.files));
    EXPECT_EQ(Joined(Paths(QStringLiteral("vfs_sync_folder"))), Joined(road.folders));
    // Items created together may be reported in either order.
    QStringList requests = RequestRows();
    QStringList expected = road.requests;
    requests.sort();
    expected.sort();
    EXPECT_EQ(Joined(requests), Joined(expected));
}

const RoadCase roadCases[] = {
    {"CreateAndWriteSeveralTimes",
     nullptr,
     {},
     [](const TestFolder& f, const QString&) {
         f.Write("f", {"1"});
         f.Write("f", {"2", "3"});
         f.Write("f", {"4"});
     },
     {"\\f"},
     {},
     {"1|\\f||1"}},
    {"Rename",
     [](const TestFolder& f) { f.Write("a"); },
     {"\\a"},
     [](const TestFolder& f, const QString&) { f.Rename("a", "b"); },
     {"\\b"},
     {},
     {"4|\\b|\\a|1"}},
    {"MoveAcrossFolders",
     [](const TestFolder& f) {
         f.MakeFolder("x");
         f.MakeFolder("y");
         f.Write("x/f");
     },
     {"\\x", "\\y", "\\x\\f"},
     [](const TestFolder& f, const QString&) { f.Rename("x/f", "y/f"); },
     {"\\y\\f"},
     {"\\x", "\\y"},
     {"4|\\y\\f|\\x\\f|1"}},
    {"Delete",
     [](const TestFolder& f) { f.Write("f"); },
     {"\\f"},
     [](const TestFolder& f, const QString&) { f.Remove("f"); },
     {},
     {},
     {"3|\\f||1"}},
    {"EditorSaveThroughBackupName",
     [](const TestFolder& f) { f.Write("report.txt"); },
     {"\\report.txt"},
     [](const TestFolder& f, const QString&) {
         f.Write("report.tmp", {"new content"});
         f.Rename("report.txt", "report.bak");
         f.Rename("report.tmp", "report.txt");
         f.Remove("report.bak");
     },
     {"\\report.txt"},
     {},
     {"2|\\report.txt||1"}},
    {"FolderCreatedAndFilledAtOnce",
     nullptr,
     {},
     [](const TestFolder& f, const QString&) {
         f.MakeFolder("d");
         f.Write("d/x", {"1", "2"});
         f.MakeFolder("d/e");
         f.Write("d/e/y");
     },
     {"\\d\\e\\y", "\\d\\x"},
     {"\\d", "\\d\\e"},
     {"6|\\d||1", "1|\\d\\x||1", "6|\\d\\e||1", "1|\\d\\e\\y||1"}},
    {"TreeMovedIn",
     nullptr,
     {},
     [](const TestFolder& f, const QString& outside) {
         const TestFolder out(outside);
         out.MakeFolder("tree");
         out.MakeFolder("tree/sub");
         out.Write("tree/sub/file");
         TestFolder::RenameAbsolute(out.Full("tree"), f.Full("tree"));
     },
     {"\\tree\\sub\\file"},
     {"\\tree", "\\tree\\sub"},
     {"6|\\tree||1", "6|\\tree\\sub||1", "1|\\tree\\sub\\file||1"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, LocalChangeRoadTest, testing::ValuesIn(roadCases),
                         [](const testing::TestParamInfo<RoadCase>& info) { return info.param.name; });

// The rescan commands on the same road: the monitor's after lost events
// (queue overflow, folders it cannot watch) and the journal replay's after a
// folder move.
class RescanCommandRoadTest : public RoadFixture {
protected:
    // Queued as the monitor queues it, through the FS queue.
    static void MonitorAsksForARescan(const QString& path = QStringLiteral("\\"))
    {
        {
            std::lock_guard lock(csFSQueue);
            FSQueue.Push(std::make_unique<PeltaFSQueue>(XMOResyncLocal, path));
        }
        evtFSQueue.Set();
    }
    int JobsEnded() const { return static_cast<int>(form_->Calls(QStringLiteral("status idle")).size()); }
};

// Changes the monitor never saw are found by the rescan of the whole folder
// that it asks for: deletions included.
TEST_F(RescanCommandRoadTest, TheRescanAfterLostEventsFindsDeletions)
{
    MakeFolder(QStringLiteral("\\d"));
    MakeFile(QStringLiteral("\\a.txt"));
    MakeFile(QStringLiteral("\\d\\b.txt"));
    MakeFile(QStringLiteral("\\d\\c.txt"));
    StoreCommitted({QStringLiteral("\\d"), QStringLiteral("\\a.txt"), QStringLiteral("\\d\\b.txt"),
                    QStringLiteral("\\d\\c.txt")});
    Remove(QStringLiteral("\\a.txt"));
    Remove(QStringLiteral("\\d\\b.txt"));
    MakeFile(QStringLiteral("\\d\\new.txt"));
    StartRoad();
    StartResyncLocal();
    MonitorAsksForARescan();
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 1; }));
    QStringList requests = Requests();
    requests.sort();
    EXPECT_EQ(Joined(requests), Joined({"1|\\d\\new.txt||1", "3|\\a.txt||1", "3|\\d\\b.txt||1"}));
    EXPECT_EQ(Joined(stages_.Calls()), "local \\ check=0 remove=1");
}

// Rescan commands that arrive while one waits are one rescan; one that
// arrives while the rescan runs is another, later rescan.
TEST_F(RescanCommandRoadTest, RepeatedRescanCommandsCoalesce)
{
    std::atomic<bool> release{false};
    localScript = [&, first = true](PeltaSync& engine, const QString& path, bool checkFile,
                                    bool removeMissing) mutable {
        while (std::exchange(first, false) && !release.load() && engine.IsRunning())
            std::this_thread::sleep_for(1ms);
        return engine.ResyncLocal(path, checkFile, removeMissing);
    };
    StartRoad();
    StartResyncLocal();
    MonitorAsksForARescan();
    ASSERT_TRUE(WaitUntil([&] { return stages_.Count() == 1; }));
    for (int n = 0; n < 5; ++n)
        MonitorAsksForARescan();
    MonitorAsksForARescan(QStringLiteral("\\zz"));  // handed over after the five
    ASSERT_TRUE(WaitUntil([&] { return requests_.IsPending(XMOResyncLocal, QStringLiteral("\\zz")); }));
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 3; }));
    EXPECT_EQ(Joined(stages_.Calls()), Joined({"local \\ check=0 remove=1", "local \\ check=0 remove=1",
                                               "local \\zz check=1 remove=1"}));
}

// A folder rescan finds a stored file that the disk lacks: the rescan that
// the replay asks for after a folder move queues its download (its files may
// not have arrived yet); an ordinary one takes it for deleted.
TEST_F(RescanCommandRoadTest, TheReplaysRescanRestoresInsteadOfRemoving)
{
    for (const int kind : {int(XMOResyncLocalNoRemoval), int(XMOResyncLocal)}) {
        SCOPED_TRACE(kind);
        Run(QStringLiteral("delete from vfs_sync_file"));
        Run(QStringLiteral("delete from vfs_sync_folder"));
        Run(QStringLiteral("delete from sync_request"));
        MakeFolder(QStringLiteral("\\m"));
        MakeFile(QStringLiteral("\\m\\f.txt"));
        StoreCommitted({QStringLiteral("\\m"), QStringLiteral("\\m\\f.txt")});
        Remove(QStringLiteral("\\m\\f.txt"));
        const int ended = JobsEnded();
        if (!resyncLocal_) {
            StartFinal();
            StartResyncLocal();
        }
        PushFinal(kind, QStringLiteral("\\m"));
        ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == ended + 1; }));
        EXPECT_EQ(Joined(Requests()), kind == XMOResyncLocal ? "3|\\m\\f.txt||1" : "5|\\m\\f.txt||5");
    }
}

}  // namespace
