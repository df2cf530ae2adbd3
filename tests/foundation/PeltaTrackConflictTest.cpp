#include "foundation/PeltaTrackConflict.h"

#include <gtest/gtest.h>

namespace {

PeltaRecVfsSyncFile Record(const QString& path, std::int64_t size)
{
    PeltaRecVfsSyncFile record;
    record.path = path;
    record.name = path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
    record.size = size;
    record.kind = XFSFile;
    return record;
}

}  // namespace

TEST(PeltaTrackConflict, AddingAPathTwiceKeepsOneEntryWithTheSecondValues)
{
    PeltaTrackConflict tracker;
    EXPECT_TRUE(tracker.Add(QStringLiteral("\\docs\\a.txt"), Record(QStringLiteral("\\docs\\a.txt"), 10)));
    PeltaRecVfsSyncFile second = Record(QStringLiteral("\\docs\\a.txt"), 20);
    second.version = QStringLiteral("v2");
    EXPECT_TRUE(tracker.Add(QStringLiteral("\\docs\\a.txt"), second));

    EXPECT_EQ(tracker.Count(), 1);
    PeltaRecVfsSyncFile out;
    ASSERT_TRUE(tracker.Get(QStringLiteral("\\docs\\a.txt"), out));
    EXPECT_EQ(out.size, 20);
    EXPECT_EQ(out.version, QStringLiteral("v2"));

    // The stored record is a copy: changing the caller's original afterwards
    // does not reach it.
    second.size = 99;
    ASSERT_TRUE(tracker.Get(QStringLiteral("\\docs\\a.txt"), out));
    EXPECT_EQ(out.size, 20);
}

TEST(PeltaTrackConflict, UnknownPathsLeaveEverythingAlone)
{
    PeltaTrackConflict tracker;
    tracker.Add(QStringLiteral("\\a"), Record(QStringLiteral("\\a"), 1));

    PeltaRecVfsSyncFile out = Record(QStringLiteral("\\mine"), 77);
    EXPECT_FALSE(tracker.Get(QStringLiteral("\\A"), out));  // case-sensitive
    EXPECT_EQ(out.path, QStringLiteral("\\mine"));
    EXPECT_EQ(out.size, 77);
    EXPECT_FALSE(tracker.Exists(QStringLiteral("\\b")));

    tracker.Remove(QStringLiteral("\\b"));
    EXPECT_EQ(tracker.Count(), 1);
    tracker.Remove(QStringLiteral("\\a"));
    EXPECT_EQ(tracker.Count(), 0);
    EXPECT_FALSE(tracker.Exists(QStringLiteral("\\a")));
}

TEST(PeltaTrackConflict, KeyAtFollowsKeyOrderAndIsEmptyOutOfRange)
{
    PeltaTrackConflict tracker;
    EXPECT_EQ(tracker.KeyAt(0), QString());

    tracker.Add(QStringLiteral("\\docs\\a.txt"), Record(QStringLiteral("\\docs\\a.txt"), 1));
    EXPECT_EQ(tracker.KeyAt(0), QStringLiteral("\\docs\\a.txt"));
    EXPECT_EQ(tracker.KeyAt(1), QString());
    EXPECT_EQ(tracker.KeyAt(-1), QString());

    PeltaTrackConflict ordered;
    ordered.Add(QStringLiteral("\\b"), Record(QStringLiteral("\\b"), 1));
    ordered.Add(QStringLiteral("\\a"), Record(QStringLiteral("\\a"), 1));
    EXPECT_EQ(ordered.KeyAt(0), QStringLiteral("\\a"));
    EXPECT_EQ(ordered.KeyAt(1), QStringLiteral("\\b"));
}
