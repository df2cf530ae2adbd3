#include "sync/rules/PendingLocalMoves.h"

#include <gtest/gtest.h>

namespace {

class PendingLocalMovesTest : public ::testing::Test {
protected:
    void SetUp() override { PendingLocalMoves::Clear(); }
    void TearDown() override { PendingLocalMoves::Clear(); }
};

// The moved folder and everything below it moved away; a sibling whose name
// only starts alike, the folder above and the new name did not.
TEST_F(PendingLocalMovesTest, AMoveCoversTheOldNameAndWhatLiesBelowIt)
{
    PendingLocalMoves::Seen(QStringLiteral("\\A\\B"), QStringLiteral("\\Docs"));
    const struct {
        const char* path;
        bool movedAway;
    } cases[] = {
        {"\\A\\B", true}, {"\\A\\B\\c.txt", true}, {"\\A\\B\\C\\d", true}, {"\\A\\Bc", false},
        {"\\A", false},   {"\\Docs", false},       {"\\a\\b", false},
    };
    for (const auto& item : cases)
        EXPECT_EQ(PendingLocalMoves::MovedAway(QString::fromLatin1(item.path)), item.movedAway) << item.path;
}

// Taking a move in ends only that move; the same folder moved twice stays
// moved away until both are taken in.
TEST_F(PendingLocalMovesTest, TakingInEndsOneMoveAtATime)
{
    PendingLocalMoves::Seen(QStringLiteral("\\A"), QStringLiteral("\\B"));
    PendingLocalMoves::Seen(QStringLiteral("\\A"), QStringLiteral("\\C"));
    PendingLocalMoves::TakenIn(QStringLiteral("\\A"), QStringLiteral("\\X"));
    EXPECT_TRUE(PendingLocalMoves::MovedAway(QStringLiteral("\\A\\f")));
    PendingLocalMoves::TakenIn(QStringLiteral("\\A"), QStringLiteral("\\B"));
    EXPECT_TRUE(PendingLocalMoves::MovedAway(QStringLiteral("\\A\\f")));
    PendingLocalMoves::TakenIn(QStringLiteral("\\A"), QStringLiteral("\\C"));
    EXPECT_FALSE(PendingLocalMoves::MovedAway(QStringLiteral("\\A\\f")));
}

}  // namespace
