#include "foundation/text/TextHelpers.h"
#include "foundation/text/TimeHelpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace {

constexpr FileTime Offset = 116444736000000000ULL;

TEST(TimeHelpersTest, UnixToFileTime)
{
    const struct {
        std::int64_t seconds;
        FileTime expected;
    } cases[] = {
        {0, Offset},
        {1, Offset + 10000000ULL},
        {-1, Offset - 10000000ULL},
        {1700000000, Offset + 1700000000ULL * 10000000ULL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnixTimeToFileTime(c.seconds), c.expected) << c.seconds;
}

TEST(TimeHelpersTest, FileTimeToUnixDropsSubSecondIntervals)
{
    const struct {
        FileTime fileTime;
        std::int32_t expected;
    } cases[] = {
        {Offset, 0},
        {Offset + 9999999ULL, 0},
        {Offset + 10000000ULL, 1},
        {Offset + 1700000000ULL * 10000000ULL + 5000000ULL, 1700000000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileTimeToUnixTime(c.fileTime), c.expected) << c.fileTime;
}

TEST(TimeHelpersTest, RoundTripOfRecordTimes)
{
    for (const std::int32_t seconds : {0, 1, 86399, 1234567890, 2147483647})
        EXPECT_EQ(FileTimeToUnixTime(UnixTimeToFileTime(seconds)), seconds);
}

TEST(TimeHelpersTest, NowFollowsTheSystemClock)
{
    const auto expected = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    EXPECT_LE(std::llabs(UnixTimeNow() - expected), 2);
}

TEST(TextHelpersTest, SplitString)
{
    const struct {
        QString text;
        QString delimiters;
        QStringList expected;
    } cases[] = {
        {"a&&b&", "&", {"a", "b"}},
        {"&a", "&", {"a"}},
        {"", "&", {}},
        {"&&&", "&", {}},
        {"abc", "&", {"abc"}},
        {"abc", "", {"abc"}},
        {"one\r\ntwo\nthree\rfour", "\r\n", {"one", "two", "three", "four"}},
        {"a.b c", ". ", {"a", "b", "c"}},
        {QString::fromUtf8("ä/ö//ü"), "/", {QString::fromUtf8("ä"), QString::fromUtf8("ö"), QString::fromUtf8("ü")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitString(c.text, c.delimiters), c.expected) << c.text.toStdString();
}

TEST(TextHelpersTest, CompareVersion)
{
    const struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.10", "1.9", 1},  // numbers, not text
        {"0.8.116", "0.8.2", 1},
        {"2", "1.9.9", 1},
        {"1.2", "1.2.1", 0},  // parts beyond the shorter list are not compared
        {"1.2.0", "1.2", 0},
        {"1..2", "1.2", 0},  // empty parts are skipped
        {"1.0.3.27", "1.0.3.28", -1},
        {"0.9", "1.0", -1},
        {"", "3.1", 0},
        {"1.2", "1.2", 0},
        {"1.2.3", "1.10", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersion(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareVersion(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(TextHelpersTest, CompareVersionRejectsPartsThatAreNotNumbers)
{
    EXPECT_THROW(CompareVersion("2b", "1"), VersionFormatError);
    EXPECT_THROW(CompareVersion("1.0", "1.x"), VersionFormatError);
    EXPECT_THROW(CompareVersion("99999999999", "1"), VersionFormatError);
    // A part that differs earlier decides before the bad part is read.
    EXPECT_EQ(CompareVersion("2.b", "1.0"), 1);
    // A bad part beyond the shorter list is never read.
    EXPECT_EQ(CompareVersion("1.2.b", "1.2"), 0);
}

TEST(TextHelpersTest, VersionPrefix)
{
    const struct {
        const char* version;
        int n;
        const char* expected;
    } cases[] = {
        {"1.0.3.27", 3, "1.0.3"},
        {"1.0.3", 3, "1.0.3"},
        {"1.0", 3, "1.0"},
        {"1..0.3.27", 3, "1.0.3"},
        {"1..0.3", 3, "1..0.3"},  // unchanged, empty part kept
        {"1.0.3.27", 1, "1"},
        {"1.0.3.27", 0, ""},
        {"", 3, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionPrefix(c.version, c.n), QString(c.expected)) << c.version << " n=" << c.n;
}

}  // namespace
