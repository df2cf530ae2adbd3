#pragma once

// The sync engine of one signed-in account. Every thread that changes the
// local store or talks to the service about files owns one engine, with its
// own connection to "profile.db" and its own service client; the settings
// facade, the settings store and the status object are shared.
//
// Paths. A relative path is a path below the sync folder with a leading "\"
// (\Docs\a.txt); "\" alone is the sync folder. Records and request rows hold
// relative paths. A full path is the sync folder (an absolute "/" path)
// followed by "/" and the relative path's names; the conversion happens only
// here, at the file-system boundary. Every path, whether it comes from the
// disk, the store or the service, passes PathGuard first; one that would
// leave the sync folder is refused with a log line, and the operations treat
// the empty text they then get as "nothing there".
//
// Items on disk are regular files and folders only (LocalItem): links, FIFOs,
// sockets and devices are never opened or followed.
//
// Threads. One thread uses an engine, with one exception: another thread may
// convert paths (ToLocalPath and the other path operations) while the
// user-interface thread re-binds the engine (SetAgentSetting). The sync and
// cache folders are therefore one immutable snapshot, swapped whole under a
// lock, and the abort flag is atomic. Each operation works on the snapshot it
// took when it started.
//
// Store failures of the access layer never leave an operation: they are
// logged and the operation ends as if the store had found nothing.

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/db/PeltaRecVfsSyncFile.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/XMap.h"
#include "sync/engine/OverlayMarkers.h"
#include "sync/rules/FailedReads.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class PeltaAPI;
class PeltaDb;
class PeltaReg;
class PeltaSyncAgentSetting;
class SyncFolders;

class PeltaSync {
public:
    // Folder text (a relative path up to and including its last "\") to the
    // number of items below it marked so far in one batch.
    using ParentCounter = std::map<QString, int>;

    // Results of GetLocalInfo, GetFileInfo, GetFolderInfo and SetFileInfo.
    static constexpr int InfoFound = 1;
    static constexpr int InfoMissing = 0;
    static constexpr int InfoFailed = -1;

    // State passed to the status object for a file that is in use.
    static constexpr int FileStateInUse = 1;

    // Opens the engine's own connection to "profile.db" (running its
    // upgrades) and its own service client. reg and settings are shared and
    // not owned; neither may be null, and both (and status) must outlive the
    // engine. sync_folder and user_sn are read from settings.
    PeltaSync(PeltaReg* reg, PeltaSyncAgentSetting* settings, PeltaRequestObject& status = RequestObject);
    ~PeltaSync();
    PeltaSync(const PeltaSync&) = delete;
    PeltaSync& operator=(const PeltaSync&) = delete;

    // ---- Binding and the abort flag --------------------------------------------
    // Re-binds engine and service client to the store, reads sync_folder
    // again (a new folder snapshot) and raises the abort flag. userSn and the
    // marker folder keep their values. Any thread.
    void SetAgentSetting(PeltaSyncAgentSetting* settings);
    // False once the application exits or the abort flag is raised.
    bool IsRunning() const;
    bool AbortRaised() const { return abort_.load(); }
    // Only the engine's owner lowers the flag.
    void ClearAbort() { abort_.store(false); }

    static void Log(const QString& text, int category);

    QString SyncFolder() const;
    QString CacheDir() const;
    const QString& UserSn() const { return userSn_; }
    const QString& ShellCacheDir() const { return shellCacheDir_; }
    PeltaDb& Db() { return *db_; }
    PeltaAPI& Api() { return *api_; }
    PeltaReg* Reg() const { return reg_; }
    PeltaSyncAgentSetting* Settings() const { return settings_.load(); }
    PeltaRequestObject& Status() { return status_; }

    // ---- Paths and keys ----------------------------------------------------------
    // A full path inside the sync folder as a relative path; a text that is
    // relative already is returned checked. "", "0" and the folder itself
    // give "\"; a trailing separator is dropped. Anything that would leave
    // the sync folder gives "" (logged).
    QString ToRelativePath(const QString& full) const;
    // A relative path (or a full path inside the sync folder) as a full path.
    // "\", "0" and "" give the folder followed by "/". Refused: "" (logged).
    QString ToLocalPath(const QString& path) const;
    // The relative path of the folder that holds path; "" when refused.
    QString ParentPath(const QString& path) const;
    // The record key of a relative path for this engine's member.
    QString RecordKey(const QString& relativePath) const;
    // Fills parent, key, name and sn of a record whose path is set. True
    // when the parent key came from the store (an item below a folder; the
    // parent is empty while that folder is not stored), false directly in the
    // sync folder (parent "\") or when the path is refused (nothing filled).
    bool FillRecordKeys(PeltaRecVfsSyncFile& record);

    // ---- Local items -------------------------------------------------------------
    // The relative path (or "0" for the sync folder itself) is a folder.
    bool LocalFolderExists(const QString& path) const;
    // Kind, times and size of the record's path from the disk: InfoFound,
    // InfoMissing (nothing there, or no item: a link, FIFO, socket or device,
    // logged) or InfoFailed (there, but it cannot be read or is in use).
    int GetLocalInfo(PeltaRecVfsSyncFile& record);
    int GetFileInfo(const QString& full, PeltaRecVfsSyncFile& record);
    // Three attempts 100 ms apart before InfoFailed.
    int GetFolderInfo(const QString& full, PeltaRecVfsSyncFile& record);
    // Sets a file's modification time; creation and access times stay. The
    // time the file system then holds (it may round or clamp) is put into
    // readBack: that, not mtime, is the time to store.
    int SetFileInfo(const QString& full, std::int64_t mtime, std::int64_t* readBack = nullptr);
    // The file cannot be opened for reading or is in use (FileInUse). A
    // missing file counts as locked too; callers test existence first.
    bool IsFileLocked(const QString& full);
    // Copies a file that cannot be read in place to its snapshot "_" + key
    // in the cache folder and takes times and size from the copy, then
    // reports the path in use to the status object. False for a folder or
    // when the copy fails (the record keeps what it had).
    bool SnapshotLockedFile(PeltaRecVfsSyncFile& record);
    // Stores the item's current modification time in its record.
    void UpdateFileMTime(const QString& path, int kind);
    // Dot-names are hidden already; nothing to do.
    void HideFile(const QString& full);
    // Creates the cache folder when missing. False when it cannot be made or
    // something other than a folder has its name.
    bool EnsureCacheDir();
    void SetFileMessage(const QString& path, int state);

    // ---- Overlay markers -----------------------------------------------------
    void SetIcon(const QString& path, int state);
    void RefreshAllIcons();
    void SetParentIcon(const QString& path, ParentCounter& counter);
    void RefreshParentIcons(ParentCounter& counter);

    // ---- File filter -----------------------------------------------------------
    static bool IsIgnoredFile(const QString& path);

    // ---- Local changes -------------------------------------------------------
    // An item appeared or may have changed: store it and queue an add or a
    // modification. level 0 or 1 checks the parent folder first; level 1 or
    // more leaves a folder-add mark for a new folder. force skips, for a
    // file, the unchanged and pending-request tests.
    void FileAdd(const QString& path, int level, bool lowPriority, bool force);
    // A file's content changed: queue a modification when its size or time
    // really changed.
    void FileModify(const QString& path);
    static bool IsLocalChanged(const PeltaRecVfsSyncFile& local, const PeltaRecVfsSyncFile& stored);
    // An item was renamed or moved: move its rows (a folder's whole subtree)
    // and queue a move. False when the names are equal, either is refused or
    // the new path does not exist.
    bool FileRename(const QString& oldPath, const QString& newPath);
    bool MoveFolder(const QString& oldPath, const QString& newPath);
    // Re-keys the rows of a moved file, or of a folder's subtree; oldPath and
    // newPath are those of the top item at every depth. The counters grow by
    // the folders and files moved.
    bool MoveFolderRecords(const QString& oldKey, const QString& newKey, const QString& oldPath,
                           const QString& newPath, int& folders, int& files, std::int64_t& size, int depth);
    // An item is gone: delete its rows and queue one deletion. False when
    // the path is empty, refused or still there.
    bool FileRemove(const QString& path);
    bool DeleteRecords(const QString& path, int kind, int depth);
    // Makes sure the item's parent folder is stored (and, with createMissing,
    // exists) and fills the record's parent when it was empty.
    bool CheckParent(PeltaRecVfsSyncFile& record, bool queueFolderAdd, bool createMissing);

    // ---- Rescan ----------------------------------------------------------------
    // Compares a folder with everything below it against the store and
    // queues every difference (LocalRescan). Complete only when every folder
    // was read; a folder that could not be read is skipped with its subtree.
    PassResult ResyncLocal(const QString& path, bool checkFile, bool removeMissing, bool unused = false);

    // ---- Downloads ---------------------------------------------------------------
    // Queues the download of a stored file (XSYNCFileGet, status 5) unless
    // one is open for its path, and signals "Global\XRequestFileTransfer".
    // True when a download of the path is open afterwards.
    bool QueueFileGet(const PeltaRecVfsSyncFile& record);

private:
    struct StoredRow {
        QString key;
        QString path;
    };

    std::shared_ptr<const SyncFolders> Folders() const;
    // The relative form of a path (full or relative) under the given
    // folders; "" when refused. where names the caller in the log line.
    static QString Relative(const SyncFolders& folders, const QString& path, const QString& where);
    static QString Full(const SyncFolders& folders, const QString& relative);

    // ---- Local items ----
    int ReadFileInfo(const SyncFolders& folders, const QString& full, PeltaRecVfsSyncFile& record);
    int ReadFolderInfo(const SyncFolders& folders, const QString& full, PeltaRecVfsSyncFile& record);
    bool CopyToSnapshot(const SyncFolders& folders, const QString& source, const QString& snapshot);
    // The cache folder's upload copy of a record key.
    static QString SnapshotPath(const SyncFolders& folders, const QString& key);

    // ---- Local changes ----
    // FileAdd; true when the item's row is in the store afterwards.
    bool AddItem(const QString& path, int level, bool lowPriority, bool force);
    bool AddReadItem(PeltaRecVfsSyncFile& local, int level, bool lowPriority, bool force);
    void ModifyItem(const QString& path);
    bool RenameItem(const QString& oldPath, const QString& newPath);
    bool RenameStored(PeltaRecVfsSyncFile& newRecord, const PeltaRecVfsSyncFile& oldRecord);
    // The stored record of path, looked up first with the kind given, then
    // with the other kind; found set when either has a row.
    void FindStored(const QString& path, int firstKind, PeltaRecVfsSyncFile& stored);
    // Moves the rows below the folder whose row has oldKey and whose stored
    // path is folderPath (oldPath or below it); below the top, the folder's
    // own row too.
    bool MoveSubtree(const QString& oldKey, const QString& folderPath, const QString& oldPath,
                     const QString& newPath, int& folders, int& files, int depth);
    bool MoveStoredFile(const QString& oldKey, const QString& newKey, const QString& newPath);
    bool RemoveItem(const QString& path);
    bool DeleteStored(const PeltaRecVfsSyncFile& stored, int depth);
    void CheckParentOf(PeltaRecVfsSyncFile& record, bool queueFolderAdd, bool createMissing);
    // Reads every row of sql, keeping the key and path columns asked for.
    // Rows whose key is not a record key, or whose path is not a relative
    // path below under, are skipped with a log line.
    bool CollectRows(const QString& sql, bool withKey, const QString& under, std::vector<StoredRow>& rows);
    // Runs work; a failure of the store becomes a log line and false.
    static bool Guarded(const char* where, const std::function<void()>& work);

    std::unique_ptr<PeltaDb> db_;
    PeltaReg* const reg_;
    std::atomic<PeltaSyncAgentSetting*> settings_;
    PeltaRequestObject& status_;
    const QString userSn_;
    const QString shellCacheDir_;
    const OverlayMarkers markers_;
    std::unique_ptr<PeltaAPI> api_;
    std::atomic<bool> abort_{false};

    mutable std::mutex foldersMutex_;
    std::shared_ptr<const SyncFolders> folders_;  // guarded by foldersMutex_
};
