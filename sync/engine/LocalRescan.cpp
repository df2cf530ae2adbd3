#include "sync/engine/LocalRescan.h"

#include "foundation/Constants.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"

#include <algorithm>

namespace {

const QString kRoot = QStringLiteral("\\");
const QString kWhere = QStringLiteral("PeltaSync::ResyncLocal");

void Log(const QString& text, int category)
{
    PeltaSync::Log(text, category);
}

QString StoreFailure(const char* what, const Lithos::SQLiteException& failure)
{
    return QLatin1String(what) + QStringLiteral(": ") + QString::fromStdString(failure.Message());
}

// The disk's time as the rows keep it.
std::int32_t StoredTime(std::int64_t mtime)
{
    return static_cast<std::int32_t>(mtime);
}

}  // namespace

LocalRescan::LocalRescan(PeltaSync& engine, bool checkFile, bool removeMissing)
    : engine_(engine),
      checkFile_(checkFile),
      removeMissing_(removeMissing),
      root_(engine.SyncFolder()),
      mounted_(root_)
{
}

PassResult LocalRescan::Run(const QString& path)
{
    Log(QStringLiteral("PeltaSync::ResyncLocal Start:") + path + QStringLiteral(", checkFile=") +
            (checkFile_ ? QStringLiteral("true") : QStringLiteral("false")),
        LogSync);
    start_ = engine_.ToRelativePath(path.isEmpty() || path == QLatin1String("0") ? kRoot : path);
    if (start_.isEmpty() || root_.isEmpty()) {
        failed_.Add(path, kWhere, QStringLiteral("not a folder of the sync folder"));
        return failed_.Result();
    }
    if (!Start())
        return failed_.Result();

    if (!ReadStoredFolders() || (!checkFile_ && !ReadStoredFiles()))
        return failed_.Result();
    walk_.push_back(start_);
    if (checkFile_ || start_ == kRoot)
        QueueDetail(start_);

    Walk();
    if (!failed_.Interrupted())
        Details();
    if (failed_.Interrupted())
        return PassResult::Aborted;

    Log(QStringLiteral("PeltaSync::ResyncLocal End:") + start_, LogSync);
    const PassResult result = failed_.Result();
    if (result == PassResult::Complete && start_ == kRoot)
        mounted_.WriteMarker();
    Log(QStringLiteral("PeltaSync::ResyncLocal:") + FailedReads::Name(result) + QLatin1Char(':') + start_, LogSync);
    return result;
}

// The sync folder must be mounted, and the start folder a folder.
bool LocalRescan::Start()
{
    const MountedFolder::State state = mounted_.Check();
    if (state != MountedFolder::State::Mounted) {
        failed_.Add(start_, kWhere, QStringLiteral("sync folder ") + MountedFolder::StateName(state));
        return false;
    }
    const LocalFacts facts = LocalItem::Stat(root_, Full(start_));
    if (facts.kind == LocalKind::Folder)
        return true;
    if (facts.kind == LocalKind::Unknown)
        failed_.Add(start_, kWhere, QStringLiteral("cannot look at the folder: ") + LocalItem::ErrorText(facts.error));
    // Anything else: no folder there, nothing to compare.
    return false;
}

// Paths of the start folder and below it. substr counts characters, hence
// the code points; the text is quoted, so no character of a name is special.
QString LocalRescan::SubtreeCondition() const
{
    if (start_ == kRoot)
        return QString();
    const QString prefix = start_ + QLatin1Char('\\');
    return QStringLiteral(" where path=") + PeltaRec::Literal(start_) + QStringLiteral(" or substr(path, 1, ") +
           QString::number(prefix.toUcs4().size()) + QStringLiteral(")=") + PeltaRec::Literal(prefix);
}

bool LocalRescan::ReadRows(const QString& folder, const QString& sql, const char* what, const RowReader& take)
{
    const QString failure = QLatin1String(what) + QStringLiteral(" cannot be read");
    PeltaDb& db = engine_.Db();
    try {
        const auto statement = db.NewStatement();
        if (db.QueryWith(sql, *statement) < 0) {
            failed_.Add(folder, kWhere, failure);
            return false;
        }
        while (statement->FetchRow())
            take(db, *statement);
    } catch (const Lithos::SQLiteException& error) {
        failed_.Add(folder, kWhere, failure + QStringLiteral(": ") + QString::fromStdString(error.Message()));
        return false;
    }
    return true;
}

LocalRescan::StoredFile LocalRescan::FileOfRow(PeltaDb& db, Lithos::SQLiteStatement& row)
{
    StoredFile file;
    file.mtime = db.GetColumnInt(QStringLiteral("mtime"), row);
    file.size = row.GetColumnInt64ByName("size");
    file.committed = !db.ColumnText(QStringLiteral("version"), row).isEmpty();
    return file;
}

// A stored path that may be walked; one that may not is logged.
bool LocalRescan::UsablePath(const QString& path, const char* row)
{
    if (path != kRoot && PathGuard::CheckRelative(path).isEmpty())
        return true;
    PathGuard::LogRefused(kWhere, path, QLatin1String(row) + QStringLiteral(" row with a bad path"));
    return false;
}

bool LocalRescan::ReadStoredFolders()
{
    Log(QStringLiteral("PeltaSync::ResyncLocal::GetDbAllFolderList"), LogDebug);
    return ReadRows(start_, QStringLiteral("select path, key, mtime from vfs_sync_folder") + SubtreeCondition(),
                    "stored folders", [this](PeltaDb& db, Lithos::SQLiteStatement& row) {
                        const QString path = db.ColumnText(QStringLiteral("path"), row);
                        if (UsablePath(path, "stored folder"))
                            storedFolders_.insert(path, {db.ColumnText(QStringLiteral("key"), row),
                                                         db.GetColumnInt(QStringLiteral("mtime"), row)});
                    });
}

// The rows of every stored file below the start folder, so that the walk
// finds files changed in place without a query per folder.
bool LocalRescan::ReadStoredFiles()
{
    return ReadRows(start_,
                    QStringLiteral("select path, mtime, size, version from vfs_sync_file") + SubtreeCondition(),
                    "stored files", [this](PeltaDb& db, Lithos::SQLiteStatement& row) {
                        const QString path = db.ColumnText(QStringLiteral("path"), row);
                        if (!UsablePath(path, "stored file"))
                            return;
                        storedFiles_.insert(path, FileOfRow(db, row));
                        ++storedFileCount_[ParentOf(path)];
                    });
}

// ---- Walk phase --------------------------------------------------------------------

bool LocalRescan::Drain(std::deque<QString>& queue, void (LocalRescan::*visit)(const QString&))
{
    while (!queue.empty()) {
        if (!Running())
            return false;
        const QString folder = queue.front();
        queue.pop_front();
        if (!Skipped(folder))
            (this->*visit)(folder);
    }
    return true;
}

void LocalRescan::Walk()
{
    Log(QStringLiteral("PeltaSync::ResyncLocal::ProcessFSFolderList"), LogDebug);
    Drain(walk_, &LocalRescan::WalkFolder);
}

void LocalRescan::WalkFolder(const QString& folder)
{
    Log(QStringLiteral("PeltaSync::ResyncLocal Start:") + (folder == kRoot ? QString() : folder), LogSync);
    const auto row = storedFolders_.constFind(folder);
    if (row != storedFolders_.constEnd() && !RecordKey::IsValid(row->key)) {
        failed_.Add(folder, kWhere, QStringLiteral("stored folder key is not a key"));
        return;
    }
    const LocalListing listing = List(folder);
    if (!listing.IsComplete()) {
        ListingFailed(folder, listing);
        return;
    }
    NoteUnreadable(folder, listing);
    if (!checkFile_ && FilesDiffer(folder, listing))
        QueueDetail(folder);
    for (const LocalEntry& entry : listing.Items()) {
        if (!IsListedSubfolder(folder, entry))
            continue;
        if (!Running())
            return;
        const QString child = Join(folder, entry.name);
        const auto stored = storedFolders_.constFind(child);
        if (stored == storedFolders_.constEnd()) {
            engine_.FileAdd(child, 1, false, false);
            QueueDetail(child);
            continue;
        }
        walk_.push_back(child);
        if (checkFile_ || stored->mtime != StoredTime(entry.mtime))
            QueueDetail(child);
    }
}

// A file of the folder is new, changed or never committed, or a stored one
// is missing.
bool LocalRescan::FilesDiffer(const QString& folder, const LocalListing& listing) const
{
    int matched = 0;
    for (const QString& name : listing.Present()) {
        if (storedFiles_.contains(Join(folder, name)))
            ++matched;
    }
    if (matched != storedFileCount_.value(folder))
        return true;
    bool differs = false;
    ForListedFiles(folder, listing, [&](const LocalEntry& entry, const QString& child) {
        const auto stored = storedFiles_.constFind(child);
        differs = !SameAsStored(stored == storedFiles_.constEnd() ? nullptr : &*stored, entry);
        return !differs;
    });
    return differs;
}

void LocalRescan::ForListedFiles(const QString& folder, const LocalListing& listing, const FileVisit& visit)
{
    for (const LocalEntry& entry : listing.Items()) {
        if (entry.kind != LocalKind::File)
            continue;
        const QString child = Join(folder, entry.name);
        if (!PeltaSync::IsIgnoredFile(child) && !visit(entry, child))
            return;
    }
}

bool LocalRescan::SameAsStored(const StoredFile* row, const LocalEntry& entry)
{
    return row != nullptr && row->committed && row->size == entry.size && row->mtime == StoredTime(entry.mtime);
}

// ---- Detail phase --------------------------------------------------------------------

void LocalRescan::Details()
{
    do {
        if (!Drain(detail_, &LocalRescan::Examine))
            return;
    } while (ConfirmVanished());
}

void LocalRescan::Examine(const QString& folder)
{
    const QString cur = folder == kRoot ? kRoot : folder + QLatin1Char('\\');
    Log(QStringLiteral("PeltaSuync:ResyncLocal:CheckFolderDetail:") + cur, LogSync);
    Log(QStringLiteral("PeltaSync::ResyncLocal::GetDBFolder"), LogDebug);
    QString key;
    bool hasRow = false;
    StoredChildren stored;
    if (!FolderKey(folder, key, hasRow) || (hasRow && !ReadChildFolders(folder, key, stored)))
        return;
    if (!detail_.empty() && stored.folders.size() > CheckLaterThreshold && !deferred_.contains(folder)) {
        deferred_.insert(folder);
        detail_.push_back(folder);
        Log(QStringLiteral("PeltaSync::ResyncLocal::check later:") + folder, LogGeneral);
        return;
    }
    Log(QStringLiteral("PeltaSync::ResyncLocal::GetDbFiles"), LogDebug);
    if (hasRow && !ReadChildFiles(folder, key, stored))
        return;
    Log(QStringLiteral("PeltaSync::ResyncLocal::GetFSFolder"), LogDebug);
    const LocalListing listing = List(folder);
    if (!listing.IsComplete()) {
        ListingFailed(folder, listing);
        return;
    }
    const bool complete = NoteUnreadable(folder, listing);

    Log(QStringLiteral("PeltaSync::ResyncLocal::DiffFolder1"), LogDebug);
    AddNewFolders(folder, listing, stored);
    Log(QStringLiteral("PeltaSync::ResyncLocal::DiffFolder2"), LogDebug);
    for (const QString& name : stored.folders) {
        if (!listing.Present().contains(name))
            MissingFolder(Join(folder, name));
    }
    Log(QStringLiteral("PeltaSync::ResyncLocal::DiffFiles1"), LogDebug);
    const QStringList adds = ChangedFiles(folder, listing, stored);
    Log(QStringLiteral("PeltaSync::ResyncLocal::DiffFiles2"), LogDebug);
    for (const auto& [name, file] : stored.files) {
        if (!listing.Present().contains(name))
            MissingFile(Join(folder, name));
    }
    if (!Running())
        return;
    for (const QString& path : adds) {
        Log(QStringLiteral("PeltaSync:ResyncLocal:Add ") + path, LogGeneral);
        engine_.FileAdd(path, 0, false, false);
        if (!Running())
            return;
    }
    // The time read before the listing: a change made since then keeps the
    // folder different from its row, so the next pass looks at it again.
    if (folder != kRoot && hasRow && complete && !engine_.AbortRaised() && !failed_.Covers(folder))
        StoreFolderTime(folder, key, listing.FolderMtime());
}

// The folder's key, the parent value of its children's rows. A folder
// without a row has no stored children; a row whose key is unusable, or a
// failed read, skips the folder.
bool LocalRescan::FolderKey(const QString& folder, QString& key, bool& hasRow)
{
    hasRow = true;
    if (folder == kRoot) {
        key = kRoot;
        return true;
    }
    const auto known = storedFolders_.constFind(folder);
    if (known != storedFolders_.constEnd()) {
        key = known->key;
    } else {
        hasRow = false;
        const bool read = ReadRows(
            folder, QStringLiteral("select key from vfs_sync_folder where path=") + PeltaRec::Literal(folder),
            "stored folder", [&](PeltaDb& db, Lithos::SQLiteStatement& row) {
                if (!std::exchange(hasRow, true))
                    key = db.ColumnText(QStringLiteral("key"), row);
            });
        if (!read)
            return false;
    }
    if (hasRow && !RecordKey::IsValid(key)) {
        failed_.Add(folder, kWhere, QStringLiteral("stored folder key is not a key"));
        return false;
    }
    return true;
}

// A stored child's name that may be used; one that may not is logged.
bool LocalRescan::UsableName(const QString& folder, const QString& name, const char* row)
{
    const QString reason = PathGuard::CheckName(name);
    if (reason.isEmpty())
        return true;
    PathGuard::LogRefused(kWhere, Join(folder, name), QLatin1String(row) + QStringLiteral(" row: ") + reason);
    return false;
}

bool LocalRescan::ReadChildFolders(const QString& folder, const QString& key, StoredChildren& stored)
{
    return ReadRows(folder, QStringLiteral("select name, mtime from vfs_sync_folder where parent=") + PeltaRec::Literal(key),
                    "stored subfolders", [&](PeltaDb& db, Lithos::SQLiteStatement& row) {
                        const QString name = db.ColumnText(QStringLiteral("name"), row);
                        if (!UsableName(folder, name, "stored folder") || stored.folderNames.contains(name))
                            return;
                        stored.folderNames.insert(name);
                        stored.folders.append(name);
                    });
}

bool LocalRescan::ReadChildFiles(const QString& folder, const QString& key, StoredChildren& stored)
{
    return ReadRows(folder,
                    QStringLiteral("select name, mtime, size, version from vfs_sync_file where parent=") +
                        PeltaRec::Literal(key),
                    "stored files", [&](PeltaDb& db, Lithos::SQLiteStatement& row) {
                        const QString name = db.ColumnText(QStringLiteral("name"), row);
                        if (!UsableName(folder, name, "stored file"))
                            return;
                        const StoredFile file = FileOfRow(db, row);
                        if (!stored.fileByName.contains(name))
                            stored.files.emplace_back(name, file);
                        stored.fileByName.insert(name, file);
                    });
}

void LocalRescan::AddNewFolders(const QString& folder, const LocalListing& listing, const StoredChildren& stored)
{
    for (const LocalEntry& entry : listing.Items()) {
        if (!IsListedSubfolder(folder, entry) || stored.folderNames.contains(entry.name))
            continue;
        const QString child = Join(folder, entry.name);
        engine_.FileAdd(child, 1, false, false);
        QueueDetail(child);
    }
}

// The files to hand to FileAdd: every file that is not exactly as its
// committed row says. A changed size with an unchanged time, and a time
// moved by a few seconds, are changes made here like any other.
QStringList LocalRescan::ChangedFiles(const QString& folder, const LocalListing& listing,
                                      const StoredChildren& stored) const
{
    QStringList adds;
    ForListedFiles(folder, listing, [&](const LocalEntry& entry, const QString& child) {
        const auto row = stored.fileByName.constFind(entry.name);
        if (!SameAsStored(row == stored.fileByName.constEnd() ? nullptr : &*row, entry))
            adds.append(child);
        return true;
    });
    return adds;
}

void LocalRescan::StoreFolderTime(const QString& folder, const QString& key, std::int64_t mtime)
{
    const auto known = storedFolders_.constFind(folder);
    if (known != storedFolders_.constEnd() && known->mtime == StoredTime(mtime))
        return;
    if (engine_.Db().RecSetMtime(key, XFSFolder, StoredTime(mtime)))
        Log(QStringLiteral("PeltaSync::UpdateFileMTime::") + folder + QLatin1Char(',') + QString::number(mtime),
            LogSync);
}

// ---- Stored items the disk lacks ------------------------------------------------------

void LocalRescan::MissingFolder(const QString& child)
{
    ForgetVanished(child);
    if (IsPendingOrPresent(child))
        return;
    if (removeMissing_)
        Remove(child);
    else
        Restore(child);
}

void LocalRescan::MissingFile(const QString& child)
{
    if (IsPendingOrPresent(child))
        return;
    if (removeMissing_) {
        Remove(child);
        return;
    }
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = child;
    if (engine_.Db().RecGet(record))
        engine_.QueueFileGet(record);
    else if (record.error)
        failed_.Add(child, kWhere, QStringLiteral("stored file cannot be read"));
}

// An open request of the path decides for it; an item there after all (made
// meanwhile, or one that could not be looked at) is not missing.
bool LocalRescan::IsPendingOrPresent(const QString& child)
{
    try {
        if (engine_.Db().RequestPending(child, XSYNCNOP, 0))
            return true;
    } catch (const Lithos::SQLiteException& failure) {
        failed_.Add(child, kWhere, StoreFailure("open requests cannot be read", failure));
        return true;
    }
    const LocalFacts facts = LocalItem::Stat(root_, Full(child));
    if (facts.kind == LocalKind::Unknown)
        failed_.Add(child, kWhere, QStringLiteral("cannot look at the item: ") + LocalItem::ErrorText(facts.error));
    return facts.kind != LocalKind::Missing;
}

void LocalRescan::Remove(const QString& child)
{
    if (!failed_.MayDelete(child))
        return;
    const MountedFolder::State state = mounted_.Check();
    if (state != MountedFolder::State::Mounted) {
        // Whatever looked missing may only be on a disk that went away.
        failed_.Add(kRoot, kWhere, QStringLiteral("sync folder ") + MountedFolder::StateName(state));
        return;
    }
    engine_.FileRemove(child);
}

void LocalRescan::Restore(const QString& child)
{
    if (restored_.contains(child)) {
        failed_.Add(child, kWhere, QStringLiteral("gone again after it was made again"));
        return;
    }
    restored_.insert(child);
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(child, PeltaRequestObject::SelfChangeMark, false);
    int error = 0;
    if (LocalItem::MakeFolder(root_, Full(child), error)) {
        engine_.SetIcon(child, XICOSync);
        // Looked at again even when it was queued before it vanished.
        detail_.push_back(child);
        queued_.insert(child);
    } else {
        failed_.Add(child, kWhere, QStringLiteral("cannot make the folder again: ") + LocalItem::ErrorText(error));
    }
    status.FileMon(child, 0, false);
}

// ---- Listings ---------------------------------------------------------------------------

LocalListing LocalRescan::List(const QString& folder) const
{
    return LocalListing::Read(root_, Full(folder), kWhere);
}

// A folder that is gone may have been deleted during the pass: it is taken
// as gone once its parent's complete listing confirms it. Any other failure
// skips it with its subtree.
void LocalRescan::ListingFailed(const QString& folder, const LocalListing& listing)
{
    if (listing.GetOutcome() == LocalListing::Outcome::Missing && folder != start_) {
        Log(kWhere + QStringLiteral(":folder vanished during the pass:") + folder, LogGeneral);
        vanished_.append(folder);
        return;
    }
    failed_.Add(folder, kWhere, QStringLiteral("cannot list the folder: ") + LocalItem::ErrorText(listing.Error()));
}

// Entries that were there but could not be looked at stay as they are;
// false when there were any.
bool LocalRescan::NoteUnreadable(const QString& folder, const LocalListing& listing)
{
    for (const QString& name : listing.Unreadable())
        failed_.Add(Join(folder, name), kWhere, QStringLiteral("item cannot be looked at"));
    return listing.Unreadable().isEmpty();
}

// Settles the folders that vanished: true when restoring one queued work.
bool LocalRescan::ConfirmVanished()
{
    QStringList pending = std::exchange(vanished_, QStringList());
    std::sort(pending.begin(), pending.end());
    QStringList settled;
    const std::size_t queuedBefore = detail_.size();
    for (const QString& folder : pending) {
        const bool below = std::any_of(settled.cbegin(), settled.cend(),
                                       [&](const QString& top) { return FailedReads::IsAtOrBelow(folder, top); });
        if (below || failed_.Covers(folder))
            continue;
        settled.append(folder);
        if (!Running())
            return false;
        const LocalListing parent = List(ParentOf(folder));
        if (!parent.IsComplete() || parent.Present().contains(NameOf(folder))) {
            failed_.Add(folder, kWhere, QStringLiteral("vanished during the pass, not confirmed"));
            continue;
        }
        try {
            if (!engine_.Db().RecExists(folder, XFSFolder))
                continue;
        } catch (const Lithos::SQLiteException& failure) {
            failed_.Add(folder, kWhere, StoreFailure("stored folder cannot be read", failure));
            continue;
        }
        MissingFolder(folder);
    }
    return detail_.size() > queuedBefore;
}

void LocalRescan::ForgetVanished(const QString& folder)
{
    vanished_.removeIf([&](const QString& path) { return FailedReads::IsAtOrBelow(path, folder); });
}

bool LocalRescan::Skipped(const QString& folder) const
{
    if (failed_.Covers(folder))
        return true;
    return std::any_of(vanished_.cbegin(), vanished_.cend(),
                       [&](const QString& gone) { return FailedReads::IsAtOrBelow(folder, gone); });
}

// ---- Helpers ------------------------------------------------------------------------------

void LocalRescan::QueueDetail(const QString& folder)
{
    if (queued_.contains(folder))
        return;
    queued_.insert(folder);
    detail_.push_back(folder);
}

bool LocalRescan::Running()
{
    if (!engine_.IsRunning())
        failed_.Interrupt();
    return !failed_.Interrupted();
}

QString LocalRescan::Full(const QString& relative) const
{
    if (relative == kRoot)
        return root_;
    QString names = relative;
    return root_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString LocalRescan::Join(const QString& folder, const QString& name)
{
    return folder == kRoot ? kRoot + name : folder + QLatin1Char('\\') + name;
}

QString LocalRescan::ParentOf(const QString& relative)
{
    const qsizetype cut = relative.lastIndexOf(QLatin1Char('\\'));
    return cut <= 0 ? kRoot : relative.left(cut);
}

QString LocalRescan::NameOf(const QString& relative)
{
    return relative.mid(relative.lastIndexOf(QLatin1Char('\\')) + 1);
}

bool LocalRescan::IsListedSubfolder(const QString& folder, const LocalEntry& entry)
{
    if (entry.kind != LocalKind::Folder || entry.name.startsWith(QLatin1Char('.')))
        return false;
    return !(folder == kRoot && entry.name == CacheFolderName);
}
