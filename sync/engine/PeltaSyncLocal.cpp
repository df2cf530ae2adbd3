// PeltaSync: local changes that add or change items - added, modified and
// renamed or moved items, and the parent folders they need.

#include "sync/engine/PeltaSync.h"

#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalChangeLock.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/RecordKey.h"
#include "sync/rules/SelfChange.h"

#include <optional>

namespace {

const QString kRoot = QStringLiteral("\\");

// Whether a row other than a deletion is still to be carried out for the
// path. An open deletion does not cover a file made again under its name: the
// new file is a change of its own and must be sent after it.
bool NonDeletionRowOpen(PeltaDb& db, const QString& path)
{
    return db.NewStatement()->QueryDouble(
               QStringLiteral("select count(*) from sync_request where path=") + PeltaRec::Literal(path) +
               QStringLiteral(" and commit_time is null and status<=7 and action not in (") +
               QString::number(XSYNCFileDel) + QLatin1Char(',') + QString::number(XSYNCFolderDel) + QStringLiteral(")")) > 0;
}

}  // namespace

// ---- Added items -------------------------------------------------------------

void PeltaSync::FileAdd(const QString& path, int level, bool lowPriority, bool force)
{
    AddItem(path, level, lowPriority, force);
}

bool PeltaSync::AddItem(const QString& path, int level, bool lowPriority, bool force)
{
    if (!IsRunning() || path.isEmpty() || path == kRoot)
        return false;
    // The record and the upload row are written as one step for the
    // replaces of remote changes.
    const LocalChangeLock recording;
    PeltaRecVfsSyncFile local;
    local.path = path;
    const int read = GetLocalInfo(local);
    if (read == InfoMissing) {
        Log(QStringLiteral("PeltaSync:FileAdd:File is missing"), LogGeneral);
        return false;
    }
    bool stored = false;
    Guarded("PeltaSync:FileAdd", [&] {
        FillRecordKeys(local);
        // An item that cannot be read in place is taken from a fresh copy;
        // without one there is nothing sound to store.
        if (read == InfoFailed && !SnapshotLockedFile(local)) {
            Log(QStringLiteral("PeltaSync:FileAdd:cannot read, not stored:") + path, LogGeneral);
            return;
        }
        stored = AddReadItem(local, level, lowPriority, force);
        if (read == InfoFailed)
            DropUnclaimedLockedCopy(local.path, local.key);
    });
    return stored;
}

bool PeltaSync::AddReadItem(PeltaRecVfsSyncFile& local, int level, bool lowPriority, bool force)
{
    const QString path = local.path;
    const bool isFile = local.kind == XFSFile;
    Log(QStringLiteral("PeltaSync:FileAdd:0"), LogDebug);

    PeltaRecVfsSyncFile stored;
    stored.kind = local.kind;
    stored.path = path;
    const bool found = db_->RecGet(stored);
    if (stored.error) {
        Log(QStringLiteral("PeltaSync:FileAdd:stored record unreadable, skip:") + path, LogGeneral);
        return false;
    }
    Log(QStringLiteral("PeltaSync:FileAdd:1"), LogDebug);
    if (level <= 1)
        CheckParentOf(local, true, false);

    if (isFile && !force) {
        if (found && stored.mtime == local.mtime && !stored.version.isEmpty() && stored.size == local.size) {
            Log(QStringLiteral("DB:Add:") + path + QStringLiteral(":File not change, skip"), LogSync);
            SetIcon(path, XICOSync);
            return true;
        }
        if (found) {
            if (db_->RequestPending(path, XSYNCNOP, 0)) {
                Log(QStringLiteral("DB:Add:") + path + QStringLiteral(":File changed, but in queue, skip"), LogSync);
                return true;
            }
            local.version = stored.version;
        } else if (NonDeletionRowOpen(*db_, path)) {
            Log(QStringLiteral("DB:Add:") + path + QStringLiteral(":not in db, but in queue, skip"), LogSync);
            return false;
        }
    }

    Log(QStringLiteral("DB:Add:") + path, LogSync);
    if (local.parent.isEmpty())
        CheckParentOf(local, true, false);
    // A known file's new content: its upload row comes before the record,
    // both in one hold of the store (as for a modification).
    {
        const PeltaDb::FileLock hold(*db_);
        if (found && isFile) {
            Log(QStringLiteral("PeltaSync:FileAdd:3-1"), LogDebug);
            local.version = stored.version;
            db_->AddSyncRequest(local, UploadActionOf(stored), lowPriority);
        }
        db_->RecAdd(local, true);
    }
    if (found) {
        Log(QStringLiteral("PeltaSync:FileAdd:3"), LogDebug);
        SetIcon(path, XICOMod);
        if (!isFile) {
            Log(QStringLiteral("PeltaSync:FileAdd:3-2"), LogDebug);
            db_->AddSyncRequest(local, XSYNCFolderMod, lowPriority);
        }
    } else {
        Log(QStringLiteral("PeltaSync:FileAdd:2"), LogDebug);
        SetIcon(path, XICOAdd);
        if (!isFile) {
            Log(QStringLiteral("PeltaSync:FileAdd:2-2"), LogDebug);
            db_->AddSyncRequest(local, XSYNCFolderAdd, lowPriority);
        } else {
            Log(QStringLiteral("PeltaSync:FileAdd:2-1"), LogDebug);
            db_->AddSyncRequest(local, XSYNCFileAdd, lowPriority);
        }
    }
    Log(QStringLiteral("PeltaSync:FileAdd:4"), LogDebug);
    if (level > 0) {
        if (!isFile)
            status_.FolderAddMark(path);
        Log(QStringLiteral("PeltaSync:FileAdd:5q"), LogDebug);
    }
    return true;
}

// ---- Modified files ----------------------------------------------------------

void PeltaSync::FileModify(const QString& path)
{
    Guarded("PeltaSync:FileModify", [&] { ModifyItem(path); });
}

void PeltaSync::SettleOwnChange(const QString& path)
{
    status_.FileMon(path, 1, true);
    const auto folders = Folders();
    bool matches = true;
    Guarded("PeltaSync::SettleOwnChange",
            [&] { matches = SelfChange::DiskMatchesRecord(*db_, folders->SyncFolder(), path); });
    if (matches)
        return;
    Log(QStringLiteral("PeltaSync::SettleOwnChange:changed while the engine wrote it, the user's:") + path,
        LogSync);
    FileModify(path);
}

void PeltaSync::ModifyItem(const QString& path)
{
    const auto folders = Folders();
    const QString relative = Relative(*folders, path, QStringLiteral("PeltaSync:FileModify"));
    const QString full = Full(*folders, relative);
    if (full.isEmpty() || LocalItem::Stat(folders->SyncFolder(), full).kind != LocalKind::File)
        return;

    // Until the upload row is open, the record alone would make the changed
    // file look like the service's: no remote change may replace it then.
    const LocalChangeLock recording;
    PeltaRecVfsSyncFile local;
    local.path = relative;
    const int read = GetLocalInfo(local);
    // Gone, or no longer a file, since the look above: nothing to record.
    if (read == InfoMissing) {
        Log(QStringLiteral("PeltaSync:FileModify:File is missing"), LogSync);
        return;
    }
    if (read == InfoFailed)
        Log(QStringLiteral("PeltaSync:FileModify:File is locked"), LogSync);
    if (local.kind != XFSFile)
        return;

    if (SelfChange::IsOwn(status_, *db_, folders->SyncFolder(), relative)) {
        status_.FileMon(relative, 0, false);
        Log(QStringLiteral("PeltaSync:FileModify:in FileMon list, skip"), LogEvent);
        return;
    }

    PeltaRecVfsSyncFile stored;
    stored.kind = local.kind;
    stored.path = relative;
    if (!db_->RecGet(stored)) {
        if (stored.error) {
            Log(QStringLiteral("PeltaSync:FileModify:stored record unreadable, skip:") + relative, LogGeneral);
            return;
        }
        AddItem(relative, 0, false, false);
        return;
    }
    if (read == InfoFailed) {
        local.key = stored.key;
        if (!SnapshotLockedFile(local)) {
            Log(QStringLiteral("PeltaSync:FileModify:cannot read, not stored:") + relative, LogGeneral);
            return;
        }
    }

    if (!IsLocalChanged(local, stored)) {
        Log(QStringLiteral("DB:Upd:") + relative + QStringLiteral(":skip, file not changed"), LogSync);
        if (read == InfoFailed)
            DropUnclaimedLockedCopy(relative, local.key);
        return;
    }
    FillRecordKeys(local);
    CheckParentOf(local, true, false);
    local.version = stored.version;
    // The upload row comes before the record, both in one hold of the store:
    // a record that holds the new content and a version, with no upload
    // open, would let a download placed meanwhile replace the new content.
    bool addOpen = false;
    {
        const PeltaDb::FileLock hold(*db_);
        addOpen = db_->RequestPending(relative, XSYNCFileAdd, 0);
        if (!addOpen)
            db_->AddSyncRequest(local, UploadActionOf(stored), false);
        db_->RecUpdate(local);
    }
    if (addOpen) {
        // The open add or modification sends the new content when it runs.
        evtTrayIconMsn.Set();
        evtRequestQueue.Set();
        Log(QStringLiteral("PeltaSync:event:evtRequestQueue"), LogEvent);
    }
    if (read == InfoFailed)
        DropUnclaimedLockedCopy(relative, local.key);
    Log(QStringLiteral("DB:Upd:") + relative, LogSync);
}

// A record without a version holds nothing the service gave this computer
// (a file still to come, or never sent): the local content is no edit of any
// version there, and an edit without its base would silently replace
// whatever the service holds at the path.
int PeltaSync::UploadActionOf(const PeltaRecVfsSyncFile& stored)
{
    return stored.version.isEmpty() ? XSYNCFileAdd : XSYNCFileMod;
}

bool PeltaSync::IsLocalChanged(const PeltaRecVfsSyncFile& local, const PeltaRecVfsSyncFile& stored)
{
    if (local.kind != stored.kind)
        return true;
    if (local.mtime != stored.mtime)
        return true;
    if (local.kind == XFSFolder)
        return false;
    return local.size != stored.size;
}

// ---- Parent folders ----------------------------------------------------------

bool PeltaSync::CheckParent(PeltaRecVfsSyncFile& record, bool queueFolderAdd, bool createMissing)
{
    Guarded("PeltaSync::CheckParent", [&] { CheckParentOf(record, queueFolderAdd, createMissing); });
    return true;
}

void PeltaSync::CheckParentOf(PeltaRecVfsSyncFile& record, bool queueFolderAdd, bool createMissing)
{
    if (record.path.isEmpty())
        return;
    const auto folders = Folders();
    const QString& root = folders->SyncFolder();
    const QString full = Full(*folders, Relative(*folders, record.path, QStringLiteral("PeltaSync::CheckParent")));
    if (full.isEmpty())
        return;
    const QString dir = full.left(full.lastIndexOf(QLatin1Char('/')));
    if (dir == root || dir.size() <= root.size())
        return;

    PeltaRecVfsSyncFile parent;
    parent.kind = XFSFolder;
    parent.path = Relative(*folders, dir, QStringLiteral("PeltaSync::CheckParent"));
    if (parent.path.isEmpty())
        return;
    const bool found = db_->RecGet(parent);
    if (parent.error) {
        Log(QStringLiteral("PeltaSync::CheckParent:stored record unreadable:") + parent.path, LogGeneral);
        return;
    }
    if (found && !RecordKey::IsValid(parent.key)) {
        Log(QStringLiteral("PeltaSync::CheckParent:stored folder key is not a key:") + parent.path, LogGeneral);
        parent.key = RecordKey(parent.path);
    }

    const bool make = createMissing && LocalItem::Stat(root, dir).kind != LocalKind::Folder;
    if (make) {
        status_.FileMon(parent.path, PeltaRequestObject::SelfChangeMark, false);
        int error = 0;
        if (!LocalItem::MakeFolder(root, dir, error))
            Log(QStringLiteral("PeltaSync::CheckParent:Err:") + dir + QLatin1Char(':') + LocalItem::ErrorText(error) +
                    QLatin1Char('(') + QString::number(error) + QLatin1Char(')'),
                LogGeneral);
    }

    if (!found) {
        FillRecordKeys(parent);
        Log(QStringLiteral("PeltaSync::CheckParent::Add Rec::") + parent.path, LogGeneral);
        // The extra add row is queued only for a folder that is now stored.
        if (AddItem(parent.path, 0, false, false) && queueFolderAdd)
            db_->AddSyncRequest(parent, XSYNCFolderAdd, false);
    }
    // Unmarked only once the folder made here is stored.
    if (make)
        status_.FileMon(parent.path, 0, false);

    if (record.parent.isEmpty()) {
        // Only a folder's row can be waiting for its parent here; a file's row
        // is written by the caller afterwards.
        if (record.kind == XFSFolder && RecordKey::IsValid(record.key))
            db_->RecUpdateFields(record.key, XFSFolder, XMap{{QStringLiteral("parent"), parent.key}});
        record.parent = parent.key;
    }
}

// ---- Renamed or moved items ----------------------------------------------------

bool PeltaSync::FileRename(const QString& oldPath, const QString& newPath)
{
    bool handled = false;
    Guarded("PeltaSync::FileRename", [&] { handled = RenameItem(oldPath, newPath); });
    return handled;
}

void PeltaSync::FindStored(const QString& path, int firstKind, PeltaRecVfsSyncFile& stored)
{
    for (const int kind : {firstKind, firstKind == XFSFolder ? int(XFSFile) : int(XFSFolder)}) {
        stored.Clear();
        stored.kind = kind;
        stored.path = path;
        if (db_->RecGet(stored) || stored.error)
            return;
    }
}

bool PeltaSync::RenameItem(const QString& oldPath, const QString& newPath)
{
    if (oldPath == newPath)
        return false;
    const auto folders = Folders();
    const QString oldRel = Relative(*folders, oldPath, QStringLiteral("PeltaSync::FileRename"));
    const QString newRel = Relative(*folders, newPath, QStringLiteral("PeltaSync::FileRename"));
    if (oldRel.isEmpty() || newRel.isEmpty() || oldRel == kRoot || newRel == kRoot || oldRel == newRel)
        return false;
    Log(QStringLiteral("DB:Ren:") + oldRel + QLatin1Char(',') + newRel, LogSync);

    PeltaRecVfsSyncFile moved;
    moved.path = newRel;
    const int read = GetLocalInfo(moved);
    // A change under the old name of a file that another thread is recording
    // (a download kept beside the file queues the file's own content) is
    // either recorded whole before the record moves or finds it moved. Not
    // held for a folder, whose subtree is rescanned afterwards.
    std::optional<LocalChangeLock> recording;
    if (moved.kind == XFSFile)
        recording.emplace();
    if (read == InfoMissing) {
        // Moved on again or deleted before this event came: the later event
        // names only the new name, which has no row, so the old name's row
        // goes the way of a removal here (kept if the old name is back). A
        // link or FIFO at the new name is no item: nothing happens.
        if (LocalItem::Stat(folders->SyncFolder(), Full(*folders, newRel)).kind != LocalKind::Missing)
            return false;
        Log(QStringLiteral("PeltaSync::FileRename:new name gone, old name removed:") + oldRel, LogGeneral);
        return RemoveItem(oldRel);
    }
    Log(QStringLiteral("PeltaSync::FileRename::0"), LogDebug);
    if (moved.kind == XFSNone) {
        Log(QStringLiteral("PeltaSync::FileRename:cannot read, not stored:") + newRel, LogGeneral);
        return true;
    }

    // What moved is what the store knew under the old name, whatever the
    // disk shows now.
    PeltaRecVfsSyncFile old;
    FindStored(oldRel, moved.kind, old);
    if (old.error) {
        Log(QStringLiteral("PeltaSync::FileRename:stored record unreadable, skip:") + oldRel, LogGeneral);
        return true;
    }
    if (!old.found) {
        // Nothing stored to move: the new name is simply a new item.
        if (moved.kind == XFSFolder)
            AddItem(newRel, 1, false, false);
        else
            ModifyItem(newRel);
        Log(QStringLiteral("PeltaSync::FileRename::0-1 return"), LogDebug);
        return true;
    }
    if (old.kind != moved.kind || !RecordKey::IsValid(old.key)) {
        Log(QStringLiteral("PeltaSync::FileRename:not the stored item, remove and add:") + oldRel + QLatin1Char(',') +
                newRel,
            LogGeneral);
        RemoveItem(oldRel);
        AddItem(newRel, 1, false, false);
        return true;
    }
    if (moved.kind == XFSFile && old.version.isEmpty() &&
        LocalItem::Stat(folders->SyncFolder(), Full(*folders, oldRel)).kind == LocalKind::Missing) {
        // Never reached the service: drop the old name, add the new one.
        RemoveItem(oldRel);
        ModifyItem(newRel);
        Log(QStringLiteral("PeltaSync::FileRename::0-2 return"), LogDebug);
        return true;
    }

    FillRecordKeys(moved);
    if (read == InfoFailed && !SnapshotLockedFile(moved)) {
        Log(QStringLiteral("PeltaSync::FileRename:cannot read, not stored:") + newRel, LogGeneral);
        return true;
    }
    const bool renamed = RenameStored(moved, old);
    // Unless the move came with new content (a modification row), no row
    // takes the copy.
    if (read == InfoFailed)
        DropUnclaimedLockedCopy(moved.path, moved.key);
    return renamed;
}

bool PeltaSync::RenameStored(PeltaRecVfsSyncFile& moved, const PeltaRecVfsSyncFile& old)
{
    const bool isFolder = moved.kind == XFSFolder;
    // A change recorded under the old name whose upload has not run yet: that
    // row finds nothing there any more, and the record matches the file.
    const bool unsent = !isFolder && UploadRowOpen(old.path);
    Log(QStringLiteral("PeltaSync::FileRename::1"), LogDebug);
    moved.version = old.version;
    CheckParentOf(moved, true, false);
    db_->RecAdd(moved, true);
    Log(QStringLiteral("PeltaSync::FileRename::2"), LogDebug);

    int folders = 0;
    int files = 0;
    std::int64_t size = 0;
    if (isFolder) {
        MoveSubtree(old.key, old.path, old.path, moved.path, folders, files, 1);
    } else {
        files = 1;
        size = old.size;
    }
    Log(QStringLiteral("PeltaSync::FileRename::3"), LogDebug);

    XMap extra{{QStringLiteral("total_move_size"), QString::number(size)},
               {QStringLiteral("total_move_inode"), QString::number(folders + files)}};
    // The version moved: the service's file moves only while it still is it.
    if (!isFolder)
        extra[QStringLiteral("version")] = old.version;
    db_->AddSyncRequestTo(moved, isFolder ? XSYNCFolderMove : XSYNCFileMove, false, &old, extra);
    Log(QStringLiteral("PeltaSync::FileRename::4"), LogDebug);
    db_->RecDelete(old.path, old.kind);

    // The move alone would leave the service with the old content.
    if (!isFolder && (unsent || moved.size != old.size || moved.mtime != old.mtime)) {
        Log(QStringLiteral("DB:Ren:") + moved.path + QStringLiteral(":content changed, queue modification"), LogSync);
        db_->AddSyncRequest(moved, XSYNCFileMod, false);
    }
    if (isFolder) {
        CarryDownloads(old.path, moved.path);
        ResyncLocal(moved.path, true, false);
    }
    return true;
}

// Downloads queued below a folder that moved here follow it: under the old
// name they would find no record, and the service's change would never come.
// Throws like the store.
void PeltaSync::CarryDownloads(const QString& oldFolder, const QString& newFolder)
{
    const QString below = oldFolder + QLatin1Char('\\');
    // The store counts characters, not UTF-16 units.
    const qsizetype characters = below.toUcs4().size();
    QStringList paths;
    {
        const auto statement = db_->NewStatement();
        const QString sql = QStringLiteral("select distinct path from sync_request where action=") +
                            QString::number(XSYNCFileGet) +
                            QStringLiteral(" and commit_time is null and status<=7 and substr(path, 1, ") +
                            QString::number(characters) + QStringLiteral(")=") + PeltaRec::Literal(below);
        if (db_->QueryWith(sql, *statement) > 0) {
            while (statement->FetchRow())
                paths << db_->ColumnText(QStringLiteral("path"), *statement);
        }
    }
    for (const QString& path : paths) {
        // What the old name's row fetched so far is of no use any more.
        status_.CancelTransfer(path);
        DropWaitingDownload(path, RecordKey(path));
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = newFolder + path.mid(oldFolder.size());
        if (!db_->RecGet(record))
            continue;
        Log(QStringLiteral("DB:Ren:download follows the move:") + path + QLatin1Char(',') + record.path, LogSync);
        QueueFileGet(record);
    }
}
