#include "shell/settings/RunningMarker.h"

#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

TEST(RunningMarkerTest, WrittenWithTheTimeAndRemovedOnlyInAnExistingFolder)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    RunningMarker::Set(folder, true);
    const QByteArray written = ReadFileBytes(folder + RunningMarker::FileName);
    bool number = false;
    EXPECT_GT(written.toLongLong(&number), 1600000000);
    EXPECT_TRUE(number);

    RunningMarker::Set(folder, true);  // present: left as it is
    EXPECT_EQ(ReadFileBytes(folder + RunningMarker::FileName), written);
    RunningMarker::Set(folder, false);
    EXPECT_FALSE(QFileInfo::exists(folder + RunningMarker::FileName));

    RunningMarker::Set(folder + QStringLiteral("missing/"), true);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("missing")));
}
