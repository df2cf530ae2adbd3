#include "sync/monitor/PeltaDirectoryMonitorThread.h"

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/FolderEvents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>

namespace {

using namespace std::chrono_literals;

class CountingNotice : public MonitorNotice {
public:
    void WatchLimitReached(int, int inUse) override
    {
        ++calls;
        lastInUse = inUse;
    }
    std::atomic<int> calls{0};
    std::atomic<int> lastInUse{0};
};

class PeltaDirectoryMonitorThreadTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp_.isValid());
        ASSERT_TRUE(QDir().mkpath(Root()));
        ResetFolderEventQueues();
        LogMask = -1;
        AppLog.TakeBuffer();
    }
    void TearDown() override
    {
        if (monitor_)
            monitor_->StopAndJoin();
        ResetFolderEventQueues();
        LogMask = 0x3007;
    }

    QString Root() const { return temp_.path() + QStringLiteral("/sync"); }

    void Start(PeltaDirectoryMonitorThread::Options options = {})
    {
        monitor_ = std::make_unique<PeltaDirectoryMonitorThread>(Root(), std::move(options));
        ASSERT_TRUE(monitor_->Start());
        ASSERT_TRUE(WaitUntil([&] { return monitor_->WatchedFolder() == Root(); }));
    }

    // Collects the FS queue until it holds the wanted event.
    bool WaitForQueued(const std::string& wanted)
    {
        return WaitUntil([&] {
            for (const PeltaFSQueue& event : TakeAll(FSQueue, csFSQueue))
                queued_.push_back(Describe(event));
            return std::find(queued_.begin(), queued_.end(), wanted) != queued_.end();
        });
    }

    QTemporaryDir temp_;
    TestFolder folder_{temp_.path() + QStringLiteral("/sync")};
    std::unique_ptr<PeltaDirectoryMonitorThread> monitor_;
    std::vector<std::string> queued_;
};

TEST_F(PeltaDirectoryMonitorThreadTest, QueuesEachEventAndSignals)
{
    Start();
    folder_.Write("f", {"a", "b"});
    ASSERT_TRUE(WaitForQueued("modified \\f"));
    // The two writes' reports may come in one read or in two: the creation
    // first, then one modification or more, nothing else.
    ASSERT_GE(queued_.size(), 2u);
    EXPECT_EQ(queued_.front(), "added \\f");
    const auto modified = [](const std::string& event) { return event == "modified \\f"; };
    EXPECT_TRUE(std::all_of(queued_.begin() + 1, queued_.end(), modified)) << testing::PrintToString(queued_);
    EXPECT_TRUE(evtFSQueue.IsSignalled());
}

TEST_F(PeltaDirectoryMonitorThreadTest, LeavesOutWhatTheEngineMarked)
{
    Start();
    RequestObject.FileMon(QStringLiteral("\\mine"), PeltaRequestObject::SelfChangeMark, false);
    folder_.Write("mine");
    folder_.Write("theirs");
    ASSERT_TRUE(WaitForQueued("modified \\theirs"));
    RequestObject.FileMon(QStringLiteral("\\mine"), 0, false);
    EXPECT_EQ(queued_, (std::vector<std::string>{"added \\theirs", "modified \\theirs"}));
}

TEST_F(PeltaDirectoryMonitorThreadTest, StopsWithinASecond)
{
    Start();
    const auto before = std::chrono::steady_clock::now();
    monitor_->Terminate();
    monitor_->Join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(monitor_->Running());
    EXPECT_TRUE(monitor_->WatchedFolder().isEmpty());
}

// The new folder is taken up at once: nothing has to change in the old one.
TEST_F(PeltaDirectoryMonitorThreadTest, ResetConfigWatchesTheNewFolder)
{
    const QString other = temp_.path() + QStringLiteral("/other");
    ASSERT_TRUE(QDir().mkpath(other));
    Start();
    errno = 0;
    monitor_->ResetConfig(other, true);
    ASSERT_TRUE(WaitUntil([&] { return monitor_->WatchedFolder() == other; }));
    folder_.Write("old-folder");
    TestFolder(other).Write("new-folder");
    ASSERT_TRUE(WaitForQueued("modified \\new-folder"));
    EXPECT_EQ(queued_, (std::vector<std::string>{"added \\new-folder", "modified \\new-folder"}));
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("ResetConfig:0")));
}

TEST_F(PeltaDirectoryMonitorThreadTest, EndsWhenTheSyncFolderGoes)
{
    Start();
    folder_.RemoveFolder("");
    ASSERT_TRUE(WaitUntil([&] { return !monitor_->Running(); }));
    EXPECT_TRUE(
        AppLog.TakeBuffer().contains(QStringLiteral("Monitor: the sync folder was removed, moved or unmounted")));
}

TEST_F(PeltaDirectoryMonitorThreadTest, EndsWhenTheFolderCannotBeWatched)
{
    monitor_ = std::make_unique<PeltaDirectoryMonitorThread>(Root() + QStringLiteral("/missing"));
    ASSERT_TRUE(monitor_->Start());
    ASSERT_TRUE(WaitUntil([&] { return !monitor_->Running(); }));
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("the monitor ends")));
}

// Out of watches: the user is told once, and full rescans repeat while some
// folder has no watch; the monitor goes on reporting the rest.
TEST_F(PeltaDirectoryMonitorThreadTest, ShortWatchesRescanPeriodicallyAndTellTheUserOnce)
{
    folder_.MakeFolder("a");
    folder_.MakeFolder("b");
    auto notice = std::make_shared<CountingNotice>();
    PeltaDirectoryMonitorThread::Options options;
    options.notice = notice;
    options.shortWatchRescan = 20ms;
    options.watcher.addWatch = [](int fd, const char* path, std::uint32_t mask) {
        const int wd = inotify_add_watch(fd, path, mask);
        if (wd > 2) {
            inotify_rm_watch(fd, wd);
            errno = ENOSPC;
            return -1;
        }
        return wd;
    };
    Start(std::move(options));
    int rescans = 0;
    ASSERT_TRUE(WaitUntil([&] {
        for (const PeltaFSQueue& event : TakeAll(FSQueue, csFSQueue))
            rescans += event.status == XMOResyncLocal && event.path == QStringLiteral("\\") ? 1 : 0;
        return rescans >= 3;
    }));
    EXPECT_EQ(notice->calls.load(), 1);
    EXPECT_EQ(notice->lastInUse.load(), 2);
    EXPECT_TRUE(monitor_->Running());
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: watch limit reached (limit ")));
}

}  // namespace
