#include "sync/rules/UploadSnapshot.h"

#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kKey = QStringLiteral("0123456789abcdef0123456789abcdef");

class UploadSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.filePath(QStringLiteral("sync"));
        cache_ = root_ + QStringLiteral("/.tessaron.cache");
        ASSERT_TRUE(QDir().mkpath(cache_));
        source_ = root_ + QStringLiteral("/a.txt");
        Write(source_, "version one", 1000);
    }

    static void Write(const QString& path, const QByteArray& bytes, std::int64_t mtime)
    {
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.toUtf8().constData(), times, 0), 0);
    }

    bool Take(int rowid)
    {
        std::int64_t size = 0;
        std::int64_t mtime = 0;
        int error = 0;
        return UploadSnapshot::Take(root_, source_, UploadSnapshot::PendingPathOf(cache_, kKey),
                                    UploadSnapshot::PathOf(cache_, kKey, rowid), size, mtime, error);
    }

    QTemporaryDir dir_;
    QString root_;
    QString cache_;
    QString source_;
};

TEST_F(UploadSnapshotTest, EachRowHasACopyOfItsOwn)
{
    ASSERT_TRUE(Take(7));
    Write(source_, "version two, longer", 2000);
    ASSERT_TRUE(Take(8));

    // The later row's copy leaves the copy the earlier row sends untouched.
    EXPECT_EQ(ReadFileBytes(UploadSnapshot::PathOf(cache_, kKey, 7)), "version one");
    EXPECT_EQ(ReadFileBytes(UploadSnapshot::PathOf(cache_, kKey, 8)), "version two, longer");
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    ASSERT_TRUE(UploadSnapshot::Facts(root_, UploadSnapshot::PathOf(cache_, kKey, 7), size, mtime));
    EXPECT_EQ(size, 11);
    EXPECT_EQ(mtime, 1000);
    EXPECT_EQ(UploadSnapshot::NameOf(kKey, 7), QLatin1Char('_') + kKey + QStringLiteral("_7"));
}

TEST_F(UploadSnapshotTest, TheCoresCopyOfAFileInUseGoesToTheRow)
{
    Write(UploadSnapshot::PendingPathOf(cache_, kKey), "copied while in use", 900);
    ASSERT_TRUE(Take(3));
    EXPECT_FALSE(QFileInfo::exists(UploadSnapshot::PendingPathOf(cache_, kKey)));
    EXPECT_EQ(ReadFileBytes(UploadSnapshot::PathOf(cache_, kKey, 3)), "version one");
}

TEST_F(UploadSnapshotTest, AResumeIsAllowedOnlyForTheSameKeyAndAnUnchangedSnapshot)
{
    ASSERT_TRUE(Take(7));
    const QString snapshot = UploadSnapshot::PathOf(cache_, kKey, 7);
    EXPECT_FALSE(UploadSnapshot::HasNote(root_, snapshot));
    ASSERT_TRUE(UploadSnapshot::NoteSending(root_, snapshot, QStringLiteral("journal-1")));
    EXPECT_TRUE(UploadSnapshot::HasNote(root_, snapshot));

    EXPECT_TRUE(UploadSnapshot::UnchangedSinceSent(root_, snapshot, QStringLiteral("journal-1")));
    EXPECT_FALSE(UploadSnapshot::UnchangedSinceSent(root_, snapshot, QStringLiteral("journal-2")));
    EXPECT_FALSE(UploadSnapshot::UnchangedSinceSent(root_, snapshot, QString()));

    // A copy that grew since is another copy, whatever its time says.
    Write(snapshot, "version one, grown", 1000);
    EXPECT_FALSE(UploadSnapshot::UnchangedSinceSent(root_, snapshot, QStringLiteral("journal-1")));

    // A fresh snapshot forgets what was sent.
    ASSERT_TRUE(UploadSnapshot::NoteSending(root_, snapshot, QStringLiteral("journal-1")));
    ASSERT_TRUE(Take(7));
    EXPECT_FALSE(UploadSnapshot::HasNote(root_, snapshot));

    UploadSnapshot::Remove(root_, snapshot);
    EXPECT_FALSE(QFileInfo::exists(snapshot));
}

}  // namespace
