// PeltaSync: local changes that move or drop stored rows - the rows of a
// moved subtree, and removed items.

#include "sync/engine/PeltaSync.h"

#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/IncomingFetches.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalChangeLock.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"

namespace {

const QString kRoot = QStringLiteral("\\");

// The folder that holds a relative path: "\" for an item directly in the sync
// folder.
QString ParentOfRelative(const QString& relative)
{
    const qsizetype cut = relative.lastIndexOf(QLatin1Char('\\'));
    return cut <= 0 ? kRoot : relative.left(cut);
}

QString NameOfRelative(const QString& relative)
{
    return relative.mid(relative.lastIndexOf(QLatin1Char('\\')) + 1);
}

// path with its leading top (a path it lies below, or equals) replaced.
QString Rebased(const QString& path, const QString& top, const QString& newTop)
{
    return newTop + path.mid(top.size());
}

bool IsBelow(const QString& path, const QString& folder)
{
    return path.startsWith(folder + QLatin1Char('\\'));
}

}  // namespace

bool PeltaSync::CollectRows(const QString& sql, bool withKey, const QString& under, std::vector<StoredRow>& rows)
{
    const auto statement = db_->NewStatement();
    const int found = db_->QueryWith(sql, *statement);
    if (found < 0)
        return false;
    if (found == 0)
        return true;
    while (statement->FetchRow()) {
        StoredRow row;
        row.path = db_->ColumnText(QStringLiteral("path"), *statement);
        if (withKey)
            row.key = db_->ColumnText(QStringLiteral("key"), *statement);
        if (withKey && !RecordKey::IsValid(row.key)) {
            Log(QStringLiteral("PeltaSync:stored row without a valid key, skipped:") + row.path, LogGeneral);
            continue;
        }
        if (!PathGuard::CheckRelative(row.path).isEmpty() || !IsBelow(row.path, under)) {
            Log(QStringLiteral("PeltaSync:stored row not below ") + under + QStringLiteral(", skipped:") + row.path,
                LogGeneral);
            continue;
        }
        rows.push_back(row);
    }
    return true;
}

// ---- Moved rows ------------------------------------------------------------------

bool PeltaSync::MoveFolder(const QString& oldPath, const QString& newPath)
{
    if (!IsRunning())
        return false;
    const auto folders = Folders();
    const QString oldRel = Relative(*folders, oldPath, QStringLiteral("PeltaSync::MoveFolder"));
    const QString newRel = Relative(*folders, newPath, QStringLiteral("PeltaSync::MoveFolder"));
    if (oldRel.isEmpty() || newRel.isEmpty() || oldRel == kRoot || newRel == kRoot)
        return false;
    int folderCount = 0;
    int fileCount = 0;
    std::int64_t size = 0;
    return MoveFolderRecords(RecordKey(oldRel), RecordKey(newRel), oldRel, newRel, folderCount, fileCount, size, 1);
}

bool PeltaSync::MoveFolderRecords(const QString& oldKey, const QString& newKey, const QString& oldPath,
                                  const QString& newPath, int& folders, int& files, std::int64_t& size, int depth)
{
    (void)size;  // passed through unchanged: a folder's move has no size
    if (!RecordKey::IsValid(oldKey) || !RecordKey::IsValid(newKey) ||
        !PathGuard::CheckRelative(oldPath).isEmpty() || !PathGuard::CheckRelative(newPath).isEmpty() ||
        oldPath == kRoot || newPath == kRoot) {
        PathGuard::LogRefused(QStringLiteral("PeltaSync::MoveFolderRecords"), oldPath + QLatin1Char(',') + newPath,
                              QStringLiteral("not a key or not an item path"));
        return false;
    }
    bool moved = false;
    Guarded("PeltaSync::MoveFolderRecords", [&] {
        QString folderPath = oldPath;
        if (depth <= 1) {
            // A file or a folder, as the store has it.
            PeltaRecVfsSyncFile file;
            file.kind = XFSFile;
            file.key = oldKey;
            if (db_->RecGet(file)) {
                moved = MoveStoredFile(oldKey, newKey, newPath);
                return;
            }
        } else {
            folderPath = db_->GetFieldByKey(oldKey, QStringLiteral("path"), XFSFolder);
        }
        moved = MoveSubtree(oldKey, folderPath, oldPath, newPath, folders, files, depth);
    });
    return moved;
}

bool PeltaSync::MoveStoredFile(const QString& oldKey, const QString& newKey, const QString& newPath)
{
    const QString parentPath = ParentOfRelative(newPath);
    const QString parent =
        parentPath == kRoot ? kRoot : db_->GetFieldByPath(parentPath, QStringLiteral("key"), XFSFolder);
    return db_->RecUpdateFields(oldKey, XFSFile,
                                XMap{{QStringLiteral("key"), newKey},
                                     {QStringLiteral("name"), NameOfRelative(newPath)},
                                     {QStringLiteral("parent"), parent},
                                     {QStringLiteral("path"), newPath}});
}

bool PeltaSync::MoveSubtree(const QString& oldKey, const QString& folderPath, const QString& oldPath,
                            const QString& newPath, int& folders, int& files, int depth)
{
    if (folderPath != oldPath && !IsBelow(folderPath, oldPath)) {
        Log(QStringLiteral("PeltaSync::MoveFolderRecords:stored folder not below ") + oldPath +
                QStringLiteral(", skipped:") + folderPath,
            LogGeneral);
        return false;
    }
    const QString newFolderPath = Rebased(folderPath, oldPath, newPath);
    const QString newFolderKey = RecordKey(newFolderPath);

    std::vector<StoredRow> rows;
    if (!CollectRows(QStringLiteral("select * from vfs_sync_file where parent=") + PeltaRec::Literal(oldKey), true,
                     folderPath, rows))
        return false;
    for (const StoredRow& row : rows) {
        if (!IsRunning())
            return false;
        const QString newChild = Rebased(row.path, oldPath, newPath);
        db_->RecMove(row.key, newChild, XFSFile, newFolderKey, RecordKey(newChild));
        ++files;
        SetIcon(newChild, XICOSync);
    }

    rows.clear();
    if (!CollectRows(QStringLiteral("select * from vfs_sync_folder where parent=") + PeltaRec::Literal(oldKey), true,
                     folderPath, rows))
        return false;
    for (const StoredRow& row : rows) {
        if (!IsRunning())
            return false;
        MoveSubtree(row.key, row.path, oldPath, newPath, folders, files, depth + 1);
    }

    // The top folder's own row is written by the caller.
    if (depth > 1) {
        const QString parentPath = ParentOfRelative(newFolderPath);
        db_->RecUpdateFields(oldKey, XFSFolder,
                             XMap{{QStringLiteral("key"), newFolderKey},
                                  {QStringLiteral("name"), NameOfRelative(newFolderPath)},
                                  {QStringLiteral("parent"), parentPath == kRoot ? kRoot : RecordKey(parentPath)},
                                  {QStringLiteral("path"), newFolderPath}});
        SetIcon(newFolderPath, XICOSync);
        ++folders;
    }
    return true;
}

// ---- Removed items -----------------------------------------------------------------

bool PeltaSync::FileRemove(const QString& path)
{
    bool removed = false;
    Guarded("PeltaSync::FileRemove", [&] { removed = RemoveItem(path); });
    return removed;
}

bool PeltaSync::RemoveItem(const QString& path)
{
    if (path.isEmpty())
        return false;
    const auto folders = Folders();
    const QString relative = Relative(*folders, path, QStringLiteral("PeltaSync::FileRemove"));
    if (relative.isEmpty() || relative == kRoot)
        return false;
    // Only an item known to be gone loses its rows; one that is there in any
    // form, or that could not be looked at, keeps them.
    const QString full = Full(*folders, relative);
    // A download is not put in place between the look and the record dropped.
    const LocalChangeLock removing;
    const LocalFacts facts = LocalItem::Stat(folders->SyncFolder(), full);
    if (facts.kind != LocalKind::Missing) {
        if (facts.kind == LocalKind::Other || facts.kind == LocalKind::Unknown)
            Log(QStringLiteral("PeltaSync::FileRemove:still there, rows kept:") + full + QLatin1Char(':') +
                    (facts.kind == LocalKind::Other ? facts.what : LocalItem::ErrorText(facts.error)),
                LogGeneral);
        return false;
    }

    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = relative;
    if (db_->RecGet(stored)) {
        DeleteStored(stored, 0);
        return true;
    }
    stored.Clear();
    stored.kind = XFSFolder;
    stored.path = relative;
    if (db_->RecGet(stored))
        DeleteStored(stored, 1);
    return true;
}

void PeltaSync::UploadOfGoneFileCancelled(const PeltaRecSyncRequest& request)
{
    const auto folders = Folders();
    const QString full =
        Full(*folders, Relative(*folders, request.path, QStringLiteral("PeltaSync::UploadOfGoneFileCancelled")));
    if (full.isEmpty() || LocalItem::Stat(folders->SyncFolder(), full).kind != LocalKind::Missing ||
        !MountedFolder(folders->SyncFolder()).IsMounted() || UploadRowOpen(request.path, request.rowid))
        return;
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = request.path;
    if (!db_->RecGet(stored))
        return;
    if (!stored.version.isEmpty()) {
        Log(QStringLiteral("PeltaSync::UploadOfGoneFileCancelled:sent before, removed:") + request.path, LogSync);
        FileRemove(request.path);
        return;
    }
    Log(QStringLiteral("PeltaSync::UploadOfGoneFileCancelled:never sent, record dropped:") + request.path, LogSync);
    Guarded("PeltaSync::UploadOfGoneFileCancelled", [&] { db_->RecDelete(request.path, XFSFile); });
}

bool PeltaSync::DeleteLandedUpload(const PeltaRecSyncRequest& upload)
{
    if (upload.version.isEmpty() || !RecordKey::IsValid(upload.key) || RequestOpen(upload.path, XSYNCFileDel, 0))
        return false;
    bool queued = false;
    Guarded("PeltaSync::DeleteLandedUpload", [&] {
        PeltaRecVfsSyncFile stored;
        stored.kind = XFSFile;
        stored.path = upload.path;
        if (db_->RecGet(stored) || stored.error)
            return;
        stored.Clear();
        stored.kind = XFSFolder;
        stored.path = upload.path;
        if (db_->RecGet(stored) || stored.error)
            return;
        PeltaRecVfsSyncFile landed;
        landed.kind = XFSFile;
        landed.path = upload.path;
        landed.key = upload.key;
        landed.sn = upload.sn;
        landed.version = upload.version;
        Log(QStringLiteral("PeltaSync:DeleteLandedUpload:no record here, version ") + upload.version +
                QStringLiteral(" deleted:") + upload.path,
            LogSync);
        queued = DeleteStored(landed, 0);
    });
    return queued;
}

bool PeltaSync::DeleteRecords(const QString& path, int kind, int depth)
{
    if (!IsRunning())
        return false;
    bool deleted = false;
    Guarded("PeltaSync::DeleteRecords", [&] {
        PeltaRecVfsSyncFile stored;
        stored.kind = kind;
        stored.path = path;
        // A path without a row has nothing to delete.
        deleted = db_->RecGet(stored) ? DeleteStored(stored, depth) : !stored.error;
    });
    return deleted;
}

bool PeltaSync::DeleteStored(const PeltaRecVfsSyncFile& stored, int depth)
{
    if (!IsRunning())
        return false;
    const bool validKey = RecordKey::IsValid(stored.key);
    if (!validKey)
        Log(QStringLiteral("PeltaSync::DeleteRecords:stored row without a valid key:") + stored.path, LogGeneral);

    if (stored.kind != XFSFolder) {
        // A file of the service's still on its way into a removed folder was
        // never here to be removed: its record stays for the download, which
        // makes the folder again. A fetch under way queues its row before it
        // ends, so it is asked first.
        const bool incoming = IncomingFetches::Has(stored.path) || RequestOpen(stored.path, XSYNCFileGet, 0);
        if (depth > 1 && incoming) {
            Log(QStringLiteral("PeltaSync::DeleteRecords:download still to come, kept:") + stored.path, LogSync);
            return true;
        }
        db_->RecDelete(stored.path, XFSFile);
        // Snapshots that an open row is sending stay: the row settles them.
        if (validKey)
            RemoveStaleSnapshots(*Folders(), stored.key);
        if (depth <= 1 && validKey) {
            // The deletion reaches the service only for this version; a
            // version still to be downloaded was never here to be deleted.
            XMap known{{QStringLiteral("version"), incoming ? QString() : stored.version}};
            db_->AddSyncRequestTo(stored, XSYNCFileDel, false, nullptr, known);
        }
        return true;
    }

    // Children are listed by the folder's key; a row without one has no
    // children that can be told apart from anyone else's.
    if (validKey) {
        std::vector<StoredRow> rows;
        if (!CollectRows(QStringLiteral("select path from vfs_sync_file where parent=") + PeltaRec::Literal(stored.key),
                         false, stored.path, rows))
            return false;
        for (const StoredRow& row : rows) {
            if (!IsRunning())
                return false;
            // Below the top no request is queued, so the key (for the upload
            // copy) follows from the path.
            PeltaRecVfsSyncFile child;
            child.kind = XFSFile;
            child.path = row.path;
            child.key = RecordKey(row.path);
            DeleteStored(child, depth + 1);
        }
        rows.clear();
        if (!CollectRows(QStringLiteral("select path from vfs_sync_folder where parent=") +
                             PeltaRec::Literal(stored.key),
                         false, stored.path, rows))
            return false;
        for (const StoredRow& row : rows) {
            if (!IsRunning())
                return false;
            DeleteRecords(row.path, XFSFolder, depth + 1);
        }
    }
    db_->RecDelete(stored.path, XFSFolder);
    Log(QStringLiteral("DB:Del:") + stored.path, LogSync);
    if (depth <= 1 && validKey)
        db_->AddSyncRequest(stored, XSYNCFolderDel, false);
    return true;
}
