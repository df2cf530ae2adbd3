#pragma once

// Access to one root of the program's registry: one open key at a time, reads
// with a default that repair a value of the wrong type in place, and the proxy
// settings kept under the program's key.
//
// An object must not be used by two threads at once (it holds the open key);
// the store beneath it is shared and thread-safe. Failures are not reported:
// a key that cannot be opened or a value that cannot be written leaves the
// reads with their defaults.

#include "foundation/settings/PeltaProxy.h"
#include "platform/RegistryStore.h"

#include <QString>

enum class RegistryRoot {
    CurrentUser,   // the program's own keys, kept in the registry store
    LocalMachine,  // read only; holds no keys on this platform
};

class PeltaRegistryFunc {
public:
    explicit PeltaRegistryFunc(RegistryRoot root = RegistryRoot::CurrentUser,
                               RegistryStore& store = RegistryStore::Shared());
    PeltaRegistryFunc(const PeltaRegistryFunc&) = delete;
    PeltaRegistryFunc& operator=(const PeltaRegistryFunc&) = delete;

    RegistryRoot Root() const { return root_; }

    // Opens the key (creating it when create is set), closing any open key
    // first. The path is always taken from the root, with or without a
    // leading backslash. False when the key is missing and not created.
    bool OpenKey(const QString& path, bool create);
    void CloseKey();
    bool KeyExists(const QString& path) const;
    // The open key's path; empty when none is open.
    QString CurrentPath() const { return currentPath_; }

    // On the open key; with no key open a value never exists.
    bool ValueExists(const QString& name) const;
    RegistryValueType GetDataType(const QString& name) const;

    // Reads with a default; a missing value is created with the default and a
    // value of the wrong type is rewritten (see the definitions).
    int ReadIntDef(const QString& name, int defaultValue);
    QString ReadStringDef(const QString& name, const QString& defaultValue);
    bool ReadBoolDef(const QString& name, bool defaultValue);

    // On the open key; false when no key is open or the value was not saved.
    bool WriteString(const QString& name, const QString& value);
    bool WriteInteger(const QString& name, int value);  // stored as a DWORD
    bool WriteBool(const QString& name, bool value);    // DWORD 1 or 0
    bool DeleteValue(const QString& name);

    // The proxy settings under the program's key; both open and close that key.
    void LoadProxy(PeltaProxy& proxy);
    void SaveProxy(const PeltaProxy& proxy);

private:
    RegistryStore& store_;
    const RegistryRoot root_;
    QString currentPath_;
};
