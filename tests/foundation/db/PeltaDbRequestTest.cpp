#include "foundation/Constants.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "tests/support/ProfileDbFixture.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <vector>

using namespace std::chrono_literals;

namespace {

PeltaRecVfsSyncFile File(const QString& key, const QString& path, int kind = XFSFile)
{
    PeltaRecVfsSyncFile record;
    record.kind = kind;
    record.key = key;
    record.sn = QStringLiteral("sn1");
    record.parent = QStringLiteral("\\");
    record.path = path;
    record.name = path.section(QLatin1Char('\\'), -1);
    record.version = QStringLiteral("v7");
    record.ctime = 90;
    record.mtime = 100;
    record.size = 12;
    return record;
}

const QString kRowColumns = QStringLiteral("action, status, err_count, priority, path, path2");

class PeltaDbRequestTest : public ProfileDbFixture {
protected:
    QStringList RequestRows()
    {
        return Rows(QStringLiteral("select ") + kRowColumns + QStringLiteral(" from sync_request order by rowid"));
    }

    // Takes rows in mode until none is left, closing each one taken.
    QStringList TakeAll(int mode)
    {
        QStringList keys;
        PeltaRecSyncRequest request;
        while (keys.size() < 100 && db_->GetNextRequest(request, mode)) {
            keys << request.key;
            Close(request.rowid);
        }
        return keys;
    }

    void Close(int rowid)
    {
        Run(QStringLiteral("update sync_request set status=8, commit_time=CURRENT_TIMESTAMP where rowid=%1")
                .arg(rowid));
    }
};

// The rules for adding and cancelling rows: what is added, with which status,
// priority and options, and what happens to the rows already there.
TEST_F(PeltaDbRequestTest, RowsAreAddedAndCancelledByTheRulesOfTheirAction)
{
    const auto add = [](int action, bool low = false) {
        return [action, low](PeltaDb& db, XMap& extra) {
            return db.AddSyncRequestTo(File("k1", "\\a.txt"), action, low, nullptr, extra);
        };
    };
    const auto move = [](int action, bool withOld) {
        return [action, withOld](PeltaDb& db, XMap& extra) {
            const int kind = action == XSYNCFolderMove ? XFSFolder : XFSFile;
            const PeltaRecVfsSyncFile old = File("k0", "\\a.txt", kind);
            return db.AddSyncRequestTo(File("k1", "\\b\\a.txt", kind), action, false, withOld ? &old : nullptr, extra);
        };
    };
    const auto rowsOfEveryAction = [](PeltaDb& db) {
        for (const int action : {XSYNCFileAdd, XSYNCFileMod, XSYNCFileGet, XSYNCFileDel})
            db.AddSyncRequest(File("k1", "\\a.txt"), action, false);
        db.AddSyncRequest(File("k2", "\\b"), XSYNCFileAdd, false);
        db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileAdd, false);
        db.Exec("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP where rowid=6");
    };
    const QStringList everyAction = {"1|1|0|0|\\a.txt|", "2|1|0|0|\\a.txt|", "5|5|0|0|\\a.txt|",
                                     "3|1|0|0|\\a.txt|", "1|1|0|0|\\b|",     "1|4|0|0|\\a.txt|"};

    struct Case {
        const char* label;
        std::function<void(PeltaDb&)> before;
        std::function<bool(PeltaDb&, XMap&)> act;
        XMap extra;
        bool result;
        QStringList rows;  // kRowColumns of every row, in insertion order
        QString lastOpt;   // opt of the last row, when given
    };
    const std::vector<Case> cases = {
        {"file add",
         {},
         add(XSYNCFileAdd),
         {},
         true,
         {"1|1|0|0|\\a.txt|"},
         R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0","size":"12","upload_type":"postFile2"})"},
        {"file modification, low priority",
         {},
         add(XSYNCFileMod, true),
         {},
         true,
         {"2|1|0|1|\\a.txt|"},
         R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0","size":"12","upload_type":"postFile2",)"
         R"("version":"v7"})"},
        {"file deletion keeps extra pairs",
         {},
         add(XSYNCFileDel),
         {{"z", "1"}},
         true,
         {"3|1|0|0|\\a.txt|"},
         R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0","z":"1"})"},
        {"folder add",
         {},
         add(XSYNCFolderAdd),
         {},
         true,
         {"6|1|0|0|\\a.txt|"},
         R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0"})"},
        {"folder deletion",
         {},
         add(XSYNCFolderDel),
         {},
         true,
         {"8|1|0|0|\\a.txt|"},
         R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0"})"},
        {"another action has no pairs of its own",
         {},
         add(XSYNCFolderGet),
         {{"x", "y"}},
         true,
         {"10|1|0|0|\\a.txt|"},
         R"({"x":"y"})"},
        {"file move: the action's pairs win over extra ones",
         {},
         move(XSYNCFileMove, true),
         {{"local_mtime", "1"}, {"total_move_size", "5"}},
         true,
         {"4|1|0|0|\\b\\a.txt|\\a.txt"},
         R"({"local_mtime":"100","my_base64_dest_full_path_name":"L2IvYS50eHQ=",)"
         R"("my_base64_orig_full_path_name":"L2EudHh0","total_move_size":"5"})"},
        {"folder move",
         {},
         move(XSYNCFolderMove, true),
         {{"total_move_inode", "3"}},
         true,
         {"9|1|0|0|\\b\\a.txt|\\a.txt"},
         R"({"local_mtime":"100","my_base64_dest_full_path_name":"L2IvYS50eHQ=",)"
         R"("my_base64_orig_full_path_name":"L2EudHh0","total_move_inode":"3"})"},
        {"file move without its old record", {}, move(XSYNCFileMove, false), {{"a", "b"}}, false, {}, {}},
        {"folder move without its old record", {}, move(XSYNCFolderMove, false), {}, false, {}, {}},
        {"a download is added to be transferred", {}, add(XSYNCFileGet), {}, true, {"5|5|0|0|\\a.txt|"}, "{}"},
        {"a second download while the first is open",
         [](PeltaDb& db) { db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileGet, false); },
         add(XSYNCFileGet),
         {},
         false,
         {"5|5|0|0|\\a.txt|"},
         {}},
        {"a second download after the first failed",
         [](PeltaDb& db) {
             db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileGet, false);
             db.Exec("update sync_request set err_count=1");
         },
         add(XSYNCFileGet),
         {},
         true,
         {"5|5|1|0|\\a.txt|", "5|5|0|0|\\a.txt|"},
         {}},
        {"a modification replaces only the one not yet started",
         [](PeltaDb& db) {
             db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileMod, false);
             db.Exec("update sync_request set err_count=1 where rowid=1");
             db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileMod, false);
             db.Exec("update sync_request set status=3 where rowid=2");
             db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileMod, false);
             db.AddSyncRequest(File("k2", "\\b"), XSYNCFileMod, false);
         },
         add(XSYNCFileMod),
         {},
         true,
         {"2|1|1|0|\\a.txt|", "2|3|0|0|\\a.txt|", "2|12|0|0|\\a.txt|", "2|1|0|0|\\b|", "2|1|0|0|\\a.txt|"},
         {}},
        {"a modification with mtime 0 adds and replaces nothing",
         [](PeltaDb& db) { db.AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileMod, false); },
         [](PeltaDb& db, XMap& extra) {
             PeltaRecVfsSyncFile record = File("k1", "\\a.txt");
             record.mtime = 0;
             return db.AddSyncRequestTo(record, XSYNCFileMod, false, nullptr, extra);
         },
         {{"a", "b"}},
         false,
         {"2|1|0|0|\\a.txt|"},
         {}},
        {"a folder modification is never added", {}, add(XSYNCFolderMod), {}, false, {}, {}},
        {"an empty key",
         {},
         [](PeltaDb& db, XMap& extra) {
             return db.AddSyncRequestTo(File("", "\\a.txt"), XSYNCFileAdd, false, nullptr, extra);
         },
         {{"a", "b"}},
         false,
         {},
         {}},
        {"an empty path",
         {},
         [](PeltaDb& db, XMap& extra) {
             return db.AddSyncRequestTo(File("k1", ""), XSYNCFileAdd, false, nullptr, extra);
         },
         {},
         false,
         {},
         {}},
        {"cancelling an add cancels the path's open adds, modifications and downloads",
         rowsOfEveryAction,
         [](PeltaDb& db, XMap&) { return db.CancelPathRequests("\\a.txt", XSYNCFileAdd); },
         {},
         true,
         {"1|12|0|0|\\a.txt|", "2|12|0|0|\\a.txt|", "5|12|0|0|\\a.txt|", "3|1|0|0|\\a.txt|", "1|1|0|0|\\b|",
          "1|4|0|0|\\a.txt|"},
         {}},
        {"cancelling a deletion cancels only the path's open deletions",
         rowsOfEveryAction,
         [](PeltaDb& db, XMap&) { return db.CancelPathRequests("\\a.txt", XSYNCFileDel); },
         {},
         true,
         {"1|1|0|0|\\a.txt|", "2|1|0|0|\\a.txt|", "5|5|0|0|\\a.txt|", "3|12|0|0|\\a.txt|", "1|1|0|0|\\b|",
          "1|4|0|0|\\a.txt|"},
         {}},
        {"cancelling everything leaves committed rows",
         rowsOfEveryAction,
         [](PeltaDb& db, XMap&) { return db.CancelAllRequests(); },
         {},
         true,
         {"1|12|0|0|\\a.txt|", "2|12|0|0|\\a.txt|", "5|12|0|0|\\a.txt|", "3|12|0|0|\\a.txt|", "1|12|0|0|\\b|",
          "1|4|0|0|\\a.txt|"},
         {}},
    };
    // The rows the cancel cases start from.
    rowsOfEveryAction(*db_);
    ASSERT_EQ(Lines(RequestRows()), Lines(everyAction));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Run(QStringLiteral("delete from sync_request"));
        if (c.before)
            c.before(*db_);
        XMap extra = c.extra;
        EXPECT_EQ(c.act(*db_, extra), c.result);
        EXPECT_TRUE(extra.empty());
        EXPECT_EQ(Lines(RequestRows()), Lines(c.rows));
        if (!c.lastOpt.isEmpty()) {
            EXPECT_EQ(Lines(Rows(QStringLiteral("select opt from sync_request order by rowid desc limit 1"))),
                      c.lastOpt.toStdString());
        }
    }
    EXPECT_EQ(Lines(Rows(QStringLiteral("select distinct agent_key, sn from sync_request"))),
              (AgentKey + QStringLiteral("|sn1")).toStdString());
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join(QLatin1Char('\n')).toStdString();
}

TEST_F(PeltaDbRequestTest, RequestPendingLooksAtOpenRowsOfTheAction)
{
    const QString path = QStringLiteral("\\p's");
    ASSERT_TRUE(db_->AddSyncRequest(File("k1", path), XSYNCFileAdd, false));  // rowid 1
    ASSERT_TRUE(db_->AddSyncRequest(File("k1", path), XSYNCFileDel, false));  // rowid 2
    ASSERT_TRUE(db_->AddSyncRequest(File("k1", path), XSYNCFileMod, false));  // rowid 3, status 6 below
    Run(QStringLiteral("update sync_request set status=6 where rowid=3"));

    struct Case {
        const char* label;
        QString path;
        int action;
        int excludeRowid;
        bool pending;
    };
    const Case cases[] = {
        {"any action", path, XSYNCNOP, 0, true},
        {"add or modification", path, XSYNCFileMod, 0, true},
        {"add or modification, the add excluded (the modification is past status 4)", path, XSYNCFileAdd, 1, false},
        {"deletion", path, XSYNCFileDel, 0, true},
        {"deletion, itself excluded", path, XSYNCFileDel, 2, false},
        {"another action", path, XSYNCFolderDel, 0, false},
        {"another path", QStringLiteral("\\p"), XSYNCNOP, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(db_->RequestPending(c.path, c.action, c.excludeRowid), c.pending);
    }
    EXPECT_TRUE(db_->CountPendingRequests());
    Run(QStringLiteral("update sync_request set commit_time=CURRENT_TIMESTAMP"));
    EXPECT_FALSE(db_->RequestPending(path, XSYNCNOP, 0));
    EXPECT_FALSE(db_->CountPendingRequests());
}

TEST_F(PeltaDbRequestTest, TakenRowIsReadAsStoredAndStamped)
{
    ASSERT_TRUE(db_->AddSyncRequest(File("k1", "\\a.txt"), XSYNCFileMod, true));
    Run(
        QStringLiteral("update sync_request set path2='\\old', status=3, sync_journal_key='j''1', "
                       "sync_journal_key_checksum='c1', update_time='2000-01-01 00:00:00'"));

    PeltaRecSyncRequest request;
    request.version = QStringLiteral("kept");
    request.sync_journal_key_expire = 9;
    ASSERT_TRUE(db_->GetNextRequest(request, 2));
    EXPECT_EQ(request.rowid, 1);
    EXPECT_EQ(request.key, QStringLiteral("k1"));
    EXPECT_EQ(request.path, QStringLiteral("\\a.txt"));
    EXPECT_EQ(request.path2, QStringLiteral("\\old"));
    EXPECT_EQ(request.sn, QStringLiteral("sn1"));
    EXPECT_EQ(request.agent_key, AgentKey);
    EXPECT_EQ(request.action, XSYNCFileMod);
    EXPECT_EQ(request.opt, PeltaDb::BuildRequestOpt(File("k1", "\\a.txt"), XSYNCFileMod));
    EXPECT_EQ(request.status, 3);
    EXPECT_EQ(request.err_count, 0);
    EXPECT_EQ(request.sync_journal_key, QStringLiteral("j'1"));
    EXPECT_EQ(request.sync_journal_key_checksum, QStringLiteral("c1"));
    EXPECT_EQ(request.priority, 1);
    EXPECT_EQ(request.version, QStringLiteral("kept"));
    EXPECT_EQ(request.sync_journal_key_expire, 9);
    EXPECT_EQ(Number(QStringLiteral("select update_time >= datetime('now', '-5 second') from sync_request")), 1);
}

TEST_F(PeltaDbRequestTest, ModesTakeTheirStatusesOnly)
{
    struct Case {
        int mode;
        QStringList keys;
    };
    const Case cases[] = {
        {1, {"s5", "s6", "s7"}},
        {2, {"s1", "s3", "s5", "s6", "s7"}},
        {0, {"s1", "s3"}},
        {9, {"s1", "s3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Run(QStringLiteral("delete from sync_request"));
        for (const int status : {1, 3, 4, 5, 6, 7, 8, 12}) {
            ASSERT_TRUE(db_->AddSyncRequest(File(QStringLiteral("s%1").arg(status), "\\a"), XSYNCFileAdd, false));
            Run(QStringLiteral("update sync_request set status=%1 where rowid=last_insert_rowid()").arg(status));
        }
        EXPECT_EQ(Lines(TakeAll(c.mode)), Lines(c.keys));
    }
}

TEST_F(PeltaDbRequestTest, FreshRowsGoByPriorityThenAgeThenInsertion)
{
    ASSERT_TRUE(db_->AddSyncRequest(File("old-low", "\\a"), XSYNCFileAdd, true));
    Run(QStringLiteral("update sync_request set request_time='2000-01-01 00:00:00'"));
    for (int n = 0; n < 5; ++n)
        ASSERT_TRUE(db_->AddSyncRequest(File(QStringLiteral("same%1").arg(n), "\\b"), XSYNCFileAdd, false));
    ASSERT_TRUE(db_->AddSyncRequest(File("older", "\\c"), XSYNCFileAdd, false));
    Run(QStringLiteral("update sync_request set request_time='2020-01-01 00:00:00' where key like 'same%'"));
    Run(QStringLiteral("update sync_request set request_time='2019-01-01 00:00:00' where key='older'"));

    EXPECT_EQ(Lines(TakeAll(2)), Lines({"older", "same0", "same1", "same2", "same3", "same4", "old-low"}));
}

TEST_F(PeltaDbRequestTest, FailedRowsWaitTheirRetryDelayMostFailedFirst)
{
    ASSERT_TRUE(db_->AddSyncRequest(File("once", "\\a"), XSYNCFileAdd, false));
    ASSERT_TRUE(db_->AddSyncRequest(File("thrice", "\\b"), XSYNCFileAdd, false));
    Run(QStringLiteral(
        "update sync_request set err_count=1, update_time=datetime('now', '-5 second') where key='once'"));
    Run(QStringLiteral(
        "update sync_request set err_count=3, update_time=datetime('now', '-5 second') where key='thrice'"));

    PeltaRecSyncRequest request;
    EXPECT_FALSE(db_->GetNextRequest(request, 2));

    Run(QStringLiteral("update sync_request set update_time=datetime('now', '-41 second')"));
    ASSERT_TRUE(db_->GetNextRequest(request, 2));
    EXPECT_EQ(request.key, QStringLiteral("thrice"));
    EXPECT_EQ(request.err_count, 3);
    ASSERT_TRUE(db_->GetNextRequest(request, 2));
    EXPECT_EQ(request.key, QStringLiteral("once"));
    // Taking stamped both rows: they wait again.
    EXPECT_FALSE(db_->GetNextRequest(request, 2));

    // A fresh row never waits behind failed ones.
    Run(QStringLiteral("update sync_request set update_time=NULL"));
    ASSERT_TRUE(db_->AddSyncRequest(File("fresh", "\\c"), XSYNCFileAdd, false));
    ASSERT_TRUE(db_->GetNextRequest(request, 2));
    EXPECT_EQ(request.key, QStringLiteral("fresh"));
}

// The retry delay doubles from 10 s with every failure up to 10 min, and a
// row that failed very often still gets its turn after 10 min.
TEST_F(PeltaDbRequestTest, TheRetryDelayGrowsWithTheFailuresUpToTenMinutes)
{
    struct Case {
        int errCount;
        int delaySeconds;
    };
    const Case cases[] = {{1, 10}, {2, 20}, {3, 40}, {4, 80}, {6, 320}, {7, 600}, {12, 600}, {1000, 600}};
    ASSERT_TRUE(db_->AddSyncRequest(File("k", "\\a"), XSYNCFileAdd, false));
    PeltaRecSyncRequest request;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errCount);
        const auto failedAgo = [&](int seconds) {
            Run(QStringLiteral("update sync_request set err_count=%1, update_time=datetime('now', '-%2 second')")
                    .arg(c.errCount)
                    .arg(seconds));
        };
        failedAgo(c.delaySeconds - 2);
        EXPECT_FALSE(db_->GetNextRequest(request, 2));
        failedAgo(c.delaySeconds + 1);
        EXPECT_TRUE(db_->GetNextRequest(request, 2));
    }
}

// One thread adds rows while another takes and closes them, each on its own
// connection, with the statements' pause in place.
TEST_F(PeltaDbRequestTest, ConcurrentAddingAndTakingLosesNothing)
{
    Lithos::SQLiteStatement::SetPauseDuration(1ms);
    constexpr int kRows = 150;

    auto adder = std::async(std::launch::async, [this] {
        const auto db = NewDb();
        int added = 0;
        for (int n = 0; n < kRows; ++n)
            added += db->AddSyncRequest(File(QStringLiteral("k%1").arg(n), QStringLiteral("\\f%1").arg(n)),
                                        XSYNCFileAdd, n % 2 == 1);
        return added;
    });
    auto taker = std::async(std::launch::async, [this] {
        const auto db = NewDb();
        QStringList taken;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        PeltaRecSyncRequest request;
        while (taken.size() < kRows && std::chrono::steady_clock::now() < deadline) {
            db->CountPendingRequests();
            if (!db->GetNextRequest(request, 2))
                continue;
            taken << request.key;
            db->Exec(QStringLiteral("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP where rowid=%1")
                         .arg(request.rowid));
        }
        return taken;
    });
    if (adder.wait_for(90s) != std::future_status::ready || taker.wait_for(90s) != std::future_status::ready) {
        std::fputs("PeltaDbRequestTest: adding and taking rows did not finish (deadlock)\n", stderr);
        std::abort();
    }
    EXPECT_EQ(adder.get(), kRows);
    const QStringList taken = taker.get();
    EXPECT_EQ(taken.size(), kRows);
    EXPECT_EQ(QSet<QString>(taken.begin(), taken.end()).size(), kRows);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request")), kRows);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where commit_time is null")), 0);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join(QLatin1Char('\n')).toStdString();
}

}  // namespace
