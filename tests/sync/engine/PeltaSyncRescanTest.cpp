#include "tests/sync/SyncFixture.h"

#include "foundation/db/PeltaDb.h"
#include "sync/rules/FileInUse.h"
#include "sync/rules/LocalListing.h"
#include "sync/rules/MountedFolder.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdint>
#include <functional>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr std::int64_t kTime = 1'600'000'000;

class PeltaSyncRescanTest : public SyncFixture {
protected:
    void TearDown() override
    {
        FileInUse::Override({});
        LocalListing::Override({});
        SyncFixture::TearDown();
    }

    // The store as if every file and folder on disk (but the cache folder and
    // hidden folders) had been synchronised: rows with the disk's times and
    // sizes, files with a version, and the mounted marker.
    void StoreAsOnDisk()
    {
        QStringList paths;
        QDirIterator items(SyncRoot(), QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (items.hasNext()) {
            const QString full = items.next();
            if (!full.contains(QStringLiteral("/.")))
                paths << full.mid(SyncRoot().size()).replace(QLatin1Char('/'), QLatin1Char('\\'));
        }
        paths.sort();
        for (const QString& path : paths)
            InsertRow(path);
        ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
        TakeLog();
    }

    void InsertRow(const QString& path, const QString& version = QStringLiteral("v1"))
    {
        struct stat info {};
        ASSERT_EQ(::lstat(Local(path).toUtf8().constData(), &info), 0) << path.toStdString();
        const qsizetype cut = path.lastIndexOf(QLatin1Char('\\'));
        const QString parent = cut == 0 ? QStringLiteral("\\") : engine_->RecordKey(path.left(cut));
        const QString values = PeltaRec::Literal(engine_->RecordKey(path)) + QStringLiteral(", '12345', ") +
                               PeltaRec::Literal(parent) + QStringLiteral(", ") + PeltaRec::Literal(path.mid(cut + 1)) +
                               QStringLiteral(", ") + PeltaRec::Literal(path) + QStringLiteral(", 1, ") +
                               QString::number(info.st_mtime);
        if (S_ISDIR(info.st_mode))
            Run(QStringLiteral("insert into vfs_sync_folder (key, sn, parent, name, path, ctime, mtime) values (") +
                values + QLatin1Char(')'));
        else
            Run(QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, ctime, mtime, size, version) "
                               "values (") +
                values + QStringLiteral(", ") + QString::number(info.st_size) + QStringLiteral(", ") +
                PeltaRec::Literal(version) + QLatin1Char(')'));
    }

    PassResult Rescan(const QString& path, bool checkFile, bool removeMissing)
    {
        return engine_->ResyncLocal(path, checkFile, removeMissing);
    }

    // "action|path|status" of the requests, sorted (the order of a listing
    // is the file system's).
    QStringList Queued()
    {
        QStringList rows = Rows(QStringLiteral("select action, path, status from sync_request"));
        rows.sort();
        return rows;
    }

    qint64 StoredMtime(const QString& folder)
    {
        return qint64(
            Number(QStringLiteral("select mtime from vfs_sync_folder where path=") + PeltaRec::Literal(folder)));
    }

    // A file that changed while the agent was away; the folder's time stays.
    void Rewrite(const QString& path, const QByteArray& bytes, std::int64_t mtime)
    {
        const QString folder = QFileInfo(Local(path)).path();
        struct stat info {};
        ASSERT_EQ(::stat(folder.toUtf8().constData(), &info), 0);
        MakeFile(path, bytes, mtime);
        const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.toUtf8().constData(), times, 0), 0);
    }

    // The base of the offline-change tests.
    void MakeSynchronisedTree()
    {
        for (const char* folder : {"\\A", "\\B", "\\D\\E", "\\R"})
            MakeFolder(QString::fromUtf8(folder));
        for (const char* file : {"\\A\\a.txt", "\\A\\b.txt", "\\B\\c.txt", "\\D\\d.txt", "\\D\\E\\e.txt", "\\top.txt",
                                 "\\R\\r.txt"})
            MakeFile(QString::fromUtf8(file), "data", kTime);
        StoreAsOnDisk();
    }

    // Changes made while the agent was not running.
    void ChangeBehindTheEnginesBack()
    {
        MakeFile(QStringLiteral("\\A\\new.txt"));
        Move(QStringLiteral("\\A\\b.txt"), QStringLiteral("\\A\\b2.txt"));
        Rewrite(QStringLiteral("\\B\\c.txt"), "changed in place", kTime + 100);
        Remove(QStringLiteral("\\top.txt"));
        Remove(QStringLiteral("\\D"));
        Move(QStringLiteral("\\R"), QStringLiteral("\\R2"));
        MakeFolder(QStringLiteral("\\N"));
        MakeFile(QStringLiteral("\\N\\n.txt"));
    }
};

TEST_F(PeltaSyncRescanTest, TheStartUpRescanQueuesEveryChangeMadeWhileTheAgentWasAway)
{
    MakeSynchronisedTree();
    ChangeBehindTheEnginesBack();

    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Complete);

    EXPECT_EQ(Joined(Queued()), Joined({
                                    "1|\\A\\b2.txt|1",
                                    "1|\\A\\new.txt|1",
                                    "1|\\N\\n.txt|1",
                                    "1|\\R2\\r.txt|1",
                                    "2|\\B\\c.txt|1",
                                    "3|\\A\\b.txt|1",
                                    "3|\\top.txt|1",
                                    "6|\\N|1",
                                    "6|\\R2|1",
                                    "8|\\D|1",
                                    "8|\\R|1",
                                }));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where path like '\\D\\%'")), 0);
    // Nothing is left for a second pass to find.
    Run(QStringLiteral("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP"));
    Run(QStringLiteral("update vfs_sync_file set version='v1'"));
    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Complete);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where commit_time is null")), 0);
}

TEST_F(PeltaSyncRescanTest, AFullRescanRestoresWhatIsMissingInsteadOfDeletingIt)
{
    MakeSynchronisedTree();
    ChangeBehindTheEnginesBack();

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, false), PassResult::Complete);

    EXPECT_EQ(Joined(Queued()), Joined({
                                    "1|\\A\\b2.txt|1",
                                    "1|\\A\\new.txt|1",
                                    "1|\\N\\n.txt|1",
                                    "1|\\R2\\r.txt|1",
                                    "2|\\B\\c.txt|1",
                                    "5|\\A\\b.txt|5",
                                    "5|\\D\\E\\e.txt|5",
                                    "5|\\D\\d.txt|5",
                                    "5|\\R\\r.txt|5",
                                    "5|\\top.txt|5",
                                    "6|\\N|1",
                                    "6|\\R2|1",
                                }));
    for (const char* folder : {"/D/E", "/R"})
        EXPECT_TRUE(QFileInfo(SyncRoot() + QLatin1String(folder)).isDir()) << folder;
    EXPECT_EQ(Markers(QStringLiteral("\\D\\E")), QStringLiteral("9"));
}

TEST_F(PeltaSyncRescanTest, EachFileDifferenceHasItsDecision)
{
    const struct {
        const char* name;
        const char* version;  // of the stored row; nullptr: no row
        QByteArray bytes;     // on disk now (stored: "data")
        std::int64_t shift;   // of the disk's time against the stored time
        bool pending;         // an open request of the path
        int queued;           // the action queued by the pass, 0 for none
    } cases[] = {
        {"new.txt", nullptr, "data", 0, false, XSYNCFileAdd},
        {"never-committed.txt", "", "data", 0, false, XSYNCFileAdd},
        {"same.txt", "v1", "data", 0, false, 0},
        {"touched.txt", "v1", "data", 30, false, XSYNCFileMod},
        {"touched-60.txt", "v1", "data", 60, false, XSYNCFileMod},
        {"touched-61.txt", "v1", "data", 61, false, XSYNCFileMod},
        {"rewritten.txt", "v1", "new data", 100, false, XSYNCFileMod},
        {"resized-in-queue.txt", "v1", "new data", 0, true, 0},
        {"resized.txt", "v1", "new data", 0, false, XSYNCFileMod},
    };
    const QString big = QStringLiteral("\\T\\big.bin");
    for (const bool checkFile : {false, true}) {
        Run(QStringLiteral("delete from sync_request"));
        Run(QStringLiteral("delete from vfs_sync_file"));
        Run(QStringLiteral("delete from vfs_sync_folder"));
        MakeFolder(QStringLiteral("\\T"));
        for (const auto& test : cases) {
            const QString path = QStringLiteral("\\T\\") + QLatin1String(test.name);
            MakeFile(path, "data", kTime);
            if (test.version != nullptr)
                InsertRow(path, QString::fromUtf8(test.version));
            if (test.pending)
                Run(QStringLiteral("insert into sync_request (key, path, sn, agent_key, action, status) "
                                   "values ('k', ") +
                    PeltaRec::Literal(path) + QStringLiteral(", '12345', 'a', 1, 1)"));
            MakeFile(path, test.bytes, kTime + test.shift);
        }
        InsertRow(QStringLiteral("\\T"));
        // A large file whose row matches is unchanged (the size is 64-bit).
        MakeFile(big, QByteArray());
        ASSERT_EQ(::truncate(Local(big).toUtf8().constData(), 3LL << 30), 0);
        SetMtime(big, kTime);
        InsertRow(big);
        ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());

        ASSERT_EQ(Rescan(QStringLiteral("\\"), checkFile, true), PassResult::Complete);
        for (const auto& test : cases) {
            const QString path = QStringLiteral("\\T\\") + QLatin1String(test.name);
            EXPECT_EQ(Joined(Rows(QStringLiteral("select action from sync_request where key<>'k' and path=") +
                                  PeltaRec::Literal(path))),
                      test.queued == 0 ? std::string() : std::to_string(test.queued))
                << test.name << " checkFile=" << checkFile;
        }
        EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where path=") + PeltaRec::Literal(big)), 0);
        Remove(QStringLiteral("\\T"));
    }
}

TEST_F(PeltaSyncRescanTest, ATimeSetOnTheDiskIsReportedAsTheDiskKeepsIt)
{
    // A time far beyond what the file system can hold is clamped (FAT and
    // network mounts round instead): the time to store is the one read back.
    MakeFile(QStringLiteral("\\a.txt"));
    const std::int64_t wanted = std::int64_t(1) << 40;
    std::int64_t readBack = 0;
    ASSERT_EQ(engine_->SetFileInfo(Local(QStringLiteral("\\a.txt")), wanted, &readBack), PeltaSync::InfoFound);
    struct stat info {};
    ASSERT_EQ(::stat(Local(QStringLiteral("\\a.txt")).toUtf8().constData(), &info), 0);
    EXPECT_EQ(readBack, info.st_mtime);
}

TEST_F(PeltaSyncRescanTest, WithoutCheckFileOnlyFoldersThatChangedAreExamined)
{
    for (const char* folder : {"\\A\\Deep", "\\B", "\\C"})
        MakeFolder(QString::fromUtf8(folder));
    for (const char* file : {"\\A\\Deep\\a.txt", "\\B\\b.txt", "\\C\\c.txt"})
        MakeFile(QString::fromUtf8(file), "data", kTime);
    StoreAsOnDisk();
    MakeFile(QStringLiteral("\\B\\new.txt"));

    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Complete);
    QString log = TakeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("CheckFolderDetail:\\\n")));
    EXPECT_TRUE(log.contains(QStringLiteral("CheckFolderDetail:\\B\\")));
    EXPECT_FALSE(log.contains(QStringLiteral("CheckFolderDetail:\\A\\")));
    EXPECT_FALSE(log.contains(QStringLiteral("CheckFolderDetail:\\C\\")));
    // The folder's row now has the disk's time: the next pass passes it over.
    EXPECT_EQ(StoredMtime(QStringLiteral("\\B")),
              QFileInfo(Local(QStringLiteral("\\B"))).lastModified().toSecsSinceEpoch());

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, false), PassResult::Complete);
    log = TakeLog();
    for (const char* folder : {"\\A\\", "\\A\\Deep\\", "\\B\\", "\\C\\"})
        EXPECT_TRUE(log.contains(QStringLiteral("CheckFolderDetail:") + QLatin1String(folder))) << folder;
    EXPECT_TRUE(log.contains(QStringLiteral("PeltaSync::ResyncLocal End:\\")));
}

TEST_F(PeltaSyncRescanTest, StartPathsAndFoldersThatAreNotThere)
{
    MakeFile(QStringLiteral("\\a.txt"));
    StoreAsOnDisk();
    for (const char* path : {"", "0"}) {
        EXPECT_EQ(Rescan(QString::fromUtf8(path), false, true), PassResult::Complete);
        EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::ResyncLocal End:\\\n"))) << path;
    }
    EXPECT_EQ(Rescan(QStringLiteral("\\Nowhere"), true, true), PassResult::Complete);
    const QString log = TakeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("PeltaSync::ResyncLocal Start:\\Nowhere, checkFile=true")));
    EXPECT_FALSE(log.contains(QStringLiteral("PeltaSync::ResyncLocal End:")));
    EXPECT_EQ(Rescan(QStringLiteral("\\..\\x"), true, true), PassResult::Failed);
}

TEST_F(PeltaSyncRescanTest, AFolderWithManyStoredSubfoldersIsLookedAtLater)
{
    for (int n = 0; n < 101; ++n)
        MakeFolder(QStringLiteral("\\Many\\s%1").arg(n));
    for (int n = 0; n < 100; ++n)
        MakeFolder(QStringLiteral("\\Hundred\\s%1").arg(n));
    MakeFolder(QStringLiteral("\\Other"));
    StoreAsOnDisk();

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, false), PassResult::Complete);
    const QString log = TakeLog();
    EXPECT_EQ(log.count(QStringLiteral("check later:")), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("check later:\\Many")));
    const qsizetype deferred = log.indexOf(QStringLiteral("check later:\\Many"));
    EXPECT_LT(deferred, log.indexOf(QStringLiteral("CheckFolderDetail:\\Other\\")));
    EXPECT_GT(log.lastIndexOf(QStringLiteral("CheckFolderDetail:\\Many\\")),
              log.indexOf(QStringLiteral("CheckFolderDetail:\\Hundred\\s0\\")));
}

TEST_F(PeltaSyncRescanTest, AnAbortEndsThePassAndLeavesTheFolderTimeForTheNextOne)
{
    MakeFolder(QStringLiteral("\\A"));
    MakeFile(QStringLiteral("\\A\\a.txt"), "data", kTime);
    StoreAsOnDisk();
    const qint64 stored = StoredMtime(QStringLiteral("\\A"));
    MakeFile(QStringLiteral("\\A\\first.txt"));
    MakeFile(QStringLiteral("\\A\\second.txt"));
    // The settings change while the first new file is being added.
    FileInUse::Override([&](const QString&) {
        engine_->SetAgentSetting(&settings_);
        return false;
    });

    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Aborted);
    EXPECT_EQ(StoredMtime(QStringLiteral("\\A")), stored);
    EXPECT_EQ(Requests().size(), 1);
    EXPECT_FALSE(TakeLog().contains(QStringLiteral("PeltaSync::ResyncLocal End:")));

    engine_->ClearAbort();
    AppState = XAPPExit;
    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Aborted);
}

TEST_F(PeltaSyncRescanTest, AFolderThatCannotBeListedIsSkippedNeverTakenForEmpty)
{
    MakeFolder(QStringLiteral("\\Locked\\Sub"));
    MakeFolder(QStringLiteral("\\Open"));
    for (const char* file : {"\\Locked\\a.txt", "\\Locked\\Sub\\b.txt", "\\Open\\c.txt", "\\Open\\d.txt"})
        MakeFile(QString::fromUtf8(file), "data", kTime);
    StoreAsOnDisk();
    Remove(QStringLiteral("\\Open\\d.txt"));
    LocalListing::Override([&](const QString& full) { return full == Local(QStringLiteral("\\Locked")) ? EACCES : 0; });

    for (const bool removeMissing : {true, false}) {
        EXPECT_EQ(Rescan(QStringLiteral("\\"), true, removeMissing), PassResult::Failed);
        EXPECT_EQ(Joined(Rows(QStringLiteral("select action, path from sync_request where path like '\\Locked\\%'"))),
                  "");
        EXPECT_TRUE(TakeLog().contains(QStringLiteral("cannot list the folder: Permission denied, skipped:\\Locked")));
    }
    // What could be read was compared.
    EXPECT_EQ(Joined(Queued()), Joined({"3|\\Open\\d.txt|1"}));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where path like '\\Locked\\%'")), 2);
}

TEST_F(PeltaSyncRescanTest, AStoreReadThatFailsDeletesNothing)
{
    MakeFolder(QStringLiteral("\\A\\Gone"));
    MakeFile(QStringLiteral("\\A\\a.txt"), "data", kTime);
    StoreAsOnDisk();
    Remove(QStringLiteral("\\A\\Gone"));
    // The pass's query of the files fails; the engine's other reads work.
    Run(QStringLiteral("alter table vfs_sync_file rename column version to old_version"));

    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Failed);
    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, true), PassResult::Failed);
    EXPECT_EQ(Joined(Queued()), "");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder where path='\\A\\Gone'")), 1);
}

TEST_F(PeltaSyncRescanTest, AFolderRowWithABadKeyIsSkippedWithItsSubtree)
{
    MakeFolder(QStringLiteral("\\A"));
    MakeFolder(QStringLiteral("\\B"));
    MakeFile(QStringLiteral("\\top.txt"), "data", kTime);
    StoreAsOnDisk();
    Run(QStringLiteral("update vfs_sync_folder set key='' where path='\\A'"));
    MakeFolder(QStringLiteral("\\A\\New"));

    for (const bool checkFile : {true, false}) {
        EXPECT_EQ(Rescan(QStringLiteral("\\"), checkFile, false), PassResult::Failed);
        EXPECT_TRUE(TakeLog().contains(QStringLiteral("stored folder key is not a key, skipped:\\A")));
    }
    // Nothing of the sync folder's own rows was taken for \A's, and nothing
    // below \A was looked at.
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\A\\B"))));
    EXPECT_EQ(Joined(Queued()), "");
}

TEST_F(PeltaSyncRescanTest, AFolderDeletedDuringThePassIsGoneOnlyWhenItsParentSaysSo)
{
    MakeFolder(QStringLiteral("\\B\\Deep"));
    for (const char* file : {"\\B\\b.txt", "\\B\\Deep\\c.txt"})
        MakeFile(QString::fromUtf8(file), "data", kTime);
    StoreAsOnDisk();
    MakeFile(QStringLiteral("\\new.txt"));
    MakeFile(QStringLiteral("\\B\\new.txt"));
    // \B goes while the sync folder's new file is being added: after the walk
    // listed it, before it is looked at in detail.
    FileInUse::Override([&](const QString& full) {
        if (full.endsWith(QLatin1String("/new.txt")) && QFileInfo::exists(Local(QStringLiteral("\\B"))))
            QDir(Local(QStringLiteral("\\B"))).removeRecursively();
        return false;
    });

    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Complete);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("folder vanished during the pass:\\B")));
    // One deletion for the folder; none for what was inside it.
    EXPECT_EQ(Joined(Queued()), Joined({"1|\\new.txt|1", "8|\\B|1"}));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where path like '\\B\\%'")), 0);
}

TEST_F(PeltaSyncRescanTest, ItemsThatAreNotFilesOrFoldersAreNeverFollowedOrRemoved)
{
    MakeFolder(QStringLiteral("\\A"));
    MakeFile(QStringLiteral("\\A\\was-a-file"), "data", kTime);
    StoreAsOnDisk();
    Remove(QStringLiteral("\\A\\was-a-file"));
    ASSERT_EQ(::mkfifo(Local(QStringLiteral("\\A\\was-a-file")).toUtf8().constData(), 0600), 0);
    ASSERT_EQ(::symlink("/", Local(QStringLiteral("\\A\\root")).toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("/", Local(QStringLiteral("\\root")).toUtf8().constData()), 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = Local(QStringLiteral("\\A\\socket")).toUtf8();
    ASSERT_LT(socketPath.size(), int(sizeof address.sun_path));
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const QByteArray badName = Local(QStringLiteral("\\A\\")).toUtf8() + "bad\xff";
    ASSERT_EQ(::close(::open(badName.constData(), O_CREAT | O_WRONLY, 0600)), 0);

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, true), PassResult::Complete);
    ::close(socket);
    ::unlink(badName.constData());

    EXPECT_EQ(Joined(Queued()), "");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where path='\\A\\was-a-file'")), 1);
    const QString log = TakeLog();
    for (const char* line : {"skipped FIFO:", "skipped symbolic link:", "skipped socket:", "name is not UTF-8"})
        EXPECT_TRUE(log.contains(QLatin1String(line))) << line;
    EXPECT_FALSE(log.contains(QStringLiteral("CheckFolderDetail:\\root")));
}

TEST_F(PeltaSyncRescanTest, NamesCompareExactly)
{
    MakeFolder(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\a.txt"), "data", kTime);
    StoreAsOnDisk();
    Move(QStringLiteral("\\Docs"), QStringLiteral("\\docs"));

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, true), PassResult::Complete);
    EXPECT_EQ(Joined(Queued()), Joined({"1|\\docs\\a.txt|1", "6|\\docs|1", "8|\\Docs|1"}));
}

TEST_F(PeltaSyncRescanTest, HiddenFoldersAndTheCacheFolderAreNotAddedHiddenFilesAre)
{
    MakeFolder(QStringLiteral("\\.hidden"));
    MakeFolder(QStringLiteral("\\Sub\\.tessaron.cache"));
    MakeFile(QStringLiteral("\\.hidden\\a.txt"));
    MakeFile(QStringLiteral("\\.profile"));
    ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
    MakeFile(QStringLiteral("\\.tessaron.cache\\_0123"));

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, true), PassResult::Complete);
    EXPECT_EQ(Joined(Queued()), Joined({"1|\\.profile|1", "6|\\Sub|1"}));
}

TEST_F(PeltaSyncRescanTest, ARescanOfOneFolderStaysInItsSubtree)
{
    // Names that a pattern would take for wildcards, and a quote.
    for (const char* folder : {"\\50%_o'k", "\\50%Xo'kk", "\\50%_o'k2"})
        MakeFolder(QString::fromUtf8(folder));
    for (const char* file : {"\\50%_o'k\\a.txt", "\\50%Xo'kk\\b.txt", "\\50%_o'k2\\c.txt"})
        MakeFile(QString::fromUtf8(file), "data", kTime);
    StoreAsOnDisk();
    for (const char* file : {"\\50%_o'k\\a.txt", "\\50%Xo'kk\\b.txt", "\\50%_o'k2\\c.txt"})
        Remove(QString::fromUtf8(file));

    EXPECT_EQ(Rescan(QStringLiteral("\\50%_o'k"), true, true), PassResult::Complete);
    EXPECT_EQ(Joined(Queued()), Joined({"3|\\50%_o'k\\a.txt|1"}));
}

TEST_F(PeltaSyncRescanTest, AnEmptyMountPointStartsNoPass)
{
    MakeFolder(QStringLiteral("\\A"));
    MakeFile(QStringLiteral("\\A\\a.txt"), "data", kTime);
    MakeFile(QStringLiteral("\\top.txt"), "data", kTime);
    StoreAsOnDisk();
    // The disk is unmounted: an empty folder is left in its place.
    ASSERT_TRUE(QDir(SyncRoot()).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(SyncRoot()));

    EXPECT_EQ(Rescan(QStringLiteral("\\"), false, true), PassResult::Failed);
    EXPECT_EQ(Rescan(QStringLiteral("\\A"), true, true), PassResult::Failed);
    EXPECT_EQ(Joined(Queued()), "");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 2);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("MountedFolder:not mounted, syncing paused:")));

    // Gone with its parent: the disk itself is gone.
    ASSERT_TRUE(QDir(SyncRoot()).removeRecursively());
    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, false), PassResult::Failed);
    EXPECT_FALSE(QFileInfo::exists(SyncRoot()));
    EXPECT_EQ(Joined(Queued()), "");
}

TEST_F(PeltaSyncRescanTest, ADiskThatGoesAwayDuringThePassLosesNothing)
{
    MakeFolder(QStringLiteral("\\A"));
    MakeFile(QStringLiteral("\\A\\a.txt"), "data", kTime);
    MakeFile(QStringLiteral("\\top.txt"), "data", kTime);
    StoreAsOnDisk();
    // Unmounted between the walk's listing of the sync folder and its
    // detailed look: an empty mount point is listed instead.
    int listings = 0;
    LocalListing::Override([&](const QString& full) {
        if (full == SyncRoot() && ++listings == 2) {
            const QByteArray away = (SyncRoot() + QStringLiteral(".away")).toUtf8();
            EXPECT_EQ(::rename(SyncRoot().toUtf8().constData(), away.constData()), 0);
            EXPECT_TRUE(QDir().mkpath(SyncRoot()));
        }
        return 0;
    });

    EXPECT_EQ(Rescan(QStringLiteral("\\"), true, true), PassResult::Failed);
    EXPECT_EQ(Joined(Queued()), "");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 1);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 2);
}

TEST_F(PeltaSyncRescanTest, ADownloadIsQueuedOnceAndSignalled)
{
    MakeFile(QStringLiteral("\\a.txt"), "data", kTime);
    StoreAsOnDisk();
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\a.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    evtRequestFileTransfer.Reset();

    EXPECT_TRUE(engine_->QueueFileGet(record));
    EXPECT_EQ(evtRequestFileTransfer.Wait(0), Event::WaitResult::Signalled);
    EXPECT_TRUE(engine_->QueueFileGet(record));
    EXPECT_EQ(evtRequestFileTransfer.Wait(0), Event::WaitResult::TimedOut);
    EXPECT_EQ(Joined(Queued()), "5|\\a.txt|5");
    const QString log = TakeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("Add queue success:XSYNCFileGet:\\a.txt")));
    EXPECT_TRUE(log.contains(QStringLiteral("Add queue fail:XSYNCFileGet:\\a.txt:already exists")));

    record.key = QStringLiteral("not a key");
    EXPECT_FALSE(engine_->QueueFileGet(record));
    record.key = engine_->RecordKey(QStringLiteral("\\a.txt"));
    record.path = QStringLiteral("\\..\\a.txt");
    EXPECT_FALSE(engine_->QueueFileGet(record));
    EXPECT_EQ(Queued().size(), 1);
}

}  // namespace
