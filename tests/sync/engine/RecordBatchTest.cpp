#include "tests/sync/SyncFixture.h"

#include "foundation/db/PeltaDb.h"
#include "sync/engine/RecordBatch.h"

#include <gtest/gtest.h>

namespace {

class RecordBatchTest : public SyncFixture {
protected:
    PeltaRecVfsSyncFile Record(int kind, const QString& path, std::int32_t mtime)
    {
        PeltaRecVfsSyncFile record;
        record.kind = kind;
        record.path = path;
        engine_->FillRecordKeys(record);
        record.version = QStringLiteral("v");
        record.mtime = mtime;
        record.ctime = mtime;
        record.size = std::int64_t(5) << 30;
        return record;
    }
};

TEST_F(RecordBatchTest, LargeBatchesGoOutWholeAndNeverDoubleARow)
{
    PeltaRecVfsSyncFile existing = Record(XFSFile, QStringLiteral("\\f7.txt"), 1);
    ASSERT_TRUE(engine_->Db().RecAdd(existing, true));
    RecordBatch batch(engine_->Db());
    for (int n = 0; n < 450; ++n) {
        batch.Insert(Record(XFSFile, QStringLiteral("\\f%1.txt").arg(n), 100));
        batch.Insert(Record(XFSFolder, QStringLiteral("\\It's %1").arg(n), 100));
    }
    EXPECT_EQ(batch.Pending(), 900);
    EXPECT_TRUE(batch.Flush());
    EXPECT_EQ(batch.Pending(), 0);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 450);
    EXPECT_EQ(Number(QStringLiteral("select count(distinct path) from vfs_sync_file")), 450);
    // The row that was there first wins.
    EXPECT_EQ(Number(QStringLiteral("select mtime from vfs_sync_file where path='\\f7.txt'")), 1);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where size=5368709120")), 450);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder where name like 'It''s %'")), 450);

    for (int n = 0; n < 250; ++n)
        batch.SetFolderMtime(engine_->RecordKey(QStringLiteral("\\It's %1").arg(n)), 2000 + n);
    batch.Delete(QStringLiteral("\\f1.txt"), XFSFile);
    batch.Delete(QStringLiteral("\\It's 449"), XFSFolder);
    EXPECT_TRUE(batch.Flush());
    EXPECT_EQ(Number(QStringLiteral("select sum(mtime) from vfs_sync_folder where mtime>=2000")),
              250 * 2000 + 249 * 250 / 2);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder where mtime=100")), 199);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 449);
}

}  // namespace
