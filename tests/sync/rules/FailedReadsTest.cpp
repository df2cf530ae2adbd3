#include "sync/rules/FailedReads.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

TEST(FailedReadsTest, AFailedFolderCoversItsSubtreeOnly)
{
    FailedReads failed;
    EXPECT_EQ(failed.Result(), PassResult::Complete);
    failed.Add(QStringLiteral("\\a_b"), QStringLiteral("test"), QStringLiteral("cannot list"));

    EXPECT_TRUE(failed.Covers(QStringLiteral("\\a_b")));
    EXPECT_TRUE(failed.Covers(QStringLiteral("\\a_b\\c\\d.txt")));
    EXPECT_FALSE(failed.MayDelete(QStringLiteral("\\a_b\\c")));
    // A name that merely begins like the folder is another folder.
    EXPECT_FALSE(failed.Covers(QStringLiteral("\\a_bc")));
    EXPECT_FALSE(failed.Covers(QStringLiteral("\\a")));
    EXPECT_TRUE(failed.MayDelete(QStringLiteral("\\a_bc\\x")));
    EXPECT_EQ(failed.Result(), PassResult::Failed);

    failed.Add(QStringLiteral("\\"), QStringLiteral("test"), QStringLiteral("not mounted"));
    EXPECT_TRUE(failed.Covers(QStringLiteral("\\anything")));
}

TEST(FailedReadsTest, AnInterruptedPassMayDeleteNothing)
{
    FailedReads failed;
    failed.Interrupt();
    EXPECT_FALSE(failed.MayDelete(QStringLiteral("\\a")));
    EXPECT_EQ(failed.Result(), PassResult::Aborted);
}

}  // namespace
