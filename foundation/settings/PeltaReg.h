#pragma once

// The settings facade: the one object through which the agent reaches its
// folders, the settings in "config.db", the program's registry key, the saved
// account password, the access key of the member login and the values derived
// from settings (agent key, folder digest, Base64url agent name).
//
// Folders: files the agent keeps for itself live in the data folder
// (ProgramFolder(): config.db, the marker folder .ShellCache/); install_dir in
// the registry is the folder of the executable (InstallDir()).
//
// One instance is shared by every thread. The cached texts are guarded by one
// lock, so a reader never sees half a write; every open-use-close sequence on
// the registry object runs under the registry lock; "config.db" has its own
// lock. The locks are taken in the order registry, config.db, cache, and the
// cache lock is never held while calling out. Nothing here blocks on or pumps
// the user interface.

#include "foundation/db/PeltaDbConfig.h"
#include "foundation/settings/PeltaProxy.h"
#include "foundation/settings/PeltaRegistryFunc.h"
#include "platform/RegistryStore.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class PeltaSyncAgentSetting;

class PeltaReg {
public:
    // Gives the current Unix time in seconds.
    using Clock = std::function<std::int64_t()>;

    // Opens (or creates) "config.db" in the data folder, creates the marker
    // folder, settles the sync folder (stored as $HOME/tessaron on a first
    // start, created when missing) and prepares the registry key. An empty
    // clock means the system clock.
    explicit PeltaReg(RegistryStore& store = RegistryStore::Shared(), Clock clock = {});
    ~PeltaReg();
    PeltaReg(const PeltaReg&) = delete;
    PeltaReg& operator=(const PeltaReg&) = delete;

    // ---- Folders and paths (fixed at construction) --------------------------
    const QString& ProgramFolder() const { return programFolder_; }    // the data folder, no trailing "/"
    const QString& MarkerFolder() const { return markerFolder_; }      // ProgramFolder() + "/.ShellCache/"
    const QString& InstallDir() const { return installDir_; }          // folder of the executable
    const QString& ExecutablePath() const { return executablePath_; }  // the running executable
    const QString& UpdaterPath() const { return updaterPath_; }        // InstallDir() + "/updater"

    // The version of the file, its first `parts` numbers joined by "." (1 to
    // 3; any other number gives all four). An empty name means this program,
    // whose version is compiled in. Other files give "" for now: no version
    // note is read yet.
    QString GetFileVersion(const QString& file, int parts) const;
    // This computer's host name; also cached as the agent name.
    QString GetComputerName();
    // $HOME/tessaron: the folder the first-run wizard offers.
    QString GetDefaultSyncFolder() const;
    // $HOME/tessaron.
    QString GetProfileSyncFolder() const;

    // ---- Settings in "config.db" (every read goes to the database) ---------
    // The stored value (a missing name is stored with the default); an empty
    // value gives the default.
    QString GetSettingOr(const QString& name, const QString& defaultValue);
    void SetConfigSetting(const QString& name, const QString& value);
    QString GetLogin();
    // The deciphered password; "" when none is stored or it does not decipher.
    QString GetPass();
    // Stores a non-empty password enciphered and caches it; "" changes nothing.
    void SetPass(const QString& password);
    // Empties the password in "config.db", in the store and in the cache.
    void ClearPass(PeltaSyncAgentSetting& store);
    // sync_folder; "0" or "" gives GetProfileSyncFolder().
    QString GetSyncFolder();
    // Creates the folder (one level) when missing and stores it as
    // sync_folder. When a file of that name exists or the folder cannot be
    // made, shows _MkdirFail and stores nothing (false). "" does nothing.
    bool SetSyncFolder(const QString& folder);
    // agent_name, with the computer name as its default.
    QString GetAgentName();
    // Sync folder, agent name, login, password and setting_time all non-empty.
    bool IsConfigured();

    // ---- Derived values -----------------------------------------------------
    // Md5Hex of "_" and the current Unix time: the same within one second.
    QString MakeAgentKey() const;
    QString GetSyncFolderMd5();
    QString GetAgentNameBase64();
    // Keeps the key and marks the account valid and bound. An expiry before
    // the current second gives false and changes nothing.
    bool SetAccessKey(const QString& key, std::int64_t expire, const QString& checksum);

    // ---- Stored secrets -----------------------------------------------------
    QString EncryptText(const QString& text) const;
    // Missing "=" padding is restored; a text that does not decipher gives ""
    // (logged without the text).
    QString DecryptText(const QString& text) const;
    void SetEncryptedSetting(const QString& name, const QString& text);
    // The deciphered setting; the default when the setting is missing or
    // empty, "" (logged) when it does not decipher.
    QString GetEncryptedSetting(const QString& name, const QString& defaultValue);

    // Deciphers the agent interface's method paths into the map under their
    // keys. A path that does not decipher is logged and left empty.
    static void FillApiMethodMap(QMap<QString, QString>& map);

    // ---- Settings store, "config.db" and registry --------------------------
    // Loads every row of "config.db" into the store, caches the values the
    // facade keeps, and reads the proxy from the registry into the store.
    bool LoadSettings(PeltaSyncAgentSetting& store);
    // Writes the store's 32 values to "config.db", then the cached password
    // (enciphered), then the proxy to the store and the registry.
    bool SaveSettings(PeltaSyncAgentSetting& store);
    // Binds a new account: proxy and paths from the registry, fresh agent key
    // and names, autostart on, everything saved. The caller has cached the
    // new login and password before.
    bool ImportRegistrySettings(PeltaSyncAgentSetting& store);
    void ProxyToSetting(PeltaSyncAgentSetting& store);
    void SaveProxy();
    // Unbinds: empties the cached login and password and the account's
    // settings in the store, then runs save (SaveSettings on the store when
    // save is empty).
    bool ResetAccount(PeltaSyncAgentSetting& store, const std::function<void()>& save = {});

    // ---- Registry (under the program's key) --------------------------------
    void WriteBool(const QString& name, bool on);
    void WriteString(const QString& name, const QString& text);
    // The non-empty values Link01 .. Link20 of the Links subkey, in order.
    QStringList GetLinks();
    // The non-empty entries as Link01, Link02, ...; every later link deleted.
    void SetLinks(const QStringList& links);
    // Creates the autostart entry when on and there is none; deletes it when
    // off. An existing entry is never rewritten.
    void SetAutoStart(bool on);
    // install_dir and sync_folder created or corrected, the icon names set.
    void InitRegistry();
    // Rewrites install_dir and sync_folder where they exist and differ.
    void UpdateRegistryPaths();

    // ---- Cached values ------------------------------------------------------
    QString CachedLogin() const;
    void SetCachedLogin(const QString& login);
    QString CachedPass() const;
    void SetCachedPass(const QString& pass);
    QString CachedSyncFolder() const;
    QString CachedAgentName() const;
    void SetCachedAgentName(const QString& name);
    QString AgentVer() const;
    void SetAgentVer(const QString& version);
    QString AccessKey() const;
    QString AccessKeyChecksum() const;
    std::int64_t AccessKeyExpire() const;
    PeltaProxy Proxy() const;
    void SetProxy(const PeltaProxy& proxy);

    // ---- Flags --------------------------------------------------------------
    std::atomic<bool> bound{false};
    std::atomic<bool> account_valid{false};
    std::atomic<bool> show_desktop_notify{true};
    std::atomic<bool> folder_missing{false};  // the sync folder was missing at construction
    std::atomic<bool> relogin{false};

private:
    // Runs use on the registry object under the registry lock.
    template <typename Use>
    auto WithRegistry(Use&& use);
    // Opens the key (creating it when create is set), runs use on the open
    // registry object and closes the key, all under the registry lock.
    template <typename Use>
    auto WithKey(const QString& path, bool create, Use&& use);

    std::int64_t Now() const;
    // Reads the proxy from the registry into the facade's proxy.
    void LoadProxy();
    void SetCache(QString PeltaReg::*member, const QString& value);
    QString Cache(QString PeltaReg::*member) const;

    const Clock clock_;
    QString programFolder_;
    QString markerFolder_;
    QString installDir_;
    QString executablePath_;
    QString updaterPath_;

    std::unique_ptr<PeltaDbConfig> config_;

    std::mutex registryMutex_;
    PeltaRegistryFunc registry_;

    mutable std::mutex cacheMutex_;
    QString login_;
    QString pass_;
    QString syncFolder_;
    QString agentName_;
    QString agentVer_;
    QString accessKey_;
    QString accessKeyChecksum_;
    std::int64_t accessKeyExpire_ = 0;
    PeltaProxy proxy_;
};
