#include "tests/sync/SyncFixture.h"

#include "foundation/db/PeltaDb.h"
#include "sync/rules/FileInUse.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <chrono>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class PeltaSyncLocalInfoTest : public SyncFixture {
protected:
    void TearDown() override
    {
        FileInUse::Override({});
        if (lockFd_ >= 0)
            ::close(lockFd_);
        SyncFixture::TearDown();
    }

    // Holds a write lock on the whole file through an open file description
    // of its own, as another program would.
    void HoldWriteLock(const QString& relative)
    {
        lockFd_ = ::open(Local(relative).toUtf8().constData(), O_RDWR);
        ASSERT_GE(lockFd_, 0);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ASSERT_EQ(::fcntl(lockFd_, F_OFD_SETLK, &lock), 0);
    }

    int lockFd_ = -1;
};

TEST_F(PeltaSyncLocalInfoTest, FilesAndFoldersAreReadFromTheDisk)
{
    MakeFolder(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\a.txt"), PatternData(3000), 1600000000);

    PeltaRecVfsSyncFile file;
    file.path = QStringLiteral("\\Docs\\a.txt");
    EXPECT_EQ(engine_->GetLocalInfo(file), PeltaSync::InfoFound);
    EXPECT_EQ(file.kind, XFSFile);
    EXPECT_EQ(file.size, 3000);
    EXPECT_EQ(file.mtime, 1600000000);
    EXPECT_GT(file.ctime, 0);
    EXPECT_TRUE(file.found);

    PeltaRecVfsSyncFile folder;
    folder.path = QStringLiteral("\\Docs");
    EXPECT_EQ(engine_->GetLocalInfo(folder), PeltaSync::InfoFound);
    EXPECT_EQ(folder.kind, XFSFolder);
    EXPECT_TRUE(engine_->LocalFolderExists(QStringLiteral("\\Docs")));
    EXPECT_TRUE(engine_->LocalFolderExists(QStringLiteral("0")));
    EXPECT_FALSE(engine_->LocalFolderExists(QStringLiteral("\\Docs\\a.txt")));

    PeltaRecVfsSyncFile missing;
    missing.path = QStringLiteral("\\none");
    EXPECT_EQ(engine_->GetLocalInfo(missing), PeltaSync::InfoMissing);
    EXPECT_EQ(missing.kind, XFSNone);
}

// A FIFO, a link to the root of the file system and whatever lies behind
// it are no items: nothing is opened, followed or stored for them.
TEST_F(PeltaSyncLocalInfoTest, ItemsThatAreNotFilesOrFoldersAreSkipped)
{
    ASSERT_EQ(::mkfifo(Local(QStringLiteral("\\pipe")).toUtf8().constData(), 0600), 0);
    ASSERT_EQ(::symlink("/", Local(QStringLiteral("\\root")).toUtf8().constData()), 0);

    for (const char* path : {"\\pipe", "\\root", "\\root\\etc", "\\root\\etc\\hostname"}) {
        PeltaRecVfsSyncFile record;
        record.path = QString::fromLatin1(path);
        EXPECT_EQ(engine_->GetLocalInfo(record), PeltaSync::InfoMissing) << path;
        EXPECT_TRUE(engine_->IsFileLocked(engine_->ToLocalPath(record.path))) << path;
    }
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::GetLocalInfo:skipped:") +
                                   Local(QStringLiteral("\\pipe")) + QStringLiteral(":FIFO")));

    PeltaRecVfsSyncFile pipe;
    pipe.path = QStringLiteral("\\pipe");
    pipe.kind = XFSFile;
    engine_->FillRecordKeys(pipe);
    EXPECT_FALSE(engine_->SnapshotLockedFile(pipe));
    EXPECT_EQ(engine_->SetFileInfo(Local(QStringLiteral("\\pipe")), 1000), PeltaSync::InfoFailed);
}

TEST_F(PeltaSyncLocalInfoTest, AFileLockedByAnotherProgramIsReadFromASnapshot)
{
    const QByteArray content = PatternData(5000, 7);
    MakeFile(QStringLiteral("\\busy.doc"), content, 1500000000);
    PeltaRecVfsSyncFile record;
    record.path = QStringLiteral("\\busy.doc");
    EXPECT_FALSE(engine_->IsFileLocked(Local(record.path)));

    HoldWriteLock(record.path);
    EXPECT_TRUE(engine_->IsFileLocked(Local(record.path)));
    EXPECT_EQ(engine_->GetLocalInfo(record), PeltaSync::InfoFailed);
    EXPECT_EQ(record.kind, XFSFile);
    EXPECT_EQ(record.mtime, 0);

    engine_->FillRecordKeys(record);
    ASSERT_TRUE(engine_->SnapshotLockedFile(record));
    const QString snapshot = engine_->CacheDir() + QStringLiteral("/_") + record.key;
    EXPECT_EQ(ReadFileBytes(snapshot), content);
    EXPECT_EQ(record.size, 5000);
    EXPECT_EQ(record.mtime, 1500000000);
    EXPECT_EQ(status_->FileState(record.path), PeltaSync::FileStateInUse);
    EXPECT_FALSE(QFileInfo::exists(snapshot + QStringLiteral(".part")));
}

TEST_F(PeltaSyncLocalInfoTest, TheInUseTestCanBeForcedAndFoldersNeverSnapshot)
{
    MakeFile(QStringLiteral("\\a.txt"));
    MakeFolder(QStringLiteral("\\Docs"));
    FileInUse::Override([&](const QString& full) { return full == Local(QStringLiteral("\\a.txt")); });
    EXPECT_TRUE(engine_->IsFileLocked(Local(QStringLiteral("\\a.txt"))));

    PeltaRecVfsSyncFile folder;
    folder.path = QStringLiteral("\\Docs");
    engine_->GetLocalInfo(folder);
    engine_->FillRecordKeys(folder);
    EXPECT_FALSE(engine_->SnapshotLockedFile(folder));
}

TEST_F(PeltaSyncLocalInfoTest, AFolderThatCannotBeOpenedIsTriedThreeTimes)
{
    PeltaRecVfsSyncFile record;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine_->GetFolderInfo(Local(QStringLiteral("\\gone")), record), PeltaSync::InfoFailed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_FALSE(record.found);
    EXPECT_EQ(TakeLog().count(QStringLiteral("GetFolderInfo:Err:") + Local(QStringLiteral("\\gone"))), 3);
}

TEST_F(PeltaSyncLocalInfoTest, ModificationTimesAreSetOnDiskAndStored)
{
    MakeFile(QStringLiteral("\\a.txt"), "abc", 1000000000);
    PeltaRecVfsSyncFile record;
    record.path = QStringLiteral("\\a.txt");
    engine_->GetLocalInfo(record);
    engine_->FillRecordKeys(record);
    ASSERT_TRUE(engine_->Db().RecAdd(record, false));

    EXPECT_EQ(engine_->SetFileInfo(Local(QStringLiteral("\\a.txt")), 1200000000), PeltaSync::InfoFound);
    struct stat info {};
    ASSERT_EQ(::stat(Local(QStringLiteral("\\a.txt")).toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1200000000);

    engine_->UpdateFileMTime(QStringLiteral("\\a.txt"), XFSFile);
    EXPECT_EQ(Number(QStringLiteral("select mtime from vfs_sync_file where path='\\a.txt'")), 1200000000);
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::UpdateFileMTime::\\a.txt,1200000000")));

    // The wrong kind changes nothing.
    SetMtime(QStringLiteral("\\a.txt"), 1300000000);
    engine_->UpdateFileMTime(QStringLiteral("\\a.txt"), XFSFolder);
    EXPECT_EQ(Number(QStringLiteral("select mtime from vfs_sync_file where path='\\a.txt'")), 1200000000);
}

TEST_F(PeltaSyncLocalInfoTest, TheCacheFolderIsMadeOnceAndNeverThroughSomethingElse)
{
    EXPECT_TRUE(engine_->EnsureCacheDir());
    EXPECT_TRUE(QFileInfo(engine_->CacheDir()).isDir());
    EXPECT_TRUE(engine_->EnsureCacheDir());

    ASSERT_TRUE(QDir(engine_->CacheDir()).removeRecursively());
    ASSERT_EQ(::symlink("/tmp", engine_->CacheDir().toUtf8().constData()), 0);
    EXPECT_FALSE(engine_->EnsureCacheDir());
}

}  // namespace
