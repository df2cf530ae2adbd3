#include "sync/engine/RemoteWalk.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/OpenWork.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"
#include "sync/rules/SafeReplace.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace {

const QString kRoot = QStringLiteral("\\");
const QString kWhere = QStringLiteral("PeltaSync::ResyncRemote");
const QString kFileNotFound = QStringLiteral("file not found in metadata");

void Log(const QString& text, int category)
{
    PeltaSync::Log(text, category);
}

QString StoreFailure(const char* what, const Lithos::SQLiteException& failure)
{
    return QLatin1String(what) + QStringLiteral(": ") + PeltaDb::FormatSQLiteException(failure);
}

QString Depth(int depth)
{
    return QLatin1Char('(') + QString::number(depth) + QLatin1Char(')');
}

std::int32_t StoredTime(std::int64_t mtime)
{
    return static_cast<std::int32_t>(mtime);
}

}  // namespace

RemoteWalk::RemoteWalk(PeltaSync& engine, bool recursive, bool deleteMissing, bool logExchange)
    : engine_(engine),
      recursive_(recursive),
      deleteMissing_(deleteMissing),
      logExchange_(logExchange),
      root_(engine.SyncFolder()),
      batch_(engine.Db()),
      lastFlush_(std::chrono::steady_clock::now())
{
}

PassResult RemoteWalk::Run(const QString& path, int depth, QString& timestamp)
{
    timestamp_ = &timestamp;
    objectWalk_ = depth == 0 || !recursive_;
    const QString given = path.isEmpty() || path == QLatin1String("0") ? kRoot : path;
    start_ = engine_.ToRelativePath(given);
    if (start_.isEmpty() || root_.isEmpty() || (objectWalk_ && start_ == kRoot)) {
        failed_.Add(given, kWhere, QStringLiteral("not a path of the sync folder"));
        return failed_.Result();
    }
    if (!Prepare())
        return failed_.Result();

    // Levels wait on a stack; a level's closing step lies below the folders
    // found in it, so it runs once its whole subtree is done.
    std::vector<Level> stack;
    Level first;
    first.path = start_;
    first.depth = depth;
    stack.push_back(first);
    while (!stack.empty()) {
        Level level = stack.back();
        stack.pop_back();
        if (level.finish) {
            FinishLevel(level);
            continue;
        }
        if (!Running())
            break;
        if (failed_.Covers(level.path))
            continue;
        const QStringList subfolders = WalkLevel(level);
        level.finish = true;
        stack.push_back(level);
        for (auto folder = subfolders.crbegin(); folder != subfolders.crend(); ++folder) {
            Level below;
            below.path = *folder;
            below.depth = level.depth + 1;
            stack.push_back(below);
        }
    }
    Flush(true);

    PassResult result = failed_.Result();
    if (result == PassResult::Complete && badListing_)
        result = PassResult::Failed;
    Log(kWhere + QLatin1Char(':') + FailedReads::Name(result) + QLatin1Char(':') + start_, LogGeneral);
    return result;
}

// ---- Before the first listing ----------------------------------------------------

bool RemoteWalk::Prepare()
{
    MountedFolder mounted(root_);
    const MountedFolder::State state = mounted.Check();
    if (state != MountedFolder::State::Mounted) {
        failed_.Add(start_, kWhere, QStringLiteral("sync folder ") + MountedFolder::StateName(state));
        return false;
    }
    if (!ReadStoredFolders() || !ReadStoredFiles() || !ReadUserChanges())
        return false;
    for (QString path = start_;; path = ParentOf(path)) {
        if (IsUserChanged(path)) {
            failed_.Add(start_, kWhere,
                        QStringLiteral("an open deletion or move of ") + path + QStringLiteral(" waits"));
            return false;
        }
        if (path == kRoot)
            break;
    }
    return true;
}

// The rows at or below the start (a walk of one object: the object's own).
QString RemoteWalk::Subtree(const QString& column) const
{
    if (objectWalk_)
        return column + QLatin1Char('=') + PeltaRec::Literal(start_);
    return OpenWork::AtOrBelow(column, start_);
}

bool RemoteWalk::ReadStoredFolders()
{
    if (objectWalk_)
        return true;
    PeltaDb& db = engine_.Db();
    try {
        const auto statement = db.NewStatement();
        const QString sql =
            QStringLiteral("select path, key from vfs_sync_folder where ") + Subtree(QStringLiteral("path"));
        const int found = db.QueryWith(sql, *statement);
        if (found < 0) {
            failed_.Add(start_, kWhere, QStringLiteral("stored folders cannot be read"));
            return false;
        }
        while (found > 0 && statement->FetchRow()) {
            const QString path = db.ColumnText(QStringLiteral("path"), *statement);
            if (path == kRoot || !PathGuard::CheckRelative(path).isEmpty()) {
                PathGuard::LogRefused(kWhere, path, QStringLiteral("stored folder row with a bad path"));
                continue;
            }
            if (storedFolders_.contains(path))
                continue;
            storedFolders_.insert(path, db.ColumnText(QStringLiteral("key"), *statement));
            folderChildren_[ParentOf(path)].append(path);
        }
    } catch (const Lithos::SQLiteException& failure) {
        failed_.Add(start_, kWhere, StoreFailure("stored folders cannot be read", failure));
        return false;
    }
    return true;
}

bool RemoteWalk::ReadStoredFiles()
{
    PeltaDb& db = engine_.Db();
    try {
        const auto statement = db.NewStatement();
        const int found = db.QueryWith(QStringLiteral("select path, key, mtime, size, version from vfs_sync_file "
                                                      "where ") +
                                           Subtree(QStringLiteral("path")),
                                       *statement);
        if (found < 0) {
            failed_.Add(start_, kWhere, QStringLiteral("stored files cannot be read"));
            return false;
        }
        while (found > 0 && statement->FetchRow()) {
            const QString path = db.ColumnText(QStringLiteral("path"), *statement);
            if (path == kRoot || !PathGuard::CheckRelative(path).isEmpty()) {
                PathGuard::LogRefused(kWhere, path, QStringLiteral("stored file row with a bad path"));
                continue;
            }
            if (storedFiles_.contains(path))
                continue;
            StoredFile file;
            file.key = db.ColumnText(QStringLiteral("key"), *statement);
            file.mtime = db.GetColumnInt(QStringLiteral("mtime"), *statement);
            file.size = statement->GetColumnInt64ByName("size");
            file.version = db.ColumnText(QStringLiteral("version"), *statement);
            storedFiles_.insert(path, file);
            fileChildren_[ParentOf(path)].append(path);
        }
    } catch (const Lithos::SQLiteException& failure) {
        failed_.Add(start_, kWhere, StoreFailure("stored files cannot be read", failure));
        return false;
    }
    return true;
}

// What the user removed or moved and the service does not know yet: the
// paths of open deletion and move rows in the walked tree and above it.
bool RemoteWalk::ReadUserChanges()
{
    QStringList above;
    for (QString path = start_; path != kRoot; path = ParentOf(path))
        above << PeltaRec::Literal(path);
    QString where = OpenWork::AtOrBelow(QStringLiteral("path"), start_) + QStringLiteral(" or ") +
                    OpenWork::AtOrBelow(QStringLiteral("path2"), start_);
    if (!above.isEmpty()) {
        const QString list = above.join(QStringLiteral(", "));
        where += QStringLiteral(" or path in (") + list + QStringLiteral(") or path2 in (") + list + QLatin1Char(')');
    }
    PeltaDb& db = engine_.Db();
    try {
        const auto statement = db.NewStatement();
        const int found = db.QueryWith(
            QStringLiteral("select path, ifnull(path2, '') as path2 from sync_request where commit_time is null and "
                           "status in ") +
                OpenWork::Statuses + QStringLiteral(" and action in (") + QString::number(XSYNCFileDel) +
                QStringLiteral(", ") + QString::number(XSYNCFileMove) + QStringLiteral(", ") +
                QString::number(XSYNCFolderDel) + QStringLiteral(", ") + QString::number(XSYNCFolderMove) +
                QStringLiteral(") and (") + where + QLatin1Char(')'),
            *statement);
        if (found < 0) {
            failed_.Add(start_, kWhere, QStringLiteral("open requests cannot be read"));
            return false;
        }
        while (found > 0 && statement->FetchRow()) {
            for (const char* column : {"path", "path2"}) {
                const QString path = db.ColumnText(QLatin1String(column), *statement);
                if (!path.isEmpty())
                    userChanged_.insert(path);
            }
        }
    } catch (const Lithos::SQLiteException& failure) {
        failed_.Add(start_, kWhere, StoreFailure("open requests cannot be read", failure));
        return false;
    }
    return true;
}

// ---- One level ---------------------------------------------------------------------

QStringList RemoteWalk::WalkLevel(Level& level)
{
    Log(kWhere + Depth(level.depth) + QStringLiteral(" Start ") + level.path + QStringLiteral(", ") + level.path,
        LogGeneral);
    QStringList subfolders;
    RemoteListing listing;
    if (!FolderKey(level.path, level.key) || !List(level, listing) || !FolderStillThere(level, listing))
        return subfolders;
    const bool partial = listing.Skipped() > 0;
    if (partial) {
        badListing_ = true;
        Log(kWhere + QStringLiteral(":listing known only in part, nothing removed or registered again:") +
                level.path,
            LogGeneral);
    }

    listed_.clear();
    Log(kWhere + Depth(level.depth) + level.path + QStringLiteral(", Folders: ") +
            QString::number(listing.Folders().size()),
        LogGeneral);
    for (const RemoteEntry& entry : listing.Folders()) {
        if (!Running())
            return subfolders;
        FolderEntry(entry, level.key, subfolders);
    }
    if (!objectWalk_ && !partial)
        StoredFolders(level, subfolders);

    Log(kWhere + Depth(level.depth) + level.path + QStringLiteral(", Files: ") +
            QString::number(listing.Files().size()),
        LogGeneral);
    for (const RemoteEntry& entry : listing.Files()) {
        if (!Running())
            return subfolders;
        FileEntry(entry, level.key);
    }
    if (!partial)
        StoredFiles(level);
    listed_.clear();
    FlushIfDue();
    level.complete = !partial && !failed_.Covers(level.path) && Running();
    return subfolders;
}

// The value the rows of the folder's children hold as their parent.
bool RemoteWalk::FolderKey(const QString& folder, QString& key)
{
    if (objectWalk_) {
        const QString parent = ParentOf(folder);
        key = parent == kRoot ? kRoot : engine_.RecordKey(parent);
        return true;
    }
    if (folder == kRoot) {
        key = kRoot;
        return true;
    }
    const auto stored = storedFolders_.constFind(folder);
    if (stored == storedFolders_.constEnd()) {
        key = engine_.RecordKey(folder);
        return true;
    }
    key = *stored;
    if (RecordKey::IsValid(key))
        return true;
    failed_.Add(folder, kWhere, QStringLiteral("stored folder key is not a key"));
    return false;
}

bool RemoteWalk::List(const Level& level, RemoteListing& listing)
{
    QString url;
    QString body;
    QString reply;
    PeltaAPI& api = engine_.Api();
    if (!api.BuildGetMetadata(objectWalk_ ? 2 : 1, level.path, objectWalk_ ? 0 : 1, false, url, body)) {
        failed_.Add(level.path, kWhere, QStringLiteral("the listing cannot be asked for"));
        return false;
    }
    if (!api.CallAgentAPI(url, body, logExchange_, reply, PeltaAPI::CallEffect::OnlyReads)) {
        const QString why = reply.isEmpty() ? QString() : QStringLiteral(": ") + reply;
        failed_.Add(level.path, kWhere, QStringLiteral("the listing failed") + why);
        return false;
    }
    listing = RemoteListing::Read(reply, objectWalk_ ? ParentOf(level.path) : level.path,
                                  objectWalk_ ? level.path : QString());
    if (!listing.IsUsable()) {
        failed_.Add(level.path, kWhere, QStringLiteral("the listing is not usable: ") + listing.Reason());
        return false;
    }
    if (timestamp_->isEmpty())
        *timestamp_ = listing.Timestamp();
    return true;
}

// A listing with nothing in it is also what the service answers for a folder
// it does not have. Before anything stored is taken for gone, or the folder
// is made locally, the service is asked for the folder itself.
bool RemoteWalk::FolderStillThere(const Level& level, const RemoteListing& listing)
{
    if (objectWalk_ || level.path == kRoot) {
        return true;
    }
    const bool made = LocalItem::Stat(root_, Full(level.path)).kind == LocalKind::Folder;
    const bool storedChildren = folderChildren_.contains(level.path) || fileChildren_.contains(level.path);
    if (listing.IsEmpty() && (storedChildren || !made)) {
        PeltaRecVfsSyncFile folder;
        folder.kind = XFSFolder;
        folder.path = level.path;
        switch (engine_.LookUpRemote(folder)) {
        case PeltaSync::Remote::Listed:
            break;
        case PeltaSync::Remote::Absent:
            failed_.Add(level.path, kWhere, QStringLiteral("the service no longer has the folder"));
            return false;
        case PeltaSync::Remote::Failed:
            failed_.Add(level.path, kWhere, QStringLiteral("the folder cannot be looked up"));
            return false;
        }
    }
    if (made)
        return true;
    // The walked folder itself is missing here (a folder moved on the service
    // that was never made locally): made again, one level.
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(level.path, PeltaRequestObject::SelfChangeMark, false);
    int error = 0;
    const bool created = LocalItem::MakeFolder(root_, Full(level.path), error);
    if (!created) {
        status.FileMon(level.path, 1, true);
        failed_.Add(level.path, kWhere, QStringLiteral("cannot make the folder: ") + LocalItem::ErrorText(error));
        return false;
    }
    Touched(level.path);
    Settle(level.path);
    Log(QStringLiteral("PeltaSync::ResyncRemote::mkdir:") + level.path, LogSync);
    return true;
}

void RemoteWalk::FolderEntry(const RemoteEntry& entry, const QString& parentKey, QStringList& subfolders)
{
    const QString& path = entry.path;
    listed_.insert(path);
    Log(QStringLiteral("PeltaSync::ResyncRemote getMetadata folder:") + path, LogSync);
    if (IsUserChanged(path)) {
        Log(kWhere + QStringLiteral(":an open deletion or move waits, left alone:") + path, LogGeneral);
        return;
    }
    const LocalFacts local = LocalItem::Stat(root_, Full(path));
    switch (local.kind) {
    case LocalKind::Folder:
        break;
    case LocalKind::Missing: {
        PeltaRequestObject& status = engine_.Status();
        status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
        int error = 0;
        const bool made = LocalItem::MakeFolder(root_, Full(path), error);
        if (!made) {
            status.FileMon(path, 1, true);
            // No record either: a stored folder missing here would read as
            // deleted by the user.
            failed_.Add(path, kWhere, QStringLiteral("cannot make the folder: ") + LocalItem::ErrorText(error));
            return;
        }
        Touched(path);
        Settle(path);
        Log(QStringLiteral("PeltaSync::ResyncRemote::mkdir:") + path, LogSync);
        engine_.SetIcon(path, XICOResync);
        break;
    }
    case LocalKind::File:
    case LocalKind::Other:
        failed_.Add(path, kWhere, QStringLiteral("another item holds the folder's name, left alone"));
        return;
    case LocalKind::Unknown:
        failed_.Add(path, kWhere, QStringLiteral("cannot look at the folder: ") + LocalItem::ErrorText(local.error));
        return;
    }
    if (!storedFolders_.contains(path)) {
        PeltaRecVfsSyncFile record;
        record.kind = XFSFolder;
        record.path = path;
        record.key = engine_.RecordKey(path);
        record.sn = engine_.UserSn();
        record.parent = parentKey;
        record.name = entry.name;
        record.version = entry.version;
        record.mtime = StoredTime(entry.mtime);
        record.ctime = record.mtime;
        batch_.Insert(record);
        storedFolders_.insert(path, record.key);
    }
    if (!objectWalk_)
        subfolders << path;
}

void RemoteWalk::FileEntry(const RemoteEntry& entry, const QString& parentKey)
{
    const QString& path = entry.path;
    listed_.insert(path);
    if (PeltaSync::IsIgnoredFile(path)) {
        engine_.SetIcon(path, XICOSync);
        return;
    }
    if (IsUserChanged(path)) {
        Log(kWhere + QStringLiteral(":an open deletion or move waits, left alone:") + path, LogGeneral);
        return;
    }
    // A copy: the fetch changes the table.
    const auto found = storedFiles_.constFind(path);
    const std::optional<StoredFile> known =
        found == storedFiles_.constEnd() ? std::nullopt : std::optional<StoredFile>(*found);
    const StoredFile* stored = known ? &*known : nullptr;
    const LocalFacts local = LocalItem::Stat(root_, Full(path));
    if (local.kind == LocalKind::Unknown) {
        failed_.Add(path, kWhere, QStringLiteral("cannot look at the file: ") + LocalItem::ErrorText(local.error));
        return;
    }
    bool fetch = local.kind == LocalKind::Missing || stored == nullptr;
    if (stored != nullptr && entry.version != stored->version) {
        fetch = true;
        if (local.kind == LocalKind::File && StoredTime(local.mtime) != stored->mtime) {
            // Changed on both sides: the safe replace keeps the local file and
            // puts the service's beside it.
            Log(kWhere + QStringLiteral(":changed here and on the service:") + path, LogGeneral);
            Log(QStringLiteral("PeltaSync:event:evtRequestFileTransfer"), LogEvent);
            evtRequestFileTransfer.Set();
        }
    }
    if (!fetch)
        return;
    Log(QStringLiteral("PeltaSync::ResyncRemote::file mod:") + path, LogSync);
    engine_.SetIcon(path, XICOResync);
    if (Fetch(entry, parentKey, stored))
        engine_.SetIcon(path, XICOSync);
}

// ---- Stored items the service does not list ------------------------------------

void RemoteWalk::StoredFolders(const Level& level, QStringList& subfolders)
{
    const QStringList children = folderChildren_.value(level.path);
    for (const QString& child : children) {
        if (listed_.contains(child) || failed_.Covers(child))
            continue;
        if (!Running())
            return;
        if (!MayChange(child))
            continue;
        const LocalFacts local = LocalItem::Stat(root_, Full(child));
        if (local.kind == LocalKind::Missing) {
            DropStale(child, XFSFolder);
            continue;
        }
        if (local.kind != LocalKind::Folder) {
            Log(kWhere + QStringLiteral(":not a folder here, left alone:") + child, LogGeneral);
            continue;
        }
        if (deleteMissing_) {
            if (!engine_.ResyncRemoteDelete(child, XFSFolder))
                failed_.Add(child, kWhere, QStringLiteral("not removed"));
            continue;
        }
        Log(QStringLiteral("PeltaSync::ResyncRemote:Add Folder:") + child, LogGeneral);
        if (engine_.SyncObjectNow(child, XSYNCFolderAdd))
            subfolders << child;
        else
            failed_.Add(child, kWhere, QStringLiteral("cannot register the folder with the service"));
    }
}

void RemoteWalk::StoredFiles(const Level& level)
{
    const QStringList children = objectWalk_ ? (storedFiles_.contains(level.path) ? QStringList{level.path}
                                                                                  : QStringList())
                                             : fileChildren_.value(level.path);
    for (const QString& child : children) {
        if (listed_.contains(child) || failed_.Covers(child) || PeltaSync::IsIgnoredFile(child))
            continue;
        if (!Running())
            return;
        if (!MayChange(child))
            continue;
        const LocalFacts local = LocalItem::Stat(root_, Full(child));
        if (local.kind == LocalKind::Missing) {
            DropStale(child, XFSFile);
            continue;
        }
        if (local.kind != LocalKind::File) {
            Log(kWhere + QStringLiteral(":not a file here, left alone:") + child, LogGeneral);
            continue;
        }
        if (deleteMissing_) {
            if (!engine_.ResyncRemoteDelete(child, XFSFile))
                failed_.Add(child, kWhere, QStringLiteral("not removed"));
            continue;
        }
        Log(QStringLiteral("PeltaSync::ResyncRemote:Add File:") + child, LogGeneral);
        engine_.FileAdd(child, 0, false, true);
    }
}

// A request row with work to do for the item decides for it.
bool RemoteWalk::MayChange(const QString& path)
{
    if (!engine_.HasOpenWork(path))
        return true;
    Log(kWhere + QStringLiteral(":an open request waits, left alone:") + path, LogGeneral);
    return false;
}

// Neither here nor on the service: only the rows describe the item, and they
// go unless a row of the subtree still has work to do.
void RemoteWalk::DropStale(const QString& path, int kind)
{
    MountedFolder mounted(root_);
    const MountedFolder::State state = mounted.Check();
    if (state != MountedFolder::State::Mounted) {
        failed_.Add(kRoot, kWhere, QStringLiteral("sync folder ") + MountedFolder::StateName(state));
        return;
    }
    PeltaDb& db = engine_.Db();
    if (kind == XFSFolder) {
        QSet<QString> open;
        if (!OpenWork::Below(db, path, open) || !open.isEmpty()) {
            Log(kWhere + QStringLiteral(":an open request waits below, rows kept:") + path, LogGeneral);
            return;
        }
        const QString where = QStringLiteral(" where ") + OpenWork::AtOrBelow(QStringLiteral("path"), path);
        db.Exec(QStringLiteral("delete from vfs_sync_file") + where);
        db.Exec(QStringLiteral("delete from vfs_sync_folder") + where);
    } else {
        db.RecDelete(path, XFSFile);
        storedFiles_.remove(path);
    }
    Log(kWhere + QStringLiteral(":gone here and on the service, rows dropped:") + path, LogGeneral);
}

void RemoteWalk::FinishLevel(const Level& level)
{
    if (level.complete) {
        engine_.SetIcon(level.path, XICOSync);
        if (!objectWalk_ && level.depth > 0 && level.path != kRoot && !failed_.Interrupted()) {
            const LocalFacts facts = LocalItem::Stat(root_, Full(level.path));
            if (facts.kind == LocalKind::Folder && RecordKey::IsValid(level.key))
                batch_.SetFolderMtime(level.key, StoredTime(facts.mtime));
        }
    }
    Log(kWhere + Depth(level.depth) + QStringLiteral(" End ") + level.path + QStringLiteral(", ") + level.path,
        LogGeneral);
}

// ---- Fetching ---------------------------------------------------------------------------

bool RemoteWalk::Fetch(const RemoteEntry& entry, const QString& parentKey, const StoredFile* stored)
{
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = entry.path;
    record.key = engine_.RecordKey(entry.path);
    record.sn = engine_.UserSn();
    record.parent = parentKey;
    record.name = entry.name;
    record.version = entry.version;
    record.mtime = StoredTime(entry.mtime);
    record.ctime = record.mtime;
    record.size = entry.size;
    if (stored != nullptr && !RecordKey::IsValid(stored->key)) {
        failed_.Add(entry.path, kWhere, QStringLiteral("stored file key is not a key"));
        return false;
    }
    if (entry.size > PeltaSync::DirectFetchLimit)
        return QueueDownload(record, stored);

    PeltaRecSyncRequest check;
    check.action = XSYNCFileGet;
    check.path = record.path;
    check.key = record.key;
    check.sn = record.sn;
    QString url;
    XMap metadata;
    bool counted = false;
    const PeltaSync::CheckAnswer answer = engine_.AskFileCheck(check, "GetFileDirect", url, metadata, counted);
    if (answer == PeltaSync::CheckAnswer::Refused && check.serverMsg == kFileNotFound) {
        // Gone from the service since it was listed; the next walk settles it.
        failed_.Add(entry.path, kWhere, QStringLiteral("the service no longer has the file"));
        return false;
    }
    if (answer != PeltaSync::CheckAnswer::Ok)
        return QueueDownload(record, stored);
    const std::int64_t size = PeltaSync::Field(metadata, "size").toLongLong();
    const std::int64_t mtime = PeltaSync::Field(metadata, "local_mtime").toLongLong();
    const QString version = PeltaSync::Field(metadata, "version");
    if (size > PeltaSync::DirectFetchLimit)
        return QueueDownload(record, stored);

    engine_.EnsureCacheDir();
    const QString target = engine_.DownloadTarget(record.key) + QStringLiteral(".direct");
    int error = 0;
    LocalItem::RemoveFile(root_, target, error);
    PeltaRequestObject& status = engine_.Status();
    status.BeginTransfer(PeltaRequestObject::ActionDownload, record.path, 0, size);
    const bool fetched = engine_.Api().GetFile(url, target);
    status.ResetTransfer();
    const LocalFacts facts = LocalItem::Stat(root_, target);
    if (!fetched || facts.kind != LocalKind::File || facts.size != size) {
        Log(QStringLiteral("GetFileDirect:the download failed or has another size:") + record.path, LogSync);
        LocalItem::RemoveFile(root_, target, error);
        return QueueDownload(record, stored);
    }
    // The time the file system holds once it is set is the one to store.
    std::int64_t held = mtime;
    if (LocalItem::SetModificationTime(root_, target, mtime, error))
        held = LocalItem::Stat(root_, target).mtime;
    if (stored != nullptr && LocalItem::Stat(root_, Full(record.path)).kind == LocalKind::Missing &&
        RecordGone(record.path)) {
        // Deleted here while it was on its way: its deletion row takes it
        // from the service, the download is not put in its place.
        Log(kWhere + QStringLiteral(":removed here meanwhile, not fetched again:") + record.path, LogGeneral);
        LocalItem::RemoveFile(root_, target, error);
        return false;
    }
    const Placement placed = PutInPlace(target, record.path, stored, version, error);
    if (placed == Placement::NotPlaced) {
        Log(QStringLiteral("GetFileDirect:not put into place:") + record.path + QStringLiteral(":") +
                LocalItem::ErrorText(error),
            LogSync);
        LocalItem::RemoveFile(root_, target, error);
        return QueueDownload(record, stored);
    }
    engine_.Conflicts().Remove(record.path);
    engine_.SetFileMessage(record.path, 0);
    if (placed == Placement::Beside)
        return true;  // the local file and its record stay
    record.version = version;
    record.size = size;
    Record(record, stored, held);
    return true;
}

// Where nothing is, the download is moved there without a question; over
// anything else it goes through the engine's safe replace, which keeps a
// changed local file and puts the download beside it (and queues the local
// file's upload).
RemoteWalk::Placement RemoteWalk::PutInPlace(const QString& target, const QString& path, const StoredFile* stored,
                                             const QString& version, int& error)
{
    PeltaRequestObject& status = engine_.Status();
    const QString full = Full(path);
    if (LocalItem::Stat(root_, full).kind == LocalKind::Missing) {
        status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
        bool moved = LocalItem::RenameNoReplace(root_, target, full, error);
        if (moved)
            Touched(path);
        else if (error == EXDEV)
            moved = SafeReplace::MoveNoReplace(root_, target, full, error);
        if (moved) {
            Settle(path);
            return Placement::InPlace;
        }
        status.FileMon(path, 1, true);
        if (error != EEXIST)
            return Placement::NotPlaced;
    }
    PeltaRecVfsSyncFile before;
    before.kind = XFSFile;
    before.path = path;
    if (stored != nullptr) {
        before.found = true;
        before.key = stored->key;
        before.size = stored->size;
        before.mtime = stored->mtime;
        before.version = stored->version;
    }
    switch (engine_.PlaceDownload(target, path, before, version, nullptr, &error)) {
    case SafeReplace::Outcome::Replaced:
        Settle(path);
        return Placement::InPlace;
    case SafeReplace::Outcome::KeptLocal:
        return Placement::Beside;
    case SafeReplace::Outcome::Failed:
        break;
    }
    return Placement::NotPlaced;
}

// The record of a file now in place takes the service's version, size and
// time (the time as the file system holds it).
void RemoteWalk::Record(const PeltaRecVfsSyncFile& record, const StoredFile* stored, std::int64_t heldMtime)
{
    StoredFile now;
    now.key = record.key;
    now.mtime = StoredTime(heldMtime);
    now.size = record.size;
    now.version = record.version;
    // A record that a removal here took away just before the file was put
    // in place is made again: the file is here as the service has it, which
    // is what keeps that removal's row from deleting it there.
    const bool gone = stored != nullptr && RecordGone(record.path);
    if (stored == nullptr || gone) {
        PeltaRecVfsSyncFile inserted = record;
        inserted.mtime = now.mtime;
        batch_.Insert(inserted);
        storedFiles_.insert(record.path, now);
        if (gone)
            Flush(true);
        else
            FlushIfDue();
        return;
    }
    engine_.Db().RecUpdateFields(stored->key, XFSFile,
                                 XMap{{QStringLiteral("mtime"), QString::number(now.mtime)},
                                      {QStringLiteral("size"), QString::number(now.size)},
                                      {QStringLiteral("version"), now.version}});
    storedFiles_.insert(record.path, now);
}

bool RemoteWalk::RecordGone(const QString& path)
{
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = path;
    try {
        return !engine_.Db().RecGet(stored);
    } catch (const Lithos::SQLiteException& failure) {
        Log(kWhere + QStringLiteral(":") + StoreFailure("the file's record cannot be read", failure) +
                QLatin1Char(':') + path,
            LogGeneral);
        return false;  // taken as there: the walk goes on as it began
    }
}

// The file is left to a download row. Its record must be there when the
// worker takes the row; a new one holds no version, size or time of the
// service's yet (the download writes them once the file is in place).
bool RemoteWalk::QueueDownload(PeltaRecVfsSyncFile record, const StoredFile* stored)
{
    if (stored == nullptr) {
        record.version.clear();
        record.size = 0;
        record.mtime = 0;
        batch_.Insert(record);
        StoredFile placeholder;
        placeholder.key = record.key;
        storedFiles_.insert(record.path, placeholder);
    } else {
        record.key = stored->key;
    }
    Flush(true);
    if (!engine_.QueueFileGet(record))
        failed_.Add(record.path, kWhere, QStringLiteral("the download cannot be queued"));
    return false;
}

// ---- Helpers ------------------------------------------------------------------------------

bool RemoteWalk::IsUserChanged(const QString& path) const
{
    return userChanged_.contains(path);
}

bool RemoteWalk::Running()
{
    if (!engine_.IsRunning())
        failed_.Interrupt();
    return !failed_.Interrupted();
}

void RemoteWalk::FlushIfDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (batch_.Pending() == 0 || (batch_.Pending() < FlushRows && now - lastFlush_ < FlushInterval))
        return;
    Flush(false);
}

// Records only follow what is safely on the disk: a record of an item that
// a crash took away would read as removed by the user, and the removal
// would reach the service.
void RemoteWalk::Flush(bool all)
{
    for (auto item = unsynced_.constBegin(); item != unsynced_.constEnd(); ++item) {
        int error = 0;
        if (!LocalItem::SyncParent(root_, item.value(), error))
            Log(kWhere + QStringLiteral(":cannot flush the folder ") + item.key() + QLatin1Char(':') +
                    LocalItem::ErrorText(error),
                LogGeneral);
    }
    unsynced_.clear();
    batch_.Flush(all);
    lastFlush_ = std::chrono::steady_clock::now();
    // Recorded now: what comes late from these paths is the engine's own
    // while the disk still agrees with the records.
    for (const QString& path : std::as_const(settling_))
        engine_.SettleOwnChange(path);
    settling_.clear();
}

void RemoteWalk::Settle(const QString& path)
{
    settling_.append(path);
}

void RemoteWalk::Touched(const QString& path)
{
    unsynced_.insert(ParentOf(path), Full(path));
}

QString RemoteWalk::Full(const QString& relative) const
{
    if (relative == kRoot)
        return root_;
    QString names = relative;
    return root_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString RemoteWalk::Join(const QString& folder, const QString& name)
{
    return folder == kRoot ? kRoot + name : folder + QLatin1Char('\\') + name;
}

QString RemoteWalk::ParentOf(const QString& relative)
{
    const qsizetype cut = relative.lastIndexOf(QLatin1Char('\\'));
    return cut <= 0 ? kRoot : relative.left(cut);
}
