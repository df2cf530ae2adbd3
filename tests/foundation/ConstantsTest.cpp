#include "foundation/Constants.h"

#include <gtest/gtest.h>

#include <set>

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
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.lookup(c.value), QString::fromLatin1(c.expected)) << c.value;
}

TEST(Constants, FileActionMapping)
{
    const int expected[] = {0, 1, 2, 3, 5, 6, 7, 7};
    for (int code = 0; code < 8; ++code)
        EXPECT_EQ(MapFileAction(code), expected[code]) << code;
    EXPECT_EQ(MapFileAction(-3), 7);
}

TEST(Constants, ValuesUsedAsTheyStand)
{
    EXPECT_TRUE(WebSyncPath.endsWith(QStringLiteral("@SYNC? ")));
    EXPECT_TRUE(ReleaseApeHostSuffix.startsWith(QLatin1Char('.')));
    EXPECT_TRUE(ReleaseApeHostSuffix.endsWith(QStringLiteral("/0/? ")));
    EXPECT_EQ(SyncRootParentKey.size(), 32);
    EXPECT_TRUE(MemberRegisterUrl.endsWith(QStringLiteral("&curl=") + WebSyncPageUrl));
    EXPECT_TRUE(CheckVersionUrl.startsWith(UpdateBaseUrl));
    EXPECT_TRUE(UpdateBaseUrl.endsWith(QStringLiteral("tessaron/")));
    EXPECT_STREQ(UploadMethodNames[UploadMethodPostFile2], "postFile2");
    EXPECT_STREQ(TransferActionNames[TransferActionSize], "size");
}

TEST(Constants, SettingsTableHasUniqueNamesAndTheRegistryRows)
{
    std::set<std::string> names;
    std::set<std::string> registry;
    for (const AgentSettingRow& row : AgentSettingTable) {
        names.insert(row.name);
        if (std::string(row.registryFlag) == "1")
            registry.insert(row.name);
    }
    EXPECT_EQ(names.size(), 32u);
    const std::set<std::string> expectedRegistry = {
        "sync_folder", "install_dir",  "auto_start",  "proxy_server",   "proxy_port", "proxy_enable",
        "proxy_type",  "proxy_login", "proxy_pass", "proxy_req_auth", "dev_update",
    };
    EXPECT_EQ(registry, expectedRegistry);
    EXPECT_STREQ(AgentSettingTable.front().name, "login");
    EXPECT_STREQ(AgentSettingTable.back().name, "user_id");
}
