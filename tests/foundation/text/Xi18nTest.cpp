#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- The text table ---------------------------------------------------------

TEST(Xi18nTable, UniqueIdsInRangeWithNamesAndTexts)
{
    const auto table = Xi18n::Table();
    ASSERT_FALSE(table.empty());
    std::set<int> ids;
    std::set<std::string_view> names;
    for (const Xi18n::Entry& entry : table) {
        SCOPED_TRACE(std::string(entry.name));
        EXPECT_GE(entry.id, 65392);
        EXPECT_LE(entry.id, 65535);
        EXPECT_TRUE(ids.insert(entry.id).second) << "duplicate id " << entry.id;
        EXPECT_TRUE(names.insert(entry.name).second) << "duplicate name";
        EXPECT_TRUE(entry.name.starts_with('_'));
        EXPECT_FALSE(entry.text.isEmpty());
        EXPECT_EQ(Xi18n::TextById(entry.id), entry.text.toString());
    }
}

TEST(Xi18nTable, UnknownIdGivesEmptyText)
{
    for (int id : {0, -1, 65391, 65536, 1 << 30})
        EXPECT_TRUE(Xi18n::TextById(id).isEmpty()) << id;
}

TEST(Xi18nLanguage, OnlyTheBuiltInLanguageIsSelected)
{
    EXPECT_EQ(Xi18n::Language(), 1028);
    EXPECT_EQ(Xi18n::SetLanguage(1033), 1028);
    EXPECT_EQ(Xi18n::Language(), 1028);
    EXPECT_EQ(Xi18n::Text(XText::_Lang1033), QString::fromUtf8("英文"));
    EXPECT_EQ(Xi18n::SetLanguage(1028), 1028);
    EXPECT_EQ(Xi18n::Text(XText::_Lcid), QString::number(Xi18n::Language()));
}

// ---- The texts formatted ----------------------------------------------------

TEST(Xi18nFormat, QuotaUsedReport)
{
    const QString expected = QString::fromUtf8("已使用空間：25.00% (共有 2.0 GB)");
    const QString format = Xi18n::Text(XText::_QuotaUsedReport);
    EXPECT_EQ(FormatText(format, {25.0, 2.0, "GB"}), expected);
    EXPECT_EQ(FormatText(format, {25, 2.0f, QStringLiteral("GB")}), expected);
}

TEST(Xi18nFormat, TransferProgress)
{
    const QString text = FormatText(
        Xi18n::Text(XText::_TransferProgress),
        {Xi18n::Text(XText::_UL), "name", 12.5, Xi18n::Text(XText::_Sec), 30.0, Xi18n::Text(XText::_Sec)});
    EXPECT_EQ(text, QString::fromUtf8("正在上傳 \"name\" (12.5 KB/秒, 30 秒)"));
}

// ---- The formatting helper --------------------------------------------------

struct FormatCase {
    const char* format;
    std::vector<FormatArg> args;
    const char* expected;
};

void ExpectFormats(const std::vector<FormatCase>& cases)
{
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(FormatText(QString::fromUtf8(c.format), c.args), QString::fromUtf8(c.expected));
    }
}

TEST(TextFormat, Placeholders)
{
    ExpectFormats({
        {"plain 文字", {}, "plain 文字"},
        {"%s", {"abc"}, "abc"},
        {"[%s]", {QString()}, "[]"},
        {"%s", {static_cast<const char*>(nullptr)}, ""},
        {"'%s'使用中", {"報告.doc"}, "'報告.doc'使用中"},
        {"%d個", {3}, "3個"},
        {"%d", {-7}, "-7"},
        {"%d", {std::numeric_limits<std::int64_t>::min()}, "-9223372036854775808"},
        {"%d", {std::numeric_limits<std::uint64_t>::max()}, "18446744073709551615"},
        {"%f", {1.5}, "1.50"},
        {"%0f", {25.0}, "25.00"},
        {"%.1f", {0.4}, "0.4"},
        {"%.01f", {12.5}, "12.5"},
        {"%.0f", {30.0}, "30"},
        {"%0.1f", {2.0}, "2.0"},
        {"%.3f", {-1.25}, "-1.250"},
        {"%f", {3}, "3.00"},
        {"%.1f", {std::numeric_limits<std::uint64_t>::max()}, "18446744073709551615.0"},
        {"%f", {1e20}, "100000000000000000000.00"},
        {"%.4f", {1e-7}, "0.0000"},
        {"%f", {std::nan("")}, "NAN"},
        {"%f", {-std::numeric_limits<double>::infinity()}, "-INF"},
        {"100%%", {}, "100%"},
        {"%d%%", {25}, "25%"},
        {"%5d|%-5s|", {42, "ab"}, "   42|ab   |"},
        {"%.3d", {7}, "007"},
        {"%.3d", {-7}, "-007"},
        {"%.2s", {"abcdef"}, "ab"},
        {"%s %s", {"a", "b", "extra"}, "a b"},
    });
}

TEST(TextFormat, RoundsHalvesAwayFromZero)
{
    ExpectFormats({
        {"%.0f", {2.5}, "3"},
        {"%.0f", {-2.5}, "-3"},
        {"%.0f", {0.5}, "1"},
        {"%.0f", {0.49}, "0"},
        {"%.1f", {12.25}, "12.3"},
        {"%f", {0.125}, "0.13"},
        {"%f", {0.005}, "0.01"},
        {"%f", {9.999}, "10.00"},
        {"%.1f", {99.96}, "100.0"},
        {"%f", {-0.001}, "0.00"},
        {"%f", {0.0}, "0.00"},
    });
}

TEST(TextFormat, FaultsGiveMarkersAndKeepTheRest)
{
    ExpectFormats({
        {"%s and %d", {"x"}, "x and [missing argument for %d]"},
        {"%0.1f GB", {}, "[missing argument for %0.1f] GB"},
        {"%d", {1.5}, "[wrong argument type for %d]"},
        {"%s", {3}, "[wrong argument type for %s]"},
        {"%f", {"1.5"}, "[wrong argument type for %f]"},
        // A wrong argument is still used up, so later placeholders keep theirs.
        {"%d %s", {"a", "b"}, "[wrong argument type for %d] b"},
        {"%q %s", {"a"}, "[invalid placeholder %q] a"},
        {"50%", {}, "50[invalid placeholder %]"},
        {"%5%", {}, "[invalid placeholder %5%]"},
        {"%0:s", {"a"}, "[invalid placeholder %0:]s"},
        {"%99999999999d|", {1}, "[invalid placeholder %99999999999d]|"},
        {"%.99999999999f|", {1.0}, "[invalid placeholder %.99999999999f]|"},
    });
}

}  // namespace
