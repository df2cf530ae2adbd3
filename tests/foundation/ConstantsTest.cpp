#include "foundation/Constants.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QString>

#include <climits>
#include <cstring>

TEST(Constants, NameLookupsAreBoundsChecked)
{
    struct Case {
        QString (*lookup)(int);
        int value;
        const char* expected;
    };
    const Case cases[] = {
        {XGOName, XGODoLogin, "XGODoLogin"},
        {XGOName, 6, "6"},
        {XMOName, XMORenameNewName, "XMORenameNewName"},
        {XMOName, XMOResyncLocal, "8"},
        {XMOName, XMOResyncAppStart, "12"},
        {XMOName, -1, "-1"},
        {XICOName, XICODel, "XICODel"},
        {XICOName, 7, "7"},
        {XSYNCName, XSYNCFolderMoveDst, "XSYNCFolderMoveDst"},
        {XSYNCName, XSYNCFileMoveDst, "XSYNCFileMoveDst"},
        {XSYNCName, 15, "15"},
        {XAPEName, XAPEPost, "XAPEPost"},
        {XAPEName, 5, "5"},
        {XAPEName, INT_MIN, "-2147483648"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.lookup(c.value), QString::fromLatin1(c.expected)) << c.value;
}

// Codes 0 to 5 are mapped (4 and 5 move up by one); anything else gives 7.
TEST(Constants, FileActionMappingIsBoundsChecked)
{
    const struct {
        int code;
        int expected;
    } cases[] = {{3, 3}, {4, 5}, {5, 6}, {6, 7}, {-3, 7}, {INT_MAX, 7}};
    for (const auto& c : cases)
        EXPECT_EQ(MapFileAction(c.code), c.expected) << c.code;
}

// Settings are found by name without regard to case, so two rows whose names
// differ only in case would hide one another; a row left out of the table's
// initializer would have no name at all.
TEST(Constants, SettingsTableRowsAreCompleteAndTheirNamesDistinct)
{
    QSet<QString> names;
    for (const AgentSettingRow& row : AgentSettingTable) {
        ASSERT_NE(row.name, nullptr);
        SCOPED_TRACE(row.name);
        EXPECT_GT(std::strlen(row.name), 0u);
        EXPECT_NE(row.defaultValue, nullptr);
        ASSERT_NE(row.registryFlag, nullptr);
        EXPECT_TRUE(std::strcmp(row.registryFlag, "0") == 0 || std::strcmp(row.registryFlag, "1") == 0);
        names.insert(QString::fromLatin1(row.name).toLower());
    }
    EXPECT_EQ(names.size(), qsizetype(AgentSettingTable.size()));
}
