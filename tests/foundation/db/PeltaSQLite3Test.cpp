#include "foundation/settings/DataFolder.h"
#include "foundation/db/LithosSQLiteDatabase.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaSQLite3.h"
#include "foundation/ProcessState.h"
#include "foundation/text/Xi18n.h"
#include "tests/support/DatabaseTest.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// A file base with one table, counting how often its tables are made.
class ItemDb : public PeltaSQLite3 {
public:
    bool CreateTables() override
    {
        ++createTablesCalls;
        return Exec(QStringLiteral("create table item (name text, size integer)"));
    }

    int createTablesCalls = 0;
};

bool LockFreeOnAnotherThread(std::recursive_mutex& lock)
{
    bool free = false;
    std::thread([&] {
        free = lock.try_lock();
        if (free)
            lock.unlock();
    }).join();
    return free;
}

class PeltaSQLite3Test : public DatabaseTest {
protected:
    QString DbPath() const { return dir_.filePath(QStringLiteral("profile.db")); }

    // The names in the folder that start with "profile.db.", sorted.
    QStringList AsideFiles() const
    {
        return QDir(dir_.path()).entryList({QStringLiteral("profile.db.*")}, QDir::Files, QDir::Name);
    }

    // A database file at the path holding the item table with two rows.
    void MakeItemFile()
    {
        ItemDb db;
        ASSERT_TRUE(db.Open());
        ASSERT_TRUE(db.Exec(QStringLiteral("insert into item values ('b', 2), ('a', 1)")));
    }
};

TEST_F(PeltaSQLite3Test, DefaultPathIsProfileDbInANewPrivateDataFolder)
{
    const QString home = dir_.filePath(QStringLiteral("home/nested"));
    env_.Set("TESSARON_HOME", home.toStdString());

    const PeltaSQLite3 db;

    EXPECT_EQ(db.Path(), home + QStringLiteral("/profile.db"));
    EXPECT_EQ(DataFilePath(QStringLiteral("config.db")), home + QStringLiteral("/config.db"));
    struct stat folder {};
    ASSERT_EQ(::stat(QFile::encodeName(home).constData(), &folder), 0);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_FALSE(db.IsOpen());
}

TEST_F(PeltaSQLite3Test, OpenMakesTablesOnlyForAFileWithoutThem)
{
    struct Case {
        const char* name;
        std::function<void()> prepare;
        int createTablesCalls;
    };
    const Case cases[] = {
        {"no file", [] {}, 1},
        {"empty file", [this] { ASSERT_TRUE(WriteFileBytes(DbPath(), QByteArray())); }, 1},
        {"file with tables", [this] { MakeItemFile(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(DbPath());
        c.prepare();

        ItemDb db;
        ASSERT_TRUE(db.Open());
        EXPECT_TRUE(db.Open());  // a second Open keeps the one connection
        EXPECT_TRUE(db.IsOpen());
        EXPECT_EQ(db.createTablesCalls, c.createTablesCalls);
        EXPECT_TRUE(db.ColumnExists(QStringLiteral("item"), QStringLiteral("name")));
        EXPECT_TRUE(AsideFiles().isEmpty());
    }
    EXPECT_TRUE(sink_->Messages().empty());
}

TEST_F(PeltaSQLite3Test, QuotesAreDoubledInSqlAndStoredSingle)
{
    ItemDb db;
    ASSERT_TRUE(db.Open());
    const QString name = QStringLiteral("it's 'x''");
    EXPECT_EQ(PeltaSQLite3::EscapeQuote(name), QStringLiteral("it''s ''x''''"));

    ASSERT_TRUE(db.Exec(QStringLiteral("insert into item values ('%1', 1)").arg(PeltaSQLite3::EscapeQuote(name))));

    EXPECT_EQ(db.QueryValue(QStringLiteral("select name from item"), QStringLiteral("name")), name);
    EXPECT_EQ(db.QueryValue(QStringLiteral("select name from item where name='%1'")
                                .arg(PeltaSQLite3::EscapeQuote(name)),
                            QStringLiteral("name")),
              name);
}

TEST_F(PeltaSQLite3Test, QueryWithFindsRowsAndFetchStartsAtTheFirstRow)
{
    MakeItemFile();
    ItemDb db;
    ASSERT_TRUE(db.Open());

    const auto statement = db.NewStatement();
    EXPECT_EQ(db.QueryWith(QStringLiteral("select * from item where size > 5"), *statement), 0);
    EXPECT_EQ(db.QueryWith(QStringLiteral("select * from item order by name"), *statement), 1);
    QStringList names;
    while (statement->FetchRow())
        names << db.ColumnText(QStringLiteral("name"), *statement) + QString::number(
                     db.GetColumnInt(QStringLiteral("size"), *statement));
    EXPECT_EQ(names, QStringList({QStringLiteral("a1"), QStringLiteral("b2")}));

    // The same on the object's own statement.
    ASSERT_EQ(db.Query(QStringLiteral("select * from item order by name desc")), 1);
    ASSERT_TRUE(db.Statement().FetchRow());
    EXPECT_EQ(db.GetText(QStringLiteral("name")), QStringLiteral("b"));
    EXPECT_EQ(db.GetString(QStringLiteral("name")), QStringLiteral("b"));
    EXPECT_TRUE(sink_->Messages().empty());
}

TEST_F(PeltaSQLite3Test, ColumnExistsMatchesExactNamesAndNeverReports)
{
    MakeItemFile();
    ItemDb db;
    ASSERT_TRUE(db.Open());
    struct Case {
        const char* table;
        const char* column;
        bool exists;
    };
    const Case cases[] = {
        {"item", "size", true},
        {"item", "Size", false},
        {"item", "mtime", false},
        {"no_such_table", "size", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + "." + c.column);
        EXPECT_EQ(db.ColumnExists(QString::fromLatin1(c.table), QString::fromLatin1(c.column)), c.exists);
    }
    EXPECT_TRUE(db.LastError().isEmpty());
    EXPECT_TRUE(sink_->Messages().empty());
}

TEST_F(PeltaSQLite3Test, ColumnTextReadsOnlyText)
{
    ItemDb db;
    ASSERT_TRUE(db.Open());
    ASSERT_TRUE(db.Exec(QStringLiteral("insert into item values ('', 7)")));
    const auto statement = db.NewStatement();
    ASSERT_EQ(db.QueryWith(QStringLiteral("select name, size, null as absent, x'41' as bytes from item"),
                           *statement),
              1);
    ASSERT_TRUE(statement->FetchRow());

    EXPECT_EQ(db.ColumnText(QStringLiteral("name"), *statement), QStringLiteral(""));
    for (const char* column : {"size", "absent", "bytes"}) {
        SCOPED_TRACE(column);
        EXPECT_TRUE(db.GetColumnText(QString::fromLatin1(column), *statement).isEmpty());
    }
    EXPECT_TRUE(sink_->Messages().empty());

    // A column the row does not have is reported and reads as empty.
    EXPECT_TRUE(db.ColumnText(QStringLiteral("missing"), *statement).isEmpty());
    EXPECT_EQ(db.LastError(), QStringLiteral("file: LithosSQLiteStatement\nline: 1062\nerror: "
                                             "GetAssignedColumnNumber() column name 'missing' does not exists\n"));
    EXPECT_EQ(sink_->Messages().size(), 1u);
}

// A failure is kept as the last error and handed to the user, always after
// the file's lock is free again, also when the caller holds the lock around
// the failing statement.
TEST_F(PeltaSQLite3Test, FailuresAreReportedOnlyOnceTheLockIsFree)
{
    ItemDb db;
    ASSERT_TRUE(db.Open());
    std::vector<bool> lockFreeAtReport;
    sink_->SetProbe([&](const QString&) { lockFreeAtReport.push_back(LockFreeOnAnotherThread(csProfileDb)); });
    const QString expected =
        QStringLiteral("file: LithosSQLiteStatement\nline: 103\nerror: no such table: missing\n");

    EXPECT_FALSE(db.Exec(QStringLiteral("insert into missing values (1)")));
    EXPECT_EQ(db.LastError(), expected);
    {
        const PeltaSQLite3::FileLock hold(db);
        const auto statement = db.NewStatement();
        EXPECT_EQ(db.QueryWith(QStringLiteral("select * from missing"), *statement), -1);
        EXPECT_FALSE(db.Exec(QStringLiteral("delete from missing")));
        EXPECT_EQ(sink_->Messages().size(), 1u) << "reported while the lock was held";
    }

    const auto messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& message : messages) {
        EXPECT_EQ(message.title, Xi18n::Text(XText::_APPName));
        EXPECT_EQ(message.text, expected);
    }
    EXPECT_EQ(lockFreeAtReport, std::vector<bool>(3, true));
}

TEST_F(PeltaSQLite3Test, FailuresPassedToTheCallerLeaveTheLockFree)
{
    MakeItemFile();
    ItemDb db;
    ASSERT_TRUE(db.Open());
    const auto statement = db.NewStatement();
    ASSERT_EQ(db.QueryWith(QStringLiteral("select * from item"), *statement), 1);
    ASSERT_TRUE(statement->FetchRow());

    EXPECT_THROW(db.QueryValue(QStringLiteral("select * from missing"), QStringLiteral("name")),
                 Lithos::SQLiteException);
    EXPECT_THROW(db.GetColumnInt(QStringLiteral("missing"), *statement), Lithos::SQLiteException);
    EXPECT_TRUE(LockFreeOnAnotherThread(csProfileDb));
    EXPECT_TRUE(sink_->Messages().empty());
}

// A damaged file is kept under a new name, byte for byte, and a new database
// takes its place; an earlier damaged file is never overwritten.
TEST_F(PeltaSQLite3Test, DamagedFileIsMovedAsideAndCreatedAnew)
{
    const auto malformed = [this] {
        MakeItemFile();
        QFile file(DbPath());
        if (!file.open(QIODevice::ReadWrite) || !file.seek(100))
            return;
        file.write(QByteArray(4000, '\xA5'));  // the schema page, past the header
    };
    struct Case {
        const char* name;
        std::function<void()> damage;
        const char* error;
    };
    const Case cases[] = {
        {"not a database", [this] { ASSERT_TRUE(WriteFileBytes(DbPath(), QByteArray(4096, 'G'))); },
         "file is not a database"},
        {"malformed", malformed, "database disk image is malformed"},
        {"not a database again", [this] { ASSERT_TRUE(WriteFileBytes(DbPath(), QByteArray(5000, 'H'))); },
         "file is not a database"},
    };
    QList<QByteArray> damagedBytes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.damage();
        damagedBytes << ReadFileBytes(DbPath());

        ItemDb db;
        ASSERT_TRUE(db.Open());
        EXPECT_EQ(db.createTablesCalls, 1);
        EXPECT_TRUE(db.Exec(QStringLiteral("insert into item values ('new', 1)")));
        EXPECT_TRUE(db.LastError().endsWith(QStringLiteral("error: ") + QString::fromLatin1(c.error) + "\n"))
            << db.LastError().toStdString();
    }

    const QStringList aside = AsideFiles();
    ASSERT_EQ(aside.size(), 3);
    for (const QString& name : aside) {
        EXPECT_TRUE(name.startsWith(QStringLiteral("profile.db.damaged-"))) << name.toStdString();
        EXPECT_TRUE(damagedBytes.removeOne(ReadFileBytes(dir_.filePath(name)))) << name.toStdString();
    }
    EXPECT_EQ(sink_->Messages().size(), 3u);
}

// Create keeps the file it replaces, together with the journal beside it
// (which would otherwise be played into the new file).
TEST_F(PeltaSQLite3Test, CreateKeepsTheReplacedFileAndItsJournal)
{
    MakeItemFile();
    const QByteArray oldBytes = ReadFileBytes(DbPath());
    ASSERT_TRUE(WriteFileBytes(DbPath() + QStringLiteral("-journal"), "old journal"));

    ItemDb db;
    ASSERT_TRUE(db.Create());

    EXPECT_EQ(db.createTablesCalls, 1);
    EXPECT_EQ(db.QueryValue(QStringLiteral("select cast(count(*) as text) as n from item"), QStringLiteral("n")),
              QStringLiteral("0"));
    const QStringList aside = AsideFiles();
    ASSERT_EQ(aside.size(), 2);
    EXPECT_TRUE(aside[0].startsWith(QStringLiteral("profile.db.replaced-")));
    EXPECT_EQ(aside[1], aside[0] + QStringLiteral("-journal"));
    EXPECT_EQ(ReadFileBytes(dir_.filePath(aside[0])), oldBytes);
    EXPECT_EQ(ReadFileBytes(dir_.filePath(aside[1])), QByteArray("old journal"));
    EXPECT_TRUE(sink_->Messages().empty());
}

TEST_F(PeltaSQLite3Test, FileThatCannotBeOpenedIsLeftAsItIs)
{
    struct Case {
        const char* name;
        QString path;
        std::function<void()> prepare;
    };
    const QString folderInTheWay = dir_.filePath(QStringLiteral("folder.db"));
    const Case cases[] = {
        {"a folder at the path", folderInTheWay,
         [&] {
             ASSERT_TRUE(QDir().mkpath(folderInTheWay));
             ASSERT_TRUE(WriteFileBytes(folderInTheWay + QStringLiteral("/keep"), "kept"));
         }},
        {"a link to a folder at the path", dir_.filePath(QStringLiteral("link.db")),
         [&] { ASSERT_TRUE(QFile::link(folderInTheWay, dir_.filePath(QStringLiteral("link.db")))); }},
        {"a missing parent folder", dir_.filePath(QStringLiteral("missing/profile.db")), [] {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        const QStringList before = QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        const auto reportsBefore = sink_->Messages().size();

        ItemDb db;
        db.SetPath(c.path);
        EXPECT_FALSE(db.Open());
        EXPECT_FALSE(db.IsOpen());
        EXPECT_EQ(db.createTablesCalls, 0);
        EXPECT_TRUE(db.LastError().startsWith(QStringLiteral("file: LithosSQLiteDatabase\nline: 67\n")))
            << db.LastError().toStdString();
        EXPECT_EQ(sink_->Messages().size(), reportsBefore + 1);
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        // Statements on the unopened object fail cleanly.
        EXPECT_FALSE(db.Exec(QStringLiteral("select 1")));
        EXPECT_EQ(db.Query(QStringLiteral("select 1")), -1);
    }
    EXPECT_EQ(ReadFileBytes(folderInTheWay + QStringLiteral("/keep")), QByteArray("kept"));
}

TEST_F(PeltaSQLite3Test, ObjectMayGoWhileACallerStatementIsOpen)
{
    MakeItemFile();
    auto db = std::make_unique<ItemDb>();
    ASSERT_TRUE(db->Open());
    const auto statement = db->NewStatement();
    ASSERT_EQ(db->QueryWith(QStringLiteral("select * from item"), *statement), 1);
    ASSERT_EQ(db->Query(QStringLiteral("select * from item")), 1);

    db.reset();

    EXPECT_THROW(statement->FetchRow(), Lithos::SQLiteException);
    EXPECT_TRUE(LockFreeOnAnotherThread(csProfileDb));
}

}  // namespace
