#pragma once

#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/db/PeltaRecVfsSyncFile.h"
#include "foundation/db/PeltaSQLite3.h"
#include "foundation/text/XMap.h"

#include <QString>

#include <cstdint>

class PeltaSyncAgentSetting;

// "profile.db": one row per synchronised file (vfs_sync_file) and folder
// (vfs_sync_folder), and the queue of requests for the service
// (sync_request). Every engine instance and the control form own one; they
// share the file's lock csProfileDb.
//
// Stored paths are relative to the sync folder and begin with "\"; keys and
// parents are 32 hex digits, parent "\" for items directly in the sync
// folder. Every text value written into SQL has its quotes doubled, so a
// value reads back exactly as it was given. Column and table names passed in
// by callers are identifiers chosen by our code; anything else is refused
// with a log line.
//
// Statements that change rows report their failures to the user (through the
// base) and return false. Rows are read while the file's lock is held, so no
// connection keeps the file locked while it waits for the lock; only
// RequestPending, CountPendingRequests and the folder-key read of
// GetFieldByPath read without it, one statement each, ended before they
// return.
class PeltaDb : public PeltaSQLite3 {
public:
    // The four tables of a new file, in the order they are made.
    static const QString CreateFileTableSql;
    static const QString CreateFolderTableSql;
    static const QString CreateRequestTableSql;
    static const QString CreateLogTableSql;

    // Opens (or creates) "profile.db" in the data folder, then upgrades it.
    // The store is not owned; agent_key is read from it for new requests.
    explicit PeltaDb(PeltaSyncAgentSetting& settings);
    ~PeltaDb() override;

    // Makes the four tables; true whatever the statements' results.
    bool CreateTables() override;
    // Brings an older file up to the current layout. Each step tests for the
    // column it adds and does nothing when it is there; the indexes on parent
    // are made when missing. Safe to run any number of times.
    void Migrate();

    // Writes the text to the process log (category LogDB).
    static void Log(const QString& text);

    // The table of a record kind: XFSFolder -> vfs_sync_folder, any other
    // kind -> vfs_sync_file.
    static QString TableOf(int kind);
    // True for names of the form [A-Za-z_][A-Za-z0-9_]*.
    static bool IsIdentifier(const QString& name);

    // ---- File and folder rows ----------------------------------------------

    // True when the table has a row with exactly this path. Failures of the
    // access layer pass to the caller (Lithos::SQLiteException).
    bool RecExists(const QString& path, const QString& table);
    // Kind XFSFolder tests vfs_sync_folder, XFSFile vfs_sync_file; any other
    // kind is false without a query.
    bool RecExists(const QString& path, int kind);
    // Reads the row by path, or by key when the record's path is empty, into
    // the record. Sets found on a row; sets error (and returns false) when
    // reading failed. Never throws.
    bool RecGet(PeltaRecVfsSyncFile& record);
    // Inserts the record's row (kind XFSNone becomes XFSFile first). The
    // statement's result; false for a kind that has no table.
    bool RecInsert(PeltaRecVfsSyncFile& record);
    // Updates the row with the record's key (sn is never changed); kind
    // XFSNone counts as a file. The statement's result.
    bool RecUpdate(const PeltaRecVfsSyncFile& record);
    // Inserts the record when its path has no row; otherwise updates it when
    // updateWhenPresent is set, else changes nothing and returns false. Kind
    // XFSNone is taken as XFSFile (and so written into the record).
    bool RecAdd(PeltaRecVfsSyncFile& record, bool updateWhenPresent);
    bool RecDelete(const QString& path, int kind);

    // The column of the row with this path. For the column "key" of a folder,
    // a row whose key is empty (or not text) reads as "\", no row as "", and
    // failures give "". Otherwise failures of the access layer pass to the
    // caller. A column that is not an identifier gives "" (logged).
    QString GetFieldByPath(const QString& path, const QString& column, int kind);
    // GetFieldByPath(path, "key", XFSFolder).
    QString GetFolderKey(const QString& folderPath);
    // The column of the row with this key; failures pass to the caller.
    QString GetFieldByKey(const QString& key, const QString& column, int kind);

    // Re-keys the row with oldKey: new path, key and parent.
    bool RecMove(const QString& oldKey, const QString& newPath, int kind, const QString& newParent,
                 const QString& newKey);
    // Sets each column of the map to its value (in the map's order) on the row
    // with this key. An empty map, or a column that is not an identifier, is
    // refused with a log line (false, nothing written).
    bool RecUpdateFields(const QString& key, int kind, const XMap& fields);
    bool RecSetMtime(const QString& key, int kind, std::int64_t mtime);
    // Deletes every file, folder and request row of another member serial
    // number.
    void PurgeOtherSn(const QString& sn);

    // ---- Request rows ------------------------------------------------------

    // AddSyncRequestTo without an old record or extra pairs.
    bool AddSyncRequest(const PeltaRecVfsSyncFile& record, int action, bool lowPriority);
    // Adds a request row for the record (for a move, the record of the new
    // path; oldRecord is that of the old path). False when nothing was added:
    // an empty path or key, a move without its old record, a modification with
    // mtime 0, a download already open, a folder modification, or a failed
    // statement. extra holds pairs for the options and is emptied in every
    // case.
    bool AddSyncRequestTo(const PeltaRecVfsSyncFile& record, int action, bool lowPriority,
                          const PeltaRecVfsSyncFile* oldRecord, XMap& extra);
    // The options JSON of a request: the extra pairs plus the pairs of the
    // action (which win over extra pairs of the same name). extra is emptied.
    static QString BuildRequestOpt(const PeltaRecVfsSyncFile& record, int action,
                                   const PeltaRecVfsSyncFile* oldRecord, XMap& extra);
    static QString BuildRequestOpt(const PeltaRecVfsSyncFile& record, int action);

    // Takes the next row of the mode's statuses (1: 5, 7, 6; 2: 1, 3, 5, 7,
    // 6; other: 1, 3) into request and stamps its update_time. Rows that
    // never failed come first (by priority, then age, then insertion order);
    // otherwise a failed row whose retry delay has passed since its last
    // update, the most failed first. The delay is 10 s after one failure and
    // doubles with each further one up to 10 min. False when there is none
    // or the query failed (reported).
    bool GetNextRequest(PeltaRecSyncRequest& request, int mode);
    // True when an open row of the statuses 1, 3, 5, 7, 6 exists; failures
    // give false.
    bool CountPendingRequests();
    // True when the path has an open row: of any action (0), of a file add or
    // modification (1 or 2, up to status 4), or of the given action; the row
    // excludeRowid (when above 0) does not count. Failures pass to the caller.
    bool RequestPending(const QString& path, int action, int excludeRowid);
    // Cancels the path's open rows of the action; for 1 or 2 those of the
    // actions 1, 2 and 5.
    bool CancelPathRequests(const QString& path, int action);
    bool CancelAllRequests();

private:
    // Reads the first row of a query of vfs_sync_file/vfs_sync_folder into
    // the record (under the caller's hold of the lock).
    bool ReadRecordRow(const QString& sql, PeltaRecVfsSyncFile& record);
    QString ReadFolderKey(const QString& sql, const QString& column);
    bool SkipRequest(const PeltaRecVfsSyncFile& record, int action, PeltaRecSyncRequest& row);
    bool DownloadOpen(const QString& key);

    PeltaSyncAgentSetting& settings_;
};
