// Request rows driven through the fake service: registration, transfer and
// commit of local changes, and what each of the service's error messages does
// to a row.

#include "tests/sync/EngineServiceFixture.h"

#include "foundation/db/PeltaDb.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QFileInfo>

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
    EXPECT_EQ(ServiceItem(QStringLiteral("/Docs/a.txt"))->content, "first content");
    EXPECT_EQ(ServiceItem(QStringLiteral("/Docs/a.txt"))->localMtime, 1000);
    EXPECT_EQ(ServiceItem(QStringLiteral("/O'Brien's.txt"))->content, "quoted");
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

    EXPECT_EQ(ServiceItem(QStringLiteral("/Docs/a.txt"))->content, "second, longer content");
    EXPECT_EQ(FileRecord(QStringLiteral("\\Docs\\a.txt")),
              (ServiceVersion(QStringLiteral("/Docs/a.txt")) + QStringLiteral("|2000|22")).toStdString());
    EXPECT_FALSE(ServiceItem(QStringLiteral("/O'Brien's.txt")));
    EXPECT_EQ(ServiceItem(QStringLiteral("/moved.txt"))->content, "quoted");

    Remove(QStringLiteral("\\moved.txt"));
    engine_->FileRemove(QStringLiteral("\\moved.txt"));
    Remove(QStringLiteral("\\Docs"));
    engine_->FileRemove(QStringLiteral("\\Docs"));
    Drive();
    EXPECT_FALSE(ServiceItem(QStringLiteral("/moved.txt")));
    EXPECT_FALSE(ServiceItem(QStringLiteral("/Docs")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where commit_time is null and status<10")), 0)
        << Joined(RowStates());
}

}  // namespace
