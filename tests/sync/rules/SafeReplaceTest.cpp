#include "sync/rules/SafeReplace.h"

#include "sync/rules/FileInUse.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr std::int64_t kMtime = 1700000000;
const QDateTime kWhen = QDateTime(QDate(2026, 12, 11), QTime(4, 12, 0));

class SafeReplaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.filePath(QStringLiteral("sync"));
        ASSERT_TRUE(QDir().mkpath(root_ + QStringLiteral("/.tessaron.cache")));
        ASSERT_TRUE(QDir().mkpath(root_ + QStringLiteral("/Docs")));
    }
    void TearDown() override { FileInUse::Override({}); }

    QString Full(const char* rest) const { return root_ + QString::fromUtf8(rest); }
    QString Incoming() const { return Full("/.tessaron.cache/.download"); }

    void Write(const QString& path, const QByteArray& bytes, std::int64_t mtime = kMtime)
    {
        ASSERT_TRUE(WriteFileBytes(path, bytes)) << path.toStdString();
        const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.toUtf8().constData(), times, 0), 0);
    }

    // The record of a local file "local" (5 bytes at kMtime) as stored.
    static SafeReplace::Stored StoredLocal()
    {
        SafeReplace::Stored stored;
        stored.known = true;
        stored.size = 5;
        stored.mtime = kMtime;
        stored.version = QStringLiteral("3");
        return stored;
    }

    QStringList DocsNames() const
    {
        return QDir(Full("/Docs")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir dir_;
    QString root_;
};

TEST_F(SafeReplaceTest, ReplacesOnlyALocalFileThatStillMatchesItsRecord)
{
    struct Case {
        const char* name;
        bool localExists;
        QByteArray local;
        std::int64_t localMtime;
        SafeReplace::Stored stored;
        bool uploadOpen;
        SafeReplace::Outcome outcome;
    };
    SafeReplace::Stored noVersion = StoredLocal();
    noVersion.version.clear();
    const Case cases[] = {
        {"missing local file", false, {}, 0, StoredLocal(), false, SafeReplace::Outcome::Replaced},
        {"missing, even with an upload open", false, {}, 0, StoredLocal(), true, SafeReplace::Outcome::Replaced},
        {"unchanged local file", true, "local", kMtime, StoredLocal(), false, SafeReplace::Outcome::Replaced},
        {"size changed", true, "local!", kMtime, StoredLocal(), false, SafeReplace::Outcome::KeptLocal},
        {"time changed", true, "local", kMtime + 1, StoredLocal(), false, SafeReplace::Outcome::KeptLocal},
        {"never synchronised", true, "local", kMtime, noVersion, false, SafeReplace::Outcome::KeptLocal},
        {"not in the store", true, "local", kMtime, SafeReplace::Stored{}, false, SafeReplace::Outcome::KeptLocal},
        {"upload open", true, "local", kMtime, StoredLocal(), true, SafeReplace::Outcome::KeptLocal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(Full("/Docs")).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(Full("/Docs")));
        Write(Incoming(), "from the service");
        if (c.localExists)
            Write(Full("/Docs/a.txt"), c.local, c.localMtime);

        const SafeReplace::Result result =
            SafeReplace::Apply(root_, Incoming(), Full("/Docs/a.txt"), c.stored, c.uploadOpen, kWhen);

        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_FALSE(QFileInfo::exists(Incoming()));
        if (c.outcome == SafeReplace::Outcome::Replaced) {
            EXPECT_EQ(ReadFileBytes(Full("/Docs/a.txt")), "from the service");
            EXPECT_EQ(DocsNames(), QStringList{QStringLiteral("a.txt")});
        } else {
            EXPECT_EQ(ReadFileBytes(Full("/Docs/a.txt")), c.local);
            EXPECT_EQ(result.conflictCopy, Full("/Docs/a (conflict 2026-12-11 041200).txt"));
            EXPECT_EQ(ReadFileBytes(result.conflictCopy), "from the service");
        }
    }
}

TEST_F(SafeReplaceTest, AFileInUseOrAMissingFolderMovesNothing)
{
    Write(Incoming(), "from the service");
    Write(Full("/Docs/a.txt"), "local");
    FileInUse::Override([](const QString&) { return true; });
    SafeReplace::Result result =
        SafeReplace::Apply(root_, Incoming(), Full("/Docs/a.txt"), StoredLocal(), false, kWhen);
    EXPECT_EQ(result.outcome, SafeReplace::Outcome::Failed);
    EXPECT_EQ(result.error, EBUSY);
    EXPECT_EQ(ReadFileBytes(Full("/Docs/a.txt")), "local");
    EXPECT_EQ(ReadFileBytes(Incoming()), "from the service");

    FileInUse::Override({});
    result = SafeReplace::Apply(root_, Incoming(), Full("/Gone/a.txt"), StoredLocal(), false, kWhen);
    EXPECT_EQ(result.outcome, SafeReplace::Outcome::Failed);
    EXPECT_EQ(result.error, ENOENT);
    EXPECT_TRUE(QFileInfo::exists(Incoming()));
}

TEST_F(SafeReplaceTest, ConflictCopiesNeverTakeAnExistingName)
{
    Write(Full("/Docs/a.txt"), "mine");
    Write(Full("/Docs/a (conflict 2026-12-11 041200).txt"), "older copy");
    for (const char* content : {"first", "second"}) {
        Write(Incoming(), content);
        const SafeReplace::Result result =
            SafeReplace::Apply(root_, Incoming(), Full("/Docs/a.txt"), SafeReplace::Stored{}, false, kWhen);
        ASSERT_EQ(result.outcome, SafeReplace::Outcome::KeptLocal);
    }
    EXPECT_EQ(ReadFileBytes(Full("/Docs/a.txt")), "mine");
    EXPECT_EQ(ReadFileBytes(Full("/Docs/a (conflict 2026-12-11 041200).txt")), "older copy");
    EXPECT_EQ(ReadFileBytes(Full("/Docs/a (conflict 2026-12-11 041200 2).txt")), "first");
    EXPECT_EQ(ReadFileBytes(Full("/Docs/a (conflict 2026-12-11 041200 3).txt")), "second");
}

TEST_F(SafeReplaceTest, ConflictCopyNamesKeepTheExtensionAndFitANameOfTheLimit)
{
    EXPECT_EQ(SafeReplace::ConflictCopyName(root_, Full("/Docs/README"), kWhen),
              Full("/Docs/README (conflict 2026-12-11 041200)"));
    EXPECT_EQ(SafeReplace::ConflictCopyName(root_, Full("/Docs/.profile"), kWhen),
              Full("/Docs/.profile (conflict 2026-12-11 041200)"));
    const QString longName = QString(250, QLatin1Char('x')) + QStringLiteral(".txt");
    const QString copy = SafeReplace::ConflictCopyName(root_, Full("/Docs/") + longName, kWhen);
    const QString name = QFileInfo(copy).fileName();
    EXPECT_LE(name.toUtf8().size(), 255);
    EXPECT_TRUE(name.endsWith(QStringLiteral(" (conflict 2026-12-11 041200).txt"))) << name.toStdString();
}

TEST_F(SafeReplaceTest, MoveNoReplaceLeavesAnExistingTargetAlone)
{
    Write(Incoming(), "new");
    Write(Full("/Docs/a.txt"), "existing");
    int error = 0;
    EXPECT_FALSE(SafeReplace::MoveNoReplace(root_, Incoming(), Full("/Docs/a.txt"), error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(ReadFileBytes(Full("/Docs/a.txt")), "existing");
    EXPECT_EQ(ReadFileBytes(Incoming()), "new");
}

}  // namespace
