#include "foundation/PeltaRequestObject.h"

#include "foundation/ProcessState.h"
#include "foundation/text/Xi18n.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr std::int64_t MiB = 1024 * 1024;

// A steady clock that only moves when told to.
class FakeClock {
public:
    PeltaRequestObject::Clock Fn()
    {
        return [this] { return now_; };
    }
    void Advance(double seconds)
    {
        now_ += std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
    }

private:
    SteadyTime now_{std::chrono::hours(1)};
};

class PeltaRequestObjectTest : public ::testing::Test {
public:
    void SetUp() override
    {
        savedState_ = AppState.load();
        AppState = XAPPOnline;
        Xi18n::SetLanguage(Xi18n::DefaultLcid);
    }
    void TearDown() override { AppState = savedState_; }

    // A fresh object over a fresh tracker, event and clock.
    void Renew()
    {
        conflicts = std::make_unique<PeltaTrackConflict>();
        tray = std::make_unique<Event>(QStringLiteral("test tray"), Event::ResetKind::Automatic);
        clock = std::make_unique<FakeClock>();
        status = std::make_unique<PeltaRequestObject>(*conflicts, *tray, clock->Fn());
    }

    void AddConflict(const QString& path)
    {
        PeltaRecVfsSyncFile record;
        record.path = path;
        conflicts->Add(path, record);
    }

    std::unique_ptr<PeltaTrackConflict> conflicts;
    std::unique_ptr<Event> tray;
    std::unique_ptr<FakeClock> clock;
    std::unique_ptr<PeltaRequestObject> status;

private:
    XAPPState savedState_ = XAPPOnline;
};

}  // namespace

TEST_F(PeltaRequestObjectTest, StatusTextByPriority)
{
    const QString synced = QStringLiteral("資料夾已同步至最新版本");
    struct Case {
        const char* name;
        std::function<void(PeltaRequestObjectTest&)> arrange;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"quota full wins over offline and message",
         [](auto& t) {
             t.status->SetQuotaFull(true);
             AppState = XAPPOffline;
             t.status->SetMessage(QStringLiteral("hello"));
         },
         QStringLiteral("Quota已滿，請調整使用空間")},
        {"offline wins over message",
         [](auto& t) {
             AppState = XAPPOffline;
             t.status->SetMessage(QStringLiteral("hello"));
         },
         QStringLiteral("連線中......")},
        {"message", [](auto& t) { t.status->SetMessage(QStringLiteral("hello")); }, QStringLiteral("hello")},
        {"download 1 of 2 MiB after 10 s",
         [](auto& t) {
             t.status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\docs\\a.txt"), 7, 2 * MiB);
             t.clock->Advance(10);
             t.status->UpdateTransferred(MiB);
         },
         QStringLiteral("正在下載 \"a.txt\" (102.4 KB/秒, 10 秒)")},
        {"7200 s remaining in hours",
         [](auto& t) {
             t.status->BeginTransfer(PeltaRequestObject::ActionUpload, QStringLiteral("\\b.bin"), 1,
                                     102400 + 7200 * 10 * 1024);
             t.clock->Advance(10);
             t.status->UpdateTransferred(102400);
         },
         QStringLiteral("正在上傳 \"b.bin\" (10.0 KB/秒, 2 時)")},
        {"90 s remaining is 1.5 min, rounded half away from zero",
         [](auto& t) {
             t.status->BeginTransfer(PeltaRequestObject::ActionUploadAlt, QStringLiteral("\\c"), 1,
                                     102400 + 90 * 10 * 1024);
             t.clock->Advance(10);
             t.status->UpdateTransferred(102400);
         },
         QStringLiteral("正在上傳 \"c\" (10.0 KB/秒, 2 分)")},
        {"finished transfer falls back",
         [](auto& t) {
             t.status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\a"), 1, MiB);
             t.clock->Advance(5);
             t.status->UpdateTransferred(MiB);
         },
         synced},
        {"more done than total falls back",
         [](auto& t) {
             t.status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\a"), 1, 100);
             t.clock->Advance(5);
             t.status->UpdateTransferred(MiB);
         },
         synced},
        {"nothing done or no time passed falls back",
         [](auto& t) {
             t.status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\a"), 1, MiB);
             t.status->UpdateTransferred(100);  // no time has passed
         },
         synced},
        {"unknown action is empty without fallbacks",
         [](auto& t) {
             t.status->SetSyncing(true);
             t.status->BeginTransfer(4, QStringLiteral("\\a"), 1, MiB);
             t.clock->Advance(10);
             t.status->UpdateTransferred(1024);
         },
         QString()},
        {"two conflicts and one file in use name that file",
         [](auto& t) {
             t.status->SetSyncing(true);
             t.AddConflict(QStringLiteral("\\x\\one.txt"));
             t.AddConflict(QStringLiteral("\\x\\two.txt"));
             t.status->SetFileState(QStringLiteral("\\docs\\busy.doc"), 1);
         },
         QStringLiteral("'busy.doc'使用中，稍後再同步")},
        {"two conflicts alone",
         [](auto& t) {
             t.status->SetSyncing(true);
             t.AddConflict(QStringLiteral("\\one"));
             t.AddConflict(QStringLiteral("\\two"));
         },
         QStringLiteral("檔案使用中，稍後同步")},
        {"one conflict names it",
         [](auto& t) {
             t.status->SetSyncing(true);
             t.AddConflict(QStringLiteral("\\x\\one.txt"));
         },
         QStringLiteral("'one.txt'使用中，稍後再同步")},
        {"three files in use",
         [](auto& t) {
             t.status->SetSyncing(true);
             for (const char* path : {"\\a", "\\b", "\\c"})
                 t.status->SetFileState(QString::fromUtf8(path), 5);
         },
         QStringLiteral("3個檔案使用中，稍後再同步")},
        {"syncing with nothing in use", [](auto& t) { t.status->SetSyncing(true); },
         QStringLiteral("資料夾同步中")},
        {"a forgotten file state no longer counts",
         [](auto& t) {
             t.status->SetSyncing(true);
             t.status->SetFileState(QStringLiteral("\\a"), 1);
             t.status->SetFileState(QStringLiteral("\\a"), 0);
         },
         QStringLiteral("資料夾同步中")},
        {"not syncing", [](auto&) {}, synced},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppState = XAPPOnline;
        Renew();
        c.arrange(*this);
        EXPECT_EQ(status->GetStatusText(), c.expected);
    }
}

TEST_F(PeltaRequestObjectTest, MessagesAndTheirSignal)
{
    Renew();
    status->SetMessage(QStringLiteral("first"));
    EXPECT_TRUE(tray->IsSignalled());
    tray->Reset();

    status->SetMessage(QString());
    EXPECT_FALSE(tray->IsSignalled());
    EXPECT_EQ(status->Message(), QStringLiteral("first"));
    EXPECT_EQ(status->StatusKind(), PeltaRequestObject::StatusMessage);

    // A transfer start empties the message; a reset keeps message and kind.
    status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\a"), 3, 10);
    EXPECT_TRUE(status->Message().isEmpty());
    status->ResetTransfer();
    EXPECT_EQ(status->StatusKind(), PeltaRequestObject::StatusTransfer);
    EXPECT_FALSE(status->IsTransferring());
}

TEST_F(PeltaRequestObjectTest, ProgressSignalsAtMostEveryThreeSecondsButChunksAtOnce)
{
    Renew();
    status->BeginTransfer(PeltaRequestObject::ActionUpload, QStringLiteral("\\docs\\a.txt"), 9, 10000);
    EXPECT_TRUE(tray->IsSignalled());
    tray->Reset();

    clock->Advance(1);
    status->UpdateTransferred(100);
    EXPECT_FALSE(tray->IsSignalled());
    EXPECT_EQ(status->CurrentTransfer().done, 100);

    clock->Advance(2);  // exactly 3 s: not yet
    status->UpdateTransferred(200);
    EXPECT_FALSE(tray->IsSignalled());

    clock->Advance(0.5);
    status->UpdateTransferred(300);
    EXPECT_TRUE(tray->IsSignalled());
    tray->Reset();

    clock->Advance(0.1);
    status->AddTransferred(1000);
    EXPECT_TRUE(tray->IsSignalled());
    tray->Reset();
    status->UpdateTransferred(50);  // on top of the finished chunk
    EXPECT_FALSE(tray->IsSignalled());
    EXPECT_EQ(status->CurrentTransfer().done, 1050);

    // A reset drops a signal not yet taken.
    tray->Set();
    status->ResetTransfer();
    EXPECT_FALSE(tray->IsSignalled());
}

TEST_F(PeltaRequestObjectTest, ANewTransferStartsFromZeroNotFromThePreviousChunks)
{
    Renew();
    status->BeginTransfer(PeltaRequestObject::ActionUpload, QStringLiteral("\\a"), 1, 10000);
    status->AddTransferred(5000);
    status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\b"), 2, 10000);
    status->UpdateTransferred(10);

    const auto transfer = status->CurrentTransfer();
    EXPECT_EQ(transfer.base, 0);
    EXPECT_EQ(transfer.done, 10);
    EXPECT_EQ(transfer.fileName, QStringLiteral("b"));
    EXPECT_EQ(transfer.requestId, 2);
}

TEST_F(PeltaRequestObjectTest, ResumeAtCountsOnlyThisRun)
{
    Renew();
    status->BeginTransfer(PeltaRequestObject::ActionDownload, QStringLiteral("\\a"), 1, 3 * MiB);
    status->ResumeAt(3 * MiB);  // not below the total
    status->ResumeAt(-1);
    EXPECT_EQ(status->CurrentTransfer().total, 3 * MiB);

    status->ResumeAt(MiB);
    EXPECT_EQ(status->CurrentTransfer().total, 2 * MiB);
    clock->Advance(10);
    status->UpdateTransferred(MiB);
    EXPECT_EQ(status->GetStatusText(), QStringLiteral("正在下載 \"a\" (102.4 KB/秒, 10 秒)"));
}

TEST_F(PeltaRequestObjectTest, SelfChangeMarksExpireAfterThreeSeconds)
{
    Renew();
    status->FileMon(QStringLiteral("\\a"), PeltaRequestObject::SelfChangeMark, false);
    clock->Advance(2.9);
    EXPECT_TRUE(status->IsFileMonitored(QStringLiteral("a")));
    EXPECT_TRUE(status->IsFileMonitored(QStringLiteral("\\a")));  // not consumed
    clock->Advance(0.6);
    EXPECT_FALSE(status->IsFileMonitored(QStringLiteral("\\a")));

    // The expired mark is gone: a new count of 2 taken back by 2 leaves nothing.
    status->FileMon(QStringLiteral("\\a"), 2, false);
    status->FileMon(QStringLiteral("\\a"), -2, false);
    EXPECT_FALSE(status->IsFileMonitored(QStringLiteral("\\a")));

    // A new mark refreshes the stamp.
    status->FileMon(QStringLiteral("\\r"), 1, false);
    clock->Advance(2);
    status->FileMon(QStringLiteral("\\r"), 1, false);
    clock->Advance(2);
    EXPECT_TRUE(status->IsFileMonitored(QStringLiteral("\\r")));
}

TEST_F(PeltaRequestObjectTest, SelfChangeCounts)
{
    Renew();
    status->FileMon(QStringLiteral("\\a"), 2, false);
    status->FileMon(QStringLiteral("\\a"), 3, false);
    status->FileMon(QStringLiteral("\\a"), -4, false);
    EXPECT_TRUE(status->IsFileMonitored(QStringLiteral("\\a")));  // 5 - 4 = 1
    status->FileMon(QStringLiteral("\\a"), -1, false);
    EXPECT_FALSE(status->IsFileMonitored(QStringLiteral("\\a")));

    // A negative count on an unknown path leaves no mark behind.
    status->FileMon(QStringLiteral("\\b"), -1, false);
    status->FileMon(QStringLiteral("\\b"), 1, false);
    EXPECT_TRUE(status->IsFileMonitored(QStringLiteral("\\b")));

    // set replaces the count; 0 forgets.
    status->FileMon(QStringLiteral("\\c"), 5, false);
    status->FileMon(QStringLiteral("\\c"), 1, true);
    status->FileMon(QStringLiteral("\\c"), -1, false);
    EXPECT_FALSE(status->IsFileMonitored(QStringLiteral("\\c")));
    status->FileMon(QStringLiteral("\\d"), PeltaRequestObject::SelfChangeMark, false);
    status->FileMon(QStringLiteral("\\d"), 0, false);
    EXPECT_FALSE(status->IsFileMonitored(QStringLiteral("\\d")));
}

TEST_F(PeltaRequestObjectTest, FolderAddMarksAreHandedOverOnceOlderThanFifteenSeconds)
{
    Renew();
    status->FolderAddMark(QStringLiteral("\\old"));
    clock->Advance(10);
    status->FolderAddMark(QStringLiteral("\\young"));
    clock->Advance(10);  // old: 20 s, young: 10 s
    EXPECT_EQ(status->FolderAddCount(), 2);

    EXPECT_EQ(status->TakeExpiredFolderAdds(), QStringList{QStringLiteral("\\old")});
    EXPECT_EQ(status->FolderAddCount(), 1);
    clock->Advance(6);
    status->FolderAddMark(QStringLiteral("\\again"));  // waits its own 15 s
    EXPECT_EQ(status->TakeExpiredFolderAdds(), QStringList{QStringLiteral("\\young")});
    EXPECT_EQ(status->FolderAddCount(), 1);
}

TEST_F(PeltaRequestObjectTest, CancellingOneTransferLeavesTheOthersRunning)
{
    Renew();
    const QString a = QStringLiteral("\\docs\\a.txt");
    const QString b = QStringLiteral("\\docs\\b.txt");
    const auto flagA = status->RegisterTransfer(a);
    const auto flagB = status->RegisterTransfer(b);

    EXPECT_TRUE(status->CancelTransfer(a));
    EXPECT_TRUE(flagA->load());
    EXPECT_FALSE(flagB->load());
    EXPECT_FALSE(status->CancelTransfer(QStringLiteral("\\docs\\c.txt")));

    // A later transfer of the same path does not inherit the cancel.
    const auto again = status->RegisterTransfer(a);
    EXPECT_FALSE(again->load());
    EXPECT_TRUE(flagA->load());

    status->RemoveTransfer(a);
    EXPECT_FALSE(status->HasTransfer(a));
    EXPECT_FALSE(status->CancelTransfer(a));
    EXPECT_FALSE(again->load());
    EXPECT_TRUE(status->HasTransfer(b));
}
