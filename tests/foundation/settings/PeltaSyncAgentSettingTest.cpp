#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/Constants.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(PeltaSyncAgentSetting, NewStoreGivesDefaults)
{
    const PeltaSyncAgentSetting store;
    struct Case {
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"last_sync_time", "0"}, {"bw_download", "50"}, {"bw_upload", "10"}, {"show_desktop_notify", "1"},
        {"sync_folder", ""},     {"no_such_setting", ""}, {"USER_ID", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(store.Get(QString::fromLatin1(c.name)), QString::fromLatin1(c.expected)) << c.name;
    EXPECT_EQ(store.Names().size(), qsizetype(AgentSettingTable.size())) << "every setting is listed";
}

TEST(PeltaSyncAgentSetting, SetReplacesAndEmptyRestoresDefault)
{
    PeltaSyncAgentSetting store;
    store.Set(QStringLiteral("show_desktop_notify"), QStringLiteral("0"));
    EXPECT_EQ(store.Get(QStringLiteral("show_desktop_notify")), QStringLiteral("0"));
    store.Set(QStringLiteral("show_desktop_notify"), QString());
    EXPECT_EQ(store.Get(QStringLiteral("show_desktop_notify")), QStringLiteral("1"));

    store.Set(QStringLiteral("User_Id"), QStringLiteral("42"));
    EXPECT_EQ(store.Get(QStringLiteral("USER_ID")), QStringLiteral("42")) << "names compare without case";

    store.Set(QStringLiteral("unknown"), QStringLiteral("x"));
    EXPECT_EQ(store.Get(QStringLiteral("unknown")), QString());
}

TEST(PeltaSyncAgentSetting, RegistryFlagIsCaseSensitive)
{
    EXPECT_TRUE(PeltaSyncAgentSetting::IsRegistrySetting(QStringLiteral("sync_folder")));
    EXPECT_FALSE(PeltaSyncAgentSetting::IsRegistrySetting(QStringLiteral("SYNC_FOLDER")));
    EXPECT_FALSE(PeltaSyncAgentSetting::IsRegistrySetting(QStringLiteral("login")));
    EXPECT_TRUE(PeltaSyncAgentSetting::IsRegistrySetting(QStringLiteral("dev_update")));
}

// Readers never see a value half written while another thread replaces it.
TEST(PeltaSyncAgentSetting, ConcurrentReadersSeeWholeValues)
{
    PeltaSyncAgentSetting store;
    const QString a = QString(200, QLatin1Char('a'));
    const QString b = QString(300, QLatin1Char('b'));
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i)
            store.Set(QStringLiteral("last_sync_time"), i % 2 ? a : b);
    });
    bool torn = false;
    threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i) {
            const QString v = store.Get(QStringLiteral("last_sync_time"));
            if (v != a && v != b && v != QStringLiteral("0"))
                torn = true;
        }
    });
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(torn);
}
