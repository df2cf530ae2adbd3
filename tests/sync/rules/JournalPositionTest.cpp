#include "sync/rules/JournalPosition.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

// The position lies just after the commit time, with as many fraction digits:
// never on an entry already read, never past one not yet read.
TEST(JournalPositionTest, ThePositionFollowsTheLastCommitTimeByOneInItsLastDigit)
{
    const struct {
        const char* commitTime;
        const char* position;
    } cases[] = {
        {"1000.05", "1000.06"},
        {"1000.123", "1000.124"},
        {"1000.9", "1001.0"},
        {"1000.99", "1001.00"},
        {"1000.09", "1000.10"},
        {"999.99", "1000.00"},
        {"1000", "1001"},
        {"9", "10"},
        {"0.0", "0.1"},
        {"1700000000.000999999", "1700000000.001000000"},
        // Digits well beyond a 32-bit integer are counted all the same.
        {"1000.99999999999", "1001.00000000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JournalPosition::After(QString::fromLatin1(c.commitTime)), QString::fromLatin1(c.position))
            << c.commitTime;
}

TEST(JournalPositionTest, ACommitTimeThatIsNotADecimalNumberGivesNoPosition)
{
    const char* refused[] = {"", ".", "1000.", ".5", "1000.05.1", "-1000.05", "+1000", "1000.0a",
                             "1e3", " 1000", "1000 ", "١٠٠٠", "abc"};
    for (const char* text : refused) {
        EXPECT_FALSE(JournalPosition::IsDecimal(QString::fromUtf8(text))) << text;
        EXPECT_EQ(JournalPosition::After(QString::fromUtf8(text)), QString()) << text;
    }
}

}  // namespace
