// Real file operations in a temporary sync folder, watched by the directory
// monitor and merged by the sync-pre thread: what reaches the final queue.

#include "foundation/ProcessState.h"
#include "sync/monitor/PeltaDirectoryMonitorThread.h"
#include "sync/threads/PeltaSyncPreThread.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/FolderEvents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <set>

namespace {

using namespace std::chrono_literals;

constexpr auto Hold = 200ms;
const char* const Sentinel = "added \\zz-sentinel";

struct RoadCase {
    const char* name;
    std::function<void(const TestFolder&)> before;
    std::function<void(const TestFolder&, const QString& outside)> change;
    std::vector<std::string> passedOn;  // empty: checked by the test itself
};

void PrintTo(const RoadCase& value, std::ostream* out) { *out << value.name; }

class MonitorToFinalQueueTest : public testing::TestWithParam<RoadCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp_.isValid());
        ASSERT_TRUE(QDir().mkpath(Root()));
        ASSERT_TRUE(QDir().mkpath(Outside()));
        ResetFolderEventQueues();
    }
    void TearDown() override
    {
        if (monitor_)
            monitor_->StopAndJoin();
        if (syncPre_)
            syncPre_->StopAndJoin();
        ResetFolderEventQueues();
    }

    QString Root() const { return temp_.path() + QStringLiteral("/sync"); }
    QString Outside() const { return temp_.path() + QStringLiteral("/outside"); }

    void Start()
    {
        const QString root = Root();
        syncPre_ = std::make_unique<PeltaSyncPreThread>(
            [root](const QString& path) { return root + QString(path).replace('\\', '/'); }, Hold);
        monitor_ = std::make_unique<PeltaDirectoryMonitorThread>(root);
        ASSERT_TRUE(syncPre_->Start());
        ASSERT_TRUE(monitor_->Start());
        ASSERT_TRUE(WaitUntil([&] { return monitor_->WatchedFolder() == root; }));
    }

    // Everything that reached the final queue before a last, unrelated file.
    std::vector<std::string> PassedOn()
    {
        folder_.Write("zz-sentinel");
        std::vector<std::string> passedOn;
        EXPECT_TRUE(WaitUntil([&] {
            for (const PeltaFSQueue& event : TakeAll(FSFinalQueue, csFSFinalQueue))
                passedOn.push_back(Describe(event));
            return !passedOn.empty() && passedOn.back() == Sentinel;
        }));
        if (!passedOn.empty() && passedOn.back() == Sentinel)
            passedOn.pop_back();
        return passedOn;
    }

    QTemporaryDir temp_;
    TestFolder folder_{temp_.path() + QStringLiteral("/sync")};
    std::unique_ptr<PeltaSyncPreThread> syncPre_;
    std::unique_ptr<PeltaDirectoryMonitorThread> monitor_;
};

TEST_P(MonitorToFinalQueueTest, ReachesTheFinalQueueMerged)
{
    const RoadCase& road = GetParam();
    if (road.before)
        road.before(folder_);
    Start();
    road.change(folder_, Outside());
    EXPECT_EQ(PassedOn(), road.passedOn);
}

const RoadCase roadCases[] = {
    {"CreateAndWriteSeveralTimes",
     nullptr,
     [](const TestFolder& f, const QString&) {
         f.Write("f", {"1"});
         f.Write("f", {"2", "3"});
         f.Write("f", {"4"});
     },
     {"added \\f"}},
    {"Rename",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString&) { f.Rename("a", "b"); },
     {"move \\a -> \\b"}},
    {"RenameThenWrite",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString&) {
         f.Rename("a", "b");
         f.Write("b", {"more"});
     },
     {"move \\a -> \\b"}},
    {"MoveAcrossFolders",
     [](const TestFolder& f) {
         f.MakeFolder("x");
         f.MakeFolder("y");
         f.Write("x/f");
     },
     [](const TestFolder& f, const QString&) { f.Rename("x/f", "y/f"); },
     {"move \\x\\f -> \\y\\f"}},
    {"Delete",
     [](const TestFolder& f) { f.Write("f"); },
     [](const TestFolder& f, const QString&) { f.Remove("f"); },
     {"removed \\f"}},
    {"CreateThenDelete",
     nullptr,
     [](const TestFolder& f, const QString&) {
         f.Write("f");
         f.Remove("f");
     },
     {}},
    {"DeleteThenCreateOtherName",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString&) {
         f.Remove("a");
         f.Write("b");
     },
     {"removed \\a", "added \\b"}},
    {"EditorSaveThroughBackupName",
     [](const TestFolder& f) { f.Write("report.txt"); },
     [](const TestFolder& f, const QString&) {
         f.Write("report.tmp", {"new content"});
         f.Rename("report.txt", "report.bak");
         f.Rename("report.tmp", "report.txt");
         f.Remove("report.bak");
     },
     {"added \\report.tmp", "modified \\report.txt"}},
    {"EditorSaveKeepingBackup",
     [](const TestFolder& f) { f.Write("notes"); },
     [](const TestFolder& f, const QString&) {
         f.Write("notes.tmp", {"new content"});
         f.Rename("notes", "notes~");
         f.Rename("notes.tmp", "notes");
     },
     {"added \\notes.tmp", "modified \\notes", "added \\notes~"}},
    {"FolderReplacedByFile",
     [](const TestFolder& f) { f.MakeFolder("d"); },
     [](const TestFolder& f, const QString&) {
         f.RemoveFolder("d");
         f.Write("d");
     },
     {"modified \\d"}},
    {"TreeMovedIn",
     nullptr,
     [](const TestFolder& f, const QString& outside) {
         const TestFolder out(outside);
         out.MakeFolder("tree");
         out.MakeFolder("tree/sub");
         out.Write("tree/sub/file");
         TestFolder::RenameAbsolute(out.Full("tree"), f.Full("tree"));
     },
     {"added \\tree", "added \\tree\\sub", "added \\tree\\sub\\file"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, MonitorToFinalQueueTest, testing::ValuesIn(roadCases),
                         [](const testing::TestParamInfo<RoadCase>& info) { return info.param.name; });

// Created and filled while the monitor takes up the new folder: each item
// reaches the final queue as one addition, parents first; a file closed
// after it was listed may follow as a modification.
TEST_F(MonitorToFinalQueueTest, FolderCreatedAndFilledAtOnce)
{
    Start();
    folder_.MakeFolder("d");
    folder_.Write("d/x", {"1", "2"});
    folder_.MakeFolder("d/e");
    folder_.Write("d/e/y");
    const std::vector<std::string> passedOn = PassedOn();
    std::multiset<std::string> added;
    for (const std::string& event : passedOn) {
        if (event.rfind("added ", 0) == 0)
            added.insert(event);
        else
            EXPECT_EQ(event.rfind("modified ", 0), 0u) << event;
    }
    EXPECT_EQ(added, (std::multiset<std::string>{"added \\d", "added \\d\\x", "added \\d\\e", "added \\d\\e\\y"}));
    const auto position = [&](const std::string& event) {
        return std::find(passedOn.begin(), passedOn.end(), event) - passedOn.begin();
    };
    EXPECT_EQ(position("added \\d"), 0);
    EXPECT_LT(position("added \\d\\e"), position("added \\d\\e\\y"));
}

}  // namespace
