#include "sync/threads/PeltaSyncFinalThread.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/rules/MountedFolder.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/threads/ThreadFixture.h"

#include <gtest/gtest.h>

#include <QDir>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class PeltaSyncFinalThreadTest : public ThreadFixture {
protected:
    // The final queue is empty and the thread has handled what it took.
    bool Drained()
    {
        std::lock_guard lock(csFSFinalQueue);
        return FSFinalQueue.Count() == 0;
    }
    // Waits until the item pushed last has been handled: a command handed
    // on is the last thing the thread does for it.
    bool HandledThrough(const QString& marker)
    {
        PushFinal(XMOResyncLocal, marker);
        return WaitUntil([&] { return requests_.IsPending(XMOResyncLocal, marker); });
    }

    // "<kind> <path>" of each pending resync request, in order.
    std::vector<std::string> Pending() const
    {
        std::vector<std::string> texts;
        for (const ResyncRequests::Request& request : requests_.Pending())
            texts.push_back(std::to_string(request.kind) + ' ' + request.path.toStdString());
        return texts;
    }
};

// Names of the file filter: an added or modified one only gets its marker;
// a rename from such a name is a modification of the new name, a rename to
// one leaves the old name's rows where they are.
TEST_F(PeltaSyncFinalThreadTest, FilteredNamesAreNeverStored)
{
    MakeFile(QStringLiteral("\\kept.docx"));
    StoreCommitted({QStringLiteral("\\kept.docx")});
    MakeFile(QStringLiteral("\\~$report.docx"));
    MakeFile(QStringLiteral("\\report.docx"));
    Move(QStringLiteral("\\kept.docx"), QStringLiteral("\\~WRL0003.tmp"));
    StartFinal();
    PushFinal(XMOAdded, QStringLiteral("\\~$report.docx"));
    PushFinal(XMOModified, QStringLiteral("\\~$report.docx"));
    PushFinal(XMORenameOldName, QStringLiteral("\\~WRL0002.tmp"), QStringLiteral("\\report.docx"));
    PushFinal(XMORenameOldName, QStringLiteral("\\kept.docx"), QStringLiteral("\\~WRL0003.tmp"));
    ASSERT_TRUE(HandledThrough(QStringLiteral("\\end")));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_file order by path"))),
              Joined({"\\kept.docx", "\\report.docx"}));
    EXPECT_EQ(Joined(Requests()), "1|\\report.docx||1");
}

// Resync commands are handed to the resync-local thread's requests and
// wake it; a kind the queue does not carry is dropped.
TEST_F(PeltaSyncFinalThreadTest, ResyncCommandsAreHandedOver)
{
    StartFinal();
    PushFinal(XMOResyncLocal, QStringLiteral("\\a"));
    PushFinal(XMOResyncLocalNoRemoval, QStringLiteral("\\b"));
    PushFinal(XMOResyncRemote, QStringLiteral("\\c"));
    PushFinal(XMOResyncRemote, QStringLiteral("\\"));
    PushFinal(XMOResyncAppStart, QStringLiteral("\\"));
    PushFinal(11, QStringLiteral("\\x"));
    PushFinal(XMORenameNewName, QStringLiteral("\\y"));
    ASSERT_TRUE(HandledThrough(QStringLiteral("\\end")));
    EXPECT_EQ(Pending(), (std::vector<std::string>{"8 \\a", "13 \\b", "9 \\c", "9 \\", "12 \\", "8 \\end"}));
    EXPECT_TRUE(evtResyncLocal.IsSignalled());
    EXPECT_TRUE(evtRequestQueue.IsSignalled());
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("FSFinalQueue:dropped:11,\\x")));
}

// The full resync keeps the position it has until its walk succeeds; it
// only marks the first synchronisation as pending again.
TEST_F(PeltaSyncFinalThreadTest, AFullResyncKeepsThePosition)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1699.5"));
    settings_.Set(QStringLiteral("first_sync_time"), QStringLiteral("1600.5"));
    StartFinal();
    PushFinal(XMOResyncFull, QStringLiteral("\\"));
    ASSERT_TRUE(HandledThrough(QStringLiteral("\\end")));
    EXPECT_EQ(settings_.Get(QStringLiteral("last_sync_time")), QStringLiteral("1699.5"));
    EXPECT_EQ(settings_.Get(QStringLiteral("first_sync_time")), QStringLiteral("0"));
    EXPECT_EQ(Joined(form_->Calls()), Joined({"setting first_sync_time=0", "menu off"}));
    EXPECT_EQ(Pending(), (std::vector<std::string>{"10 \\", "8 \\end"}));
}

// A removal while the sync folder is not there (its disk unmounted, or the
// folder itself removed) is not taken for a deletion: the rows stay, no
// request is queued, and a rescan of the whole folder is asked for, which
// runs once the folder is back.
TEST_F(PeltaSyncFinalThreadTest, RemovalsWaitForTheSyncFolder)
{
    for (const bool parentThere : {true, false}) {
        SCOPED_TRACE(parentThere ? "folder removed" : "disk unmounted");
        MakeFile(QStringLiteral("\\a.txt"));
        StoreCommitted({QStringLiteral("\\a.txt")});
        const QString away = SyncRoot() + QStringLiteral(".away");
        ASSERT_TRUE(QDir().rename(SyncRoot(), away));
        if (!parentThere) {
            ASSERT_TRUE(QDir().mkpath(SyncRoot()));  // an empty mount point
        }
        StartFinal();
        PushFinal(XMORemoved, QStringLiteral("\\a.txt"));
        ASSERT_TRUE(WaitUntil([&] { return requests_.IsPending(XMOResyncLocal, QStringLiteral("\\")); }));
        EXPECT_EQ(Joined(FileRows()).find("\\a.txt|"), 0u);
        EXPECT_EQ(Joined(Requests()), "");

        final_.reset();
        requests_.Forget(XMOResyncLocal);
        QDir(SyncRoot()).removeRecursively();
        ASSERT_TRUE(QDir().rename(away, SyncRoot()));
    }
    // Back in place, the removal of a file that is really gone is applied.
    Remove(QStringLiteral("\\a.txt"));
    StartFinal();
    PushFinal(XMORemoved, QStringLiteral("\\a.txt"));
    ASSERT_TRUE(HandledThrough(QStringLiteral("\\end")));
    EXPECT_EQ(Joined(Requests()), "3|\\a.txt||1");
}

// Items pushed while the thread drains and resets its event are all taken:
// each item is pushed the moment the one before has been handled, when the
// thread is about to find the queue empty and reset its event.
TEST_F(PeltaSyncFinalThreadTest, NoItemIsLost)
{
    StartFinal();
    constexpr int Items = 500;
    for (int i = 0; i < Items; ++i) {
        const QString path = QStringLiteral("\\f%1").arg(i);
        PushFinal(XMOResyncLocal, path);
        const auto giveUp = std::chrono::steady_clock::now() + 2s;
        while (!requests_.IsPending(XMOResyncLocal, path) && std::chrono::steady_clock::now() < giveUp) {
        }
        ASSERT_TRUE(requests_.IsPending(XMOResyncLocal, path)) << i;
    }
    EXPECT_TRUE(Drained());
}

// Re-bound to another sync folder, the thread's engine applies the next
// events there.
TEST_F(PeltaSyncFinalThreadTest, ResetConfigBindsTheEngineToTheNewFolder)
{
    const QString other = SyncRoot() + QStringLiteral("-other");
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_TRUE(MountedFolder(other).WriteMarker());
    PeltaSyncAgentSetting otherSettings;
    otherSettings.Set(QStringLiteral("user_sn"), UserSn);
    otherSettings.Set(QStringLiteral("sync_folder"), other);
    ASSERT_TRUE(WriteFileBytes(other + QStringLiteral("/n.txt"), "new"));
    StartFinal();
    PushFinal(XMOAdded, QStringLiteral("\\n.txt"));
    ASSERT_TRUE(HandledThrough(QStringLiteral("\\one")));
    EXPECT_EQ(Joined(Requests()), "");

    final_->ResetConfig(&otherSettings);
    PushFinal(XMOAdded, QStringLiteral("\\n.txt"));
    ASSERT_TRUE(HandledThrough(QStringLiteral("\\two")));
    EXPECT_EQ(Joined(Requests()), "1|\\n.txt||1");
    final_.reset();  // before the settings it is bound to
}

// Stopping takes less than a second, also in the full resync's pause.
TEST_F(PeltaSyncFinalThreadTest, StopsWithinASecond)
{
    for (const bool pausing : {false, true}) {
        SCOPED_TRACE(pausing ? "in the full resync's pause" : "idle");
        StartFinal(1h);
        if (pausing) {
            PushFinal(XMOResyncFull, QStringLiteral("\\"));
            ASSERT_TRUE(WaitUntil([&] { return Drained(); }));
        }
        const auto begin = std::chrono::steady_clock::now();
        final_->Terminate();
        final_->Join();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
        final_.reset();
    }
    EXPECT_EQ(requests_.Count(), 0);
}

}  // namespace
