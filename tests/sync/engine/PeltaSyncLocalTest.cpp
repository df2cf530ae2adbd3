#include "tests/sync/SyncFixture.h"

#include "foundation/db/PeltaDb.h"
#include "sync/rules/FileInUse.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QStringList>

#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class PeltaSyncLocalTest : public SyncFixture {
protected:
    void TearDown() override
    {
        FileInUse::Override({});
        SyncFixture::TearDown();
    }

    void Add(const QString& path) { engine_->FileAdd(path, 1, false, false); }

    // The files in the cache folder, by name, joined by ",".
    std::string CacheEntries() const
    {
        return QDir(SyncRoot() + QStringLiteral("/.tessaron.cache"))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)
            .join(QLatin1Char(','))
            .toStdString();
    }

    // Marks every request row as committed, so nothing is open.
    void CommitAll() { Run(QStringLiteral("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP")); }
    void SetVersion(const QString& path, const char* version)
    {
        Run(QStringLiteral("update vfs_sync_file set version='") + QLatin1String(version) +
            QStringLiteral("' where path='") + path + QStringLiteral("'"));
    }
};

TEST_F(PeltaSyncLocalTest, ANewFileIsStoredAndQueuedWithItsOptions)
{
    MakeFile(QStringLiteral("\\a.txt"), "twelve bytes", 100);
    Add(QStringLiteral("\\a.txt"));

    EXPECT_EQ(Joined(FileRows()), "\\a.txt|ef8ec84e850c0d37862887c89b88f44e|\\|a.txt");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select sn, version, mtime, size from vfs_sync_file"))), "12345||100|12");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select key, sn, agent_key, action, status, priority from sync_request"))),
              "ef8ec84e850c0d37862887c89b88f44e|12345|" + AgentKey.toStdString() + "|1|1|0");
    EXPECT_EQ(Joined(Opts(XSYNCFileAdd)),
              R"({"local_mtime":"100","my_base64_full_path_name":"L2EudHh0","size":"12","upload_type":"postFile2"})");
    EXPECT_EQ(Markers(QStringLiteral("\\a.txt")), QStringLiteral("1"));
}

TEST_F(PeltaSyncLocalTest, ANewFileInANewFolderStoresTheFolderFirst)
{
    MakeFolder(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\a.txt"));
    SetMtime(QStringLiteral("\\Docs"), 500);
    Add(QStringLiteral("\\Docs\\a.txt"));

    const QString docsKey = engine_->RecordKey(QStringLiteral("\\Docs"));
    EXPECT_EQ(Joined(FolderRows()), ("\\Docs|" + docsKey + "|\\|Docs").toStdString());
    EXPECT_EQ(Joined(FileRows()),
              ("\\Docs\\a.txt|c5fdd55a4fef28dfad882c9aa99e4be4|" + docsKey + "|a.txt").toStdString());
    // The folder's own add, the parent check's second add (from the keys
    // alone, so without a time), then the file.
    EXPECT_EQ(Joined(Requests()), "6|\\Docs||1\n6|\\Docs||1\n1|\\Docs\\a.txt||1");
    EXPECT_EQ(Joined(Opts(XSYNCFolderAdd)), R"({"local_mtime":"500","my_base64_full_path_name":"L0RvY3M="})"
                                            "\n"
                                            R"({"local_mtime":"0","my_base64_full_path_name":"L0RvY3M="})");
    EXPECT_EQ(Markers(QStringLiteral("\\Docs")), QStringLiteral("1"));
    EXPECT_EQ(Markers(QStringLiteral("\\Docs\\a.txt")), QStringLiteral("1"));
}

TEST_F(PeltaSyncLocalTest, AnUnchangedFileWithAVersionIsOnlyMarkedSynced)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    SetVersion(QStringLiteral("\\a.txt"), "v1");

    Add(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_EQ(Markers(QStringLiteral("\\a.txt")), QStringLiteral("9"));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("DB:Add:\\a.txt:File not change, skip")));

    // Without a version the same file is sent again, as an add: no version
    // of the service's is known for it to be an edit of.
    SetVersion(QStringLiteral("\\a.txt"), "");
    Add(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Joined(Requests()), "1|\\a.txt||4\n1|\\a.txt||1");
    EXPECT_EQ(Markers(QStringLiteral("\\a.txt")), QStringLiteral("1"));
}

TEST_F(PeltaSyncLocalTest, AChangedFileWithAnOpenRequestIsLeftToThatRequest)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    MakeFile(QStringLiteral("\\a.txt"), "abcdef", 2000);
    Add(QStringLiteral("\\a.txt"));

    EXPECT_EQ(Joined(Rows(QStringLiteral("select mtime, size from vfs_sync_file"))), "1000|3");
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("DB:Add:\\a.txt:File changed, but in queue, skip")));

    // A change the store does not know yet, while a row for the path is open.
    Run(QStringLiteral("delete from vfs_sync_file"));
    Add(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("DB:Add:\\a.txt:not in db, but in queue, skip")));
}

// A file deleted here and made again under its name before the deletion
// went: the new file is sent after the deletion, not taken as covered by it.
TEST_F(PeltaSyncLocalTest, AFileMadeAgainWhileItsDeletionIsOpenIsSentAnew)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    SetVersion(QStringLiteral("\\a.txt"), "v1");
    Remove(QStringLiteral("\\a.txt"));
    ASSERT_TRUE(engine_->FileRemove(QStringLiteral("\\a.txt")));

    MakeFile(QStringLiteral("\\a.txt"), "made again", 2000);
    Add(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Joined(Requests()), "1|\\a.txt||4\n3|\\a.txt||1\n1|\\a.txt||1");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select mtime, size from vfs_sync_file"))), "2000|10");
}

// A new folder's mark stays when items arrive in it: the request worker
// rescans the folder once the mark is old enough, whatever came before.
TEST_F(PeltaSyncLocalTest, FolderAddMarksAreLeftByNewFoldersAndKeptByTheirItems)
{
    MakeFolder(QStringLiteral("\\New"));
    Add(QStringLiteral("\\New"));
    EXPECT_EQ(status_->FolderAddCount(), 1);
    MakeFile(QStringLiteral("\\New\\a.txt"));
    Add(QStringLiteral("\\New\\a.txt"));
    EXPECT_EQ(status_->FolderAddCount(), 1);

    MakeFolder(QStringLiteral("\\Quiet"));
    engine_->FileAdd(QStringLiteral("\\Quiet"), 0, false, false);
    EXPECT_EQ(status_->FolderAddCount(), 1);  // level 0 leaves no mark
}

TEST_F(PeltaSyncLocalTest, TheEnginesOwnWritesAreSwallowedByModify)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    MakeFile(QStringLiteral("\\a.txt"), "downloaded", 2000);
    status_->FileMon(QStringLiteral("\\a.txt"), PeltaRequestObject::SelfChangeMark, false);

    engine_->FileModify(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_FALSE(status_->IsFileMonitored(QStringLiteral("\\a.txt")));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:FileModify:in FileMon list, skip")));
}

TEST_F(PeltaSyncLocalTest, AChangedFileIsQueuedOnceWithItsStoredVersion)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    SetVersion(QStringLiteral("\\a.txt"), "v1");

    engine_->FileModify(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("DB:Upd:\\a.txt:skip, file not changed")));

    MakeFile(QStringLiteral("\\a.txt"), "abcd", 2000);
    engine_->FileModify(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Joined(Requests()), "1|\\a.txt||4\n2|\\a.txt||1");
    EXPECT_EQ(Joined(Opts(XSYNCFileMod)),
              R"({"local_mtime":"2000","my_base64_full_path_name":"L2EudHh0","size":"4",)"
              R"("upload_type":"postFile2","version":"v1"})");

    // The open modification sends whatever the file holds when it runs.
    MakeFile(QStringLiteral("\\a.txt"), "abcde", 3000);
    engine_->FileModify(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Requests().size(), 2);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select mtime, size, version from vfs_sync_file"))), "3000|5|v1");
}

TEST_F(PeltaSyncLocalTest, AModificationWhileTheAddIsOpenOnlyUpdatesTheRecord)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    evtRequestQueue.Reset();
    trayEvent_.Reset();
    evtTrayIconMsn.Reset();

    MakeFile(QStringLiteral("\\a.txt"), "abcdef", 2000);
    engine_->FileModify(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select mtime, size from vfs_sync_file"))), "2000|6");
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_TRUE(evtRequestQueue.IsSignalled());
    EXPECT_TRUE(evtTrayIconMsn.IsSignalled());
    evtRequestQueue.Reset();
    evtTrayIconMsn.Reset();
}

TEST_F(PeltaSyncLocalTest, AModifiedFileTheStoreDoesNotKnowIsAdded)
{
    MakeFile(QStringLiteral("\\new.txt"));
    engine_->FileModify(QStringLiteral("\\new.txt"));
    EXPECT_EQ(Joined(Requests()), "1|\\new.txt||1");
}

// The file went away, or turned into a folder, before the operation ran: a
// log line, the stored record as it was, nothing queued.
TEST_F(PeltaSyncLocalTest, AnItemGoneOrReplacedBeforeTheOperationChangesNothing)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    const QStringList rows = Rows(QStringLiteral("select * from vfs_sync_file"));

    Remove(QStringLiteral("\\a.txt"));
    engine_->FileModify(QStringLiteral("\\a.txt"));
    Add(QStringLiteral("\\b.txt"));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:FileAdd:File is missing")));

    MakeFolder(QStringLiteral("\\a.txt"));
    engine_->FileModify(QStringLiteral("\\a.txt"));

    EXPECT_EQ(Rows(QStringLiteral("select * from vfs_sync_file")), rows);
    EXPECT_EQ(Requests().size(), 1);
}

// When the file cannot be read in place and no copy can be made, nothing is
// stored: no record without size or time, no add of an empty file.
TEST_F(PeltaSyncLocalTest, AFileThatCannotBeReadIsNotStored)
{
    MakeFile(QStringLiteral("\\busy.doc"), "content", 1000);
    ASSERT_TRUE(WriteFileBytes(SyncRoot() + QStringLiteral("/.tessaron.cache"), "not a folder"));
    FileInUse::Override([](const QString&) { return true; });

    Add(QStringLiteral("\\busy.doc"));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_EQ(Requests().size(), 0);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:FileAdd:cannot read, not stored:\\busy.doc")));

    // With a cache folder the copy is what gets stored.
    ASSERT_EQ(::unlink((SyncRoot() + QStringLiteral("/.tessaron.cache")).toUtf8().constData()), 0);
    Add(QStringLiteral("\\busy.doc"));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select mtime, size from vfs_sync_file"))), "1000|7");
    EXPECT_EQ(status_->FileState(QStringLiteral("\\busy.doc")), PeltaSync::FileStateInUse);
}

// The file goes away while it is being read: the stored record keeps its
// size and time (no zeros), and nothing is queued.
TEST_F(PeltaSyncLocalTest, AFileVanishingWhileItIsReadKeepsItsRecord)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    const QStringList rows = Rows(QStringLiteral("select * from vfs_sync_file"));
    FileInUse::Override([](const QString& full) {
        ::unlink(full.toUtf8().constData());
        return true;
    });

    engine_->FileModify(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Rows(QStringLiteral("select * from vfs_sync_file")), rows);
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:FileModify:cannot read, not stored:\\a.txt")));
}

TEST_F(PeltaSyncLocalTest, FifosAndLinksAreNeverStored)
{
    ASSERT_EQ(::mkfifo(Local(QStringLiteral("\\pipe")).toUtf8().constData(), 0600), 0);
    ASSERT_EQ(::symlink("/", Local(QStringLiteral("\\root")).toUtf8().constData()), 0);
    for (const char* path : {"\\pipe", "\\root", "\\root\\etc\\hostname"}) {
        Add(QString::fromLatin1(path));
        engine_->FileModify(QString::fromLatin1(path));
    }
    EXPECT_FALSE(engine_->FileRename(QStringLiteral("\\x"), QStringLiteral("\\pipe")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 0);
    EXPECT_EQ(Requests().size(), 0);
}

TEST_F(PeltaSyncLocalTest, AStoppingEngineAddsNothing)
{
    MakeFile(QStringLiteral("\\a.txt"));
    AppState = XAPPExit;
    Add(QStringLiteral("\\a.txt"));
    AppState = XAPPOnline;
    engine_->SetAgentSetting(&settings_);
    Add(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    engine_->ClearAbort();
    Add(QStringLiteral("\\a.txt"));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 1);
}

TEST_F(PeltaSyncLocalTest, QuotesInNamesAreStoredAsTheyAre)
{
    MakeFolder(QStringLiteral("\\O'Brien"));
    MakeFile(QStringLiteral("\\O'Brien\\it's.txt"));
    Add(QStringLiteral("\\O'Brien\\it's.txt"));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, name from vfs_sync_file"))), "\\O'Brien\\it's.txt|it's.txt");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, name from vfs_sync_folder"))), "\\O'Brien|O'Brien");
    EXPECT_EQ(Requests().size(), 3);
}

// An upload sent back to registration (its journal key expired, say) takes a
// fresh snapshot when it runs again. A modification seen while the row was
// still transferring is queued as a row of its own, which replaces the one
// back at registration; nothing of the replaced row stays in the cache
// folder.
TEST_F(PeltaSyncLocalTest, AnUploadRegisteredAgainAndThenReplacedLeavesNoSnapshot)
{
    const QString path = QStringLiteral("\\a.txt");
    MakeFile(path, "abc", 1000);
    Add(path);
    CommitAll();
    SetVersion(path, "v1");
    MakeFile(path, "abcd", 2000);
    engine_->FileModify(path);

    PeltaRecSyncRequest row;
    row.rowid = static_cast<int>(Number(QStringLiteral("select max(rowid) from sync_request")));
    row.key = engine_->RecordKey(path);
    row.path = path;
    row.action = XSYNCFileMod;
    PeltaRecVfsSyncFile copy;
    ASSERT_TRUE(engine_->TakeUploadSnapshot(row, copy));
    engine_->RegisterAgain(row);

    MakeFile(path, "abcde", 3000);
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = path;
    ASSERT_TRUE(engine_->Db().RecGet(record));
    record.mtime = 3000;
    ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileMod, false));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select status from sync_request where rowid=") +
                          QString::number(row.rowid))),
              "12");
    EXPECT_EQ(CacheEntries(), "");
}

// A copy taken of a file in use waits in the cache folder for the upload row
// that registers the file next. A change that queues no upload leaves no copy
// behind, and the copy goes once the last upload row of the file has ended.
struct LockedChangeCase {
    const char* name;
    const char* to;          // the name the file ends under
    const char* content;     // its content then
    bool uploadQueued;
};

class LockedCopyTest : public PeltaSyncLocalTest, public testing::WithParamInterface<LockedChangeCase> {};

TEST_P(LockedCopyTest, NoCopyOutlivesTheUploadsThatMayTakeIt)
{
    const LockedChangeCase& change = GetParam();
    const QString from = QStringLiteral("\\a.txt");
    const QString to = QString::fromLatin1(change.to);
    MakeFile(from, "abc", 1000);
    Add(from);
    CommitAll();
    SetVersion(from, "v1");
    if (to != from)
        Move(from, to);
    if (QByteArray(change.content) != "abc")
        MakeFile(to, change.content, 2000);
    FileInUse::Override([](const QString&) { return true; });

    if (to == from)
        engine_->FileModify(to);
    else
        EXPECT_TRUE(engine_->FileRename(from, to));
    const QString copy = QLatin1Char('_') + engine_->RecordKey(to);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where commit_time is null and action=") +
                     QString::number(XSYNCFileMod)),
              change.uploadQueued ? 1 : 0);
    EXPECT_EQ(CacheEntries(), change.uploadQueued ? copy.toStdString() : "");
    if (!change.uploadQueued)
        return;

    // The row ends (committed here) without having taken the copy.
    PeltaRecSyncRequest row;
    row.rowid = static_cast<int>(Number(QStringLiteral("select rowid from sync_request where action=") +
                                        QString::number(XSYNCFileMod)));
    row.key = engine_->RecordKey(to);
    row.path = to;
    row.action = XSYNCFileMod;
    CommitAll();
    engine_->RemoveUploadSnapshot(row);
    EXPECT_EQ(CacheEntries(), "");
}

const LockedChangeCase lockedChanges[] = {
    {"ModifiedButUnchanged", "\\a.txt", "abc", false},
    {"Renamed", "\\b.txt", "abc", false},
    {"ModifiedWithNewContent", "\\a.txt", "abcdef", true},
    {"RenamedWithNewContent", "\\b.txt", "abcdef", true},
};

INSTANTIATE_TEST_SUITE_P(Cases, LockedCopyTest, testing::ValuesIn(lockedChanges),
                         [](const testing::TestParamInfo<LockedChangeCase>& info) { return info.param.name; });

// Another thread (a download about to be placed) reads the record, then
// whether an upload of the path is open. A record that already holds the new
// local content and a version while no upload is open yet looks like a file
// still as the service has it, and would be replaced. A trigger notes, at
// each write of the record, whether an upload row of the path was open.
enum class RecordedChange { Modified, AddedAgain, DownloadKeptBeside };

struct RecordedChangeCase {
    const char* name;
    RecordedChange change;
};

class RecordBeforeUploadTest : public PeltaSyncLocalTest,
                               public testing::WithParamInterface<RecordedChangeCase> {
protected:
    void WatchRecordWrites()
    {
        const QString open = QStringLiteral("(select count(*) from sync_request where path=new.path and "
                                            "commit_time is null and status<10 and action in (") +
                             QString::number(XSYNCFileAdd) + QLatin1Char(',') + QString::number(XSYNCFileMod) +
                             QStringLiteral("))");
        Run(QStringLiteral("create table record_writes (path text, size integer, version text, open integer)"));
        for (const char* when : {"insert", "update"})
            Run(QStringLiteral("create trigger record_write_%1 after %1 on vfs_sync_file begin "
                               "insert into record_writes values (new.path, new.size, new.version, %2); end")
                    .arg(QLatin1String(when), open));
    }
};

TEST_P(RecordBeforeUploadTest, TheRecordNeverHoldsUnsentContentWithoutItsUpload)
{
    const QString path = QStringLiteral("\\a.txt");
    MakeFile(path, "abc", 1000);
    Add(path);
    CommitAll();
    SetVersion(path, "v1");
    PeltaRecVfsSyncFile before;
    before.kind = XFSFile;
    before.path = path;
    ASSERT_TRUE(engine_->Db().RecGet(before));
    MakeFile(path, "mine, changed", 2000);
    WatchRecordWrites();

    switch (GetParam().change) {
    case RecordedChange::Modified:
        engine_->FileModify(path);
        break;
    case RecordedChange::AddedAgain:
        Add(path);
        break;
    case RecordedChange::DownloadKeptBeside: {
        ASSERT_TRUE(engine_->EnsureCacheDir());
        const QString incoming = QLatin1Char('\\') + QDir(SyncRoot()).relativeFilePath(engine_->CacheDir()) +
                                 QStringLiteral("\\incoming");
        MakeFile(incoming, "theirs", 1500);
        ASSERT_EQ(engine_->PlaceDownload(Local(incoming), path, before, QStringLiteral("v2")),
                  SafeReplace::Outcome::KeptLocal);
        break;
    }
    }
    // The new content was recorded, and only while its upload was open.
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, size, open from record_writes where path='\\a.txt'"))),
              "\\a.txt|13|1");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where commit_time is null and action=") +
                     QString::number(XSYNCFileMod)),
              1);
    EXPECT_EQ(ReadFileBytes(Local(path)), "mine, changed");
}

const RecordedChangeCase recordedChanges[] = {
    {"Modified", RecordedChange::Modified},
    {"AddedAgain", RecordedChange::AddedAgain},
    {"DownloadKeptBeside", RecordedChange::DownloadKeptBeside},
};

INSTANTIATE_TEST_SUITE_P(Cases, RecordBeforeUploadTest, testing::ValuesIn(recordedChanges),
                         [](const testing::TestParamInfo<RecordedChangeCase>& info) { return info.param.name; });

// While the engine's own write of a file runs, every event there counts as
// its own, a user's write in that time included. Once the record is written
// and the mark lowered, a file that no longer agrees with its record is the
// user's change and goes up; one that still agrees stays as it is.
TEST_F(PeltaSyncLocalTest, AWriteHereDuringTheEnginesOwnWriteIsTakenInWhenItSettles)
{
    const QString path = QStringLiteral("\\a.txt");
    for (const bool userWrote : {false, true}) {
        SCOPED_TRACE(userWrote ? "written meanwhile" : "as placed");
        Run(QStringLiteral("delete from sync_request"));
        MakeFile(path, "placed", 1000);
        Add(path);
        CommitAll();
        SetVersion(path, "v1");
        engine_->Status().FileMon(path, PeltaRequestObject::SelfChangeMark, false);
        if (userWrote)
            MakeFile(path, "the user's own text", 2000);

        engine_->SettleOwnChange(path);
        EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where commit_time is null and action=") +
                         QString::number(XSYNCFileMod)),
                  userWrote ? 1 : 0);
    }
}

}  // namespace
