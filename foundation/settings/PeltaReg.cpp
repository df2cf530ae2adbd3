#include "foundation/settings/PeltaReg.h"

#include "foundation/ApiNameCipherTexts.h"
#include "foundation/settings/AutoStart.h"
#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/settings/DataFolder.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/settings/StoredSecret.h"
#include "foundation/text/TimeHelpers.h"
#include "foundation/UserMessageSink.h"
#include "foundation/text/Xi18n.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <optional>

#ifndef TESSARON_VERSION
#error "TESSARON_VERSION must be defined by the build"
#endif

namespace {

// Functions, not globals: ProgramRegKey may not be initialised yet while this
// unit's globals are.
QString LinksKey()
{
    return ProgramRegKey + QStringLiteral("\\Links");
}

QString IconKey()
{
    return ProgramRegKey + QStringLiteral("\\icon");
}
constexpr int LinkCount = 20;

// The running executable: Qt's answer when an application object exists,
// otherwise the target of /proc/self/exe.
QString RunningExecutable()
{
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QString LinkName(int number)
{
    return QStringLiteral("Link%1").arg(number, 2, 10, QLatin1Char('0'));
}

QString Flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

void ShowMkdirFail(const QString& folder)
{
    AppLog.Write(QStringLiteral("PeltaReg: cannot make the sync folder ") + folder, LogGeneral);
    UserMessageSink::Show(Xi18n::Text(XText::_APPName), Xi18n::Text(XText::_MkdirFail));
}

// Closes the registry object's key when the scope ends.
class KeyCloser {
public:
    explicit KeyCloser(PeltaRegistryFunc& registry) : registry_(registry) {}
    ~KeyCloser() { registry_.CloseKey(); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    PeltaRegistryFunc& registry_;
};

// Writes the string value when it is missing or holds something else.
void WriteWhenDifferent(PeltaRegistryFunc& registry, const QString& name, const QString& value)
{
    if (!registry.ValueExists(name) || registry.ReadStringDef(name, value) != value)
        registry.WriteString(name, value);
}

// Rewrites a string value that exists and holds something else.
void RewriteWhenDifferent(PeltaRegistryFunc& registry, const QString& name, const QString& value)
{
    if (registry.ValueExists(name) && registry.ReadStringDef(name, value) != value)
        registry.WriteString(name, value);
}

}  // namespace

template <typename Use>
auto PeltaReg::WithRegistry(Use&& use)
{
    std::lock_guard hold(registryMutex_);
    return use(registry_);
}

template <typename Use>
auto PeltaReg::WithKey(const QString& path, bool create, Use&& use)
{
    return WithRegistry([&](PeltaRegistryFunc& registry) {
        registry.OpenKey(path, create);  // not opened: reads give their defaults, writes fail
        const KeyCloser closer(registry);
        return use(registry);
    });
}

// ---- Construction -----------------------------------------------------------

PeltaReg::PeltaReg(RegistryStore& store, Clock clock)
    : clock_(std::move(clock)), registry_(RegistryRoot::CurrentUser, store)
{
    programFolder_ = DataFolder();
    config_ = std::make_unique<PeltaDbConfig>();
    config_->Open();

    markerFolder_ = programFolder_ + QStringLiteral("/.ShellCache/");
    QDir().mkdir(markerFolder_);  // a failure shows later, when the folder is missing

    executablePath_ = RunningExecutable();
    installDir_ = QFileInfo(executablePath_).absolutePath();
    updaterPath_ = installDir_ + QStringLiteral("/updater");

    GetSettingOr(QStringLiteral("sync_folder"), GetProfileSyncFolder());  // stored on a first start
    const QString folder = GetSyncFolder();
    if (!QFileInfo(folder).isDir()) {
        folder_missing = true;
        QDir().mkdir(folder);
    }

    SetAgentVer(GetFileVersion(QString(), 4));
    InitRegistry();
}

PeltaReg::~PeltaReg() = default;

QString PeltaReg::GetFileVersion(const QString& file, int parts) const
{
    if (!file.isEmpty()) {
        if (QFileInfo::exists(file))
            AppLog.Write(QStringLiteral("PeltaReg:GetFileVersion:") + file + QStringLiteral(":no version"), LogGeneral);
        return {};
    }
    QStringList numbers = QString::fromLatin1(TESSARON_VERSION).split(u'.');
    while (numbers.size() < 4)
        numbers.append(QStringLiteral("0"));
    const int wanted = parts >= 1 && parts <= 3 ? parts : 4;
    return numbers.mid(0, wanted).join(u'.');
}

QString PeltaReg::GetComputerName()
{
    const QString name = QSysInfo::machineHostName();
    SetCache(&PeltaReg::agentName_, name);
    return name;
}

QString PeltaReg::GetDefaultSyncFolder() const
{
    return GetProfileSyncFolder();
}

QString PeltaReg::GetProfileSyncFolder() const
{
    return QDir::homePath() + u'/' + ProgramName;
}

// ---- Settings in config.db --------------------------------------------------

QString PeltaReg::GetSettingOr(const QString& name, const QString& defaultValue)
{
    const QString value = config_->GetSetting(name, defaultValue);
    return value.isEmpty() ? defaultValue : value;
}

void PeltaReg::SetConfigSetting(const QString& name, const QString& value)
{
    config_->SetSetting(name, value);
}

QString PeltaReg::GetLogin()
{
    const QString login = GetSettingOr(QStringLiteral("login"), QString());
    SetCache(&PeltaReg::login_, login);
    return login;
}

QString PeltaReg::GetPass()
{
    const QString pass = GetEncryptedSetting(QStringLiteral("pass"), QString());
    SetCache(&PeltaReg::pass_, pass);
    return pass;
}

void PeltaReg::SetPass(const QString& password)
{
    if (password.isEmpty())
        return;
    SetEncryptedSetting(QStringLiteral("pass"), password);
    SetCache(&PeltaReg::pass_, password);
}

void PeltaReg::ClearPass(PeltaSyncAgentSetting& store)
{
    SetConfigSetting(QStringLiteral("pass"), QString());
    store.Set(QStringLiteral("pass"), QString());
    SetCache(&PeltaReg::pass_, QString());  // or the next save writes it back
}

QString PeltaReg::GetSyncFolder()
{
    QString folder = GetSettingOr(QStringLiteral("sync_folder"), QString());
    if (folder.isEmpty() || folder == QLatin1String("0"))
        folder = GetProfileSyncFolder();
    SetCache(&PeltaReg::syncFolder_, folder);
    return folder;
}

bool PeltaReg::SetSyncFolder(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (!info.isDir()) {
        if (info.exists() || info.isSymLink()) {
            ShowMkdirFail(folder);
            return false;
        }
        QDir().mkdir(folder);
    }
    if (!QFileInfo(folder).isDir()) {
        ShowMkdirFail(folder);
        return false;
    }
    SetConfigSetting(QStringLiteral("sync_folder"), folder);
    SetCache(&PeltaReg::syncFolder_, folder);
    return true;
}

QString PeltaReg::GetAgentName()
{
    const QString name = GetSettingOr(QStringLiteral("agent_name"), GetComputerName());
    SetCache(&PeltaReg::agentName_, name);
    return name;
}

bool PeltaReg::IsConfigured()
{
    return !GetSyncFolder().isEmpty() && !GetAgentName().isEmpty() && !GetLogin().isEmpty() &&
           !GetPass().isEmpty() && !GetSettingOr(QStringLiteral("setting_time"), QString()).isEmpty();
}

// ---- Derived values ---------------------------------------------------------

std::int64_t PeltaReg::Now() const
{
    return clock_ ? clock_() : UnixTimeNow();
}

QString PeltaReg::MakeAgentKey() const
{
    return Md5Hex(QStringLiteral("_") + QString::number(Now()));
}

QString PeltaReg::GetSyncFolderMd5()
{
    return Md5Hex(GetSyncFolder());
}

QString PeltaReg::GetAgentNameBase64()
{
    return Base64UrlEncodeText(GetAgentName());
}

bool PeltaReg::SetAccessKey(const QString& key, std::int64_t expire, const QString& checksum)
{
    if (expire < Now())
        return false;
    {
        std::lock_guard hold(cacheMutex_);
        accessKey_ = key;
        accessKeyExpire_ = expire;
        accessKeyChecksum_ = checksum;
    }
    account_valid = true;
    bound = true;
    return true;
}

// ---- Stored secrets ---------------------------------------------------------

QString PeltaReg::EncryptText(const QString& text) const
{
    return EncryptStoredText(text);
}

QString PeltaReg::DecryptText(const QString& text) const
{
    const std::optional<QString> plain = DecryptStoredText(text);
    if (plain)
        return *plain;
    AppLog.Write(QStringLiteral("PeltaReg: a text of %1 characters does not decipher").arg(text.size()), LogGeneral);
    return {};
}

void PeltaReg::SetEncryptedSetting(const QString& name, const QString& text)
{
    SetConfigSetting(name, EncryptStoredText(text));
}

QString PeltaReg::GetEncryptedSetting(const QString& name, const QString& defaultValue)
{
    // The default is never stored: it is plain text, the setting is enciphered.
    const QString stored = config_->GetSetting(name, QString());
    if (stored.isEmpty())
        return defaultValue;
    const std::optional<QString> plain = DecryptStoredText(stored);
    if (plain)
        return *plain;
    AppLog.Write(QStringLiteral("PeltaReg: the stored setting %1 does not decipher").arg(name), LogGeneral);
    return {};
}

void PeltaReg::FillApiMethodMap(QMap<QString, QString>& map)
{
    for (std::size_t i = 0; i < ApiMethodKeys.size(); ++i) {
        const QString key = QString::fromLatin1(ApiMethodKeys[i]);
        const std::optional<QString> path = DecryptStoredText(QString::fromLatin1(ApiNameCipherTexts[i]));
        if (!path)
            AppLog.Write(QStringLiteral("PeltaReg: the method path of %1 does not decipher").arg(key), LogGeneral);
        map.insert(key, path.value_or(QString()));
    }
}

// ---- Settings store, config.db and registry --------------------------------

bool PeltaReg::LoadSettings(PeltaSyncAgentSetting& store)
{
    {
        const PeltaSQLite3::FileLock hold(*config_);
        Lithos::SQLiteStatement statement(config_->Connection());
        if (config_->QueryWith(QStringLiteral("select * from sync_agent_setting"), statement) > 0) {
            try {
                while (statement.FetchRow())
                    store.Set(config_->ColumnText(QStringLiteral("prop_name"), statement),
                              config_->ColumnText(QStringLiteral("prop_value"), statement));
            } catch (const Lithos::SQLiteException& failure) {
                AppLog.Write(QStringLiteral("PeltaReg: loading the settings stopped: ") +
                                 PeltaSQLite3::FormatSQLiteException(failure),
                             LogDB);
            }
        }
    }
    SetCache(&PeltaReg::syncFolder_, store.Get(QStringLiteral("sync_folder")));
    show_desktop_notify = store.Get(QStringLiteral("show_desktop_notify")) == QLatin1String("1");
    account_valid = store.Get(QStringLiteral("account_valid")) == QLatin1String("1");
    SetCache(&PeltaReg::login_, store.Get(QStringLiteral("login")));
    GetPass();

    LoadProxy();
    ProxyToSetting(store);
    return true;
}

bool PeltaReg::SaveSettings(PeltaSyncAgentSetting& store)
{
    {
        const PeltaSQLite3::FileLock hold(*config_);
        for (const AgentSettingRow& row : AgentSettingTable) {
            const QString name = QString::fromLatin1(row.name);
            config_->SetSetting(name, store.Get(name));
        }
    }
    SetPass(CachedPass());
    ProxyToSetting(store);
    SaveProxy();
    return true;
}

bool PeltaReg::ImportRegistrySettings(PeltaSyncAgentSetting& store)
{
    LoadProxy();
    ProxyToSetting(store);

    store.Set(QStringLiteral("agent_ver"), AgentVer());
    store.Set(QStringLiteral("agent_key"), MakeAgentKey());
    store.Set(QStringLiteral("agent_name"), GetAgentName());
    store.Set(QStringLiteral("agent_name_base64"), GetAgentNameBase64());

    const QString currentFolder = GetSyncFolder();
    QString syncFolder;
    QString installDir;
    WithKey(ProgramRegKey, true, [&](PeltaRegistryFunc& registry) {
        syncFolder = registry.ReadStringDef(QStringLiteral("sync_folder"), currentFolder);
        installDir = registry.ReadStringDef(QStringLiteral("install_dir"), installDir_);
    });
    if (syncFolder.isEmpty() || syncFolder == QLatin1String("0"))
        syncFolder = currentFolder;
    store.Set(QStringLiteral("sync_folder"), syncFolder);
    store.Set(QStringLiteral("install_dir"), installDir);

    // The digest of the folder now bound, not of the one config.db held before.
    store.Set(QStringLiteral("sync_folder_md5sum"), Md5Hex(syncFolder));
    store.Set(QStringLiteral("login"), CachedLogin());
    store.Set(QStringLiteral("first_sync_time"), QStringLiteral("0"));

    SetAutoStart(true);
    SaveSettings(store);
    SetPass(CachedPass());
    SetSyncFolder(GetSyncFolder());
    return true;
}

void PeltaReg::ProxyToSetting(PeltaSyncAgentSetting& store)
{
    const PeltaProxy proxy = Proxy();
    store.Set(QStringLiteral("proxy_server"), proxy.server);
    store.Set(QStringLiteral("proxy_port"), QString::number(proxy.port));
    store.Set(QStringLiteral("proxy_type"), QString::number(proxy.type));
    store.Set(QStringLiteral("proxy_login"), proxy.login);
    store.Set(QStringLiteral("proxy_pass"), proxy.pass);
    store.Set(QStringLiteral("proxy_enable"), Flag(proxy.enable));
    store.Set(QStringLiteral("proxy_req_auth"), Flag(proxy.req_auth));
}

void PeltaReg::LoadProxy()
{
    PeltaProxy proxy;
    WithRegistry([&proxy](PeltaRegistryFunc& registry) { registry.LoadProxy(proxy); });
    SetProxy(proxy);
}

void PeltaReg::SaveProxy()
{
    const PeltaProxy proxy = Proxy();
    WithRegistry([&proxy](PeltaRegistryFunc& registry) { registry.SaveProxy(proxy); });
}

bool PeltaReg::ResetAccount(PeltaSyncAgentSetting& store, const std::function<void()>& save)
{
    {
        std::lock_guard hold(cacheMutex_);
        login_.clear();
        pass_.clear();
    }
    static const char* const emptied[] = {
        "login",       "pass",        "user_sn",            "agent_key",
        "agent_name",  "agent_name_base64", "user_id",      "member_access_token",
        "sync_folder", "sync_folder_md5sum", "account_valid",
    };
    static const char* const zeroed[] = {
        "dev_update", "last_login_time", "last_sync_time", "first_sync_time", "setting_time",
    };
    for (const char* name : emptied)
        store.Set(QString::fromLatin1(name), QString());
    for (const char* name : zeroed)
        store.Set(QString::fromLatin1(name), QStringLiteral("0"));
    if (save)
        save();
    else
        SaveSettings(store);
    return true;
}

// ---- Registry -----------------------------------------------------------------

void PeltaReg::WriteBool(const QString& name, bool on)
{
    WithKey(ProgramRegKey, true, [&](PeltaRegistryFunc& registry) { registry.WriteBool(name, on); });
}

void PeltaReg::WriteString(const QString& name, const QString& text)
{
    WithKey(ProgramRegKey, true, [&](PeltaRegistryFunc& registry) { registry.WriteString(name, text); });
}

QStringList PeltaReg::GetLinks()
{
    return WithKey(LinksKey(), true, [](PeltaRegistryFunc& registry) {
        QStringList links;
        for (int number = 1; number <= LinkCount; ++number) {
            const QString link = registry.ReadStringDef(LinkName(number), QString());
            if (!link.isEmpty())
                links.append(link);
        }
        return links;
    });
}

void PeltaReg::SetLinks(const QStringList& links)
{
    WithKey(LinksKey(), true, [&links](PeltaRegistryFunc& registry) {
        int number = 0;
        for (const QString& link : links) {
            if (link.isEmpty())
                continue;
            if (number == LinkCount) {
                AppLog.Write(QStringLiteral("PeltaReg: only the first %1 links are kept").arg(LinkCount), LogGeneral);
                break;
            }
            registry.WriteString(LinkName(++number), link);
        }
        for (++number; number <= LinkCount; ++number)
            if (registry.ValueExists(LinkName(number)))
                registry.DeleteValue(LinkName(number));
    });
}

void PeltaReg::SetAutoStart(bool on)
{
    const bool exists = AutoStartEntryExists();
    if (exists && !on)
        RemoveAutoStartEntry();
    else if (!exists && on)
        WriteAutoStartEntry(executablePath_);
}

void PeltaReg::InitRegistry()
{
    const QString syncFolder = GetSyncFolder();
    WithKey(ProgramRegKey, true, [&](PeltaRegistryFunc& registry) {
        WriteWhenDifferent(registry, QStringLiteral("install_dir"), installDir_);
        if (!registry.ValueExists(QStringLiteral("sync_folder")))
            registry.WriteString(QStringLiteral("sync_folder"), syncFolder);
    });
    WithKey(IconKey(), true, [](PeltaRegistryFunc& registry) {
        if (registry.ValueExists(QStringLiteral("ICON01")))
            return;
        registry.WriteString(QStringLiteral("ICON01"), QStringLiteral("Tessaron_001.ico"));
        registry.WriteString(QStringLiteral("ICON02"), QStringLiteral("Tessaron_002.ico"));
        registry.WriteString(QStringLiteral("ICON09"), QStringLiteral("Tessaron_009.ico"));
    });
}

void PeltaReg::UpdateRegistryPaths()
{
    const QString syncFolder = GetSyncFolder();
    WithKey(ProgramRegKey, true, [&](PeltaRegistryFunc& registry) {
        RewriteWhenDifferent(registry, QStringLiteral("install_dir"), installDir_);
        RewriteWhenDifferent(registry, QStringLiteral("sync_folder"), syncFolder);
    });
}

// ---- Cached values --------------------------------------------------------------

void PeltaReg::SetCache(QString PeltaReg::*member, const QString& value)
{
    std::lock_guard hold(cacheMutex_);
    this->*member = value;
}

QString PeltaReg::Cache(QString PeltaReg::*member) const
{
    std::lock_guard hold(cacheMutex_);
    return this->*member;
}

QString PeltaReg::CachedLogin() const { return Cache(&PeltaReg::login_); }
void PeltaReg::SetCachedLogin(const QString& login) { SetCache(&PeltaReg::login_, login); }
QString PeltaReg::CachedPass() const { return Cache(&PeltaReg::pass_); }
void PeltaReg::SetCachedPass(const QString& pass) { SetCache(&PeltaReg::pass_, pass); }
QString PeltaReg::CachedSyncFolder() const { return Cache(&PeltaReg::syncFolder_); }
QString PeltaReg::CachedAgentName() const { return Cache(&PeltaReg::agentName_); }
void PeltaReg::SetCachedAgentName(const QString& name) { SetCache(&PeltaReg::agentName_, name); }
QString PeltaReg::AgentVer() const { return Cache(&PeltaReg::agentVer_); }
void PeltaReg::SetAgentVer(const QString& version) { SetCache(&PeltaReg::agentVer_, version); }
QString PeltaReg::AccessKey() const { return Cache(&PeltaReg::accessKey_); }
QString PeltaReg::AccessKeyChecksum() const { return Cache(&PeltaReg::accessKeyChecksum_); }

std::int64_t PeltaReg::AccessKeyExpire() const
{
    std::lock_guard hold(cacheMutex_);
    return accessKeyExpire_;
}

PeltaProxy PeltaReg::Proxy() const
{
    std::lock_guard hold(cacheMutex_);
    return proxy_;
}

void PeltaReg::SetProxy(const PeltaProxy& proxy)
{
    std::lock_guard hold(cacheMutex_);
    proxy_ = proxy;
}
