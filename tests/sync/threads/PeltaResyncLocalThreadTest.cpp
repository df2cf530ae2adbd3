#include "sync/threads/PeltaResyncLocalThread.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/rules/MountedFolder.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/threads/ThreadFixture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

const QString kRoot = QStringLiteral("\\");

class PeltaResyncLocalThreadTest : public ThreadFixture {
protected:
    int JobsEnded() const { return static_cast<int>(form_->Calls(QStringLiteral("status idle")).size()); }

    void Ask(int kind, const QString& path = QStringLiteral("\\"))
    {
        PeltaResyncLocalThread::HandOver(requests_, kind, path);
    }

    // A local stage that waits inside the pass until release is set or the
    // engine is told to stop.
    void HoldFirstLocalPass(std::atomic<bool>& release)
    {
        localScript = [&release, first = true](PeltaSync& engine, const QString& path, bool checkFile,
                                             bool removeMissing) mutable {
            if (std::exchange(first, false)) {
                while (!release.load() && engine.IsRunning())
                    std::this_thread::sleep_for(1ms);
                if (!engine.IsRunning())
                    return PassResult::Aborted;
            }
            return engine.ResyncLocal(path, checkFile, removeMissing);
        };
    }
};

// Jobs asked together all run, each once: a full resync asked while a
// folder rescan waits is not lost, and a rescan asked again while the same
// one waits is not run twice. Each job ends with the tray idle, the request
// worker woken and the resync menu given back.
TEST_F(PeltaResyncLocalThreadTest, EveryJobAskedRunsOnce)
{
    MakeFolder(QStringLiteral("\\a"));
    Ask(XMOResyncLocal, QStringLiteral("\\a"));
    Ask(XMOResyncFull);
    Ask(XMOResyncLocal, QStringLiteral("\\a"));
    StartResyncLocal();
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 2; })) << Joined(stages_.Calls());
    EXPECT_EQ(Joined(stages_.Calls()), Joined({"local \\a check=1 remove=1", "local \\ check=1 remove=0",
                                               "remote \\ delete=0"}));
    EXPECT_EQ(Joined(form_->Calls()),
              Joined({"status busy", "status idle", "status busy", "setting last_sync_time=1700000100.5",
                      "setting first_sync_time=1700000100.5", "save", "status idle", "menu on"}));
    EXPECT_TRUE(WaitUntil([] { return !ResyncRunning.load(); }));
    EXPECT_TRUE(evtRequestQueue.IsSignalled());
    EXPECT_EQ(requests_.Count(), 0);
}

// A job asked while the same job runs is not folded into it: it runs again
// afterwards, and so does any other job asked meanwhile.
TEST_F(PeltaResyncLocalThreadTest, AJobAskedWhileItRunsRunsAgainAfterIt)
{
    std::atomic<bool> release{false};
    HoldFirstLocalPass(release);
    StartResyncLocal();
    Ask(XMOResyncLocal);
    ASSERT_TRUE(WaitUntil([&] { return stages_.Count() == 1 && ResyncRunning.load(); }));
    Ask(XMOResyncRemote, QStringLiteral("\\d"));
    Ask(XMOResyncLocal);
    Ask(XMOResyncLocal);
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 3; }));
    EXPECT_EQ(Joined(stages_.Calls()),
              Joined({"local \\ check=0 remove=1", "remote \\d delete=0", "local \\ check=0 remove=1"}));
    EXPECT_EQ(form_->Calls(QStringLiteral("setting")), QStringList());  // a folder's walk is no position
}

struct StartCase {
    const char* name;
    const char* position;
    int count;
    int replay;
    std::vector<const char*> stages;  // the first ones
    const char* positionAfter;
    bool pullAsked;                   // "Global\XRequestSyncJournal" set
};

void PrintTo(const StartCase& value, std::ostream* out) { *out << value.name; }

class StartUpResyncTest : public PeltaResyncLocalThreadTest, public testing::WithParamInterface<StartCase> {};

// The start-up resync: a local rescan that finds deletions, then the
// journal since the position, replayed, or walked in full when it is long.
// A failed count or replay asks the journal pull thread and is retried
// without the rescan; the position moves only with a walk that succeeded.
TEST_P(StartUpResyncTest, FollowsTheJournal)
{
    const StartCase& start = GetParam();
    settings_.Set(QStringLiteral("last_sync_time"), QLatin1String(start.position));
    journalCount = start.count;
    replayResult = start.replay;
    StartResyncLocal();
    Ask(XMOResyncAppStart);
    ASSERT_TRUE(WaitUntil([&] {
        return JobsEnded() >= 1 && stages_.Count() >= static_cast<int>(start.stages.size());
    }));
    QStringList expected;
    for (const char* stage : start.stages)
        expected << QLatin1String(stage);
    EXPECT_EQ(Joined(stages_.Calls().mid(0, expected.size())), Joined(expected));
    resyncLocal_->StopAndJoin();
    EXPECT_EQ(settings_.Get(QStringLiteral("last_sync_time")), QLatin1String(start.positionAfter));
    EXPECT_EQ(evtRequestSyncJournal.IsSignalled(), start.pullAsked);
}

const StartCase startCases[] = {
    {"NoPositionOnlyRescans", "0", 1, 1, {"local \\ check=0 remove=1"}, "0", false},
    {"ShortJournalIsReplayed",
     "1699.5",
     0,
     1,
     {"local \\ check=0 remove=1", "count 1699.5", "replay 1699.5"},
     "1699.5",
     false},
    {"LongJournalWalksTheWholeFolder",
     "1699.5",
     1,
     1,
     {"local \\ check=0 remove=1", "count 1699.5", "remote \\ delete=1"},
     "1700000100.5",
     false},
    {"FailedCountIsRetried",
     "1699.5",
     -1,
     1,
     {"local \\ check=0 remove=1", "count 1699.5", "count 1699.5", "count 1699.5"},
     "1699.5",
     true},
    {"FailedReplayIsRetried",
     "1699.5",
     0,
     -1,
     {"local \\ check=0 remove=1", "count 1699.5", "replay 1699.5", "count 1699.5", "replay 1699.5"},
     "1699.5",
     true},
};

INSTANTIATE_TEST_SUITE_P(Cases, StartUpResyncTest, testing::ValuesIn(startCases),
                         [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// A walk that fails, or succeeds without the service's time stamp, keeps the
// old position: nothing is written until a walk succeeds, and then its stamp.
// Only the failed stage is retried, each time after a longer delay.
TEST_F(PeltaResyncLocalThreadTest, ThePositionMovesOnlyWithAWalkThatSucceeded)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1699.5"));
    std::vector<SteadyTime> attempts;
    QStringList positionsSeen;
    remoteScript = [&](PeltaSync&, const QString&, bool, QString& stamp) {
        attempts.push_back(SteadyClock::now());
        positionsSeen << settings_.Get(QStringLiteral("last_sync_time"));
        switch (attempts.size()) {
        case 1:
            stamp = QStringLiteral("1700000001.1");  // the first listing answered, a later one failed
            return false;
        case 2:
            return true;  // no stamp
        case 3:
            stamp = QStringLiteral("0");
            return true;
        default:
            stamp = QStringLiteral("1700000200.5");
            return true;
        }
    };
    StartResyncLocal();
    Ask(XMOResyncFull);
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 4; }));
    resyncLocal_->StopAndJoin();

    EXPECT_EQ(Joined(stages_.Calls()), Joined({"local \\ check=1 remove=0", "remote \\ delete=0", "remote \\ delete=0",
                                               "remote \\ delete=0", "remote \\ delete=0"}));
    EXPECT_EQ(Joined(positionsSeen), Joined({"1699.5", "1699.5", "1699.5", "1699.5"}));
    EXPECT_EQ(Joined(form_->Calls(QStringLiteral("setting"))),
              Joined({"setting last_sync_time=1700000200.5", "setting first_sync_time=1700000200.5"}));
    EXPECT_EQ(settings_.Get(QStringLiteral("last_sync_time")), QStringLiteral("1700000200.5"));
    ASSERT_EQ(attempts.size(), 4u);
    EXPECT_GE(attempts[1] - attempts[0], 20ms);
    EXPECT_GE(attempts[2] - attempts[1], 40ms);
    EXPECT_GE(attempts[3] - attempts[2], 80ms);
    EXPECT_EQ(requests_.Count(), 0);
}

// A sync folder whose disk is not mounted (an empty mount point in its
// place) pauses every job: no pass runs, the user is told once, and the
// folder is looked at again until it is back. Then the monitor is started
// again and the rescan finds what was really deleted, and only that.
TEST_F(PeltaResyncLocalThreadTest, AnUnmountedFolderPausesUntilItIsBack)
{
    MakeFile(QStringLiteral("\\a.txt"));
    MakeFile(QStringLiteral("\\b.txt"));
    StoreCommitted({QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")});
    const QByteArray root = SyncRoot().toUtf8();
    const QByteArray disk = (SyncRoot() + QStringLiteral(".disk")).toUtf8();
    ASSERT_EQ(::rename(root.constData(), disk.constData()), 0);
    ASSERT_TRUE(QDir().mkpath(SyncRoot()));

    StartResyncLocal();
    Ask(XMOResyncLocal);
    Ask(XMOResyncAppStart);
    ASSERT_TRUE(WaitUntil([&] { return resyncLocal_->Paused(); }));
    EXPECT_EQ(form_->Calls(), QStringList{QStringLiteral("unavailable ") + SyncRoot()});
    EXPECT_EQ(stages_.Calls(), QStringList());

    // The disk comes back in place of the empty mount point at once.
    ASSERT_TRUE(QFile::remove(QString::fromUtf8(disk) + QStringLiteral("/b.txt")));
    ASSERT_EQ(::renameat2(AT_FDCWD, disk.constData(), AT_FDCWD, root.constData(), RENAME_EXCHANGE), 0);
    ASSERT_TRUE(QDir().rmdir(QString::fromUtf8(disk)));
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 2; }));
    EXPECT_FALSE(resyncLocal_->Paused());
    EXPECT_EQ(Joined(stages_.Calls()), Joined({"local \\ check=0 remove=1", "local \\ check=0 remove=1"}));
    EXPECT_EQ(form_->Calls(QStringLiteral("unavailable")).size(), 1);
    EXPECT_EQ(form_->Calls(QStringLiteral("available")), QStringList{QStringLiteral("available ") + SyncRoot()});
    EXPECT_EQ(form_->Calls(QStringLiteral("monitor")).size(), 1);
    EXPECT_EQ(Joined(Requests()), "3|\\b.txt||1");
}

// A sync folder removed by the user (its parent is there) is made again and
// filled from the service by a walk that deletes nothing; the rescans that
// could take its absence for deletions are dropped, and a new one waits
// until that walk has succeeded.
TEST_F(PeltaResyncLocalThreadTest, ARemovedFolderIsMadeAgainAndFilledFromTheService)
{
    MakeFolder(QStringLiteral("\\d"));
    MakeFile(QStringLiteral("\\d\\x.txt"));
    StoreCommitted({QStringLiteral("\\d"), QStringLiteral("\\d\\x.txt")});
    const QString saved = SyncRoot() + QStringLiteral(".saved");
    ASSERT_TRUE(QDir().rename(SyncRoot(), saved));
    // The walk fails once; then it brings the folder's content back.
    remoteScript = [&, walks = 0](PeltaSync&, const QString&, bool, QString& stamp) mutable {
        if (++walks == 1)
            return false;
        EXPECT_TRUE(QDir().rename(saved + QStringLiteral("/d"), Local(QStringLiteral("\\d"))));
        stamp = QStringLiteral("1700000300.5");
        return true;
    };
    StartResyncLocal();
    Ask(XMOResyncLocal);
    Ask(XMOResyncAppStart);
    ASSERT_TRUE(WaitUntil([&] { return stages_.Count() == 1; }));
    EXPECT_TRUE(QFileInfo(MountedFolder(SyncRoot()).MarkerPath()).isFile());
    Ask(XMOResyncLocal);
    ASSERT_TRUE(WaitUntil([&] { return stages_.Count() == 3 && JobsEnded() == 3; }));
    EXPECT_EQ(Joined(stages_.Calls()),
              Joined({"remote \\ delete=0", "remote \\ delete=0", "local \\ check=0 remove=1"}));
    EXPECT_EQ(form_->Calls(QStringLiteral("monitor")).size(), 1);
    EXPECT_EQ(form_->Calls(QStringLiteral("setting")), QStringList{"setting last_sync_time=1700000300.5"});
    EXPECT_EQ(Joined(Requests()), "");
    EXPECT_NE(Joined(FileRows()).find("\\d\\x.txt"), std::string::npos);
}

// The walk that fills a folder made again is walked again when a change of
// the settings abandons it; until one succeeds, rescans that may remove wait.
TEST_F(PeltaResyncLocalThreadTest, AnAbandonedRefillIsWalkedAgain)
{
    ASSERT_TRUE(QDir(SyncRoot()).removeRecursively());
    remoteScript = [&, walks = 0](PeltaSync& engine, const QString&, bool, QString& stamp) mutable {
        if (++walks == 1) {
            while (engine.IsRunning())
                std::this_thread::sleep_for(1ms);
            return false;
        }
        stamp = QStringLiteral("1700000400.5");
        return true;
    };
    StartResyncLocal();
    Ask(XMOResyncLocal);
    ASSERT_TRUE(WaitUntil([&] { return stages_.Count() == 1; }));
    Ask(XMOResyncLocal);
    resyncLocal_->ResetConfig(&settings_);
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 2; }));
    EXPECT_EQ(Joined(stages_.Calls()),
              Joined({"remote \\ delete=0", "remote \\ delete=0", "local \\ check=0 remove=1"}));
}

// A change of sync folder stops the running pass and abandons its job
// (no walk, no position, no job end); the next job works on the new folder.
TEST_F(PeltaResyncLocalThreadTest, ANewSyncFolderAbandonsTheRunningJob)
{
    const QString other = SyncRoot() + QStringLiteral("-other");
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_TRUE(MountedFolder(other).WriteMarker());
    PeltaSyncAgentSetting otherSettings;
    otherSettings.Set(QStringLiteral("user_sn"), UserSn);
    otherSettings.Set(QStringLiteral("sync_folder"), other);
    std::atomic<bool> never{false};
    HoldFirstLocalPass(never);
    QStringList folders;
    const auto hold = localScript;
    localScript = [&](PeltaSync& engine, const QString& path, bool checkFile, bool removeMissing) {
        folders << engine.SyncFolder();
        return hold(engine, path, checkFile, removeMissing);
    };
    StartResyncLocal();
    Ask(XMOResyncFull);
    ASSERT_TRUE(WaitUntil([&] { return stages_.Count() == 1; }));
    resyncLocal_->ResetConfig(&otherSettings);
    ASSERT_TRUE(WaitUntil([] { return !ResyncRunning.load(); }));
    Ask(XMOResyncLocal);
    ASSERT_TRUE(WaitUntil([&] { return JobsEnded() == 1; }));
    EXPECT_EQ(Joined(stages_.Calls()), Joined({"local \\ check=1 remove=0", "local \\ check=0 remove=1"}));
    EXPECT_EQ(Joined(folders), Joined({SyncRoot(), other}));
    EXPECT_EQ(Joined(form_->Calls()), Joined({"status busy", "status busy", "status idle", "menu on"}));
    resyncLocal_.reset();  // before the settings it is bound to
}

// Stopping takes less than a second whatever the thread is doing.
TEST_F(PeltaResyncLocalThreadTest, StopsWithinASecond)
{
    const char* const states[] = {"idle", "in a pass", "waiting for a retry", "paused"};
    for (const char* state : states) {
        SCOPED_TRACE(state);
        const std::string name = state;
        PeltaResyncLocalThread::Options options = RecordingOptions();
        options.firstRetry = 1h;
        options.mountCheck = 1h;
        localScript = [](PeltaSync& engine, const QString&, bool, bool) {
            const auto giveUp = std::chrono::steady_clock::now() + 5s;  // a pass that never looks up
            while (engine.IsRunning() && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(1ms);
            return PassResult::Aborted;
        };
        remoteResult = false;
        if (name == "paused") {
            ASSERT_TRUE(QFile::remove(MountedFolder(SyncRoot()).MarkerPath()));
        }
        const int before = stages_.Count();
        StartResyncLocal(options);
        if (name == "in a pass")
            Ask(XMOResyncLocal);
        if (name == "waiting for a retry")
            Ask(XMOResyncRemote);
        if (name == "paused")
            Ask(XMOResyncLocal);
        if (name != "idle") {
            ASSERT_TRUE(WaitUntil([&] {
                return name == "paused" ? resyncLocal_->Paused()
                                        : stages_.Count() > before && (name != "waiting for a retry" || JobsEnded() > 0);
            }));
        }
        const auto begin = std::chrono::steady_clock::now();
        resyncLocal_->Terminate();
        resyncLocal_->Join();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
        EXPECT_FALSE(ResyncRunning.load());
        resyncLocal_.reset();
        requests_.Forget(XMOResyncLocal);
        requests_.Forget(XMOResyncRemote);
    }
}

}  // namespace
