#include "tests/sync/SyncFixture.h"

#include "foundation/db/PeltaDb.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/HalfRecordedChange.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QString>

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

namespace {

class PeltaSyncMoveRemoveTest : public SyncFixture {
protected:
    void Add(const QString& path) { engine_->FileAdd(path, 1, false, false); }
    void CommitAll()
    {
        Run(QStringLiteral("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP"));
        Run(QStringLiteral("update vfs_sync_file set version='v1'"));
    }
    // Requests queued after CommitAll.
    QStringList OpenRequests()
    {
        return Rows(QStringLiteral(
            "select action, path, path2 from sync_request where commit_time is null order by rowid"));
    }
    std::string Row(const QString& path, const QString& parentKey, const QString& name)
    {
        return (path + QLatin1Char('|') + engine_->RecordKey(path) + QLatin1Char('|') + parentKey + QLatin1Char('|') +
                name)
            .toStdString();
    }
    QString Key(const char* path) { return engine_->RecordKey(QString::fromUtf8(path)); }
    void InsertFileRow(const QString& key, const QString& parent, const QString& path)
    {
        Run(QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, version, ctime, mtime, size) "
                           "values (") +
            PeltaRec::Literal(key) + QStringLiteral(", '12345', ") + PeltaRec::Literal(parent) +
            QStringLiteral(", 'x', ") + PeltaRec::Literal(path) + QStringLiteral(", 'v1', 1, 1, 1)"));
    }
};

TEST_F(PeltaSyncMoveRemoveTest, ARenamedFileMovesItsRowAndQueuesAMove)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")));
    EXPECT_EQ(Joined(FileRows()), Row(QStringLiteral("\\b.txt"), QStringLiteral("\\"), QStringLiteral("b.txt")));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select version from vfs_sync_file"))), "v1");
    EXPECT_EQ(Joined(OpenRequests()), "4|\\b.txt|\\a.txt");
    EXPECT_EQ(Joined(Opts(XSYNCFileMove)),
              R"({"local_mtime":"1000","my_base64_dest_full_path_name":"L2IudHh0",)"
              R"("my_base64_orig_full_path_name":"L2EudHh0","total_move_inode":"1","total_move_size":"3",)"
              R"("version":"v1"})");

    EXPECT_FALSE(engine_->FileRename(QStringLiteral("\\b.txt"), QStringLiteral("\\b.txt")));
    EXPECT_FALSE(engine_->FileRename(QStringLiteral("\\b.txt"), QStringLiteral("\\gone.txt")));
}

// The content changed along with the name: the move alone would leave the
// service with the old content.
TEST_F(PeltaSyncMoveRemoveTest, ARenameWithNewContentAlsoQueuesTheModification)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));
    MakeFile(QStringLiteral("\\b.txt"), "abcdef", 2000);

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")));
    EXPECT_EQ(Joined(OpenRequests()), "4|\\b.txt|\\a.txt\n2|\\b.txt|");
    EXPECT_EQ(Joined(Opts(XSYNCFileMod)),
              R"({"local_mtime":"2000","my_base64_full_path_name":"L2IudHh0","size":"6",)"
              R"("upload_type":"postFile2","version":"v1"})");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select mtime, size, version from vfs_sync_file"))), "2000|6|v1");
}

// The same when the change was recorded before the rename and its upload has
// not run: that row finds nothing at the old name.
TEST_F(PeltaSyncMoveRemoveTest, ARenameOfAChangeNotSentYetAlsoQueuesTheModification)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();
    MakeFile(QStringLiteral("\\a.txt"), "abcdef", 2000);
    engine_->FileModify(QStringLiteral("\\a.txt"));
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")));
    EXPECT_EQ(Joined(OpenRequests()), "2|\\a.txt|\n4|\\b.txt|\\a.txt\n2|\\b.txt|");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, mtime, size, version from vfs_sync_file"))),
              "\\b.txt|2000|6|v1");
}

// The change is being recorded under the old name by another thread - its
// record holds the new time and size, its upload row is not open yet - when
// the rename comes. Taken then, the rename would find the file like its
// record with nothing waiting to go up and queue the move alone, and the
// row opened afterwards would find no file. It waits for the recording.
TEST_F(PeltaSyncMoveRemoveTest, ARenameWaitsForAChangeBeingRecordedUnderTheOldName)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    CommitAll();

    // The recording of the change, as far as its record.
    HalfRecordedChange recording;
    const auto recorder = NewEngine();
    MakeFile(QStringLiteral("\\a.txt"), "abcdef", 2000);
    PeltaRecVfsSyncFile changed;
    changed.kind = XFSFile;
    changed.path = QStringLiteral("\\a.txt");
    ASSERT_TRUE(recorder->Db().RecGet(changed));
    changed.mtime = changed.ctime = 2000;
    changed.size = 6;
    ASSERT_TRUE(recorder->Db().RecUpdate(changed));
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));

    bool queued = false;
    const bool reached = recording.RaceWith([&] { engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")); },
                                            // The rest of the recording: the upload row.
                                            [&] { queued = recorder->Db().AddSyncRequest(changed, XSYNCFileMod, false); });

    ASSERT_TRUE(reached);
    ASSERT_TRUE(queued);
    EXPECT_EQ(Joined(OpenRequests()), "2|\\a.txt|\n4|\\b.txt|\\a.txt\n2|\\b.txt|");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, mtime, size, version from vfs_sync_file"))),
              "\\b.txt|2000|6|v1");
}

TEST_F(PeltaSyncMoveRemoveTest, AFileThatNeverReachedTheServiceIsDroppedAndAddedAgain)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000);
    Add(QStringLiteral("\\a.txt"));
    Move(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt"));

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\a.txt"), QStringLiteral("\\b.txt")));
    EXPECT_EQ(Joined(Requests()), "1|\\a.txt||1\n3|\\a.txt||1\n1|\\b.txt||1");
    EXPECT_EQ(Joined(FileRows()), Row(QStringLiteral("\\b.txt"), QStringLiteral("\\"), QStringLiteral("b.txt")));
}

TEST_F(PeltaSyncMoveRemoveTest, ARenamedFolderMovesItsSubtreeWithNewKeys)
{
    MakeFolder(QStringLiteral("\\A\\B"));
    MakeFile(QStringLiteral("\\A\\x.txt"));
    MakeFile(QStringLiteral("\\A\\B\\y.txt"));
    Add(QStringLiteral("\\A\\x.txt"));
    Add(QStringLiteral("\\A\\B\\y.txt"));
    CommitAll();
    Move(QStringLiteral("\\A"), QStringLiteral("\\C"));
    SetMtime(QStringLiteral("\\C"), 700);

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\A"), QStringLiteral("\\C")));
    const QString c = Key("\\C");
    const QString cb = Key("\\C\\B");
    EXPECT_EQ(Joined(FolderRows()), Row(QStringLiteral("\\C"), QStringLiteral("\\"), QStringLiteral("C")) + "\n" +
                                        Row(QStringLiteral("\\C\\B"), c, QStringLiteral("B")));
    EXPECT_EQ(Rows(QStringLiteral("select path, key, parent from vfs_sync_file order by path")),
              QStringList({QStringLiteral("\\C\\B\\y.txt|") + Key("\\C\\B\\y.txt") + QLatin1Char('|') + cb,
                           QStringLiteral("\\C\\x.txt|") + Key("\\C\\x.txt") + QLatin1Char('|') + c}));
    EXPECT_EQ(Joined(OpenRequests()), "9|\\C|\\A");
    EXPECT_EQ(Joined(Opts(XSYNCFolderMove)),
              R"({"local_mtime":"700","my_base64_dest_full_path_name":"L0M=",)"
              R"("my_base64_orig_full_path_name":"L0E=","total_move_inode":"3","total_move_size":"0"})");
    for (const char* moved : {"\\C\\B", "\\C\\x.txt", "\\C\\B\\y.txt"})
        EXPECT_EQ(Markers(QString::fromUtf8(moved)), QStringLiteral("9")) << moved;
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::ResyncLocal Start:\\C, checkFile=true")));
}

TEST_F(PeltaSyncMoveRemoveTest, AQuoteInAMovedFolderNameIsKept)
{
    MakeFolder(QStringLiteral("\\A\\O'Brien"));
    MakeFile(QStringLiteral("\\A\\O'Brien\\f.txt"));
    Add(QStringLiteral("\\A\\O'Brien\\f.txt"));
    Move(QStringLiteral("\\A"), QStringLiteral("\\Z"));

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\A"), QStringLiteral("\\Z")));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, name from vfs_sync_folder order by path"))),
              "\\Z|Z\n\\Z\\O'Brien|O'Brien");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_file"))), "\\Z\\O'Brien\\f.txt");
}

// A folder the store never had arrives under its new name: it is a new
// folder. Rows with an empty parent (from anywhere) are not its children.
TEST_F(PeltaSyncMoveRemoveTest, ARenamedFolderTheStoreDoesNotKnowIsAdded)
{
    InsertFileRow(QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), QString(), QStringLiteral("\\lost.txt"));
    MakeFolder(QStringLiteral("\\Y"));

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\X"), QStringLiteral("\\Y")));
    EXPECT_EQ(Joined(Requests()), "6|\\Y||1");
    EXPECT_EQ(Joined(FolderRows()), Row(QStringLiteral("\\Y"), QStringLiteral("\\"), QStringLiteral("Y")));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select key, parent, path from vfs_sync_file"))),
              "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa||\\lost.txt");
    EXPECT_EQ(status_->FolderAddCount(), 1);
}

// The store says the old name was a file; the new name is a folder now. No
// move of a folder that never existed: the file is gone, the folder is new.
TEST_F(PeltaSyncMoveRemoveTest, TheKindOfARenamedItemComesFromTheStore)
{
    MakeFile(QStringLiteral("\\a"), "abc", 1000);
    Add(QStringLiteral("\\a"));
    CommitAll();
    Remove(QStringLiteral("\\a"));
    MakeFolder(QStringLiteral("\\b"));

    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\a"), QStringLiteral("\\b")));
    EXPECT_EQ(Joined(OpenRequests()), "3|\\a|\n6|\\b|");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_EQ(Joined(FolderRows()), Row(QStringLiteral("\\b"), QStringLiteral("\\"), QStringLiteral("b")));
}

TEST_F(PeltaSyncMoveRemoveTest, AFileRowMovesByItsKeyToAConflictName)
{
    MakeFolder(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\a.txt"));
    Add(QStringLiteral("\\Docs\\a.txt"));

    EXPECT_TRUE(engine_->MoveFolder(QStringLiteral("\\Docs\\a.txt"), QStringLiteral("\\Docs\\a (1).txt")));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, key, parent, name from vfs_sync_file"))),
              Row(QStringLiteral("\\Docs\\a (1).txt"), Key("\\Docs"), QStringLiteral("a (1).txt")));
}

TEST_F(PeltaSyncMoveRemoveTest, ARemovedFolderLosesEveryRowWithOneRequest)
{
    MakeFolder(QStringLiteral("\\D\\S"));
    MakeFile(QStringLiteral("\\D\\a.txt"));
    MakeFile(QStringLiteral("\\D\\b.txt"));
    Add(QStringLiteral("\\D\\a.txt"));
    Add(QStringLiteral("\\D\\b.txt"));
    Add(QStringLiteral("\\D\\S"));
    CommitAll();
    ASSERT_TRUE(engine_->EnsureCacheDir());
    const QString snapshot = engine_->CacheDir() + QStringLiteral("/_") + Key("\\D\\a.txt");
    ASSERT_TRUE(WriteFileBytes(snapshot, "copy"));

    EXPECT_FALSE(engine_->FileRemove(QStringLiteral("\\D")));  // still there
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 2);

    Remove(QStringLiteral("\\D"));
    EXPECT_TRUE(engine_->FileRemove(QStringLiteral("\\D")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 0);
    EXPECT_EQ(Joined(OpenRequests()), "8|\\D|");
    EXPECT_FALSE(QFileInfo::exists(snapshot));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("DB:Del:\\D")));
}

TEST_F(PeltaSyncMoveRemoveTest, ARemovedFileQueuesItsDeletion)
{
    MakeFile(QStringLiteral("\\it's.txt"), "abc", 1000);
    Add(QStringLiteral("\\it's.txt"));
    CommitAll();
    Remove(QStringLiteral("\\it's.txt"));

    EXPECT_TRUE(engine_->FileRemove(QStringLiteral("\\it's.txt")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
    EXPECT_EQ(Joined(Opts(XSYNCFileDel)), R"({"local_mtime":"1000","my_base64_full_path_name":"L2l0J3MudHh0","version":"v1"})");
    EXPECT_TRUE(engine_->FileRemove(QStringLiteral("\\never.txt")));
    EXPECT_FALSE(engine_->FileRemove(QString()));
}

// An item replaced by a link or a FIFO is not "gone": its rows stay.
TEST_F(PeltaSyncMoveRemoveTest, AnItemReplacedByALinkKeepsItsRows)
{
    MakeFolder(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\a.txt"));
    Add(QStringLiteral("\\Docs\\a.txt"));
    CommitAll();
    Move(QStringLiteral("\\Docs"), QStringLiteral("\\Elsewhere"));
    ASSERT_EQ(::symlink("Elsewhere", Local(QStringLiteral("\\Docs")).toUtf8().constData()), 0);

    EXPECT_FALSE(engine_->FileRemove(QStringLiteral("\\Docs")));
    EXPECT_FALSE(engine_->FileRemove(QStringLiteral("\\Docs\\a.txt")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 1);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 1);
    EXPECT_TRUE(OpenRequests().isEmpty());
}

// Rows that do not belong where their parent key puts them, or whose key is
// not a key, are skipped with a log line and left alone.
TEST_F(PeltaSyncMoveRemoveTest, ForeignRowsAreSkipped)
{
    MakeFile(QStringLiteral("\\r.txt"));
    Add(QStringLiteral("\\r.txt"));
    MakeFolder(QStringLiteral("\\D"));
    Add(QStringLiteral("\\D"));
    InsertFileRow(QStringLiteral("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"), Key("\\D"), QStringLiteral("\\elsewhere.txt"));
    InsertFileRow(QStringLiteral("not a key"), Key("\\D"), QStringLiteral("\\D\\bad.txt"));
    // A folder row without a key reads back as the sync folder's parent
    // value; its removal must not reach the items of the sync folder.
    Run(QStringLiteral("insert into vfs_sync_folder (key, sn, parent, name, path, ctime, mtime) "
                       "values ('', '12345', '\\', 'E', '\\E', 1, 1)"));
    CommitAll();

    Move(QStringLiteral("\\D"), QStringLiteral("\\F"));
    EXPECT_TRUE(engine_->FileRename(QStringLiteral("\\D"), QStringLiteral("\\F")));
    EXPECT_TRUE(engine_->FileRemove(QStringLiteral("\\E")));

    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_file order by path"))),
              "\\D\\bad.txt\n\\elsewhere.txt\n\\r.txt");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder order by path"))), "\\F");
    const QString log = TakeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("PeltaSync:stored row without a valid key, skipped:\\D\\bad.txt")));
    EXPECT_TRUE(log.contains(QStringLiteral("PeltaSync:stored row not below \\D, skipped:\\elsewhere.txt")));
    EXPECT_EQ(Joined(OpenRequests()), "9|\\F|\\D");
}

TEST_F(PeltaSyncMoveRemoveTest, AStoppingEngineLeavesTheRestOfTheRows)
{
    MakeFolder(QStringLiteral("\\D"));
    MakeFile(QStringLiteral("\\D\\a.txt"));
    Add(QStringLiteral("\\D\\a.txt"));
    Remove(QStringLiteral("\\D"));
    AppState = XAPPExit;
    EXPECT_FALSE(engine_->DeleteRecords(QStringLiteral("\\D"), XFSFolder, 1));
    EXPECT_FALSE(engine_->MoveFolder(QStringLiteral("\\D"), QStringLiteral("\\E")));
    AppState = XAPPOnline;
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 1);
    EXPECT_TRUE(engine_->DeleteRecords(QStringLiteral("\\D"), XFSFolder, 1));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 0);
}

// The rename event comes after the item has already moved on, been deleted
// or come back: the old name's row must not outlive its file.
struct LateRenameCase {
    const char* name;
    bool folder;
    enum { Deleted, MovedOn, MovedBack } afterward;
    const char* requests;  // queued after the item was on the service
    const char* paths;     // stored afterwards
};

void PrintTo(const LateRenameCase& c, std::ostream* out)
{
    *out << c.name;
}

class LateRenameTest : public PeltaSyncMoveRemoveTest, public ::testing::WithParamInterface<LateRenameCase> {
};

TEST_P(LateRenameTest, TheOldNamesRowFollowsWhatBecameOfTheItem)
{
    const LateRenameCase& c = GetParam();
    const QString first = c.folder ? QStringLiteral("\\D") : QStringLiteral("\\a.txt");
    const QString second = c.folder ? QStringLiteral("\\E") : QStringLiteral("\\b.txt");
    const QString third = c.folder ? QStringLiteral("\\F") : QStringLiteral("\\c.txt");
    if (c.folder) {
        MakeFolder(first);
        MakeFile(first + QStringLiteral("\\x.txt"), "abc", 1000);
        Add(first + QStringLiteral("\\x.txt"));
    } else {
        MakeFile(first, "abc", 1000);
        Add(first);
    }
    CommitAll();
    Move(first, second);
    if (c.afterward == LateRenameCase::Deleted)
        Remove(second);
    else
        Move(second, c.afterward == LateRenameCase::MovedOn ? third : first);

    engine_->FileRename(first, second);
    if (c.afterward == LateRenameCase::Deleted)
        engine_->FileRemove(second);
    else
        engine_->FileRename(second, c.afterward == LateRenameCase::MovedOn ? third : first);

    EXPECT_EQ(Joined(OpenRequests()), c.requests);
    EXPECT_EQ(Joined(Rows(QStringLiteral(
                  "select path from vfs_sync_folder union all select path from vfs_sync_file order by path"))),
              c.paths);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LateRenameTest,
    ::testing::Values(LateRenameCase{"FileDeleted", false, LateRenameCase::Deleted, "3|\\a.txt|", ""},
                      LateRenameCase{"FileMovedOn", false, LateRenameCase::MovedOn, "3|\\a.txt|\n1|\\c.txt|",
                                     "\\c.txt"},
                      LateRenameCase{"FileMovedBack", false, LateRenameCase::MovedBack, "", "\\a.txt"},
                      LateRenameCase{"FolderDeleted", true, LateRenameCase::Deleted, "8|\\D|", ""},
                      // The new folder's content comes with the rescan its add asks for.
                      LateRenameCase{"FolderMovedOn", true, LateRenameCase::MovedOn, "8|\\D|\n6|\\F|", "\\F"}),
    [](const ::testing::TestParamInfo<LateRenameCase>& info) { return std::string(info.param.name); });

}  // namespace
