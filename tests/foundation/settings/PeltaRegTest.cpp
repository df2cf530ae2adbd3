#include "foundation/settings/PeltaReg.h"

#include "foundation/settings/AutoStart.h"
#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/Xi18n.h"
#include "fakeservice/ApiMethodTable.h"
#include "tests/support/FileContents.h"
#include "tests/support/RecordingMessageSink.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Type = RegistryValueType;

QString LinksKey()
{
    return ProgramRegKey + QStringLiteral("\\Links");
}

// A facade over a temporary data folder, home and config folder, an
// in-memory registry and a clock the test sets.
class PeltaRegTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir().mkpath(Home()));
        env_.Set("TESSARON_HOME", Path("data").toStdString());
        env_.Set("HOME", Home().toStdString());
        env_.Set("XDG_CONFIG_HOME", Path("config").toStdString());
        Lithos::SQLiteStatement::SetPauseDuration(1ms);
        sink_ = RecordingMessageSink::InstallNew();
    }

    void TearDown() override
    {
        UserMessageSink::Install(nullptr);
        Lithos::SQLiteStatement::SetPauseDuration(Lithos::SQLiteStatement::DefaultPause);
    }

    std::unique_ptr<PeltaReg> MakeReg()
    {
        return std::make_unique<PeltaReg>(*store_, [this] { return now_.load(); });
    }

    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QString Home() const { return Path("home"); }
    QString ProfileFolder() const { return Home() + QStringLiteral("/tessaron"); }

    QTemporaryDir dir_;
    ScopedEnvironment env_;
    std::shared_ptr<RecordingMessageSink> sink_;
    std::unique_ptr<RegistryStore> store_ = RegistryStore::InMemory();
    std::atomic<std::int64_t> now_{1700000000};
};

TEST_F(PeltaRegTest, FirstStartStoresAndCreatesTheProfileFolder)
{
    ASSERT_FALSE(QFileInfo::exists(Path("data/config.db")));
    {
        const auto reg = MakeReg();
        EXPECT_TRUE(QFileInfo::exists(Path("data/config.db")));
        EXPECT_EQ(reg->ProgramFolder(), Path("data"));
        EXPECT_TRUE(QFileInfo(reg->MarkerFolder()).isDir());
        EXPECT_EQ(reg->MarkerFolder(), Path("data/.ShellCache/"));
        EXPECT_TRUE(reg->folder_missing);
        EXPECT_TRUE(QFileInfo(ProfileFolder()).isDir());
        EXPECT_EQ(reg->GetSettingOr(QStringLiteral("sync_folder"), QStringLiteral("none")), ProfileFolder());
        EXPECT_EQ(reg->GetDefaultSyncFolder(), ProfileFolder());
        EXPECT_EQ(reg->AgentVer(), QStringLiteral(TESSARON_VERSION));
        EXPECT_EQ(reg->GetFileVersion(QString(), 3), QStringLiteral(TESSARON_VERSION).section(u'.', 0, 2));

        EXPECT_EQ(store_->ReadString(ProgramRegKey, QStringLiteral("sync_folder")), ProfileFolder());
        EXPECT_EQ(store_->ReadString(ProgramRegKey, QStringLiteral("install_dir")), reg->InstallDir());
        EXPECT_EQ(store_->ReadString(ProgramRegKey + QStringLiteral("\\icon"), QStringLiteral("ICON09")),
                  QStringLiteral("Tessaron_009.ico"));
    }
    EXPECT_FALSE(MakeReg()->folder_missing);
}

TEST_F(PeltaRegTest, SyncFolderZeroOrEmptyGivesTheProfileFolder)
{
    const auto reg = MakeReg();
    for (const char* stored : {"0", ""}) {
        SCOPED_TRACE(stored);
        reg->SetConfigSetting(QStringLiteral("sync_folder"), QString::fromLatin1(stored));
        EXPECT_EQ(reg->GetSyncFolder(), ProfileFolder());
        EXPECT_EQ(reg->CachedSyncFolder(), ProfileFolder());
    }
}

TEST_F(PeltaRegTest, SetSyncFolderCreatesOneLevelOrShowsMkdirFail)
{
    const auto reg = MakeReg();
    ASSERT_TRUE(WriteFileBytes(Path("home/a-file"), QByteArray()));

    const struct {
        const char* folder;
        bool stored;
    } cases[] = {
        {"home/a-file", false},       // a file of that name
        {"home/missing/deeper", false},  // more than one level missing
        {"home/new", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const auto before = sink_->Messages().size();
        const QString previous = reg->GetSyncFolder();
        const QString folder = Path(c.folder);

        EXPECT_EQ(reg->SetSyncFolder(folder), c.stored);
        EXPECT_EQ(reg->GetSyncFolder(), c.stored ? folder : previous);
        if (c.stored) {
            EXPECT_TRUE(QFileInfo(folder).isDir());
            EXPECT_EQ(sink_->Messages().size(), before);
        } else {
            ASSERT_EQ(sink_->Messages().size(), before + 1);
            EXPECT_EQ(sink_->Messages().back().text, Xi18n::Text(XText::_MkdirFail));
        }
    }
    EXPECT_TRUE(QFileInfo(Path("home/a-file")).isFile());
}

TEST_F(PeltaRegTest, DecryptTextRestoresThePadding)
{
    const auto reg = MakeReg();
    const struct {
        const char* plain;
        int stripped;  // "=" removed from the end
        int length;
    } cases[] = {
        {"short", 2, 22},                  // 16 cipher bytes
        {"seventeen bytes!!", 1, 43},      // 32 cipher bytes
        {"seventeen bytes!!", 0, 44},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const QString plain = QString::fromLatin1(c.plain);
        const QString cipher = reg->EncryptText(plain);
        ASSERT_TRUE(cipher.endsWith(QString(c.stripped, u'=')));
        const QString text = cipher.chopped(c.stripped);
        ASSERT_EQ(text.size(), c.length);
        EXPECT_EQ(reg->DecryptText(text), plain);
    }
}

TEST_F(PeltaRegTest, SecretsThatDoNotDecipherGiveEmptyAndStayOutOfTheLog)
{
    const auto reg = MakeReg();
    AppLog.TakeBuffer();
    const QString bad[] = {QStringLiteral("not base64 at all!"), QStringLiteral("AAAAAAAAAAAAAAAAAAAAAA"),
                           reg->EncryptText(QStringLiteral("ok")).chopped(3)};
    for (const QString& text : bad) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(reg->DecryptText(text), QString());
        reg->SetConfigSetting(QStringLiteral("pass"), text);
        EXPECT_EQ(reg->GetPass(), QString());
        EXPECT_FALSE(AppLog.TakeBuffer().contains(text));
    }

    // A password going through storage, load and save is never logged.
    const QString secret = QStringLiteral("Secret-Word-4711");
    PeltaSyncAgentSetting settings;
    reg->SetPass(secret);
    reg->LoadSettings(settings);
    reg->SaveSettings(settings);
    EXPECT_EQ(reg->GetPass(), secret);
    const QString logged = AppLog.TakeBuffer();
    EXPECT_FALSE(logged.contains(secret));
    EXPECT_FALSE(logged.contains(reg->EncryptText(secret)));
}

TEST_F(PeltaRegTest, SetAccessKeyAcceptsAnExpiryUpToTheCurrentSecond)
{
    const struct {
        std::int64_t offset;
        bool accepted;
    } cases[] = {{0, true}, {-1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        const auto reg = MakeReg();
        EXPECT_EQ(reg->SetAccessKey(QStringLiteral("key"), now_ + c.offset, QStringLiteral("sum")), c.accepted);
        EXPECT_EQ(reg->bound.load(), c.accepted);
        EXPECT_EQ(reg->account_valid.load(), c.accepted);
        EXPECT_EQ(reg->AccessKey(), c.accepted ? QStringLiteral("key") : QString());
        EXPECT_EQ(reg->AccessKeyChecksum(), c.accepted ? QStringLiteral("sum") : QString());
        EXPECT_EQ(reg->AccessKeyExpire(), c.accepted ? now_ + c.offset : 0);
    }
}

TEST_F(PeltaRegTest, MakeAgentKeyChangesOnlyWithTheSecond)
{
    const auto reg = MakeReg();
    const QString first = reg->MakeAgentKey();
    EXPECT_EQ(first, Md5Hex(QStringLiteral("_1700000000")));
    EXPECT_EQ(reg->MakeAgentKey(), first);
    ++now_;
    EXPECT_NE(reg->MakeAgentKey(), first);
}

TEST_F(PeltaRegTest, SetLinksDeletesTheLinksBeyondTheNewList)
{
    const auto reg = MakeReg();
    QStringList twenty;
    for (int i = 1; i <= 20; ++i)
        twenty.append(QStringLiteral("\\folder%1").arg(i));
    reg->SetLinks(twenty);
    EXPECT_EQ(reg->GetLinks(), twenty);

    reg->SetLinks({QStringLiteral("\\a"), QString(), QStringLiteral("\\b"), QStringLiteral("\\c")});
    EXPECT_EQ(store_->ValueNames(LinksKey()),
              QStringList({QStringLiteral("Link01"), QStringLiteral("Link02"), QStringLiteral("Link03")}));
    EXPECT_EQ(reg->GetLinks(), QStringList({QStringLiteral("\\a"), QStringLiteral("\\b"), QStringLiteral("\\c")}));
}

TEST_F(PeltaRegTest, SetAutoStartNeverRewritesAnExistingEntry)
{
    const auto reg = MakeReg();
    const QByteArray elsewhere = "[Desktop Entry]\nType=Application\nExec=/opt/other/agent\n";
    const struct {
        bool existing;
        bool on;
        bool existsAfter;
    } cases[] = {
        {true, true, true},
        {false, true, true},
        {true, false, false},
        {false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "existing " << c.existing << " on " << c.on);
        QFile::remove(AutoStartEntryPath());
        if (c.existing) {
            ASSERT_TRUE(QDir().mkpath(Path("config/autostart")));
            ASSERT_TRUE(WriteFileBytes(AutoStartEntryPath(), elsewhere));
        }
        reg->SetAutoStart(c.on);
        ASSERT_EQ(QFile::exists(AutoStartEntryPath()), c.existsAfter);
        if (!c.existsAfter)
            continue;
        const QByteArray text = ReadFileBytes(AutoStartEntryPath());
        if (c.existing)
            EXPECT_EQ(text, elsewhere);
        else
            EXPECT_TRUE(text.contains("\nExec=\"" + reg->ExecutablePath().toUtf8() + "\"\n")) << text.toStdString();
    }
    EXPECT_EQ(AutoStartEntryPath(), Path("config/autostart/tessaron.desktop"));
}

TEST(PeltaRegAutoStart, ExecLineQuotesThePath)
{
    EXPECT_TRUE(AutoStartEntryText(QStringLiteral("/opt/a b/$x\"y\\z%"))
                    .contains(QStringLiteral("\nExec=\"/opt/a b/\\\\$x\\\\\"y\\\\\\\\z%%\"\n")));
    for (const char* unusable : {"", "relative/agent", "/opt/line\nbreak"}) {
        SCOPED_TRACE(unusable);
        EXPECT_EQ(AutoStartEntryText(QString::fromLatin1(unusable)), QString());
    }
}

TEST_F(PeltaRegTest, PasswordChangesSurviveALaterSave)
{
    const struct {
        const char* name;
        std::function<void(PeltaReg&, PeltaSyncAgentSetting&)> change;
        const char* expected;
    } cases[] = {
        {"cleared", [](PeltaReg& reg, PeltaSyncAgentSetting& settings) { reg.ClearPass(settings); }, ""},
        {"replaced", [](PeltaReg& reg, PeltaSyncAgentSetting&) { reg.SetPass(QStringLiteral("new")); }, "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reg = MakeReg();
        PeltaSyncAgentSetting settings;
        reg->SetPass(QStringLiteral("old password"));
        reg->LoadSettings(settings);
        ASSERT_EQ(reg->CachedPass(), QStringLiteral("old password"));

        c.change(*reg, settings);
        reg->SaveSettings(settings);
        EXPECT_EQ(reg->GetPass(), QString::fromLatin1(c.expected));
    }
}

TEST_F(PeltaRegTest, SettingsRoundTripThroughConfigDbAndRegistry)
{
    PeltaSyncAgentSetting saved;
    {
        const auto reg = MakeReg();
        for (const QString& name : saved.Names())
            saved.Set(name, name + QStringLiteral(" value"));
        saved.Set(QStringLiteral("sync_folder"), Path("home/saved"));
        saved.Set(QStringLiteral("show_desktop_notify"), QStringLiteral("0"));
        saved.Set(QStringLiteral("account_valid"), QStringLiteral("1"));
        PeltaProxy proxy;
        proxy.server = QStringLiteral("proxy.example");
        proxy.port = 8080;
        proxy.enable = true;
        proxy.req_auth = true;
        proxy.type = 2;
        proxy.login = QStringLiteral("proxy user");
        proxy.pass = QStringLiteral("proxy pass");
        reg->SetProxy(proxy);
        reg->SetCachedPass(QStringLiteral("account pass"));
        reg->SaveSettings(saved);
    }
    const struct {
        const char* name;
        Type type;
        const char* value;
    } registry[] = {
        {"proxy_server", Type::String, "proxy.example"}, {"proxy_port", Type::Dword, "8080"},
        {"proxy_type", Type::Dword, "2"},                {"proxy_login", Type::String, "proxy user"},
        {"proxy_pass", Type::String, "proxy pass"},      {"proxy_enable", Type::Dword, "1"},
        {"proxy_req_auth", Type::Dword, "1"},
    };
    for (const auto& r : registry) {
        SCOPED_TRACE(r.name);
        const QString name = QString::fromLatin1(r.name);
        EXPECT_EQ(store_->ValueType(ProgramRegKey, name), r.type);
        EXPECT_EQ(saved.Get(name), QString::fromLatin1(r.value));
    }
    // The control form writes registry-flagged settings as strings; loading repairs them.
    store_->WriteString(ProgramRegKey, QStringLiteral("proxy_port"), QStringLiteral("3128"));
    saved.Set(QStringLiteral("proxy_port"), QStringLiteral("3128"));

    const auto reg = MakeReg();
    PeltaSyncAgentSetting loaded;
    reg->LoadSettings(loaded);
    for (const QString& name : saved.Names()) {
        if (name == QLatin1String("pass"))
            continue;
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(loaded.Get(name), saved.Get(name));
    }
    EXPECT_EQ(store_->ReadDword(ProgramRegKey, QStringLiteral("proxy_port")), 3128u);
    EXPECT_EQ(reg->Proxy().port, 3128);
    EXPECT_EQ(loaded.Get(QStringLiteral("pass")), reg->EncryptText(QStringLiteral("account pass")));
    EXPECT_EQ(reg->CachedPass(), QStringLiteral("account pass"));
    EXPECT_EQ(reg->CachedLogin(), QStringLiteral("login value"));
    EXPECT_EQ(reg->CachedSyncFolder(), Path("home/saved"));
    EXPECT_FALSE(reg->show_desktop_notify);
    EXPECT_TRUE(reg->account_valid);
}

TEST_F(PeltaRegTest, ImportRegistrySettingsBindsTheRegistrysSyncFolder)
{
    const auto reg = MakeReg();
    const QString bound = Path("home/bound");
    store_->WriteString(ProgramRegKey, QStringLiteral("sync_folder"), bound);
    store_->DeleteValue(ProgramRegKey, QStringLiteral("install_dir"));
    reg->SetCachedLogin(QStringLiteral("bob"));
    reg->SetCachedPass(QStringLiteral("bob's pass"));

    PeltaSyncAgentSetting settings;
    EXPECT_TRUE(reg->ImportRegistrySettings(settings));

    EXPECT_EQ(settings.Get(QStringLiteral("sync_folder")), bound);
    EXPECT_EQ(settings.Get(QStringLiteral("sync_folder_md5sum")), Md5Hex(bound));
    EXPECT_EQ(reg->GetSettingOr(QStringLiteral("sync_folder_md5sum"), QString()), Md5Hex(bound));
    EXPECT_EQ(reg->GetSyncFolder(), bound);
    EXPECT_TRUE(QFileInfo(bound).isDir());
    EXPECT_EQ(settings.Get(QStringLiteral("install_dir")), reg->InstallDir());
    EXPECT_EQ(store_->ReadString(ProgramRegKey, QStringLiteral("install_dir")), reg->InstallDir());
    EXPECT_EQ(settings.Get(QStringLiteral("agent_key")), Md5Hex(QStringLiteral("_1700000000")));
    EXPECT_EQ(settings.Get(QStringLiteral("agent_name_base64")), Base64UrlEncodeText(reg->GetAgentName()));
    EXPECT_EQ(settings.Get(QStringLiteral("agent_ver")), reg->AgentVer());
    EXPECT_EQ(reg->GetLogin(), QStringLiteral("bob"));
    EXPECT_EQ(reg->GetPass(), QStringLiteral("bob's pass"));
    EXPECT_TRUE(AutoStartEntryExists());
}

TEST_F(PeltaRegTest, UpdateRegistryPathsRewritesOnlyExistingValues)
{
    const auto reg = MakeReg();
    store_->WriteString(ProgramRegKey, QStringLiteral("sync_folder"), QStringLiteral("/stale"));
    store_->DeleteValue(ProgramRegKey, QStringLiteral("install_dir"));
    reg->UpdateRegistryPaths();
    EXPECT_EQ(store_->ReadString(ProgramRegKey, QStringLiteral("sync_folder")), ProfileFolder());
    EXPECT_FALSE(store_->ValueExists(ProgramRegKey, QStringLiteral("install_dir")));

    store_->WriteString(ProgramRegKey, QStringLiteral("install_dir"), reg->InstallDir().toUpper() + u'x');
    reg->InitRegistry();
    EXPECT_EQ(store_->ReadString(ProgramRegKey, QStringLiteral("install_dir")), reg->InstallDir());
}

TEST_F(PeltaRegTest, ResetAccountEmptiesTheBindingAndSaves)
{
    const auto reg = MakeReg();
    PeltaSyncAgentSetting settings;
    settings.Set(QStringLiteral("login"), QStringLiteral("bob"));
    settings.Set(QStringLiteral("last_sync_time"), QStringLiteral("123"));
    settings.Set(QStringLiteral("bw_upload"), QStringLiteral("99"));
    reg->SetCachedLogin(QStringLiteral("bob"));
    reg->SetCachedPass(QStringLiteral("pw"));
    int saves = 0;

    EXPECT_TRUE(reg->ResetAccount(settings, [&] { ++saves; }));
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(reg->CachedLogin(), QString());
    EXPECT_EQ(reg->CachedPass(), QString());
    EXPECT_EQ(settings.Get(QStringLiteral("login")), QString());
    EXPECT_EQ(settings.Get(QStringLiteral("last_sync_time")), QStringLiteral("0"));
    EXPECT_EQ(settings.Get(QStringLiteral("bw_upload")), QStringLiteral("99"));
}

TEST_F(PeltaRegTest, RegistrySequencesFromSeveralThreadsStayOnTheirKeys)
{
    const auto reg = MakeReg();
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i)
                reg->SetLinks({QStringLiteral("\\a")});
        });
    for (int i = 0; i < 3000; ++i)
        reg->WriteBool(QStringLiteral("auto_start"), i % 2 == 0);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(store_->ValueNames(LinksKey()), QStringList({QStringLiteral("Link01")}));
    for (const QString& name : store_->ValueNames(ProgramRegKey))
        EXPECT_FALSE(name.startsWith(QLatin1String("Link"))) << name.toStdString();
    EXPECT_EQ(store_->ValueType(ProgramRegKey, QStringLiteral("auto_start")), Type::Dword);
}

TEST(PeltaRegApiMethodMap, DeciphersTheFourteenPaths)
{
    QMap<QString, QString> map;
    PeltaReg::FillApiMethodMap(map);
    ASSERT_EQ(map.size(), 14);
    for (const ApiMethodPath& entry : ApiMethodPlainTable) {
        SCOPED_TRACE(entry.key);
        EXPECT_EQ(map.value(QString::fromLatin1(entry.key)), QString::fromLatin1(entry.path));
    }
}

}  // namespace
