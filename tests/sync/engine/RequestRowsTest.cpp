// Request rows driven through the fake service: registration, transfer and
// commit of local changes, and what each of the service's error messages does
// to a row.

#include "tests/sync/EngineServiceFixture.h"

#include "foundation/db/PeltaDb.h"
#include "sync/engine/IncomingFetches.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/PendingLocalMoves.h"
#include "tests/support/FileContents.h"
#include "tests/sync/JournalStandIn.h"
#include "tests/sync/TreeListing.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <ostream>

namespace {

class RequestRowsTest : public EngineServiceFixture {};

TEST_F(RequestRowsTest, LocalChangesEndCommittedOnTheServiceWithItsVersions)
{
    MakeFolder(QStringLiteral("\\Docs"));
    AddLocal(QStringLiteral("\\Docs\\a.txt"), "first content", 1000);
    AddLocal(QStringLiteral("\\O'Brien's.txt"), "quoted", 1100);
    Drive();

    ASSERT_TRUE(ServiceItem(QStringLiteral("/Docs")));
    ASSERT_TRUE(ServiceItem(QStringLiteral("/Docs/a.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/Docs/a.txt")), "first content");
    EXPECT_EQ(ServiceItem(QStringLiteral("/Docs/a.txt"))->localMtime, 1000);
    EXPECT_EQ(ServiceContent(QStringLiteral("/O'Brien's.txt")), "quoted");
    EXPECT_EQ(FileRecord(QStringLiteral("\\Docs\\a.txt")),
              (ServiceVersion(QStringLiteral("/Docs/a.txt")) + QStringLiteral("|1000|13")).toStdString());
    // Every row is finished: committed, and the folder's second add found
    // the folder there already.
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status<>4 or commit_time is null")), 0)
        << Joined(RowStates());
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder where version=''")), 0);

    ModifyLocal(QStringLiteral("\\Docs\\a.txt"), "second, longer content", 2000);
    Move(QStringLiteral("\\O'Brien's.txt"), QStringLiteral("\\moved.txt"));
    engine_->FileRename(QStringLiteral("\\O'Brien's.txt"), QStringLiteral("\\moved.txt"));
    Drive();

    EXPECT_EQ(ServiceContent(QStringLiteral("/Docs/a.txt")), "second, longer content");
    EXPECT_EQ(FileRecord(QStringLiteral("\\Docs\\a.txt")),
              (ServiceVersion(QStringLiteral("/Docs/a.txt")) + QStringLiteral("|2000|22")).toStdString());
    EXPECT_FALSE(ServiceItem(QStringLiteral("/O'Brien's.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/moved.txt")), "quoted");

    Remove(QStringLiteral("\\moved.txt"));
    engine_->FileRemove(QStringLiteral("\\moved.txt"));
    Remove(QStringLiteral("\\Docs"));
    engine_->FileRemove(QStringLiteral("\\Docs"));
    Drive();
    EXPECT_FALSE(ServiceItem(QStringLiteral("/moved.txt")));
    EXPECT_FALSE(ServiceItem(QStringLiteral("/Docs")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
}

}  // namespace

namespace {

// The kind of row a case drives; rows it needs first are committed before.
enum class Kind { FileAdd, FileDel, FileMove, FileGet, FolderAdd, FolderDel, FolderMove, NoAction };

struct ErrorCase {
    const char* name;
    Kind kind;
    const char* method;  // the call that answers with the message
    const char* message;
    int status;          // of the row afterwards
    int errCount;
};

class ServerErrorTest : public EngineServiceFixture, public ::testing::WithParamInterface<ErrorCase> {
protected:
    // Makes the case's row and returns its rowid.
    int Prepare(Kind kind)
    {
        switch (kind) {
        case Kind::FileAdd:
            AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
            break;
        case Kind::FileDel:
            AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
            Drive();
            Remove(QStringLiteral("\\a.txt"));
            engine_->FileRemove(QStringLiteral("\\a.txt"));
            break;
        case Kind::FileMove:
            AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
            Drive();
            Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
            engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
            break;
        case Kind::FileGet: {
            EXPECT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/g.txt"), "remote", 500));
            StoreFileRecord(QStringLiteral("\\g.txt"), QString(), 0, 0);
            PeltaRecVfsSyncFile record;
            record.kind = XFSFile;
            record.path = QStringLiteral("\\g.txt");
            engine_->Db().RecGet(record);
            EXPECT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileGet, false));
            break;
        }
        case Kind::FolderAdd:
            MakeFolder(QStringLiteral("\\F"));
            engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
            break;
        case Kind::FolderDel:
            MakeFolder(QStringLiteral("\\F"));
            engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
            Drive();
            Remove(QStringLiteral("\\F"));
            engine_->FileRemove(QStringLiteral("\\F"));
            break;
        case Kind::FolderMove:
            MakeFolder(QStringLiteral("\\F"));
            engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
            Drive();
            Move(QStringLiteral("\\F"), QStringLiteral("\\G"));
            engine_->FileRename(QStringLiteral("\\F"), QStringLiteral("\\G"));
            break;
        case Kind::NoAction:
            Run(QStringLiteral("insert into sync_request (key, sn, path, path2, agent_key, action, opt, status, "
                               "priority) values ('0123456789abcdef0123456789abcdef', '700001', '\\x', '', '") +
                AgentKey + QStringLiteral("', 0, '{}', 1, 0)"));
            break;
        }
        return static_cast<int>(Number(QStringLiteral("select max(rowid) from sync_request")));
    }

    QString TargetRow(int rowid)
    {
        return Rows(QStringLiteral("select status, err_count from sync_request where rowid=") +
                    QString::number(rowid))
            .value(0);
    }
};

TEST_P(ServerErrorTest, TheMessageGetsItsAction)
{
    const ErrorCase& c = GetParam();
    QuotaMaxFileSize = 100;
    QuotaTotal = 1000;
    const int target = Prepare(c.kind);
    NextMessage(c.method, QString::fromUtf8(c.message));
    Drive();
    EXPECT_EQ(TargetRow(target), QStringLiteral("%1|%2").arg(c.status).arg(c.errCount)) << Joined(RowStates());
}

const ErrorCase kErrorCases[] = {
    {"ObjectPathError", Kind::FileAdd, "setSyncJournal", "object path error", 12, 0},
    {"QuotaFull", Kind::FileAdd, "setSyncJournal", "Quota 已滿", 1, 2},
    {"QuotaError", Kind::FileAdd, "commitSyncJournal", "Quota Error", 5, 2},
    {"ExpiredAtRegistration", Kind::FileAdd, "setSyncJournal", "sync_journal is expired or commited or fail", 1, 1},
    {"AgentKeyNotMatch", Kind::FileAdd, "commitSyncJournal", "agent_key not match in sync_journal", 1, 1},
    {"FileNotExistAtCommit", Kind::FileAdd, "commitSyncJournal", "file not exist", 5, 1},
    {"UnknownText", Kind::FileAdd, "setSyncJournal", "Object path error", 1, 1},
    {"TrailingBlank", Kind::FileAdd, "setSyncJournal", "object path error ", 1, 1},
    {"FileRecycled", Kind::FileDel, "setSyncJournal", "file has been recycled", 12, 0},
    {"FileNotFoundAtCommit", Kind::FileDel, "commitSyncJournal", "file not found in metadata", 12, 0},
    {"DestFileExists", Kind::FileMove, "setSyncJournal", "dest file exists", 12, 0},
    {"DownloadOfMissingFile", Kind::FileGet, "getFileCheck", "file not found in metadata", 12, 0},
    {"DownloadRefused", Kind::FileGet, "getFileCheck", "try later", 5, 1},
    {"FolderExists", Kind::FolderAdd, "setSyncJournal", "folder already exist", 4, 0},
    {"FolderRecycledAtCommit", Kind::FolderDel, "commitSyncJournal", "folder has been recycled", 4, 0},
    {"FolderNotFound", Kind::FolderDel, "setSyncJournal", "folder not found in metadata", 4, 0},
    {"DestFolderExists", Kind::FolderMove, "setSyncJournal", "dest folder exists", 12, 0},
    {"CachingExpired", Kind::NoAction, "setSyncJournal", "caching data expired or not set", 12, 0},
};

INSTANTIATE_TEST_SUITE_P(Messages, ServerErrorTest, ::testing::ValuesIn(kErrorCases),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

}  // namespace

namespace {

TEST_F(RequestRowsTest, AFullQuotaIsToldOnceAMinuteAndOnlyWithAKnownQuota)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    NextMessage("setSyncJournal", QStringLiteral("Quota 已滿"));
    Drive();
    EXPECT_TRUE(notices_->Shown().isEmpty());  // no quota known yet

    QuotaMaxFileSize = 100;
    QuotaTotal = 1000;
    for (int round = 0; round < 2; ++round) {
        NextMessage("setSyncJournal", QStringLiteral("Quota 已滿"));
        RetriesDue();
        Drive();
    }
    EXPECT_EQ(notices_->Shown().size(), 1) << Joined(notices_->Shown());
    EXPECT_TRUE(status_->IsQuotaFull());
}

TEST_F(RequestRowsTest, AFileWhoseFolderTheServiceLacksRegistersTheFolderAtOnce)
{
    MakeFolder(QStringLiteral("\\Docs"));
    AddLocal(QStringLiteral("\\Docs\\a.txt"), "content", 1000);
    // The folder's own rows were lost: only the file's row is left.
    Run(QStringLiteral("update sync_request set status=12 where action=6"));
    Drive();
    EXPECT_TRUE(ServiceItem(QStringLiteral("/Docs")));
    EXPECT_FALSE(ServiceItem(QStringLiteral("/Docs/a.txt")));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:SyncObjectNow:commitSyncJournal:ok")));

    RetriesDue();
    Drive();
    EXPECT_EQ(ServiceContent(QStringLiteral("/Docs/a.txt")), "content");
}

// The service moved the folder away and the replay moved it here too while
// the file's upload was under way: the folder is not made again there.
TEST_F(RequestRowsTest, AFileWhoseFolderIsGoneHereTooMakesNoFolderOnTheService)
{
    MakeFolder(QStringLiteral("\\Docs"));
    AddLocal(QStringLiteral("\\Docs\\a.txt"), "content", 1000);
    Move(QStringLiteral("\\Docs"), QStringLiteral("\\Moved"));
    PeltaRecSyncRequest row = LoadRow(static_cast<int>(
        Number(QStringLiteral("select rowid from sync_request where action=") + QString::number(XSYNCFileAdd))));
    const std::size_t calls = service_.Calls().size();

    engine_->HandleJournalError(row, QStringLiteral("parent not exist"));
    EXPECT_EQ(service_.Calls().size(), calls);
    EXPECT_FALSE(ServiceItem(QStringLiteral("/Docs")));
}

// The service refuses a row for a folder that another computer moved away
// while the replay of that move is still to come here. The folder is looked
// at only after a pull of the journal begun after the refusal: the pull
// moves it here too, and it is not made again on the service under its old
// name. A pull that fails leaves the row to a later try, nothing made.
TEST_F(RequestRowsTest, AFolderTheServiceLacksIsLookedAtOnlyAfterTheJournalIsReplayed)
{
    struct Case {
        const char* name;
        bool folderRow;  // the row registers a folder inside, not a file
        bool pullAnswered;
    };
    const Case cases[] = {
        {"file, replayed", false, true},
        {"folder, replayed", true, true},
        {"file, pull failed", false, false},
        {"folder, pull failed", true, false},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = QStringLiteral("\\Docs") + QString::number(++number);
        MakeFolder(folder);
        int action = XSYNCFileAdd;
        QString path = folder + QStringLiteral("\\a.txt");
        if (c.folderRow) {
            action = XSYNCFolderAdd;
            path = folder + QStringLiteral("\\Sub");
            MakeFolder(path);
            engine_->FileAdd(path, 0, false, false);
        } else {
            AddLocal(path, "content", 1000);
        }
        PeltaRecSyncRequest row = LoadRow(static_cast<int>(
            Number(QStringLiteral("select rowid from sync_request where action=") + QString::number(action) +
                   QStringLiteral(" and path=") + PeltaRec::Literal(path))));
        ASSERT_NE(row.rowid, 0);
        const std::size_t calls = service_.Calls().size();
        {
            JournalStandIn journal([&] { Move(folder, folder + QStringLiteral("Moved")); }, c.pullAnswered);
            engine_->HandleJournalError(row, QStringLiteral("parent not exist"));
            EXPECT_TRUE(journal.Pulled());
        }
        EXPECT_EQ(service_.Calls().size(), calls);
        EXPECT_FALSE(ServiceItem(QStringLiteral("/Docs") + QString::number(number)));
    }
}

TEST_F(RequestRowsTest, AFolderGoneLocallyIsCancelledWithoutAskingTheService)
{
    MakeFolder(QStringLiteral("\\F"));
    engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
    Remove(QStringLiteral("\\F"));
    PeltaRecSyncRequest row = LoadRow(1);
    const std::size_t calls = service_.Calls().size();
    EXPECT_FALSE(engine_->HandleJournalError(row, QStringLiteral("parent not exist")));
    EXPECT_EQ(service_.Calls().size(), calls);
    EXPECT_EQ(Joined(RowStates()), "6|12|0");
}

// A download the service no longer has (deleted there after the entry that
// queued it) leaves no record of a file that is not here either; a file that
// is here keeps its record.
TEST_F(RequestRowsTest, ADownloadTheServiceNoLongerHasDropsOnlyTheRecordOfAFileNotHere)
{
    MakeFile(QStringLiteral("\\here.txt"), "local", 500);
    for (const char* path : {"\\gone.txt", "\\here.txt"}) {
        StoreFileRecord(QString::fromUtf8(path), QStringLiteral("1"), 500, 5);
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = QString::fromUtf8(path);
        ASSERT_TRUE(engine_->Db().RecGet(record));
        ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileGet, false));
    }
    Drive();

    EXPECT_EQ(Joined(RowStates()), "5|12|0\n5|12|0");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_file"))), "\\here.txt");
    EXPECT_EQ(FileRecord(QStringLiteral("\\here.txt")), "1|500|5");
}

// The file of an open upload row went before the row ran, its removal
// lost (in a restart, say): the row is cancelled, and the record goes too -
// one that never reached the service quietly, a sent one with its deletion.
TEST_F(RequestRowsTest, AnUploadOfAFileGoneMeanwhileTakesItsRecordAlong)
{
    ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
    AddLocal(QStringLiteral("\\sent.txt"), "sent", 1000);
    Drive();
    ModifyLocal(QStringLiteral("\\sent.txt"), "changed", 2000);
    AddLocal(QStringLiteral("\\new.txt"), "new", 1000);
    Remove(QStringLiteral("\\sent.txt"));
    Remove(QStringLiteral("\\new.txt"));
    DriveWithRetries();

    EXPECT_EQ(Joined(RowStates()), "1|4|0\n2|12|0\n1|12|0\n3|4|0");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_FALSE(ServiceItem(QStringLiteral("/sent.txt")));
    EXPECT_FALSE(ServiceItem(QStringLiteral("/new.txt")));
}

TEST_F(RequestRowsTest, ARefusedMoveAddsTheItemAnew)
{
    for (const char* message :
         {"orig file not found in metadata", "orig file has been recycled", "parent of dest not exist"}) {
        SCOPED_TRACE(message);
        const QString from = QStringLiteral("\\from-%1.txt").arg(QString::fromLatin1(message).left(4));
        const QString to = QStringLiteral("\\to-%1.txt").arg(QString::fromLatin1(message).left(4));
        AddLocal(from, "moved content", 1000);
        Drive();
        Move(from, to);
        engine_->FileRename(from, to);
        NextMessage("setSyncJournal", QString::fromLatin1(message));
        Drive();
        QString servicePath = to;
        servicePath.replace(QLatin1Char('\\'), QLatin1Char('/'));
        ASSERT_TRUE(ServiceItem(servicePath));
        EXPECT_EQ(ServiceContent(servicePath), "moved content");
        EXPECT_EQ(FileRecord(to).substr(0, FileRecord(to).find('|')), ServiceVersion(servicePath).toStdString());
    }
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where action=4 and status<>12")), 0);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
}

// Another agent put a file at the new name before the move was sent: the
// source must not stay on the service, and neither content is lost (the
// conflict between the two files is settled as any other).
TEST_F(RequestRowsTest, AMoveOntoAnotherAgentsFileLosesNothingAndLeavesNoSource)
{
    AddLocal(QStringLiteral("\\a.txt"), "mine", 1000);
    Drive();
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
    engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/b.txt"), "theirs", 3000));
    DriveWithRetries();

    EXPECT_FALSE(ServiceItem(QStringLiteral("/a.txt")));
    const QString here = TreeListing::Local(SyncRoot(), {}).join(QLatin1Char('\n'));
    EXPECT_TRUE(here.contains(QStringLiteral("|mine")) && here.contains(QStringLiteral("|theirs")))
        << here.toStdString();
    const QString there = TreeListing::Service(service_.State(), UserId, {}).join(QLatin1Char('\n'));
    EXPECT_TRUE(there.contains(QStringLiteral("|mine"))) << there.toStdString();
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where path='\\a.txt'")), 0);
}

// A file's move that the service refuses outright ("object path error")
// is made as a deletion of the old name and an add of the new one: the
// store never takes the refused move for done, and both sides end with the
// new name only.
TEST_F(RequestRowsTest, AFileMoveRefusedOutrightEndsWithTheNewNameOnly)
{
    AddLocal(QStringLiteral("\\from.txt"), "moved content", 1000);
    Drive();
    Move(QStringLiteral("\\from.txt"), QStringLiteral("\\to.txt"));
    engine_->FileRename(QStringLiteral("\\from.txt"), QStringLiteral("\\to.txt"));
    NextMessage("setSyncJournal", QStringLiteral("object path error"));
    DriveWithRetries();

    EXPECT_FALSE(ServiceItem(QStringLiteral("/from.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/to.txt")), "moved content");
    EXPECT_EQ(FileRecord(QStringLiteral("\\to.txt")),
              (ServiceVersion(QStringLiteral("/to.txt")) + QStringLiteral("|1000|13")).toStdString());
    EXPECT_EQ(FileRecord(QStringLiteral("\\from.txt")), "");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
}

// A file renamed and changed here: the move's commit fails, and the change
// must not overtake it. Sent first, the edit would make the new name on the
// service on its own while the file is still there under its old name, and
// the move, when it comes, would bring the old content back under the new
// name wherever the new name has gone meanwhile.
TEST_F(RequestRowsTest, AChangeOfARenamedFileWaitsForTheMoveThatFailed)
{
    AddLocal(QStringLiteral("\\b.txt"), "moved content", 1000);
    Drive();
    Move(QStringLiteral("\\b.txt"), QStringLiteral("\\a.txt"));
    MakeFile(QStringLiteral("\\a.txt"), "changed after the move", 1100);
    ASSERT_TRUE(engine_->FileRename(QStringLiteral("\\b.txt"), QStringLiteral("\\a.txt")));
    Fault refused = Fault::Http500();
    refused.processed = false;
    service_.Faults().SetNext("commitSyncJournal", refused);
    Drive();

    EXPECT_FALSE(ServiceItem(QStringLiteral("/a.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/b.txt")), "moved content");

    DriveWithRetries();
    EXPECT_FALSE(ServiceItem(QStringLiteral("/b.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "changed after the move");
    EXPECT_EQ(TreeListing::Service(service_.State(), UserId, {}).size(), 1);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
}

TEST_F(RequestRowsTest, AFolderMoveWhoseSourceIsGoneAddsTheFolderAnew)
{
    MakeFolder(QStringLiteral("\\F"));
    engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
    Drive();
    Move(QStringLiteral("\\F"), QStringLiteral("\\G"));
    engine_->FileRename(QStringLiteral("\\F"), QStringLiteral("\\G"));
    NextMessage("setSyncJournal", QStringLiteral("orig folder not found in metadata"));
    Drive();
    EXPECT_TRUE(ServiceItem(QStringLiteral("/G")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where action=9 and status=12")), 1);
}

// A commit answered "expired or committed" is settled from what the service
// holds: its version when it has the upload, a new registration otherwise.
TEST_F(RequestRowsTest, AnExpiredCommitIsSettledFromTheServicesState)
{
    AddLocal(QStringLiteral("\\kept.txt"), "committed before the reply was lost", 1000);
    NextMessage("commitSyncJournal", QStringLiteral("sync_journal is expired or commited or fail"), true);
    Drive();
    ASSERT_TRUE(ServiceItem(QStringLiteral("/kept.txt")));
    EXPECT_EQ(Joined(RowStates()), "1|4|0");
    EXPECT_EQ(FileRecord(QStringLiteral("\\kept.txt")),
              (ServiceVersion(QStringLiteral("/kept.txt")) + QStringLiteral("|1000|35")).toStdString());

    AddLocal(QStringLiteral("\\lost.txt"), "never committed", 1000);
    NextMessage("commitSyncJournal", QStringLiteral("sync_journal is expired or commited or fail"), false);
    Drive();
    EXPECT_FALSE(ServiceItem(QStringLiteral("/lost.txt")));
    EXPECT_EQ(Joined(RowStates()), "1|4|0\n1|1|1");
    EXPECT_EQ(FileRecord(QStringLiteral("\\lost.txt")), "|1000|15");

    RetriesDue();
    Drive();
    EXPECT_EQ(ServiceContent(QStringLiteral("/lost.txt")), "never committed");
    EXPECT_EQ(FileRecord(QStringLiteral("\\lost.txt")),
              (ServiceVersion(QStringLiteral("/lost.txt")) + QStringLiteral("|1000|15")).toStdString());
}

TEST_F(RequestRowsTest, ARowWithoutAHandlingForItsStatusEnds)
{
    MakeFolder(QStringLiteral("\\F"));
    engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
    Run(QStringLiteral("update sync_request set status=5"));
    Drive();
    EXPECT_EQ(Joined(RowStates()), "6|12|0");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("has no handling at status 5, ended:\\F")));
}

TEST_F(RequestRowsTest, SavedStatusesKeepEveryTextAsItWas)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    row.sync_journal_key = QStringLiteral("key'with'quotes");
    row.sync_journal_key_checksum = QStringLiteral("sum'");
    row.sync_journal_key_expire = 99;
    row.status = PeltaSync::RequestRegister;
    engine_->SaveRequestStatus(row);
    EXPECT_EQ(Joined(Rows(QStringLiteral(
                  "select status, sync_journal_key, sync_journal_key_checksum, sync_journal_key_expire "
                  "from sync_request"))),
              "1|key'with'quotes|sum'|99");

    row.opt = QStringLiteral(R"({"note":"it's"})");
    row.err_count = 3;
    engine_->ResetRequest(row);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select opt, err_count from sync_request"))), R"({"note":"it's"}|3)");

    // Status 3 exists in memory only.
    row.status = PeltaSync::RequestCommit;
    engine_->SaveRequestStatus(row);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select status from sync_request"))), "1");

    row.status = PeltaSync::RequestNoJournal;
    engine_->SaveRequestStatus(row);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select status, sync_journal_key from sync_request"))), "0|");
}

TEST_F(RequestRowsTest, ATemporaryRequestTouchesNoRow)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    PeltaRecSyncRequest temporary;
    temporary.path = QStringLiteral("\\a.txt");
    temporary.action = XSYNCFileGet;
    engine_->IncRequestErrCount(temporary);
    engine_->CancelRequest(temporary);
    EXPECT_EQ(temporary.err_count, 1);
    EXPECT_EQ(Joined(RowStates()), "1|1|0");
}

}  // namespace

namespace {

// Deletions made here against the service's state when they are sent, and
// adds still under way when their item goes here.
class DeletionOrderTest : public EngineServiceFixture {
protected:
    void SetUp() override
    {
        EngineServiceFixture::SetUp();
        ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
    }

    QByteArray LocalContent(const QString& relative) const
    {
        return QFileInfo(Local(relative)).isFile() ? ReadFileBytes(Local(relative)) : QByteArray("(none)");
    }
    QStringList OpenRows()
    {
        return Rows(QStringLiteral("select action, path from sync_request where status in (0, 1, 3, 5, 6, 7)"));
    }
};

// A file deleted here goes on the service only in the version this side
// knew; another version there (edited, or added there while the file here
// never reached the service) stays and comes back here.
enum class Before { Synced, EditedThere, NewHereAddedThere, EditOnItsWayHere };

struct DeletionCase {
    const char* name;
    Before before;
    const char* serviceAfter;
};

std::ostream& operator<<(std::ostream& out, const DeletionCase& item)
{
    return out << item.name;
}

class FileDeletionTest : public DeletionOrderTest, public ::testing::WithParamInterface<DeletionCase> {};

TEST_P(FileDeletionTest, OnlyTheVersionKnownHereIsDeleted)
{
    const DeletionCase& item = GetParam();
    AddLocal(QStringLiteral("\\a.txt"), "mine", 1000);
    if (item.before != Before::NewHereAddedThere)
        Drive();
    if (item.before == Before::EditedThere || item.before == Before::EditOnItsWayHere)
        OtherAgentEdits(QStringLiteral("/a.txt"), "theirs", 3000);
    if (item.before == Before::EditOnItsWayHere) {
        // Recorded and queued for download as the journal replay does.
        StoreFileRecord(QStringLiteral("\\a.txt"), ServiceVersion(QStringLiteral("/a.txt")), 3000, 6);
        PeltaRecVfsSyncFile incoming;
        incoming.kind = XFSFile;
        incoming.path = QStringLiteral("\\a.txt");
        ASSERT_TRUE(engine_->Db().RecGet(incoming));
        ASSERT_TRUE(engine_->QueueFileGet(incoming));
    }
    Remove(QStringLiteral("\\a.txt"));
    ASSERT_TRUE(engine_->FileRemove(QStringLiteral("\\a.txt")));
    if (item.before == Before::NewHereAddedThere)
        OtherAgentEdits(QStringLiteral("/a.txt"), "theirs", 3000);

    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), item.serviceAfter);
    EXPECT_EQ(LocalContent(QStringLiteral("\\a.txt")), item.serviceAfter);
    const std::string record = ServiceItem(QStringLiteral("/a.txt"))
                                   ? (ServiceVersion(QStringLiteral("/a.txt")) + QStringLiteral("|3000|6")).toStdString()
                                   : std::string();
    EXPECT_EQ(FileRecord(QStringLiteral("\\a.txt")), record);
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

INSTANTIATE_TEST_SUITE_P(Cases, FileDeletionTest,
                         ::testing::Values(DeletionCase{"Synced", Before::Synced, "(none)"},
                                           DeletionCase{"EditedThere", Before::EditedThere, "theirs"},
                                           DeletionCase{"NewHereAddedThere", Before::NewHereAddedThere, "theirs"},
                                           DeletionCase{"EditOnItsWayHere", Before::EditOnItsWayHere, "theirs"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file renamed here moves the service's file only in the version this
// side knew; another version there (edited meanwhile) stays under the old
// name and comes back here, and the file here goes up under its new name.
struct MoveCase {
    const char* name;
    bool editedThere;
    bool changedHere;
    const char* oldNameAfter;
    const char* newNameAfter;
};

std::ostream& operator<<(std::ostream& out, const MoveCase& item)
{
    return out << item.name;
}

class FileMoveTest : public DeletionOrderTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(FileMoveTest, OnlyTheVersionKnownHereIsMoved)
{
    const MoveCase& item = GetParam();
    AddLocal(QStringLiteral("\\a.txt"), "mine", 1000);
    Drive();
    if (item.editedThere)
        OtherAgentEdits(QStringLiteral("/a.txt"), "theirs", 3000);
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
    if (item.changedHere)
        MakeFile(QStringLiteral("\\b.txt"), "mine, changed", 1100);
    ASSERT_TRUE(engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")));

    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), item.oldNameAfter);
    EXPECT_EQ(LocalContent(QStringLiteral("\\a.txt")), item.oldNameAfter);
    EXPECT_EQ(ServiceContent(QStringLiteral("/b.txt")), item.newNameAfter);
    EXPECT_EQ(LocalContent(QStringLiteral("\\b.txt")), item.newNameAfter);
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileMoveTest,
    ::testing::Values(MoveCase{"Synced", false, false, "(none)", "mine"},
                      MoveCase{"ChangedHere", false, true, "(none)", "mine, changed"},
                      MoveCase{"EditedThere", true, false, "theirs", "mine"},
                      MoveCase{"EditedThereAndChangedHere", true, true, "theirs", "mine, changed"}),
    [](const auto& info) { return std::string(info.param.name); });

// A folder removed here while a file in it changed there: the file's
// deletion does not reach that version, nor does the folder's deletion
// take it along - the folder is made again here and the file fetched into
// it, while what went here only goes on the service.
TEST_F(DeletionOrderTest, AFolderDeletedHereKeepsAFileChangedThere)
{
    for (const char* folder : {"\\F", "\\F\\G"}) {
        MakeFolder(QString::fromLatin1(folder));
        engine_->FileAdd(QString::fromLatin1(folder), 0, false, false);
    }
    AddLocal(QStringLiteral("\\F\\G\\x.txt"), "mine", 1000);
    AddLocal(QStringLiteral("\\F\\y.txt"), "other", 1000);
    Drive();
    ASSERT_EQ(ServiceContent(QStringLiteral("/F/G/x.txt")), "mine");
    OtherAgentEdits(QStringLiteral("/F/G/x.txt"), "theirs", 3000);
    Remove(QStringLiteral("\\F"));
    for (const char* gone : {"\\F\\G\\x.txt", "\\F\\G", "\\F\\y.txt", "\\F"})
        ASSERT_TRUE(engine_->FileRemove(QString::fromLatin1(gone)));

    DriveWithRetries(4);
    EXPECT_EQ(ServiceContent(QStringLiteral("/F/G/x.txt")), "theirs");
    EXPECT_EQ(LocalContent(QStringLiteral("\\F\\G\\x.txt")), "theirs");
    EXPECT_EQ(ServiceContent(QStringLiteral("/F/y.txt")), "(none)");
    EXPECT_EQ(LocalContent(QStringLiteral("\\F\\y.txt")), "(none)");
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

// A folder moved here while a file in it changed there and the file's
// download is queued: the folder is never made again under its old name,
// and the changed file arrives under the new one, here and on the service -
// whether the download runs while the move still waits to be taken in or
// only after, and whatever characters the folder's name holds.
struct FolderMoveCase {
    const char* name;
    bool downloadFirst;
    const char* folder;  // UTF-8, below the root
};

std::ostream& operator<<(std::ostream& out, const FolderMoveCase& item)
{
    return out << item.name;
}

class FolderMovedHereTest : public DeletionOrderTest, public ::testing::WithParamInterface<FolderMoveCase> {
protected:
    void TearDown() override
    {
        PendingLocalMoves::Clear();
        DeletionOrderTest::TearDown();
    }
};

TEST_P(FolderMovedHereTest, TakesAWaitingDownloadAlong)
{
    const FolderMoveCase& item = GetParam();
    const QString folder = QString::fromUtf8(item.folder);
    const QString local = QStringLiteral("\\") + folder;
    const QString file = local + QStringLiteral("\\x.txt");
    MakeFolder(local);
    engine_->FileAdd(local, 0, false, false);
    AddLocal(file, "mine", 1000);
    Drive();
    ASSERT_EQ(ServiceContent(QLatin1Char('/') + folder + QStringLiteral("/x.txt")), "mine");
    // Queued for download as the journal replay does; the record keeps the
    // facts of the file here until the service's content is in place.
    OtherAgentEdits(QLatin1Char('/') + folder + QStringLiteral("/x.txt"), "theirs", 3000);
    PeltaRecVfsSyncFile incoming;
    incoming.kind = XFSFile;
    incoming.path = file;
    ASSERT_TRUE(engine_->Db().RecGet(incoming));
    ASSERT_TRUE(engine_->QueueFileGet(incoming));

    Move(local, QStringLiteral("\\Docs"));
    PendingLocalMoves::Seen(local, QStringLiteral("\\Docs"));
    if (item.downloadFirst) {
        Drive();
        EXPECT_FALSE(QFileInfo::exists(Local(local)));
    }
    ASSERT_TRUE(engine_->FileRename(local, QStringLiteral("\\Docs")));
    PendingLocalMoves::TakenIn(local, QStringLiteral("\\Docs"));

    DriveWithRetries(4);
    EXPECT_FALSE(QFileInfo::exists(Local(local)));
    EXPECT_FALSE(ServiceItem(QLatin1Char('/') + folder).has_value());
    EXPECT_EQ(LocalContent(QStringLiteral("\\Docs\\x.txt")), "theirs");
    EXPECT_EQ(ServiceContent(QStringLiteral("/Docs/x.txt")), "theirs");
    EXPECT_EQ(FileRecord(file), "");
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
    // Nothing the old name's row fetched is left in the cache folder.
    QStringList cached = QDir(engine_->CacheDir()).entryList(QDir::Files | QDir::Hidden);
    cached.removeAll(QStringLiteral(".mounted"));
    EXPECT_EQ(cached.join(QLatin1Char(',')).toStdString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderMovedHereTest,
    ::testing::Values(FolderMoveCase{"DownloadWhileTheMoveWaits", true, "A"},
                      FolderMoveCase{"MoveTakenInFirst", false, "A"},
                      FolderMoveCase{"NameBeyondTheBasicPlane", false, "\xF0\x9F\x93\x81 Notes"}),
    [](const auto& info) { return std::string(info.param.name); });

// A file added there is on its way here (recorded, its download queued)
// when the folder it goes into is removed here: it stays on the service and
// arrives here, in the folder made again.
TEST_F(DeletionOrderTest, AFolderDeletedHereKeepsAFileOnItsWayIn)
{
    MakeFolder(QStringLiteral("\\F"));
    engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
    AddLocal(QStringLiteral("\\F\\y.txt"), "other", 1000);
    Drive();
    OtherAgentEdits(QStringLiteral("/F/new.txt"), "new there", 3000);
    StoreFileRecord(QStringLiteral("\\F\\new.txt"), ServiceVersion(QStringLiteral("/F/new.txt")), 3000, 9);
    PeltaRecVfsSyncFile incoming;
    incoming.kind = XFSFile;
    incoming.path = QStringLiteral("\\F\\new.txt");
    ASSERT_TRUE(engine_->Db().RecGet(incoming));
    ASSERT_TRUE(engine_->QueueFileGet(incoming));
    Remove(QStringLiteral("\\F"));
    ASSERT_TRUE(engine_->FileRemove(QStringLiteral("\\F")));

    DriveWithRetries(4);
    EXPECT_EQ(ServiceContent(QStringLiteral("/F/new.txt")), "new there");
    EXPECT_EQ(LocalContent(QStringLiteral("\\F\\new.txt")), "new there");
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

// The same while the file's content is still being fetched at once, before
// any download row stands for it: the folder's removal keeps the record and
// its deletion waits, so the service does not take the file along with it.
TEST_F(DeletionOrderTest, AFolderDeletedHereKeepsAFileBeingFetched)
{
    MakeFolder(QStringLiteral("\\F"));
    engine_->FileAdd(QStringLiteral("\\F"), 0, false, false);
    AddLocal(QStringLiteral("\\F\\y.txt"), "other", 1000);
    Drive();
    OtherAgentEdits(QStringLiteral("/F/new.txt"), "new there", 3000);
    {
        const IncomingFetches::Scope fetching(QStringLiteral("\\F\\new.txt"));
        StoreFileRecord(QStringLiteral("\\F\\new.txt"), QString(), 0, 0);
        Remove(QStringLiteral("\\F"));
        ASSERT_TRUE(engine_->FileRemove(QStringLiteral("\\F")));
        Drive();
        ASSERT_EQ(ServiceContent(QStringLiteral("/F/new.txt")), "new there");
        // The fetch finds its folder gone and leaves the file to a row.
        PeltaRecVfsSyncFile incoming;
        incoming.kind = XFSFile;
        incoming.path = QStringLiteral("\\F\\new.txt");
        ASSERT_TRUE(engine_->Db().RecGet(incoming));
        incoming.version = ServiceVersion(QStringLiteral("/F/new.txt"));
        ASSERT_TRUE(engine_->QueueFileGet(incoming));
    }

    DriveWithRetries(4);
    EXPECT_EQ(ServiceContent(QStringLiteral("/F/new.txt")), "new there");
    EXPECT_EQ(LocalContent(QStringLiteral("\\F\\new.txt")), "new there");
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

// A change of a file whose record knows no version of the service's (its
// first upload was kept there under a conflict name, say) never replaces
// the service's file of that name unseen: it goes up as an add, which the
// service keeps beside that file.
TEST_F(DeletionOrderTest, AChangeWithoutAKnownVersionNeverReplacesTheServicesFileUnseen)
{
    OtherAgentEdits(QStringLiteral("/a.txt"), "theirs", 3000);
    MakeFile(QStringLiteral("\\a.txt"), "mine", 1000);
    StoreFileRecord(QStringLiteral("\\a.txt"), QString(), 1000, 4);
    ModifyLocal(QStringLiteral("\\a.txt"), "mine, changed", 1100);
    // A local change of such a record is queued as an add; a modification row
    // may still come from a store written before that.
    Run(QStringLiteral("update sync_request set action=") + QString::number(XSYNCFileMod));
    ASSERT_EQ(Joined(OpenRows()), std::to_string(XSYNCFileMod) + "|\\a.txt");

    Drive(1);
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "theirs");
    EXPECT_EQ(ServiceContent(QStringLiteral("/a (conflict 1).txt")), "mine, changed");
}

// An item added here and gone again while its add is under way: the add
// lands, then the deletion, whichever row the worker takes first - also
// when the removal itself was never seen (lost in a restart).
struct AddThenGoneCase {
    const char* name;
    bool folder;
    bool removalSeen;
};

std::ostream& operator<<(std::ostream& out, const AddThenGoneCase& item)
{
    return out << item.name;
}

class AddThenGoneTest : public DeletionOrderTest, public ::testing::WithParamInterface<AddThenGoneCase> {};

TEST_P(AddThenGoneTest, TheDeletionReachesTheServiceAfterTheAdd)
{
    const AddThenGoneCase& item = GetParam();
    const QString path = item.folder ? QStringLiteral("\\F") : QStringLiteral("\\a.txt");
    const QString servicePath = item.folder ? QStringLiteral("/F") : QStringLiteral("/a.txt");
    if (item.folder) {
        MakeFolder(path);
        engine_->FileAdd(path, 0, false, false);
    } else {
        AddLocal(path, "content", 1000);
    }
    // The add is registered (and sent) but its commit fails: it is retried
    // later, after the fresh deletion row.
    service_.Faults().SetNext("commitSyncJournal", Fault::Http500());
    Drive();
    ASSERT_FALSE(ServiceItem(servicePath));
    Remove(path);
    if (item.removalSeen) {
        ASSERT_TRUE(engine_->FileRemove(path));
    }

    DriveWithRetries(4);
    EXPECT_FALSE(ServiceItem(servicePath)) << Joined(RowStates());
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 0);
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

// A file added here and deleted again before its add went up, while the
// service's file of that name came here: the deletion queued before the
// download takes nothing from the service, and both sides keep that file.
TEST_F(DeletionOrderTest, ADeletionOvertakenByADownloadLeavesTheServicesFile)
{
    AddLocal(QStringLiteral("\\a.txt"), "mine", 1000);
    service_.Faults().SetNext("setSyncJournal", Fault::Http500());
    Drive();
    Remove(QStringLiteral("\\a.txt"));
    ASSERT_TRUE(engine_->FileRemove(QStringLiteral("\\a.txt")));
    OtherAgentEdits(QStringLiteral("/a.txt"), "theirs", 3000);
    StoreFileRecord(QStringLiteral("\\a.txt"), ServiceVersion(QStringLiteral("/a.txt")), 3000, 6);
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\a.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileGet, false));

    DriveWithRetries(4);
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "theirs") << Joined(RowStates());
    EXPECT_EQ(LocalContent(QStringLiteral("\\a.txt")), "theirs");
    EXPECT_EQ(FileRecord(QStringLiteral("\\a.txt")),
              (ServiceVersion(QStringLiteral("/a.txt")) + QStringLiteral("|3000|6")).toStdString());
    EXPECT_EQ(Joined(OpenRows()), "") << Joined(RowStates());
}

INSTANTIATE_TEST_SUITE_P(Cases, AddThenGoneTest,
                         ::testing::Values(AddThenGoneCase{"Folder", true, true},
                                           AddThenGoneCase{"FolderRemovalLost", true, false},
                                           AddThenGoneCase{"File", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
