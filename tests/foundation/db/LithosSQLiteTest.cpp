#include "foundation/db/LithosSQLiteDatabase.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/ProcessState.h"

#include "tests/support/FileContents.h"
#include "tests/support/ThreadState.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Lithos::SQLiteDatabase;
using Lithos::SQLiteException;
using Lithos::SQLiteStatement;

namespace {

constexpr int kOpenReadWrite = SQLITE_OPEN_READWRITE;                   // 2
constexpr int kOpenCreate = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;  // 6

const std::string kStatementUnit = "LithosSQLiteStatement";
const std::string kDatabaseUnit = "LithosSQLiteDatabase";

using Action = std::function<void()>;
using StatementAction = std::function<void(SQLiteStatement&)>;

// Runs the action and checks that it throws exactly this failure.
void ExpectFailure(const Action& action, int line, const std::string& message,
                   const std::string& file = kStatementUnit)
{
    try {
        action();
    } catch (const SQLiteException& failure) {
        EXPECT_EQ(failure.File(), file);
        EXPECT_EQ(failure.Line(), line);
        EXPECT_EQ(failure.Message(), message);
        return;
    }
    ADD_FAILURE() << "nothing thrown, expected line " << line << ": " << message;
}

SteadyClock::duration TimeOf(const Action& action)
{
    const SteadyTime start = SteadyClock::now();
    action();
    return SteadyClock::now() - start;
}

class LithosSQLiteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        SQLiteStatement::SetPauseDuration(1ms);
        DebugMode = false;
    }

    void TearDown() override
    {
        SQLiteStatement::SetPauseDuration(SQLiteStatement::DefaultPause);
        DebugMode = false;
    }

    std::string PathOf(const QString& name = QStringLiteral("test.db")) const
    {
        return dir_.filePath(name).toStdString();
    }

    // A new database file holding the table item with three rows.
    std::unique_ptr<SQLiteDatabase> CreateFilled()
    {
        auto database = std::make_unique<SQLiteDatabase>(PathOf(), kOpenCreate);
        SQLiteStatement statement(database.get());
        statement.ExecuteOnce("create table item(id integer primary key, name text, size integer, note text)");
        statement.ExecuteOnce("insert into item values(1, 'alpha', 5000000000, null)");
        statement.ExecuteOnce("insert into item values(2, 'bêta ✓', 20, '')");
        statement.ExecuteOnce("insert into item values(3, 'gamma', 30, 'third')");
        return database;
    }

    QTemporaryDir dir_;
};

// --- connections -----------------------------------------------------------

using LithosSQLiteDatabaseTest = LithosSQLiteTest;

TEST_F(LithosSQLiteDatabaseTest, CreatesClosesAndReopensAFile)
{
    auto database = CreateFilled();
    EXPECT_TRUE(database->IsOpen());
    EXPECT_EQ(database->FileName(), PathOf());

    database->Close();
    EXPECT_FALSE(database->IsOpen());
    EXPECT_EQ(database->FileName(), "");
    database->Close();  // closing a closed connection does nothing

    SQLiteDatabase reopened(PathOf(), kOpenReadWrite);
    SQLiteStatement statement(&reopened);
    EXPECT_EQ(statement.QueryDouble("select count(*) from item"), 3);
}

TEST_F(LithosSQLiteDatabaseTest, OpenFailuresCarrySQLiteMessage)
{
    const struct {
        const char* what;
        std::string path;
        int flags;
        std::string message;
    } cases[] = {
        {"missing file without create", PathOf(QStringLiteral("missing.db")), kOpenReadWrite,
         "unable to open database file"},
        {"missing folder", PathOf(QStringLiteral("no/such/folder.db")), kOpenCreate, "unable to open database file"},
        {"invalid flags", PathOf(QStringLiteral("flags.db")), SQLITE_OPEN_CREATE, "bad parameter or other API misuse"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectFailure([&] { SQLiteDatabase database(c.path, c.flags); }, 67, c.message, kDatabaseUnit);
    }
    EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("missing.db"))));
}

TEST_F(LithosSQLiteDatabaseTest, ClosingWithOpenStatementsSucceedsAndLeavesThemSafe)
{
    auto database = CreateFilled();
    SQLiteStatement reading(database.get());
    reading.Prepare("select id from item order by id");
    ASSERT_TRUE(reading.FetchRow());
    SQLiteStatement prepared(database.get());
    prepared.Prepare("select name from item");

    database->Close();

    for (SQLiteStatement* statement : {&reading, &prepared}) {
        ExpectFailure([&] { statement->GetColumnCount(); }, 238, "empty statement pointer");
        ExpectFailure([&] { statement->FetchRow(); }, 210, "FetchRow() SQLITE_MISUSE");
        ExpectFailure([&] { statement->Prepare("select 1"); }, 244, "database pointer invalid");
    }

    // The file is free again: another connection can write to it.
    SQLiteDatabase other(PathOf(), kOpenReadWrite);
    SQLiteStatement writer(&other);
    writer.ExecuteOnce("insert into item values(4, 'delta', 40, null)");
    EXPECT_EQ(writer.QueryDouble("select count(*) from item"), 4);
}

TEST_F(LithosSQLiteDatabaseTest, StatementsOutliveTheirConnection)
{
    auto database = CreateFilled();
    auto statement = std::make_unique<SQLiteStatement>(database.get());
    statement->Prepare("select id from item");
    ASSERT_TRUE(statement->FetchRow());

    database.reset();

    ExpectFailure([&] { statement->Prepare("select 1"); }, 244, "database pointer invalid");
    ExpectFailure([&] { statement->GetColumnInt64(0); }, 238, "empty statement pointer");
    statement.reset();  // must not touch the destroyed connection
}

// --- statements ------------------------------------------------------------

using LithosSQLiteStatementTest = LithosSQLiteTest;

TEST_F(LithosSQLiteStatementTest, StepsAndFetchesRowsInOrder)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());

    statement.Prepare("insert into item values(4, 'delta', 40, null)");
    EXPECT_FALSE(statement.Step());
    statement.Prepare("select id from item where id = 4");
    EXPECT_TRUE(statement.Step());
    EXPECT_EQ(statement.GetColumnInt64(0), 4);

    statement.Prepare("select id, name from item order by id");
    std::vector<std::pair<std::int64_t, QString>> rows;
    while (statement.FetchRow())
        rows.emplace_back(statement.GetColumnInt64(0), statement.GetColumnString16(1));
    const std::vector<std::pair<std::int64_t, QString>> expected = {
        {1, QStringLiteral("alpha")}, {2, QStringLiteral("bêta ✓")}, {3, QStringLiteral("gamma")}, {4, "delta"}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(statement.FreeStatement(), SQLITE_OK);
}

TEST_F(LithosSQLiteStatementTest, ReadsColumnsByIndex)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    statement.Prepare("select id, name, size, note, size / 8.0 as ratio from item where id = 1");
    ASSERT_TRUE(statement.FetchRow());

    EXPECT_EQ(statement.GetColumnCount(), 5);
    EXPECT_EQ(statement.GetColumnName(0), "id");
    EXPECT_EQ(statement.GetColumnName(4), "ratio");
    EXPECT_EQ(statement.GetColumnInt64(2), 5000000000LL);
    EXPECT_DOUBLE_EQ(statement.GetColumnDouble(4), 625000000.0);
    EXPECT_EQ(statement.GetColumnString16(1), QStringLiteral("alpha"));
    EXPECT_TRUE(statement.GetColumnString16(3).isNull());
}

TEST_F(LithosSQLiteStatementTest, ReadsColumnsByName)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    statement.Prepare("select id, name, size, note, 2.5 as half, x'00ff' as raw from item where id = 2");
    ASSERT_TRUE(statement.FetchRow());

    EXPECT_EQ(statement.GetAssignedColumnNumber("note"), 3);
    EXPECT_EQ(statement.GetColumnIntByName("size"), 20);
    EXPECT_EQ(statement.GetColumnInt64ByName("id"), 2);
    EXPECT_DOUBLE_EQ(statement.GetColumnDoubleByName("half"), 2.5);
    EXPECT_EQ(statement.GetColumnString16ByName("name"), QStringLiteral("bêta ✓"));

    // Empty text is text, not NULL.
    const QString note = statement.GetColumnString16ByName("note");
    EXPECT_TRUE(note.isEmpty());
    EXPECT_FALSE(note.isNull());

    const struct {
        const char* name;
        int type;
    } types[] = {{"id", SQLITE_INTEGER}, {"half", SQLITE_FLOAT}, {"name", SQLITE_TEXT}, {"raw", SQLITE_BLOB}};
    for (const auto& t : types)
        EXPECT_EQ(statement.GetColumnTypeByName(t.name), t.type) << t.name;

    statement.Prepare("select null as note");
    ASSERT_TRUE(statement.FetchRow());
    EXPECT_EQ(statement.GetColumnTypeByName("note"), SQLITE_NULL);
    EXPECT_TRUE(statement.GetColumnString16ByName("note").isNull());
}

TEST_F(LithosSQLiteStatementTest, ColumnNamesFollowTheCurrentStatement)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    statement.Prepare("select id, name from item where id = 3");
    ASSERT_TRUE(statement.FetchRow());
    EXPECT_EQ(statement.GetAssignedColumnNumber("name"), 1);

    statement.Prepare("select note as name, id from item where id = 3");
    ASSERT_TRUE(statement.FetchRow());
    EXPECT_EQ(statement.GetAssignedColumnNumber("name"), 0);
    EXPECT_EQ(statement.GetColumnString16ByName("name"), QStringLiteral("third"));
    ExpectFailure([&] { statement.GetColumnIntByName("size"); }, 1062,
                  "GetAssignedColumnNumber() column name 'size' does not exists");
}

TEST_F(LithosSQLiteStatementTest, ColumnOutsideTheResultThrows)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    statement.Prepare("select id, name from item");
    ASSERT_TRUE(statement.FetchRow());

    const struct {
        const char* operation;
        std::function<void(int)> read;
    } byIndex[] = {
        {"GetColumnName()", [&](int i) { statement.GetColumnName(i); }},
        {"GetColumnDouble()", [&](int i) { statement.GetColumnDouble(i); }},
        {"GetColumnInt64()", [&](int i) { statement.GetColumnInt64(i); }},
        {"GetColumnString16()", [&](int i) { statement.GetColumnString16(i); }},
    };
    for (const auto& c : byIndex) {
        for (int index : {-1, 2}) {
            SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(index));
            ExpectFailure([&] { c.read(index); }, 1033, std::string(c.operation) + " column number does not exists");
        }
    }

    // Names match exactly.
    for (const std::string name : {"size", "ID", ""}) {
        SCOPED_TRACE(name);
        ExpectFailure([&] { statement.GetColumnString16ByName(name); }, 1062,
                      "GetAssignedColumnNumber() column name '" + name + "' does not exists");
    }
}

TEST_F(LithosSQLiteStatementTest, StatementWithoutHandleFailsCleanly)
{
    auto database = CreateFilled();
    const struct {
        const char* state;
        StatementAction bringAbout;
    } states[] = {
        {"never prepared", [](SQLiteStatement&) {}},
        {"prepare failed", [](SQLiteStatement& s) { EXPECT_THROW(s.Prepare("selec 1"), SQLiteException); }},
        {"re-prepare failed",
         [](SQLiteStatement& s) {
             s.Prepare("select id from item");
             EXPECT_THROW(s.Prepare("select nothing from nowhere"), SQLiteException);
         }},
        {"empty sql", [](SQLiteStatement& s) { EXPECT_THROW(s.Prepare(""), SQLiteException); }},
        {"freed",
         [](SQLiteStatement& s) {
             s.Prepare("select id from item");
             s.FreeStatement();
         }},
    };
    const struct {
        const char* read;
        StatementAction action;
    } reads[] = {
        {"GetColumnCount", [](SQLiteStatement& s) { s.GetColumnCount(); }},
        {"GetColumnName", [](SQLiteStatement& s) { s.GetColumnName(0); }},
        {"GetColumnDouble", [](SQLiteStatement& s) { s.GetColumnDouble(0); }},
        {"GetColumnInt64", [](SQLiteStatement& s) { s.GetColumnInt64(0); }},
        {"GetColumnString16", [](SQLiteStatement& s) { s.GetColumnString16(0); }},
        {"GetAssignedColumnNumber", [](SQLiteStatement& s) { s.GetAssignedColumnNumber("id"); }},
        {"GetColumnIntByName", [](SQLiteStatement& s) { s.GetColumnIntByName("id"); }},
        {"GetColumnTypeByName", [](SQLiteStatement& s) { s.GetColumnTypeByName("id"); }},
        {"GetColumnString16ByName", [](SQLiteStatement& s) { s.GetColumnString16ByName("id"); }},
        {"Reset", [](SQLiteStatement& s) { s.Reset(); }},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(state.state);
        SQLiteStatement statement(database.get());
        state.bringAbout(statement);
        for (const auto& read : reads) {
            SCOPED_TRACE(read.read);
            ExpectFailure([&] { read.action(statement); }, 238, "empty statement pointer");
        }
        ExpectFailure([&] { statement.Step(); }, 149, "Step() SQLITE_MISUSE");
        ExpectFailure([&] { statement.FetchRow(); }, 210, "FetchRow() SQLITE_MISUSE");
        EXPECT_EQ(statement.FreeStatement(), SQLITE_OK);
    }
}

TEST_F(LithosSQLiteStatementTest, PrepareFailures)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    for (const char* sql : {"", "   \n", "-- nothing but a comment"}) {
        SCOPED_TRACE(sql);
        ExpectFailure([&] { statement.Prepare(sql); }, 118, "Prepare() SQL statement failed");
    }
    ExpectFailure([&] { statement.Prepare("selec 1"); }, 103, "near \"selec\": syntax error");
    ExpectFailure([&] { statement.ExecuteOnce("insert into nowhere values(1)"); }, 103, "no such table: nowhere");

    SQLiteStatement detached(nullptr);
    ExpectFailure([&] { detached.Prepare("select 1"); }, 244, "database pointer invalid");
    ExpectFailure([&] { detached.QueryDouble("select 1"); }, 244, "database pointer invalid");
}

TEST_F(LithosSQLiteStatementTest, StepAndFetchFailuresCarrySQLiteMessage)
{
    auto database = CreateFilled();
    const std::string overflow = "integer overflow";
    const std::string duplicate = "UNIQUE constraint failed: item.id";
    const struct {
        const char* what;
        const char* sql;
        bool fetch;
        int line;
        const std::string& message;
    } cases[] = {
        {"step, runtime error", "select abs(-9223372036854775808)", false, 153, overflow},
        {"step, constraint", "insert into item values(1, 'again', 0, null)", false, 153, duplicate},
        {"fetch, runtime error", "select abs(-9223372036854775808)", true, 204, overflow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SQLiteStatement statement(database.get());
        statement.Prepare(c.sql);
        ExpectFailure([&] { c.fetch ? statement.FetchRow() : statement.Step(); }, c.line, c.message);
        // Reset reports the failure of the last step.
        ExpectFailure([&] { statement.Reset(); }, 706, c.message);
    }
}

TEST_F(LithosSQLiteStatementTest, MisuseShowsTheSqlOnlyInDebugMode)
{
    auto database = CreateFilled();
    const struct {
        bool debug;
        bool fetch;
        int line;
        std::string message;
    } cases[] = {
        {false, false, 149, "Step() SQLITE_MISUSE"},
        {true, false, 147, "Step() SQLITE_MISUSE, sql=select 'ünï' as name"},
        {false, true, 210, "FetchRow() SQLITE_MISUSE"},
        {true, true, 208, "FetchRow() SQLITE_MISUSE, sql=select 'ünï' as name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        DebugMode = c.debug;
        SQLiteStatement statement(database.get());
        statement.ExecuteOnce("select 'ünï' as name");  // leaves no statement behind
        ExpectFailure([&] { c.fetch ? statement.FetchRow() : statement.Step(); }, c.line, c.message);
    }
}

TEST_F(LithosSQLiteStatementTest, QueryDoubleGivesTheLastRowOrZero)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    const struct {
        const char* sql;
        double value;
    } cases[] = {
        {"select count(*) from item", 3},
        {"select size from item order by id", 30},
        {"select size from item where id > 100", 0},
        {"select count(*) / 2.0 from item", 1.5},
        {"select note from item where id = 1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_DOUBLE_EQ(statement.QueryDouble(c.sql), c.value);
        ExpectFailure([&] { statement.GetColumnCount(); }, 238, "empty statement pointer");  // freed
    }
}

TEST_F(LithosSQLiteStatementTest, ResetStartsAgainAtTheFirstRow)
{
    auto database = CreateFilled();
    SQLiteStatement statement(database.get());
    statement.Prepare("select id from item order by id");
    ASSERT_TRUE(statement.FetchRow());
    ASSERT_TRUE(statement.FetchRow());
    EXPECT_EQ(statement.GetColumnInt64(0), 2);

    statement.Reset();
    std::vector<std::int64_t> ids;
    while (statement.FetchRow())
        ids.push_back(statement.GetColumnInt64(0));
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3}));
}

TEST_F(LithosSQLiteStatementTest, DestroyingOneStatementLeavesAnotherReadable)
{
    auto database = CreateFilled();
    SQLiteStatement reading(database.get());
    reading.Prepare("select id from item order by id");
    ASSERT_TRUE(reading.FetchRow());

    {
        SQLiteStatement other(database.get());
        other.Prepare("select name from item");
        ASSERT_TRUE(other.FetchRow());
        SQLiteStatement third(database.get());
        EXPECT_EQ(third.QueryDouble("select max(size) from item where id > 1"), 30);
    }

    std::vector<std::int64_t> rest;
    while (reading.FetchRow())
        rest.push_back(reading.GetColumnInt64(0));
    EXPECT_EQ(rest, (std::vector<std::int64_t>{2, 3}));
}

// A pending read keeps the file's shared lock, so a writer on another
// connection (without any busy waiting) is refused until the read ends.
TEST_F(LithosSQLiteStatementTest, PrepareEndsTheStatementItReplaces)
{
    auto database = CreateFilled();
    sqlite3* probe = nullptr;
    ASSERT_EQ(sqlite3_open_v2(PathOf().c_str(), &probe, kOpenReadWrite, nullptr), SQLITE_OK);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closeProbe(probe, sqlite3_close);
    const auto probeWrite = [&] {
        return sqlite3_exec(probe, "update item set size = size + 1 where id = 3", nullptr, nullptr, nullptr);
    };

    SQLiteStatement statement(database.get());
    statement.Prepare("select id from item");
    ASSERT_TRUE(statement.FetchRow());
    ASSERT_EQ(probeWrite(), SQLITE_BUSY);

    statement.Prepare("select 1");
    EXPECT_EQ(probeWrite(), SQLITE_OK);
    EXPECT_EQ(statement.QueryDouble("select size from item where id = 3"), 31);
}

// --- waiting -----------------------------------------------------------------

using LithosSQLiteBusyTest = LithosSQLiteTest;

// The lock is released only once the reader has been seen asleep in one of
// its pauses between tries, so each case really waits; the committed row in
// its answer shows that it read after the lock was gone.
TEST_F(LithosSQLiteBusyTest, WaitsForAnotherConnectionsLockThenSucceeds)
{
    SQLiteStatement::SetPauseDuration(10ms);
    const struct {
        const char* what;
        bool freshConnection;  // the schema must still be read: Prepare waits
        bool fetch;
    } cases[] = {
        {"prepare", true, true},
        {"step", false, false},
        {"fetch", false, true},
    };
    auto database = CreateFilled();
    const pid_t readerThread = CurrentThreadId();
    int nextId = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int expectedCount = nextId;
        std::unique_ptr<SQLiteDatabase> reader;
        std::unique_ptr<SQLiteStatement> query;
        if (!c.freshConnection) {
            reader = std::make_unique<SQLiteDatabase>(PathOf(), kOpenReadWrite);
            query = std::make_unique<SQLiteStatement>(reader.get());
            query->Prepare("select count(*) from item");
        }

        SQLiteStatement holder(database.get());
        holder.ExecuteOnce("begin exclusive");
        holder.ExecuteOnce(QStringLiteral("insert into item values(%1, 'new', 0, null)").arg(nextId++));
        std::atomic<bool> reading{false};
        bool sawReaderWait = false;
        std::string releaseFailure;
        std::jthread releaser([&] {  // joined even when the reader throws
            sawReaderWait = WaitUntil([&] { return reading && ThreadIsAsleep(readerThread); });
            try {
                holder.ExecuteOnce("commit");
            } catch (const SQLiteException& failure) {
                releaseFailure = failure.Message();
            }
        });

        reading = true;
        if (c.freshConnection) {
            reader = std::make_unique<SQLiteDatabase>(PathOf(), kOpenReadWrite);
            query = std::make_unique<SQLiteStatement>(reader.get());
            query->Prepare("select count(*) from item");
        }
        const bool row = c.fetch ? query->FetchRow() : query->Step();
        releaser.join();
        EXPECT_TRUE(sawReaderWait) << "the lock was never waited for";
        EXPECT_EQ(releaseFailure, "");
        ASSERT_TRUE(row);
        EXPECT_EQ(query->GetColumnInt64(0), expectedCount);
    }
}

TEST(LithosSQLitePauseTest, DefaultPauseFollowsEveryPrepare)
{
    ASSERT_EQ(SQLiteStatement::PauseDuration(), 100ms);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SQLiteDatabase database(dir.filePath(QStringLiteral("pause.db")).toStdString(), kOpenCreate);
    SQLiteStatement statement(&database);

    EXPECT_GE(TimeOf([&] { statement.Prepare("select 1"); }), 100ms);
    EXPECT_GE(TimeOf([&] {
                  statement.ExecuteOnce("create table t(a)");
                  statement.ExecuteOnce("insert into t values(1)");
              }),
              200ms);
}

// --- damaged files -------------------------------------------------------------

using LithosSQLiteDamageTest = LithosSQLiteTest;

TEST_F(LithosSQLiteDamageTest, FileThatIsNoDatabaseFailsOnPrepare)
{
    ASSERT_TRUE(WriteFileBytes(dir_.filePath(QStringLiteral("test.db")),
                               QByteArray("this is no database at all. ").repeated(300)));

    SQLiteDatabase database(PathOf(), kOpenReadWrite);
    SQLiteStatement statement(&database);
    ExpectFailure([&] { statement.Prepare("select count(*) from item"); }, 103, "file is not a database");
}

// The schema page stays whole, the table's pages are overwritten: reading
// the table gives the same corruption on every step, which must end in a
// failure rather than in endless retries.
TEST_F(LithosSQLiteDamageTest, DamagedTablePagesFailOnFetch)
{
    {
        auto database = CreateFilled();
        SQLiteStatement statement(database.get());
        statement.ExecuteOnce("insert into item select id + 10, hex(randomblob(200)), id, null "
                              "from (with recursive n(id) as (select 1 union all select id + 1 from n "
                              "where id < 500) select id from n)");
    }
    QFile file(dir_.filePath(QStringLiteral("test.db")));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray header = file.read(100);
    ASSERT_EQ(header.size(), 100);
    const qint64 pageSize = (quint8(header[16]) << 8) | quint8(header[17]);  // big-endian, at offset 16
    ASSERT_GT(file.size(), 4 * pageSize);
    ASSERT_TRUE(file.seek(pageSize));  // page 2 onwards: the table
    ASSERT_EQ(file.write(QByteArray(file.size() - pageSize, char(0xA5))), file.size() - pageSize);
    file.close();

    SQLiteDatabase database(PathOf(), kOpenReadWrite);
    SQLiteStatement statement(&database);
    statement.Prepare("select * from item");
    const auto taken = TimeOf([&] {
        ExpectFailure(
            [&] {
                while (statement.FetchRow()) {
                }
            },
            204, "database disk image is malformed");
    });
    EXPECT_LT(taken, 5s);
}

}  // namespace
