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
#include "foundation/PeltaTrackConflict.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/db/PeltaRecVfsSyncFile.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/XMap.h"
#include "sync/engine/OverlayMarkers.h"
#include "sync/rules/FailedReads.h"
#include "sync/rules/SafeReplace.h"

#include <QString>
#include <QStringList>

#include <array>
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

    // States passed to the status object for a file: in use for an upload,
    // and a finished download waiting because the local file is in use.
    static constexpr int FileStateInUse = 1;
    static constexpr int FileStateDownloadWaits = 5;

    // Status values of a request row.
    static constexpr int RequestNoJournal = 0;
    static constexpr int RequestRegister = 1;   // to be registered (setSyncJournal)
    static constexpr int RequestCommit = 3;     // registered, to be committed; never stored
    static constexpr int RequestCommitted = 4;  // commit_time set
    static constexpr int RequestTransfer = 5;   // registered, transfer pending
    static constexpr int RequestTransferAlt = 6;
    static constexpr int RequestFetched = 7;    // download in the cache folder, not yet in place
    static constexpr int RequestFetchDone = 8;
    static constexpr int RequestCancelled = 12;

    // Files up to this size are fetched at once by GetFileDirect; larger
    // ones become download rows.
    static constexpr std::int64_t DirectFetchLimit = 1048576;

    // What HandleJournalError did with a row besides its result.
    enum class JournalErrorEffect {
        None,       // nothing, or only counted or notified
        Settled,    // the service already has what the row asked for, or it no longer matters
        Register,   // the row is at status 1 again, to be registered anew
        Cancelled,  // the row is cancelled
    };

    // Per-action counters of one batch (indexed by XSYNCAction).
    using ActionCounts = std::array<int, 15>;

    // Opens the engine's own connection to "profile.db" (running its
    // upgrades) and its own service client. reg and settings are shared and
    // not owned; neither may be null, and both (and status and conflicts)
    // must outlive the engine. sync_folder and user_sn are read from
    // settings.
    PeltaSync(PeltaReg* reg, PeltaSyncAgentSetting* settings, PeltaRequestObject& status = RequestObject,
              PeltaTrackConflict& conflicts = TrackConflict);
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
    // Stops a running pass at its next abort test (the owning thread is
    // being stopped). Any thread.
    void RaiseAbort() { abort_.store(true); }

    static void Log(const QString& text, int category);
    // The value of a flat map's entry; "" when there is none.
    static QString Field(const XMap& map, const char* name);

    QString SyncFolder() const;
    QString CacheDir() const;
    const QString& UserSn() const { return userSn_; }
    const QString& ShellCacheDir() const { return shellCacheDir_; }
    PeltaDb& Db() { return *db_; }
    PeltaTrackConflict& Conflicts() { return conflicts_; }
    PeltaAPI& Api() { return *api_; }
    PeltaReg* Reg() const { return reg_; }
    PeltaSyncAgentSetting* Settings() const { return settings_.load(); }
    PeltaRequestObject& Status() { return status_; }
    // A setting that the engine itself writes (last_sync_time,
    // first_sync_time, ...): into the shared settings store and "config.db"
    // at once, then told to the application (EngineNotices::SetSetting),
    // which mirrors the keys flagged for the registry. Any thread.
    void StoreSetting(const QString& name, const QString& value);

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
    // The copy of a file in use ("_" + key) waits only while an upload row
    // of the path is open to take it; with none (the change needed no row,
    // or the last such row ended) nothing ever would, and it is removed.
    void DropUnclaimedLockedCopy(const QString& path, const QString& key, int excludeRowid = 0);
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
    // Lowers the path's self-change mark to the settle mark once the
    // engine's own change there is recorded. Every event while the mark was
    // high counted as the engine's own, so a user's write in that time went
    // unreported: a file that no longer agrees with its record is taken in
    // as the user's change now.
    void SettleOwnChange(const QString& path);
    static bool IsLocalChanged(const PeltaRecVfsSyncFile& local, const PeltaRecVfsSyncFile& stored);
    // The upload a local change of a stored file goes up as: an add when the
    // record holds no version of the service's, otherwise a modification.
    static int UploadActionOf(const PeltaRecVfsSyncFile& stored);
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
    // An upload landed at a path where this side has neither the file nor
    // its record any more (the file was moved away here meanwhile): unless a
    // deletion of the path is open already, what the upload made there is
    // deleted, in the version it got. True when the deletion was queued.
    bool DeleteLandedUpload(const PeltaRecSyncRequest& upload);
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

    // ---- Request rows --------------------------------------------------------
    // A request row passes: 1 (registration), then for uploads and downloads
    // 5 (transfer), then 3 in memory (commit) and 4 (committed); a download
    // goes 5, 7 (fetched into the cache folder), 8 (in place). 12 is
    // cancelled. A record with rowid 0 touches no row.

    // Takes the next open row (statuses 1, 3, 5, 7, 6) and stamps it.
    bool GetNextRequest(PeltaRecSyncRequest& request);
    // Writes the record's status to its row: 0 and 1 with the journal columns
    // (emptied for 0), 4 with commit_time, the overlay state XICOSync and, for
    // uploads and folder adds, the record's version in the item's row (only
    // a non-empty one); 5 to 8 alone; anything else writes nothing. Always
    // true; a failed statement is reported by the store.
    bool SaveRequestStatus(PeltaRecSyncRequest& request);
    // err_count + 1 in memory and in the row; the row waits before it is
    // taken again.
    bool IncRequestErrCount(PeltaRecSyncRequest& request);
    // Status 12 for the row (the record keeps its status); an upload row's
    // snapshot goes with it.
    bool CancelRequest(PeltaRecSyncRequest& request);
    // Rewrites err_count, opt, action and status of the row from the record.
    bool ResetRequest(PeltaRecSyncRequest& request);
    // Back to registration under a fresh journal key: status 1, the journal
    // columns emptied, the snapshot and its sending note removed.
    bool RegisterAgain(PeltaRecSyncRequest& request);
    // Turns an error message of the service into an action on the row. True
    // when the failure counts (the callers raise err_count where they do
    // so); false when nothing more is to be done about it or the row is to be
    // registered again. effect, when given, says which.
    bool HandleJournalError(PeltaRecSyncRequest& request, const QString& message,
                            JournalErrorEffect* effect = nullptr);
    // A commit that the service answered "sync_journal is expired or
    // commited or fail": true when the service already holds what the row
    // asked for (for an upload: the size and modification time that were
    // sent), in which case its version is stored and the row is committed;
    // false leaves the row to be registered again.
    bool SettleFromService(PeltaRecSyncRequest& request);
    // The full path of the row's upload snapshot.
    QString SnapshotOf(const PeltaRecSyncRequest& request) const;
    // A fresh snapshot of the row's local file; copy takes its size and
    // modification time. False (logged) when the file cannot be copied.
    bool TakeUploadSnapshot(const PeltaRecSyncRequest& request, PeltaRecVfsSyncFile& copy);
    // The row's snapshot and its note are removed, and the copy of the file
    // in use when no other upload row is left to take it.
    void RemoveUploadSnapshot(const PeltaRecSyncRequest& request);
    // PeltaDb::RequestPending; a failure of the store reads as "open".
    bool RequestOpen(const QString& path, int action, int excludeRowid);
    // True when an upload (add or modification) row of the path is open,
    // whatever its status; excludeRowid does not count.
    bool UploadRowOpen(const QString& path, int excludeRowid = 0);
    // True when the local file of the path holds content still to reach
    // the service under that path: an upload row of the path, or a local
    // move onto it, is open. A failure of the store reads as "open".
    bool LocalContentOpen(const QString& path);
    // True when a local move onto the upload row's path, queued before it,
    // is still open: the upload waits (err_count raised), since until that
    // move lands the service holds the moved file under its old name and an
    // edit sent first would make the new name there on its own. A failure of
    // the store reads as "waits".
    bool UploadWaitsForMove(PeltaRecSyncRequest& request);
    // True when a local file move onto the path (queued before the row
    // beforeRowid, when given) has not reached the service yet: until it
    // does, the file here under that name and its record are the moved
    // file's, not whatever the service holds there. A failure of the store
    // reads as "open".
    bool MoveOntoOpen(const QString& path, int beforeRowid = 0);
    // The upload row of a file gone here was cancelled: with no other upload
    // row of it open, its record goes - one that never reached the service
    // quietly, a sent one the way of a removal (its deletion queued), since
    // its removal may never come (lost in a restart).
    void UploadOfGoneFileCancelled(const PeltaRecSyncRequest& request);
    // True when any row that names the path (as its item or as a move's
    // source) is still to be carried out; a failure of the store reads as
    // "open".
    bool PathRowOpen(const QString& path);
    // Whether a deletion row goes to the service now. It waits (Wait, err_count
    // raised) while an add of its item queued before it is still open, so the
    // deletion reaches the service after the add landed. A file's deletion
    // goes only for the version this side knew when the file went here (the
    // row's "version"); when the service holds another one, its file is not
    // deleted but fetched here again and the row is cancelled (Dropped). A
    // file that is here again as its record says (the service's content put
    // here after the deletion was queued) is not deleted either (Dropped).
    enum class DeletionCheck { Send, Wait, Dropped };
    DeletionCheck CheckDeletion(PeltaRecSyncRequest& request);
    // Whether a file move row goes to the service now. Like a deletion, it
    // moves the service's file only in the version this side knew (the
    // row's "version"); when the service holds another one, that file stays
    // under its name and is fetched here again, the file here goes up under
    // its new name as a new file, and the row is cancelled (Dropped).
    DeletionCheck CheckFileMove(PeltaRecSyncRequest& request);
    // True when a regular file is at path and still is what its record says
    // the service has (SafeReplace::Matches).
    bool FileHereAsRecorded(const QString& path);
    // An upload of the row's path landed with version: the file's deletions
    // queued after that upload refer to that version.
    void PassVersionToDeletions(const PeltaRecSyncRequest& upload, const QString& version);

    // ---- Transfers -----------------------------------------------------------
    // Uploads the row's snapshot by its uploadMethod (0 putFile, 1
    // postFile, 2 postFile2). True when the service holds the whole file;
    // the record is then at status 3 in memory and the item's row holds the
    // snapshot's size and modification time.
    bool PostFile(PeltaRecSyncRequest& request);
    // Downloads the file of an XSYNCFileGet row through the cache folder and
    // puts it into place. True only when the download is finished in this
    // call (status 8). mayWrite: the record has a row that may be written.
    bool GetFileCheck(PeltaRecSyncRequest& request, bool mayWrite);
    // Puts the finished download of the row into place (SafeReplace) and
    // stores the service's metadata (size, local_mtime, version) in the
    // item's record. True when the service's content is in place (or kept as
    // a conflict copy beside a changed local file).
    bool FinishGetFile(PeltaRecSyncRequest& request, bool mayWrite, const XMap& metadata,
                       PeltaRecVfsSyncFile& record);
    // The service's folder of the record's path, recorded and created
    // locally. True when the folder was created.
    bool CheckRemoteObject(PeltaRecVfsSyncFile& record);
    // A file that the service has (record as a walk or the journal gives
    // it): true when the local file is current or was fetched and put into
    // place now; false when it was queued as a download row or its fetch
    // failed. queueOnly queues without fetching.
    bool GetFileDirect(PeltaRecVfsSyncFile& record, bool queueOnly);
    // The one safe replace of every download: puts incoming (a file in the
    // cache folder) at the relative path when the local file still matches
    // stored (the record as the store had it before the download) and no
    // upload of the path is open; otherwise keeps the local file, puts
    // incoming beside it as a conflict copy (whose relative path goes to
    // conflictPath) and queues the local content for upload on the service's
    // serviceVersion. Self-change marks cover the writes; when Replaced, the
    // path's mark stays at SelfChangeMark and the caller lowers it to the
    // settle mark (FileMon(path, 1, true)) once the file's record is written.
    SafeReplace::Outcome PlaceDownload(const QString& incoming, const QString& path, const PeltaRecVfsSyncFile& stored,
                                       const QString& serviceVersion, QString* conflictPath = nullptr,
                                       int* error = nullptr);
    // A committed upload that the service kept under another name because
    // the file changed there meanwhile (conflictWire: its Base64url path).
    // The uploaded snapshot becomes the local conflict copy at that name with
    // the service's version; the item keeps its record (which describes what
    // was sent) and its older version, and the service's current file is
    // fetched over it through the safe replace. The row is committed.
    void PlaceCommitConflict(PeltaRecSyncRequest& request, const QString& conflictWire, const QString& version);
    // A download of the path that waited for the local file is no longer
    // wanted: its rows are cancelled and its file in the cache folder goes.
    void DropWaitingDownload(const QString& path, const QString& key);
    // Creates or deletes the stop marker in the cache folder, which wakes
    // the directory monitor.
    void ToggleStopMarker();
    void NotifySyncResult(const ActionCounts& counts, const QString& lastPath);
    // quotaError: true for "Quota Error", false for a full quota.
    void NotifyQuotaFull(bool quotaError);

    // ---- The service's view of single items ------------------------------------
    // The service's metadata of the record's path and kind (1 folder, 2
    // file) into the record; true when the service lists it.
    bool GetRemoteObject(PeltaRecVfsSyncFile& record);
    // Registers and commits a stored folder's add (XSYNCFolderAdd) or
    // removal (XSYNCFolderDel) at once, without a row. True when done or when
    // the service needs nothing more.
    bool SyncObjectNow(const QString& path, int action);
    // The journal key, checksum and expiry of a setSyncJournal reply into
    // the request; false when a field is missing or of the wrong kind.
    static bool ReadJournalReply(const QString& reply, PeltaRecSyncRequest& request);
    // The remote walk (RemoteWalk) of a folder, with every folder below it
    // when recursive, or of one object (depth 0, or not recursive). True only
    // when the whole walk was complete: every listing read and usable, no
    // entry skipped, nothing left undone for a failed read, the engine not
    // stopped. timestamp, when it is empty, takes the first listing's time
    // stamp, but only a walk that returns true hands it back: after false it
    // holds what the caller passed in. A partial walk is no journal position,
    // and callers store the timestamp only after true.
    bool ResyncRemote(const QString& path, bool recursive, bool deleteMissing, bool logExchange, QString& timestamp,
                      int depth);
    // Removes locally an item (kind 1 folder, 2 file) that the service no
    // longer has (RemoteDelete): only content known to be the service's
    // former content goes; changed and unsent files stay and are sent again,
    // items with open work (HasOpenWork) are left alone. False for "" and
    // "\", and when nothing could be decided (not mounted, unreadable).
    bool ResyncRemoteDelete(const QString& path, int kind);
    // The deletion guard (OpenWork): a request row still has work to do for
    // path - any action, statuses 1, 3, 5, 6 and 7, the source of a move
    // included. No remote change removes an item while this holds. A store
    // that cannot be read counts as work to do.
    bool HasOpenWork(const QString& path);
    // The journal since position: mode 1 replays it, mode 2 only counts it
    // (JournalReplay). flag is not used.
    int ResyncJournal(const QString& position, int mode, bool flag);
    // Results of ResyncJournal. Count mode: JournalLong when the service
    // holds JournalLongCount or more entries after the position, else
    // JournalNothingNew. Replay mode: JournalReplayed when the entries were
    // replayed and the position stored (as far as it may move),
    // JournalNothingNew when nothing follows the position. Both modes:
    // JournalStopped when the engine is not running or stops meanwhile (and,
    // replaying, when the sync folder is not mounted); JournalExchangeFailed
    // when the service could not be asked or its reply cannot be used. A
    // negative result changed no position; the callers keep their notice
    // and ask again later.
    static constexpr int JournalExchangeFailed = -2;
    static constexpr int JournalStopped = -1;
    static constexpr int JournalNothingNew = 0;
    static constexpr int JournalReplayed = 1;
    static constexpr int JournalLong = 1;
    static constexpr int JournalLongCount = 50;

private:
    friend class RemoteWalk;
    friend class RemoteDelete;

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
    // Removes the upload snapshots of the key that no open row owns, and the
    // core's copy of the key.
    void RemoveStaleSnapshots(const SyncFolders& folders, const QString& key);

    // ---- Local changes ----
    // FileAdd; true when the item's row is in the store afterwards.
    bool AddItem(const QString& path, int level, bool lowPriority, bool force);
    bool AddReadItem(PeltaRecVfsSyncFile& local, int level, bool lowPriority, bool force);
    void ModifyItem(const QString& path);
    bool RenameItem(const QString& oldPath, const QString& newPath);
    bool RenameStored(PeltaRecVfsSyncFile& newRecord, const PeltaRecVfsSyncFile& oldRecord);
    void CarryDownloads(const QString& oldFolder, const QString& newFolder);
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

    // ---- Request rows ----
    // A message for every action; false when it is none of them.
    bool HandleCommonError(PeltaRecSyncRequest& request, const QString& message, bool& result,
                           JournalErrorEffect& effect);
    JournalErrorEffect HandleActionError(PeltaRecSyncRequest& request, const QString& message, bool& result);
    JournalErrorEffect MoveSourceGone(PeltaRecSyncRequest& request, bool folder);
    JournalErrorEffect FileMoveRefused(PeltaRecSyncRequest& request);
    JournalErrorEffect FolderParentMissing(PeltaRecSyncRequest& request, bool& result);
    void ForgetFileGoneEverywhere(const QString& path);
    // Whether a file upload refused for its missing folder makes that
    // folder on the service now.
    bool ParentToMakeOnService(const QString& parent);
    bool ReplayCaughtUp(const PeltaRecSyncRequest& request);
    bool SettleUpload(PeltaRecSyncRequest& request);
    bool SettleOther(PeltaRecSyncRequest& request);
    bool CommitSettled(PeltaRecSyncRequest& request, const QString& version);
    static bool IsUploadAction(int action);

    // ---- Transfers ----
    enum class UploadStart { Send, Whole, FreshKey, Failed, Handled };
    UploadStart ResumePosition(PeltaRecSyncRequest& request, const QString& snapshot, std::int64_t size,
                               std::int64_t& position);
    // The bytes the service holds under the row's journal key; false with
    // the service's message, if it sent one.
    bool QuerySentLength(PeltaRecSyncRequest& request, std::int64_t& length, QString& message);
    bool SendSnapshot(PeltaRecSyncRequest& request, const QString& snapshot, std::int64_t position, QString& reply);
    bool UploadAccepted(PeltaRecSyncRequest& request, const QString& snapshot, const QString& reply);
    bool UploadFailed(PeltaRecSyncRequest& request, const QString& reply);
    // True when the item's record has moved on from the version the row was
    // registered against; the row is then made an edit of the record's
    // version and registered again.
    bool RebaseUpload(PeltaRecSyncRequest& request);

    // How putting a fetched file into place ended.
    enum class Placed { Done, Waiting, Missing, WrongSize, Failed };
    Placed PlaceFetched(PeltaRecSyncRequest& request, bool mayWrite, const XMap& metadata,
                        PeltaRecVfsSyncFile& stored, const QString& target);
    Placed ParentMissing(PeltaRecSyncRequest& request, bool mayWrite);
    bool FetchQueued(PeltaRecSyncRequest& request, bool mayWrite, PeltaRecVfsSyncFile& stored);
    // Asks getFileCheck for the row's path. Ok: the address and the
    // metadata (size, local_mtime, version, each checked). Refused: the
    // service's failure went to HandleJournalError, whose result is in
    // counted. NoAnswer and Malformed are logged.
    enum class CheckAnswer { Ok, NoAnswer, Refused, Malformed };
    CheckAnswer AskFileCheck(PeltaRecSyncRequest& request, const char* where, QString& url, XMap& metadata,
                             bool& counted);
    bool LeaveToDownloadRow(const PeltaRecVfsSyncFile& record);
    void QueueLocalOverService(const QString& path, const QString& serviceVersion);
    bool UploadCarries(const QString& path, std::int64_t size, std::int64_t mtime);
    void RecordPlaced(const PeltaRecVfsSyncFile& stored, std::int64_t mtime, std::int64_t size,
                      const QString& version);
    QString DownloadTarget(const QString& key) const;

    // ---- The service's view ----
    enum class Remote { Listed, Absent, Failed };
    Remote LookUpRemote(PeltaRecVfsSyncFile& record);
    void FetchKeptFile(PeltaRecVfsSyncFile& remote);
    DeletionCheck CompareWithService(PeltaRecSyncRequest& request, const QString& servicePath, const QString& known,
                                     PeltaRecVfsSyncFile& remote);
    void SendAsNewFile(const QString& path);
    DeletionCheck CheckFolderDeletion(PeltaRecSyncRequest& request);
    bool NothingMoreNeeded(PeltaRecSyncRequest& request, const QString& message);

    std::unique_ptr<PeltaDb> db_;
    PeltaReg* const reg_;
    std::atomic<PeltaSyncAgentSetting*> settings_;
    PeltaRequestObject& status_;
    PeltaTrackConflict& conflicts_;
    const QString userSn_;
    const QString shellCacheDir_;
    const OverlayMarkers markers_;
    std::unique_ptr<PeltaAPI> api_;
    std::atomic<bool> abort_{false};

    mutable std::mutex foldersMutex_;
    std::shared_ptr<const SyncFolders> folders_;  // guarded by foldersMutex_
};
