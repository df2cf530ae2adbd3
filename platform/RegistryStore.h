#pragma once

// The program's registry: one typed key-value store shared by the whole
// process. Keys are backslash paths such as "Software\Pelta\Tessaron",
// compared exactly; each key holds named values of one of four types.
//
// A persisted store keeps its contents in one JSON file. Every change is
// written to a temporary file in the same folder (mode 0600, flushed to disk)
// that then replaces the old file, so a crash leaves either the old or the new
// contents. A missing file is an empty store. A file that cannot be parsed is
// renamed aside with a ".damaged-<timestamp>" suffix and the store starts
// empty. A file that exists but cannot be read is left alone: the store then
// works in memory only and reports every change as not saved, so the file is
// never overwritten with less than it held.
//
// All operations are safe to call from any thread.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

enum class RegistryValueType {
    None,          // no such value (or no such key)
    String,        // REG_SZ
    ExpandString,  // REG_EXPAND_SZ
    Dword,         // REG_DWORD, 32-bit unsigned
    Binary,        // REG_BINARY
};

class RegistryStore {
public:
    // A store persisted in the given JSON file, which is read here; an empty
    // path gives a store that never touches the disk.
    explicit RegistryStore(QString filePath);
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // The process-wide store at DefaultFilePath(), created on first use.
    static RegistryStore& Shared();

    // A store that never touches the disk.
    static std::unique_ptr<RegistryStore> InMemory();

    // $TESSARON_HOME/registry.json when TESSARON_HOME is set, otherwise
    // $XDG_CONFIG_HOME/Pelta/Tessaron/registry.json (~/.config by default).
    static QString DefaultFilePath();

    // Empty for an in-memory store.
    QString FilePath() const;

    // Keys. CreateKey succeeds when the key exists afterwards; it adds only
    // the key named, not its parents. An empty path is never a key.
    bool KeyExists(const QString& key) const;
    bool CreateKey(const QString& key);
    bool DeleteKey(const QString& key);

    // Values. Reads give nothing when the value is missing or of another type;
    // ReadString reads both string types. Writes create the key when missing.
    bool ValueExists(const QString& key, const QString& name) const;
    RegistryValueType ValueType(const QString& key, const QString& name) const;
    QStringList ValueNames(const QString& key) const;
    std::optional<QString> ReadString(const QString& key, const QString& name) const;
    std::optional<std::uint32_t> ReadDword(const QString& key, const QString& name) const;
    std::optional<QByteArray> ReadBinary(const QString& key, const QString& name) const;

    // A write or delete returns false when it could not be saved to the file;
    // the change still holds in this process. DeleteValue also returns false
    // when there was nothing to delete.
    bool WriteString(const QString& key, const QString& name, const QString& value);
    bool WriteExpandString(const QString& key, const QString& name, const QString& value);
    bool WriteDword(const QString& key, const QString& name, std::uint32_t value);
    bool WriteBinary(const QString& key, const QString& name, const QByteArray& value);
    bool DeleteValue(const QString& key, const QString& name);

    // One stored value; only the member that belongs to the type is used.
    struct Value {
        RegistryValueType type = RegistryValueType::None;
        QString text;
        std::uint32_t dword = 0;
        QByteArray bytes;
    };
    using Key = std::map<QString, Value>;
    using Keys = std::map<QString, Key>;

private:
    const Value* FindLocked(const QString& key, const QString& name) const;
    bool WriteValue(const QString& key, const QString& name, Value value);
    bool SaveLocked();
    void Load();

    QString filePath_;         // empty: in memory only
    bool saveBlocked_ = false;  // the file could not be read; never overwrite it
    mutable std::mutex mutex_;
    Keys keys_;
};
