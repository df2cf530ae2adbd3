#pragma once

// The folders one engine works in, fixed for the object's lifetime: the sync
// folder and the cache folder inside it. The engine holds one snapshot and
// replaces it whole when the sync folder changes, so a reader on another
// thread always sees a matching pair.

#include <QString>

class SyncFolders {
public:
    // folder is the sync_folder setting. A trailing "/" is dropped. A folder
    // that is not an absolute path is not usable: every path is refused.
    explicit SyncFolders(const QString& folder);

    bool IsUsable() const { return !syncFolder_.isEmpty(); }
    // The absolute sync folder without a trailing "/"; empty when not usable.
    const QString& SyncFolder() const { return syncFolder_; }
    // SyncFolder() + "/" + CacheFolderName.
    const QString& CacheDir() const { return cacheDir_; }

private:
    QString syncFolder_;
    QString cacheDir_;
};
