// The journal pull thread against the fake service: pulls on a notice and
// after silence, nothing before the first full sync or during a full resync,
// failed pulls kept and retried, the position stored without any notices
// installed, a changed sync folder followed, and the quota queried with a
// wait after failures.

#include "tests/sync/threads/EngineThreadFixture.h"

#include "foundation/ProcessState.h"
#include "sync/rules/MountedFolder.h"
#include "sync/threads/PeltaResyncJournalThread.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>

using namespace std::chrono_literals;

namespace {

class PeltaResyncJournalThreadTest : public EngineThreadFixture {
protected:
    void TearDown() override
    {
        if (puller_)
            puller_->StopAndJoin();
        puller_.reset();
        EngineThreadFixture::TearDown();
    }

    void StartPuller(PeltaResyncJournalThread::Options options = {})
    {
        options.wait = 20ms;
        puller_ = std::make_unique<PeltaResyncJournalThread>(*engine_, options);
        ASSERT_TRUE(puller_->Start());
    }

    // A DATA notice as the push channel hands it on.
    static void Notice()
    {
        ++JournalRequestCount;
        evtRequestSyncJournal.Set();
    }

    bool LocalHas(const QString& relative, const QByteArray& content) const
    {
        return QFileInfo(Local(relative)).isFile() && ReadFileBytes(Local(relative)) == content;
    }

    std::unique_ptr<PeltaResyncJournalThread> puller_;
};

// A notice pulls the journal: another agent's file arrives, the pending
// count goes back to 0, the request worker is woken, and the new position is
// in the settings store and in "config.db" although no notices are installed
// to take it there.
TEST_F(PeltaResyncJournalThreadTest, ANoticePullsTheJournalAndStoresThePosition)
{
    EngineNotices::Install(nullptr);
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    StartPuller();
    OtherAgentAdds(QStringLiteral("/news.txt"), "fresh news");
    Notice();

    ASSERT_TRUE(WaitUntil([&] { return puller_->Pulls() == 1; }));
    EXPECT_TRUE(LocalHas(QStringLiteral("\\news.txt"), "fresh news"));
    EXPECT_EQ(JournalRequestCount.load(), 0);
    EXPECT_TRUE(evtRequestQueue.IsSignalled());
    const QString position = settings_.Get(QStringLiteral("last_sync_time"));
    EXPECT_GT(position.toDouble(), JournalEnd().toDouble());
    EXPECT_EQ(reg_->GetSettingOr(QStringLiteral("last_sync_time"), QString()), position);
}

// With the push channel silent for longer than pushSilence, the thread pulls
// by itself once its last pull is pullInterval old.
TEST_F(PeltaResyncJournalThreadTest, AfterSilenceItPullsWithoutANotice)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    LastApeOkTime = SteadyClock::now() - 1h;
    PeltaResyncJournalThread::Options options;
    options.pushSilence = 100ms;
    options.pullInterval = 200ms;
    StartPuller(options);
    OtherAgentAdds(QStringLiteral("/quiet.txt"), "no notice");

    ASSERT_TRUE(WaitUntil([&] { return LocalHas(QStringLiteral("\\quiet.txt"), "no notice"); }));
    EXPECT_EQ(JournalRequestCount.load(), 0);
}

// Before the first full sync there is no position: a notice pulls nothing
// and stays counted. During a full resync nothing is pulled either; the
// notice is pulled once it has ended.
TEST_F(PeltaResyncJournalThreadTest, NoPullBeforeTheFirstSyncOrDuringAFullResync)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("0"));
    StartPuller();
    Notice();
    ASSERT_TRUE(WaitUntil([] { return !evtRequestSyncJournal.IsSignalled(); }));
    Notice();
    ASSERT_TRUE(WaitUntil([] { return !evtRequestSyncJournal.IsSignalled(); }));
    EXPECT_EQ(service_.CallCount("getSyncJournal"), 0u);
    EXPECT_EQ(JournalRequestCount.load(), 2);

    ResyncRunning = true;
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    OtherAgentAdds(QStringLiteral("/later.txt"), "after the resync");
    Notice();
    ASSERT_TRUE(WaitUntil([] { return !evtRequestSyncJournal.IsSignalled(); }));
    Notice();
    ASSERT_TRUE(WaitUntil([] { return !evtRequestSyncJournal.IsSignalled(); }));
    EXPECT_EQ(service_.CallCount("getSyncJournal"), 0u);
    EXPECT_EQ(JournalRequestCount.load(), 4);

    ResyncRunning = false;
    ASSERT_TRUE(WaitUntil([&] { return puller_->Pulls() == 1; }));
    EXPECT_TRUE(LocalHas(QStringLiteral("\\later.txt"), "after the resync"));
    EXPECT_EQ(JournalRequestCount.load(), 0);
}

// A pull that fails keeps its notices and is tried again after its delay,
// without a new notice.
TEST_F(PeltaResyncJournalThreadTest, AFailedPullKeepsItsNoticesAndIsRetried)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    PeltaResyncJournalThread::Options options;
    options.firstRetry = 300ms;
    StartPuller(options);
    OtherAgentAdds(QStringLiteral("/retry.txt"), "second time");
    service_.Faults().SetNext("getSyncJournal", Fault::Http500());
    Notice();

    ASSERT_TRUE(WaitUntil([&] { return puller_->Pulls() == 1; }));
    EXPECT_TRUE(LocalHas(QStringLiteral("\\retry.txt"), "second time"));
    EXPECT_EQ(JournalRequestCount.load(), 0);
    EXPECT_EQ(puller_->FailedPulls(), 1);
    EXPECT_EQ(service_.CallCount("getSyncJournal"), 2u);
}

// A sync folder changed in the settings store is followed: the next pull
// lands in the new folder, not in the old one.
TEST_F(PeltaResyncJournalThreadTest, AChangedSyncFolderIsFollowed)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    StartPuller();
    const QString other = dir_.filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_TRUE(MountedFolder(other).WriteMarker());
    settings_.Set(QStringLiteral("sync_folder"), other);
    OtherAgentAdds(QStringLiteral("/moved.txt"), "new place");
    Notice();

    ASSERT_TRUE(WaitUntil([&] { return QFileInfo(other + QStringLiteral("/moved.txt")).isFile(); }));
    EXPECT_EQ(ReadFileBytes(other + QStringLiteral("/moved.txt")), "new place");
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\moved.txt"))));
}

// Offline does not stop pulls: the journal is still read (what it brings
// to download waits in rows until the transfers run online again). The state
// follows the failure count, which the pull's own exchange brought back to
// 0, and the tray is told of each switch.
TEST_F(PeltaResyncJournalThreadTest, OfflinePullsStillRun)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    StartPuller();
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("UpdateQuotaMenu")) == 1; }));
    NetFailCount = 6;
    ASSERT_TRUE(WaitUntil([] { return AppState.load() == XAPPOffline; }));
    EXPECT_EQ(threadNotices_->Count(QStringLiteral("SetSyncStatus(0,0,0)")), 1);

    OtherAgentAdds(QStringLiteral("/offline.txt"), "still pulled");
    Notice();
    ASSERT_TRUE(WaitUntil([&] { return puller_->Pulls() == 1; }));
    EXPECT_EQ(service_.CallCount("getSyncJournal"), 1u);
    ASSERT_TRUE(WaitUntil([] { return AppState.load() == XAPPOnline; }));
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Calls().last() == QStringLiteral("SetSyncStatus(1,0,0)"); }))
        << Joined(threadNotices_->Calls());
}

// The quota is queried at start and the menu told; a failing query is not
// asked again in every cycle but after its delay; a rejected token asks for
// a new login.
TEST_F(PeltaResyncJournalThreadTest, AFailingQuotaQueryWaitsBeforeItIsAskedAgain)
{
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    service_.Faults().SetAlways("getQuota", Fault::Http500());
    PeltaResyncJournalThread::Options options;
    options.quota.firstRetry = 1h;
    StartPuller(options);
    for (int cycle = 0; cycle < 5; ++cycle) {
        const int pulls = puller_->Pulls();
        Notice();
        ASSERT_TRUE(WaitUntil([&] { return puller_->Pulls() > pulls; }));
    }
    EXPECT_EQ(service_.CallCount("getQuota"), 1u);
    EXPECT_EQ(threadNotices_->Count(QStringLiteral("UpdateQuotaMenu")), 0);
}

TEST_F(PeltaResyncJournalThreadTest, TheQuotaIsQueriedAgainWhenANoticeClearedIt)
{
    service_.State().SetQuotaTotal(UserId, std::int64_t(3) << 30);
    StartPuller();
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("UpdateQuotaMenu")) == 1; }));
    EXPECT_FLOAT_EQ(QuotaTotal.load(), 3072.0f);

    service_.State().SetQuotaTotal(UserId, std::int64_t(4) << 30);
    QuotaCheckTime = SteadyTime{};  // what a "newQuota=" notice does
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("UpdateQuotaMenu")) == 2; }));
    EXPECT_FLOAT_EQ(QuotaTotal.load(), 4096.0f);
    EXPECT_EQ(service_.CallCount("getQuota"), 2u);

    settings_.Set(QStringLiteral("member_access_token"), QStringLiteral("unknown-token"));
    QuotaCheckTime = SteadyTime{};
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("Relogin")) == 1; }));
}

}  // namespace
