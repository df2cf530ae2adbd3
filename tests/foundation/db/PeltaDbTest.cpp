#include "foundation/db/LithosSQLiteDatabase.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/text/PeltaJSON.h"
#include "tests/support/ProfileDbFixture.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kFiveGiB = std::int64_t(5) << 30;

// The layout every file has after the upgrades, as "name:declared type".
const QStringList kFileColumns = {"key:VARCHAR(32)", "sn:VARCHAR(32)", "parent:VARCHAR(32)",
                                  "name:TEXT",       "path:TEXT",      "version:VARCHAR(32)",
                                  "ctime:INT",       "mtime:INT",      "size:UNSIGNED BIG INT",
                                  "crc:VARCHAR(8)",  "isSynced:INT"};
const QStringList kFolderColumns = {"key:VARCHAR(32)", "sn:VARCHAR(32)", "parent:VARCHAR(32)",
                                    "name:TEXT",       "path:TEXT",      "version:VARCHAR(32)",
                                    "ctime:INT",       "mtime:INT",      "crc:VARCHAR(8)"};
const QStringList kRequestColumns = {"key:VARCHAR(32)",
                                     "path:TEXT",
                                     "path2:TEXT",
                                     "sn:VARCHAR(32)",
                                     "agent_key:VARCHAR(32)",
                                     "request_time:INT",
                                     "commit_time:INT",
                                     "update_time:INT",
                                     "action:INT",
                                     "opt:TEXT",
                                     "status:INT",
                                     "server_response:INT",
                                     "sync_journal_key:VARCHAR(32)",
                                     "sync_journal_key_checksum:VARCHAR(32)",
                                     "sync_journal_key_expire:INT",
                                     "err_count:INT",
                                     "priority:INT"};
const QStringList kLogColumns = {"key:VARCHAR(32)", "level:INT", "time:INT", "desc:TEXT"};

const QStringList kStepOneIndexes = {"idx_sync_request_1",  "idx_sync_request_2",    "idx_vfs_sync_file_1",
                                     "idx_vfs_sync_file_2", "idx_vfs_sync_folder_1", "idx_vfs_sync_folder_2"};
// Made on every open, whatever the upgrade steps did.
const QStringList kOpenIndexes = {"idx_sync_request_open", "idx_vfs_sync_file_parent", "idx_vfs_sync_folder_parent"};

const QStringList kStepOne = {
    "alter table vfs_sync_file add column crc VARCHAR(8);",
    "alter table vfs_sync_file add column isSynced int default 0;",
    "create index if not exists idx_vfs_sync_file_1 on vfs_sync_file (key, parent);",
    "create index if not exists idx_vfs_sync_file_2 on vfs_sync_file (path);",
    "create index if not exists idx_vfs_sync_folder_1 on vfs_sync_folder (key, parent);",
    "create index if not exists idx_vfs_sync_folder_2 on vfs_sync_folder (path);",
    "create index if not exists idx_sync_request_1 on sync_request (key);",
    "create index if not exists idx_sync_request_2 on sync_request (path);",
};

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

PeltaRecVfsSyncFile Record(int kind, const QString& key, const QString& path)
{
    PeltaRecVfsSyncFile record;
    record.kind = kind;
    record.key = key;
    record.sn = QStringLiteral("sn1");
    record.parent = QStringLiteral("\\");
    record.name = path.section(QLatin1Char('\\'), -1);
    record.path = path;
    record.version = kind == XFSFile ? QStringLiteral("v1") : QString();
    record.ctime = 10;
    record.mtime = 20;
    record.size = kind == XFSFile ? 30 : 0;
    return record;
}

// The stored fields that RecGet gives back, for comparing two records.
std::string Fields(const PeltaRecVfsSyncFile& record)
{
    return QStringList{record.key,
                       record.sn,
                       record.parent,
                       record.name,
                       record.path,
                       record.version,
                       QString::number(record.ctime),
                       QString::number(record.mtime),
                       QString::number(record.size)}
        .join(QLatin1Char('|'))
        .toStdString();
}

class PeltaDbTest : public ProfileDbFixture {
protected:
    QStringList Columns(const QString& table)
    {
        QStringList columns;
        for (const QString& row : Rows(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
            const QStringList cells = row.split(QLatin1Char('|'));
            columns << cells[1] + QLatin1Char(':') + cells[2];
        }
        return columns;
    }

    QStringList Indexes()
    {
        QStringList names;
        for (const char* table : {"vfs_sync_file", "vfs_sync_folder", "sync_request", "log"}) {
            for (const QString& row : Rows(QStringLiteral("PRAGMA index_list(%1)").arg(QLatin1String(table))))
                names << row.split(QLatin1Char('|'))[1];
        }
        return Sorted(names);
    }

    void ExpectCurrentLayout(const QStringList& indexes)
    {
        EXPECT_EQ(Lines(Columns(QStringLiteral("vfs_sync_file"))), Lines(kFileColumns));
        EXPECT_EQ(Lines(Columns(QStringLiteral("vfs_sync_folder"))), Lines(kFolderColumns));
        EXPECT_EQ(Lines(Columns(QStringLiteral("sync_request"))), Lines(kRequestColumns));
        EXPECT_EQ(Lines(Columns(QStringLiteral("log"))), Lines(kLogColumns));
        EXPECT_EQ(Lines(Indexes()), Lines(Sorted(indexes)));
    }

    QStringList Schema() { return Rows(QStringLiteral("select type, name, sql from sqlite_master order by name")); }

    PeltaRecVfsSyncFile Get(int kind, const QString& key, const QString& path)
    {
        PeltaRecVfsSyncFile record;
        record.kind = kind;
        record.key = key;
        record.path = path;
        EXPECT_TRUE(db_->RecGet(record)) << path.toStdString() << key.toStdString();
        EXPECT_TRUE(record.found);
        EXPECT_FALSE(record.error);
        return record;
    }
};

TEST_F(PeltaDbTest, NewFileHasTheUpgradedLayoutAndParentListingsUseAnIndex)
{
    EXPECT_TRUE(QFile::exists(DbPath()));
    ExpectCurrentLayout(kStepOneIndexes + kOpenIndexes);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sqlite_master where type='table'")), 4);

    for (const char* table : {"vfs_sync_file", "vfs_sync_folder"}) {
        const QStringList plan =
            Rows(QStringLiteral("explain query plan select * from %1 where parent='abc'").arg(QLatin1String(table)));
        ASSERT_EQ(plan.size(), 1);
        EXPECT_TRUE(plan[0].contains(QStringLiteral("USING INDEX idx_%1_parent (parent=?)").arg(QLatin1String(table))))
            << plan[0].toStdString();
    }
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join(QLatin1Char('\n')).toStdString();
}

// Old files: the four tables as first made, then as left by each earlier
// upgrade. Opening adds exactly what is missing and keeps the rows.
TEST_F(PeltaDbTest, OpeningAnOldFileAddsOnlyWhatIsMissing)
{
    struct Case {
        const char* label;
        QStringList afterTables;  // run on the old file after the four CREATE TABLE texts
        QStringList indexes;      // expected afterwards
    };
    const std::vector<Case> cases = {
        {"first layout", {}, kStepOneIndexes + kOpenIndexes},
        {"file crc, no priority", kStepOne, kStepOneIndexes + kOpenIndexes},
        {"priority, no folder crc",
         kStepOne + QStringList{"alter table sync_request add column priority int default 0;"},
         kStepOneIndexes + kOpenIndexes},
        // crc present without the indexes of its step: that step is not run again.
        {"file crc only",
         {"alter table vfs_sync_file add column crc VARCHAR(8);",
          "alter table vfs_sync_file add column isSynced int default 0;"},
         kOpenIndexes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        db_.reset();
        ASSERT_TRUE(QFile::remove(DbPath()));
        {
            Lithos::SQLiteDatabase old(QFile::encodeName(DbPath()).toStdString(),
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            Lithos::SQLiteStatement statement(&old);
            for (const QString& sql : QStringList{PeltaDb::CreateFileTableSql, PeltaDb::CreateFolderTableSql,
                                                  PeltaDb::CreateRequestTableSql, PeltaDb::CreateLogTableSql} +
                                          c.afterTables)
                statement.ExecuteOnce(sql);
            statement.ExecuteOnce(
                QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, version, ctime, mtime, size) "
                               "values ('k1', 's1', '\\', 'a', '\\a', 'v', 1, 2, 3)"));
            statement.ExecuteOnce(
                QStringLiteral("insert into sync_request (key, path, sn, agent_key, action, status) values ('k1', "
                               "'\\a', 's1', 'ag', 1, 1)"));
        }

        db_ = NewDb();
        ExpectCurrentLayout(c.indexes);
        EXPECT_EQ(Lines(Rows(QStringLiteral("select key, sn, parent, name, path, version, ctime, mtime, size, crc, "
                                            "isSynced from vfs_sync_file"))),
                  "k1|s1|\\|a|\\a|v|1|2|3|NULL|0");
        EXPECT_EQ(Lines(Rows(QStringLiteral("select key, action, status, priority from sync_request"))), "k1|1|1|0");

        // Upgrading again, by hand or by another object, changes nothing.
        const QStringList before = Schema();
        db_->Migrate();
        NewDb();
        EXPECT_EQ(Lines(Schema()), Lines(before));
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(QLatin1Char('\n')).toStdString();
    }
}

// Every text written into SQL, whatever its quotes, reads back as given,
// through the record and the request operations alike.
TEST_F(PeltaDbTest, TextsWithQuotesRoundTripThroughEveryOperation)
{
    const QString texts[] = {QStringLiteral("it's"), QStringLiteral("two''quotes"), QStringLiteral("'"),
                             QStringLiteral("end'")};
    for (const int kind : {int(XFSFile), int(XFSFolder)}) {
        for (const QString& text : texts) {
            SCOPED_TRACE(text.toStdString() + (kind == XFSFile ? " file" : " folder"));
            PeltaRecVfsSyncFile record = Record(kind, QStringLiteral("key") + text, QStringLiteral("\\d\\") + text);
            record.sn = QStringLiteral("sn") + text;
            record.parent = QStringLiteral("parent") + text;
            if (kind == XFSFile)
                record.version = QStringLiteral("v") + text;
            ASSERT_TRUE(db_->RecInsert(record));
            EXPECT_TRUE(db_->RecExists(record.path, kind));
            EXPECT_EQ(Fields(Get(kind, QString(), record.path)), Fields(record));
            EXPECT_EQ(Fields(Get(kind, record.key, QString())), Fields(record));
            EXPECT_EQ(db_->GetFieldByPath(record.path, QStringLiteral("key"), kind), record.key);
            EXPECT_EQ(db_->GetFieldByKey(record.key, QStringLiteral("sn"), kind), record.sn);

            record.name = text + QStringLiteral("2");
            record.path = QStringLiteral("\\e\\") + record.name;
            record.parent = QStringLiteral("other") + text;
            if (kind == XFSFile)
                record.version = text + QStringLiteral("v2");
            ASSERT_TRUE(db_->RecUpdate(record));
            EXPECT_EQ(Fields(Get(kind, QString(), record.path)), Fields(record));

            ASSERT_TRUE(db_->RecUpdateFields(record.key, kind, {{QStringLiteral("name"), text + QStringLiteral("3")}}));
            record.name = text + QStringLiteral("3");
            EXPECT_EQ(Fields(Get(kind, QString(), record.path)), Fields(record));

            const QString oldKey = record.key;
            record.key = QStringLiteral("new") + text;
            record.path = QStringLiteral("\\f\\") + text;
            record.parent = QStringLiteral("p3") + text;
            ASSERT_TRUE(db_->RecMove(oldKey, record.path, kind, record.parent, record.key));
            EXPECT_EQ(Fields(Get(kind, record.key, QString())), Fields(record));

            // Requests: a move carries both paths and the extra pairs.
            PeltaRecVfsSyncFile old = record;
            old.path = QStringLiteral("\\old\\") + text;
            XMap extra = {{QStringLiteral("note"), text}};
            const int action = kind == XFSFile ? XSYNCFileMove : XSYNCFolderMove;
            ASSERT_TRUE(db_->AddSyncRequestTo(record, action, false, &old, extra));
            EXPECT_TRUE(db_->RequestPending(record.path, action, 0));
            PeltaRecSyncRequest request;
            ASSERT_TRUE(db_->GetNextRequest(request, 2));
            EXPECT_EQ(request.key, record.key);
            EXPECT_EQ(request.sn, record.sn);
            EXPECT_EQ(request.path, record.path);
            EXPECT_EQ(request.path2, old.path);
            EXPECT_EQ(PeltaJSON::ParseToMap(request.opt)[QStringLiteral("note")], text);
            ASSERT_TRUE(db_->CancelPathRequests(record.path, action));
            EXPECT_FALSE(db_->RequestPending(record.path, 0, 0));

            ASSERT_TRUE(db_->RecDelete(record.path, kind));
            EXPECT_FALSE(db_->RecExists(record.path, kind));
        }
    }
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join(QLatin1Char('\n')).toStdString();
}

TEST_F(PeltaDbTest, SizesKeepAllSixtyFourBits)
{
    PeltaRecVfsSyncFile record = Record(XFSFile, QStringLiteral("k"), QStringLiteral("\\big.iso"));
    record.size = kFiveGiB;
    ASSERT_TRUE(db_->RecInsert(record));
    EXPECT_EQ(Get(XFSFile, QString(), record.path).size, kFiveGiB);

    record.size = kFiveGiB + 7;
    ASSERT_TRUE(db_->RecUpdate(record));
    EXPECT_EQ(Get(XFSFile, QStringLiteral("k"), QString()).size, kFiveGiB + 7);
    EXPECT_EQ(Lines(Rows(QStringLiteral("select typeof(size), size from vfs_sync_file"))), "integer|5368709127");
}

TEST_F(PeltaDbTest, RecAddInsertsOnceThenSkipsOrUpdates)
{
    // A record without a kind is a file, also when looking for its row.
    PeltaRecVfsSyncFile record = Record(XFSNone, QStringLiteral("k"), QStringLiteral("\\a.txt"));
    EXPECT_TRUE(db_->RecAdd(record, false));
    EXPECT_EQ(record.kind, XFSFile);

    PeltaRecVfsSyncFile again = Record(XFSNone, QStringLiteral("k"), QStringLiteral("\\a.txt"));
    again.mtime = 99;
    EXPECT_FALSE(db_->RecAdd(again, false));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 1);
    EXPECT_EQ(Get(XFSFile, QString(), record.path).mtime, 20);

    again.kind = XFSNone;
    EXPECT_TRUE(db_->RecAdd(again, true));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 1);
    EXPECT_EQ(Get(XFSFile, QString(), record.path).mtime, 99);

    // The same path as a folder is another row.
    PeltaRecVfsSyncFile folder = Record(XFSFolder, QStringLiteral("f"), QStringLiteral("\\a.txt"));
    EXPECT_TRUE(db_->RecAdd(folder, false));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 1);
    EXPECT_TRUE(Messages().isEmpty());
}

// Engines on several threads, each on its own connection, add the same
// paths at once: each path gets one record.
TEST_F(PeltaDbTest, ConcurrentRecAddsMakeOneRecordPerPath)
{
    constexpr int kPaths = 60;
    constexpr int kWriters = 4;
    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(0));
    std::vector<std::unique_ptr<PeltaDb>> dbs;
    for (int index = 0; index < kWriters; ++index)
        dbs.push_back(NewDb());
    std::latch start(kWriters);
    std::vector<std::thread> writers;
    for (int index = 0; index < kWriters; ++index) {
        writers.emplace_back([&, index] {
            start.arrive_and_wait();
            for (int n = 0; n < kPaths; ++n) {
                PeltaRecVfsSyncFile record =
                    Record(XFSFile, QStringLiteral("k%1").arg(n), QStringLiteral("\\f%1.txt").arg(n));
                dbs[std::size_t(index)]->RecAdd(record, true);
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), kPaths);
    EXPECT_EQ(Number(QStringLiteral("select count(distinct path) from vfs_sync_file")), kPaths);
}

TEST_F(PeltaDbTest, RecGetOfAMissingRowIsNotFoundWithoutError)
{
    PeltaRecVfsSyncFile record = Record(XFSFile, QStringLiteral("nokey"), QStringLiteral("\\none"));
    EXPECT_FALSE(db_->RecGet(record));
    EXPECT_FALSE(record.found);
    EXPECT_FALSE(record.error);
}

TEST_F(PeltaDbTest, FailedWritesAndReadsAreReportedNotHidden)
{
    PeltaRecVfsSyncFile record = Record(XFSFile, QStringLiteral("k"), QStringLiteral("\\a"));
    ASSERT_TRUE(db_->RecInsert(record));
    Run(QStringLiteral("drop table vfs_sync_file"));

    EXPECT_FALSE(db_->RecInsert(record));
    EXPECT_FALSE(db_->RecUpdate(record));
    EXPECT_THROW(db_->RecAdd(record, true), Lithos::SQLiteException);  // the existence test fails
    EXPECT_FALSE(db_->RecGet(record));
    EXPECT_TRUE(record.error);
    EXPECT_FALSE(record.found);
    EXPECT_FALSE(Messages().isEmpty());

    PeltaRecVfsSyncFile odd = Record(7, QStringLiteral("k"), QStringLiteral("\\a"));
    EXPECT_FALSE(db_->RecInsert(odd));
    EXPECT_FALSE(db_->RecUpdate(odd));
}

TEST_F(PeltaDbTest, FolderKeysReadEmptyKeysAsTheRootParent)
{
    Run(
        QStringLiteral("insert into vfs_sync_folder (key, sn, parent, name, path, ctime, mtime) values "
                       "('', 's', '\\', 'e', '\\e', 0, 0), (x'61', 's', '\\', 'n', '\\n', 0, 0), "
                       "('abc', 's', '\\', 'k', '\\k', 0, 0)"));
    EXPECT_EQ(db_->GetFolderKey(QStringLiteral("\\missing")), QString());
    EXPECT_EQ(db_->GetFolderKey(QStringLiteral("\\e")), QStringLiteral("\\"));
    EXPECT_EQ(db_->GetFolderKey(QStringLiteral("\\n")), QStringLiteral("\\"));
    EXPECT_EQ(db_->GetFolderKey(QStringLiteral("\\k")), QStringLiteral("abc"));
    // Only the folder-key read turns an empty key into the root parent.
    EXPECT_EQ(db_->GetFieldByPath(QStringLiteral("\\e"), QStringLiteral("name"), XFSFolder), QStringLiteral("e"));
    EXPECT_EQ(db_->GetFieldByKey(QString(), QStringLiteral("path"), XFSFolder), QStringLiteral("\\e"));
}

TEST_F(PeltaDbTest, ColumnNamesMustBeIdentifiers)
{
    PeltaRecVfsSyncFile record = Record(XFSFile, QStringLiteral("k"), QStringLiteral("\\a"));
    ASSERT_TRUE(db_->RecInsert(record));
    const QString bad[] = {QStringLiteral("name='x',path"), QStringLiteral("1name"), QStringLiteral(""),
                           QStringLiteral("name from vfs_sync_file; --")};
    for (const QString& column : bad) {
        SCOPED_TRACE(column.toStdString());
        EXPECT_FALSE(db_->RecUpdateFields(QStringLiteral("k"), XFSFile, {{column, QStringLiteral("x")}}));
        EXPECT_EQ(db_->GetFieldByPath(QStringLiteral("\\a"), column, XFSFile), QString());
        EXPECT_EQ(db_->GetFieldByKey(QStringLiteral("k"), column, XFSFile), QString());
    }
    // A refused pair refuses the whole update; an empty map writes nothing.
    EXPECT_FALSE(db_->RecUpdateFields(QStringLiteral("k"), XFSFile,
                                      {{QStringLiteral("mtime"), QStringLiteral("5")}, {QStringLiteral("na me"), {}}}));
    EXPECT_FALSE(db_->RecUpdateFields(QStringLiteral("k"), XFSFile, {}));
    EXPECT_EQ(Fields(Get(XFSFile, QString(), QStringLiteral("\\a"))), Fields(record));
    EXPECT_TRUE(Messages().isEmpty());

    EXPECT_TRUE(db_->RecSetMtime(QStringLiteral("k"), XFSFile, 77));
    EXPECT_EQ(Get(XFSFile, QString(), QStringLiteral("\\a")).mtime, 77);
}

TEST_F(PeltaDbTest, PurgeOtherSnKeepsOnlyTheMembersRows)
{
    const QString mine = QStringLiteral("o'brien");
    for (const QString& sn : {mine, QStringLiteral("other"), QStringLiteral("o''brien")}) {
        PeltaRecVfsSyncFile file = Record(XFSFile, QStringLiteral("f") + sn, QStringLiteral("\\f") + sn);
        file.sn = sn;
        PeltaRecVfsSyncFile folder = Record(XFSFolder, QStringLiteral("d") + sn, QStringLiteral("\\d") + sn);
        folder.sn = sn;
        ASSERT_TRUE(db_->RecInsert(file));
        ASSERT_TRUE(db_->RecInsert(folder));
        ASSERT_TRUE(db_->AddSyncRequest(file, XSYNCFileAdd, false));
    }
    db_->PurgeOtherSn(mine);
    for (const char* table : {"vfs_sync_file", "vfs_sync_folder", "sync_request"})
        EXPECT_EQ(Lines(Rows(QStringLiteral("select sn from %1").arg(QLatin1String(table)))), mine.toStdString())
            << table;
    EXPECT_TRUE(Messages().isEmpty());
}

}  // namespace
