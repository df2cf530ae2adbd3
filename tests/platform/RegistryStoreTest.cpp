#include "platform/RegistryStore.h"

#include "tests/support/FileContents.h"
#include "tests/support/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>
#include <vector>

namespace {

const QString ProgramKey = QStringLiteral("Software\\Pelta\\Tessaron");
const QString LinksKey = QStringLiteral("Software\\Pelta\\Tessaron\\Links");

mode_t ModeOf(const QString& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

}  // namespace

TEST(RegistryStore, AllFourTypesSurviveTheFile)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString folder = temp.filePath(QStringLiteral("config/Pelta"));
    const QString path = folder + QStringLiteral("/registry.json");
    const QByteArray blob("\x00\x01\xff binary\n", 11);
    const QString text = QStringLiteral("C:\\Users\\ä \"quoted\" 雲");
    {
        RegistryStore store(path);
        EXPECT_FALSE(QFile::exists(path)) << "opening a missing file creates nothing";
        EXPECT_TRUE(store.WriteString(ProgramKey, QStringLiteral("sync_folder"), text));
        EXPECT_TRUE(store.WriteDword(ProgramKey, QStringLiteral("proxy_port"), 4294967295u));
        EXPECT_TRUE(store.WriteExpandString(ProgramKey, QStringLiteral("install_dir"), QStringLiteral("%HOME%")));
        EXPECT_TRUE(store.WriteBinary(ProgramKey, QStringLiteral("blob"), blob));
        EXPECT_TRUE(store.WriteString(ProgramKey, QStringLiteral("gone"), QStringLiteral("x")));
        EXPECT_TRUE(store.DeleteValue(ProgramKey, QStringLiteral("gone")));
        EXPECT_TRUE(store.CreateKey(LinksKey));
    }
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ModeOf(folder), 0700u) << "created folders are private";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("registry.json")})
        << "no temporary file is left behind";

    RegistryStore reloaded(path);
    EXPECT_EQ(reloaded.ValueNames(ProgramKey),
              (QStringList{QStringLiteral("blob"), QStringLiteral("install_dir"), QStringLiteral("proxy_port"),
                           QStringLiteral("sync_folder")}));
    EXPECT_EQ(reloaded.ValueType(ProgramKey, QStringLiteral("sync_folder")), RegistryValueType::String);
    EXPECT_EQ(reloaded.ReadString(ProgramKey, QStringLiteral("sync_folder")), text);
    EXPECT_EQ(reloaded.ValueType(ProgramKey, QStringLiteral("proxy_port")), RegistryValueType::Dword);
    EXPECT_EQ(reloaded.ReadDword(ProgramKey, QStringLiteral("proxy_port")), 4294967295u);
    EXPECT_EQ(reloaded.ValueType(ProgramKey, QStringLiteral("install_dir")), RegistryValueType::ExpandString);
    EXPECT_EQ(reloaded.ReadString(ProgramKey, QStringLiteral("install_dir")), QStringLiteral("%HOME%"));
    EXPECT_EQ(reloaded.ValueType(ProgramKey, QStringLiteral("blob")), RegistryValueType::Binary);
    EXPECT_EQ(reloaded.ReadBinary(ProgramKey, QStringLiteral("blob")), blob);
    EXPECT_TRUE(reloaded.KeyExists(LinksKey)) << "an empty key is kept";
    EXPECT_TRUE(reloaded.ValueNames(LinksKey).isEmpty());
}

TEST(RegistryStore, ReadsAreTypedAndKeysCompareExactly)
{
    auto store = RegistryStore::InMemory();
    EXPECT_TRUE(store->FilePath().isEmpty());
    EXPECT_TRUE(store->WriteDword(ProgramKey, QStringLiteral("n"), 5));
    EXPECT_TRUE(store->WriteExpandString(ProgramKey, QStringLiteral("e"), QStringLiteral("%X%")));

    EXPECT_TRUE(store->KeyExists(ProgramKey)) << "a write creates its key";
    EXPECT_FALSE(store->KeyExists(ProgramKey.toLower()));
    EXPECT_FALSE(store->KeyExists(ProgramKey + u'\\'));
    EXPECT_FALSE(store->KeyExists(QStringLiteral("Software\\Pelta")));
    EXPECT_FALSE(store->ValueExists(ProgramKey, QStringLiteral("N")));

    EXPECT_EQ(store->ReadString(ProgramKey, QStringLiteral("n")), std::nullopt);
    EXPECT_EQ(store->ReadBinary(ProgramKey, QStringLiteral("n")), std::nullopt);
    EXPECT_EQ(store->ReadDword(ProgramKey, QStringLiteral("e")), std::nullopt);
    EXPECT_EQ(store->ReadString(ProgramKey, QStringLiteral("e")), QStringLiteral("%X%"));
    EXPECT_EQ(store->ValueType(ProgramKey, QStringLiteral("missing")), RegistryValueType::None);
    EXPECT_EQ(store->ValueType(LinksKey, QStringLiteral("n")), RegistryValueType::None);

    EXPECT_FALSE(store->DeleteValue(ProgramKey, QStringLiteral("missing")));
    EXPECT_FALSE(store->CreateKey(QString()));
    EXPECT_FALSE(store->WriteString(QString(), QStringLiteral("v"), QStringLiteral("x")));
    EXPECT_TRUE(store->DeleteKey(ProgramKey));
    EXPECT_FALSE(store->KeyExists(ProgramKey));
}

// Whatever is wrong with the file, it is kept under another name and the store
// starts empty and usable.
TEST(RegistryStore, DamagedFileIsMovedAsideAndKept)
{
    const QByteArray damaged[] = {
        "",
        "{\"Software\\\\Pelta\\\\Tessaron\": {\"proxy_port\": ",
        "[1, 2]",
        "{\"K\": {\"v\": {\"type\": \"dword\", \"value\": \"abc\"}}}",
        "{\"K\": {\"v\": {\"type\": \"dword\", \"value\": \"4294967296\"}}}",
        "{\"K\": {\"v\": {\"type\": \"binary\", \"value\": \"**\"}}}",
        "{\"K\": {\"v\": {\"type\": \"qword\", \"value\": \"1\"}}}",
        "{\"K\": {\"v\": {\"type\": \"string\"}}}",
        "{\"K\": \"v\"}",
        "{\"K\": {\"v\": {\"type\": \"string\", \"value\": \"\xff\xfe\"}}}",
    };
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString path = temp.filePath(QStringLiteral("registry.json"));
    for (const QByteArray& content : damaged) {
        SCOPED_TRACE(content.toStdString());
        ASSERT_TRUE(WriteFileBytes(path, content));
        RegistryStore store(path);
        EXPECT_FALSE(store.KeyExists(QStringLiteral("K")));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(store.WriteDword(ProgramKey, QStringLiteral("proxy_port"), 8080));
        EXPECT_EQ(RegistryStore(path).ReadDword(ProgramKey, QStringLiteral("proxy_port")), 8080u);
        QFile::remove(path);
    }

    // Every damaged file is still there, each under its own name, all within
    // the same second.
    const QStringList aside = QDir(temp.path()).entryList({QStringLiteral("registry.json.damaged-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), static_cast<qsizetype>(std::size(damaged)));
    QList<QByteArray> kept;
    for (const QString& name : aside)
        kept.append(ReadFileBytes(temp.filePath(name)));
    for (const QByteArray& content : damaged)
        EXPECT_TRUE(kept.contains(content)) << content.toStdString();
}

TEST(RegistryStore, UnreadableFileIsNeverReplaced)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    // A folder in the file's place cannot be read as a file, even by root.
    const QString path = temp.filePath(QStringLiteral("registry.json"));
    ASSERT_TRUE(QDir().mkdir(path));
    ASSERT_TRUE(WriteFileBytes(path + QStringLiteral("/inside"), "data"));

    RegistryStore store(path);
    EXPECT_FALSE(store.WriteString(ProgramKey, QStringLiteral("v"), QStringLiteral("x"))) << "not saved";
    EXPECT_EQ(store.ReadString(ProgramKey, QStringLiteral("v")), QStringLiteral("x")) << "kept in memory";
    EXPECT_EQ(ReadFileBytes(path + QStringLiteral("/inside")), QByteArray("data"));
    EXPECT_TRUE(QDir(temp.path()).entryList({QStringLiteral("registry.json.*")}, QDir::AllEntries).isEmpty());
}

TEST(RegistryStore, ConcurrentWritersLoseNothing)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString path = temp.filePath(QStringLiteral("registry.json"));
    constexpr int Threads = 4;
    constexpr int Writes = 20;
    {
        RegistryStore store(path);
        std::vector<std::thread> writers;
        for (int t = 0; t < Threads; ++t) {
            writers.emplace_back([&store, t] {
                for (int i = 0; i < Writes; ++i)
                    store.WriteDword(LinksKey, QStringLiteral("t%1-%2").arg(t).arg(i), static_cast<std::uint32_t>(i));
            });
        }
        for (auto& writer : writers)
            writer.join();
    }
    EXPECT_EQ(RegistryStore(path).ValueNames(LinksKey).size(), Threads * Writes);
}

TEST(RegistryStore, DefaultFileFollowsTheEnvironment)
{
    struct Case {
        const char* tessaronHome;  // nullptr: unset
        const char* xdgConfigHome;
        const char* expected;
    };
    const Case cases[] = {
        {"/data/t", "/cfg", "/data/t/registry.json"},
        {nullptr, "/cfg", "/cfg/Pelta/Tessaron/registry.json"},
        {"", "relative/cfg", "/home/u/.config/Pelta/Tessaron/registry.json"},
        {nullptr, nullptr, "/home/u/.config/Pelta/Tessaron/registry.json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ScopedEnvironment env;
        env.Set("HOME", "/home/u");
        c.tessaronHome ? env.Set("TESSARON_HOME", c.tessaronHome) : env.Unset("TESSARON_HOME");
        c.xdgConfigHome ? env.Set("XDG_CONFIG_HOME", c.xdgConfigHome) : env.Unset("XDG_CONFIG_HOME");
        EXPECT_EQ(RegistryStore::DefaultFilePath(), QString::fromUtf8(c.expected));
    }
}
