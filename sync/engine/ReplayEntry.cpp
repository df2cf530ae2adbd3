#include "sync/engine/ReplayEntry.h"

#include "foundation/Constants.h"
#include "foundation/PeltaFSQueue.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/IncomingFetches.h"
#include "sync/engine/ShellNotice.h"
#include "sync/rules/LocalChangeLock.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/RecordKey.h"
#include "sync/rules/SafeReplace.h"

#include <cerrno>
#include <memory>
#include <mutex>

namespace {

const QString kWhere = QStringLiteral("PeltaSync:ResyncJournal:");

}  // namespace

ReplayEntry::ReplayEntry(PeltaSync& engine, MountedFolder& mounted, Batch& batch)
    : engine_(engine), batch_(batch), recycle_(engine, mounted), root_(engine.SyncFolder())
{
}

EntryOutcome ReplayEntry::Apply(const JournalEntry& entry)
{
    switch (entry.kind) {
    case XSYNCFileAdd:
    case XSYNCFileMod:
        return FetchFile(entry);
    case XSYNCFileDel:
    case XSYNCFolderDel:
        return Recycle(entry);
    case XSYNCFileMove:
        return MoveFile(entry);
    case XSYNCFolderAdd:
        return AddFolder(entry);
    case XSYNCFolderMod:
        return EntryOutcome::Applied;
    case XSYNCFolderMove:
        return MoveFolder(entry);
    default:
        return EntryOutcome::NotApplied;
    }
}

// ---- Helpers -------------------------------------------------------------------------------

bool ReplayEntry::Stored(const QString& path, int kind, PeltaRecVfsSyncFile& record, bool& error)
{
    record.Clear();
    record.kind = kind;
    record.path = path;
    const bool found = engine_.Db().RecGet(record);
    error = record.error;
    if (error)
        PeltaSync::Log(kWhere + QStringLiteral("stored record unreadable:") + path, LogGeneral);
    return found && !error;
}

bool ReplayEntry::InsertFromEntry(const QString& path, const JournalEntry& entry, PeltaRecVfsSyncFile& record,
                                  bool contentHere)
{
    record.Clear();
    record.kind = XFSFile;
    record.path = path;
    engine_.FillRecordKeys(record);
    if (!RecordKey::IsValid(record.key))
        return false;
    if (record.parent.isEmpty()) {
        engine_.CheckParent(record, false, true);
        PeltaSync::Log(QStringLiteral("CheckParent=") + record.parent, LogGeneral);
    }
    record.ctime = static_cast<std::int32_t>(entry.mtime);
    if (contentHere) {
        record.version = entry.version;
        record.mtime = record.ctime;
        record.size = entry.size;
    }
    // Otherwise the service's facts are written once its content is in
    // place: a local file that appears meanwhile is not based on them.
    return engine_.Db().RecAdd(record, true);
}

bool ReplayEntry::Fetch(const PeltaRecVfsSyncFile& stored, const JournalEntry& entry)
{
    PeltaRecVfsSyncFile wanted;
    wanted.Assign(&stored);
    wanted.version = entry.version;
    wanted.size = entry.size;
    wanted.ctime = static_cast<std::int32_t>(entry.mtime);
    wanted.mtime = wanted.ctime;
    if (engine_.GetFileDirect(wanted, false))
        return true;
    // Whatever kept it from coming now, a download row brings it later; a
    // record without its file and without a row would read as a local
    // deletion to the next rescan.
    engine_.QueueFileGet(wanted);
    return false;
}

void ReplayEntry::Uncount(const JournalEntry& entry)
{
    --batch_.counts[static_cast<std::size_t>(entry.kind)];
}

void ReplayEntry::Mark(const QString& path)
{
    engine_.Status().FileMon(path, PeltaRequestObject::SelfChangeMark, false);
}

void ReplayEntry::Unmark(const QString& path)
{
    engine_.Status().FileMon(path, 0, false);
}

// ---- Files added or changed ----------------------------------------------------------------

EntryOutcome ReplayEntry::FetchFile(const JournalEntry& entry)
{
    const QString& path = entry.path;
    // From before the record is written until the content is in place or a
    // download row stands for it.
    const IncomingFetches::Scope fetching(path);
    PeltaRecVfsSyncFile stored;
    bool error = false;
    const bool found = Stored(path, XFSFile, stored, error);
    if (error)
        return EntryOutcome::NotApplied;
    bool fetch = true;
    if (found) {
        const bool localFile = LocalItem::Stat(root_, engine_.ToLocalPath(path)).kind == LocalKind::File;
        // While a move here onto the path is still open, the record's
        // version is the moved file's: a file added there under the name is
        // another one, whatever its version.
        fetch = stored.version != entry.version ||
                (entry.kind == XSYNCFileAdd && (!localFile || engine_.MoveOntoOpen(path)));
        if (stored.parent.isEmpty()) {
            engine_.CheckParent(stored, false, true);
            PeltaSync::Log(QStringLiteral("CheckParent=") + stored.parent, LogGeneral);
            if (!stored.parent.isEmpty())
                engine_.Db().RecUpdateFields(stored.key, XFSFile, XMap{{QStringLiteral("parent"), stored.parent}});
        }
    } else if (!InsertFromEntry(path, entry, stored, false)) {
        PeltaSync::Log(kWhere + QStringLiteral("cannot record ") + path, LogGeneral);
        return EntryOutcome::NotApplied;
    }

    engine_.SetParentIcon(path, batch_.parents);
    if (!fetch) {
        if (entry.kind == XSYNCFileAdd)
            batch_.lastPath = path;
        return EntryOutcome::Applied;
    }
    if (Fetch(stored, entry)) {
        engine_.SetIcon(path, XICOSync);
        batch_.lastPath = path;
    } else {
        Uncount(entry);
    }
    return EntryOutcome::Applied;
}

// ---- Recycled -----------------------------------------------------------------------------

EntryOutcome ReplayEntry::Recycle(const JournalEntry& entry)
{
    const RemoteRecycle::Result result = entry.isFolder ? recycle_.Folder(entry.path) : recycle_.File(entry.path);
    switch (result) {
    case RemoteRecycle::Result::Removed:
        if (!entry.isFolder)
            batch_.lastPath = entry.path;
        return EntryOutcome::Applied;
    case RemoteRecycle::Result::Kept:
        Uncount(entry);
        return EntryOutcome::Applied;
    case RemoteRecycle::Result::Failed:
        Uncount(entry);
        return EntryOutcome::NotApplied;
    case RemoteRecycle::Result::Stopped:
        break;
    }
    return EntryOutcome::Stop;
}

// ---- Files moved -----------------------------------------------------------------------------

EntryOutcome ReplayEntry::MoveFile(const JournalEntry& entry)
{
    const QString& orig = entry.path;
    const QString& dest = entry.destPath;
    if (orig == dest)
        return EntryOutcome::Applied;
    // A change here being recorded under the old name is either recorded
    // before the file is looked at (its row is open) or finds the file gone.
    LocalChangeLock moving;
    PeltaRecVfsSyncFile source;
    PeltaRecVfsSyncFile target;
    bool sourceError = false;
    bool targetError = false;
    const bool sourceFound = Stored(orig, XFSFile, source, sourceError);
    const bool targetFound = Stored(dest, XFSFile, target, targetError);
    if (sourceError || targetError)
        return EntryOutcome::NotApplied;
    const QString from = engine_.ToLocalPath(orig);
    const QString to = engine_.ToLocalPath(dest);

    if (LocalItem::Stat(root_, from).kind != LocalKind::File) {
        // Gone here already: the record follows the move, the file comes
        // from the service.
        if (sourceFound) {
            if (targetFound)
                engine_.Db().RecDelete(orig, XFSFile);
            else
                engine_.MoveFolder(orig, dest);
        }
        moving.Release();
        return FetchMoved(entry);
    }
    if (engine_.MoveOntoOpen(orig)) {
        // The file here under the old name was moved onto it here and that
        // move has not reached the service: it is not the file moved there.
        PeltaSync::Log(kWhere + QStringLiteral("the file here is not the one moved, the service's file fetched:") +
                           entry.Describe(),
                       LogGeneral);
        moving.Release();
        return FetchMoved(entry);
    }
    if (!sourceFound || source.version.isEmpty()) {
        // The file here was never the service's (made here, or written
        // before the service's file of that name arrived): it is not the
        // one that moved. It stays and goes up as new; the moved file is
        // fetched at its new name.
        PeltaSync::Log(kWhere + QStringLiteral("not the service's file here, kept, the destination fetched:") +
                           entry.Describe(),
                       LogGeneral);
        moving.Release();
        return FetchMovedAway(entry);
    }
    if (LocalItem::Stat(root_, to).kind != LocalKind::Missing) {
        PeltaSync::Log(kWhere + QStringLiteral("destination taken, the service's file fetched beside it:") +
                           entry.Describe(),
                       LogGeneral);
        moving.Release();
        return FetchMovedAway(entry);
    }
    PeltaRecVfsSyncFile parentCheck;
    parentCheck.kind = XFSFile;
    parentCheck.path = dest;
    engine_.FillRecordKeys(parentCheck);
    engine_.CheckParent(parentCheck, false, true);

    // Content still to go up under the old name goes with the file: the old
    // name's row finds nothing left to send.
    const bool unsent = engine_.UploadRowOpen(orig);
    Mark(orig);
    Mark(dest);
    int error = 0;
    const bool moved = SafeReplace::MoveNoReplace(root_, from, to, error);
    if (!moved) {
        Unmark(orig);
        Unmark(dest);
        PeltaSync::Log(kWhere + QStringLiteral("file not moved, the destination fetched:") + entry.Describe() +
                           QLatin1Char(':') + LocalItem::ErrorText(error),
                       LogGeneral);
        moving.Release();
        return FetchMovedAway(entry);
    }
    if (targetFound)
        engine_.Db().RecDelete(dest, XFSFile);
    // A download still open for the old path (a change the service made
    // before the move that has not come yet) means the file moved here is
    // older than the service's: its record keeps its version and the
    // service's content is fetched at the new path.
    // So does a move that carries other facts than the record holds while
    // nothing of the file waits to go up here: a change the service made
    // before the move never came (its download may have ended when the old
    // name was gone there).
    const bool serviceChanged = !unsent && entry.mtime > 0 &&
                                (source.mtime != static_cast<std::int32_t>(entry.mtime) || source.size != entry.size);
    const bool older = serviceChanged || engine_.Db().RequestPending(orig, XSYNCFileGet, 0);
    engine_.MoveFolder(orig, dest);
    if (!older) {
        // The service gave the moved file a version of its own.
        engine_.Db().RecUpdateFields(engine_.RecordKey(dest), XFSFile,
                                     XMap{{QStringLiteral("version"), entry.version}});
    }
    engine_.SetIcon(orig, XICODel);
    engine_.SetIcon(dest, XICOSync);
    ShellNotice::ItemUpdated(orig);
    Unmark(orig);
    Unmark(dest);
    // A change the file carried here goes up as a modification of its new
    // path.
    engine_.FileModify(dest);
    if (unsent)
        QueueUnsent(dest);
    if (older) {
        // The old path's download, running or waiting, and what it fetched
        // so far are of no use now. A transfer of the old path while content
        // of it is still to go up may be that upload: it is left to end.
        if (!unsent)
            engine_.Status().CancelTransfer(orig);
        engine_.DropWaitingDownload(orig, engine_.RecordKey(orig));
        moving.Release();
        return FetchMoved(entry);
    }
    batch_.lastPath = dest;
    return EntryOutcome::Applied;
}

// The record already holds the unsent content's time and size (the change
// was seen under the old name), so the new path would look unchanged.
void ReplayEntry::QueueUnsent(const QString& dest)
{
    if (engine_.UploadRowOpen(dest))
        return;
    PeltaRecVfsSyncFile record;
    bool error = false;
    if (!Stored(dest, XFSFile, record, error))
        return;
    PeltaSync::Log(kWhere + QStringLiteral("unsent content moved with the file, queued under its new name:") + dest,
                   LogGeneral);
    engine_.Db().AddSyncRequest(record, PeltaSync::UploadActionOf(record), false);
}

// The move could not be made here: the destination comes from the service
// (beside a local file there, as a conflict copy), and the source goes as
// it went on the service - unless it changed here, then it stays and goes
// up as a new file (RemoteRecycle).
EntryOutcome ReplayEntry::FetchMovedAway(const JournalEntry& entry)
{
    const EntryOutcome fetched = FetchMoved(entry);
    if (fetched != EntryOutcome::Applied)
        return fetched;
    switch (recycle_.File(entry.path)) {
    case RemoteRecycle::Result::Removed:
    case RemoteRecycle::Result::Kept:
        return EntryOutcome::Applied;
    case RemoteRecycle::Result::Failed:
        return EntryOutcome::NotApplied;
    case RemoteRecycle::Result::Stopped:
        break;
    }
    return EntryOutcome::Stop;
}

EntryOutcome ReplayEntry::FetchMoved(const JournalEntry& entry)
{
    const QString& dest = entry.destPath;
    PeltaRecVfsSyncFile target;
    bool error = false;
    const bool found = Stored(dest, XFSFile, target, error);
    if (error)
        return EntryOutcome::NotApplied;
    if (!found && !InsertFromEntry(dest, entry, target, false)) {
        PeltaSync::Log(kWhere + QStringLiteral("cannot record ") + dest, LogGeneral);
        return EntryOutcome::NotApplied;
    }
    if (Fetch(target, entry))
        engine_.SetIcon(dest, XICOSync);
    else
        Uncount(entry);
    batch_.lastPath = dest;
    ShellNotice::ItemUpdated(entry.path);
    return EntryOutcome::Applied;
}

// ---- Folders added ---------------------------------------------------------------------------

EntryOutcome ReplayEntry::AddFolder(const JournalEntry& entry)
{
    const QString& path = entry.path;
    const QString full = engine_.ToLocalPath(path);
    const LocalFacts facts = LocalItem::Stat(root_, full);
    if (facts.kind == LocalKind::Unknown) {
        PeltaSync::Log(kWhere + QStringLiteral("cannot look at ") + path + QLatin1Char(':') +
                           LocalItem::ErrorText(facts.error),
                       LogGeneral);
        return EntryOutcome::NotApplied;
    }
    if (facts.kind == LocalKind::File || facts.kind == LocalKind::Other) {
        PeltaSync::Log(kWhere + QStringLiteral("not a folder here, left alone:") + path, LogGeneral);
        Uncount(entry);
        return EntryOutcome::Applied;
    }
    if (facts.kind == LocalKind::Missing) {
        if (!MakeFolder(path))
            return EntryOutcome::NotApplied;
        engine_.SetIcon(path, XICOSync);
    }
    PeltaRecVfsSyncFile stored;
    bool storeError = false;
    if (!Stored(path, XFSFolder, stored, storeError) && !storeError) {
        PeltaRecVfsSyncFile record;
        record.path = path;
        if (engine_.GetLocalInfo(record) == PeltaSync::InfoFound && record.kind == XFSFolder) {
            engine_.FillRecordKeys(record);
            if (record.parent.isEmpty())
                engine_.CheckParent(record, false, true);
            engine_.Db().RecAdd(record, false);
        }
    }
    return storeError ? EntryOutcome::NotApplied : EntryOutcome::Applied;
}

// ---- Folders moved ---------------------------------------------------------------------------

EntryOutcome ReplayEntry::MoveFolder(const JournalEntry& entry)
{
    const QString& orig = entry.path;
    const QString& dest = entry.destPath;
    if (orig == dest)
        return EntryOutcome::Applied;
    PeltaRecVfsSyncFile source;
    PeltaRecVfsSyncFile target;
    bool sourceError = false;
    bool targetError = false;
    const bool sourceFound = Stored(orig, XFSFolder, source, sourceError);
    const bool targetFound = Stored(dest, XFSFolder, target, targetError);
    if (sourceError || targetError)
        return EntryOutcome::NotApplied;
    const QString from = engine_.ToLocalPath(orig);
    const QString to = engine_.ToLocalPath(dest);
    const LocalFacts sourceFacts = LocalItem::Stat(root_, from);

    if (sourceFacts.kind == LocalKind::Folder) {
        if (LocalItem::Stat(root_, to).kind != LocalKind::Missing) {
            PeltaSync::Log(kWhere + QStringLiteral("destination taken, source kept:") + entry.Describe(),
                           LogGeneral);
            WalkDestination(dest);
            return EntryOutcome::Applied;
        }
        // Taken before the rename: once the files are gone from the old
        // paths, the request worker cancels those rows.
        const QStringList unsent = sourceFound ? UnsentBelow(orig) : QStringList();
        Mark(orig);
        Mark(dest);
        int error = 0;
        const bool moved = LocalItem::RenameNoReplace(root_, from, to, error);
        if (!moved) {
            Unmark(orig);
            Unmark(dest);
            PeltaSync::Log(kWhere + QStringLiteral("folder not moved, source kept:") + entry.Describe() +
                               QLatin1Char(':') + LocalItem::ErrorText(error),
                           LogGeneral);
            WalkDestination(dest);
            return EntryOutcome::Applied;
        }
        LocalItem::SyncParent(root_, to, error);
        if (!targetFound)
            AddFolderRecord(dest, source, entry.version);
        if (sourceFound && MoveFolderRows(source, dest))
            RequeueMoved(unsent, orig, dest);
        engine_.SetIcon(orig, XICODel);
        engine_.SetIcon(dest, XICOSync);
        ShellNotice::ItemUpdated(orig);
        Unmark(orig);
        Unmark(dest);
        WalkDestination(dest);
        return EntryOutcome::Applied;
    }
    if (sourceFacts.kind == LocalKind::Unknown) {
        PeltaSync::Log(kWhere + QStringLiteral("cannot look at ") + orig + QLatin1Char(':') +
                           LocalItem::ErrorText(sourceFacts.error),
                       LogGeneral);
        return EntryOutcome::NotApplied;
    }
    if (sourceFacts.kind == LocalKind::Missing && sourceFound && !targetFound) {
        // Its rows move now, and the folder is made; its content comes
        // from the service. Should the walk not bring all of it, the rescan
        // restores what is missing before anything could take it for
        // deleted here.
        AddFolderRecord(dest, source, entry.version);
        MoveFolderRows(source, dest);
        MakeFolder(dest);
        engine_.SetIcon(orig, XICODel);
        engine_.SetIcon(dest, XICOSync);
        WalkDestination(dest);
        QueueRestoringRescan(dest);
        return EntryOutcome::Applied;
    }
    WalkDestination(dest);
    return EntryOutcome::Applied;
}

void ReplayEntry::AddFolderRecord(const QString& path, const PeltaRecVfsSyncFile& source, const QString& version)
{
    PeltaRecVfsSyncFile record;
    record.kind = XFSFolder;
    record.path = path;
    engine_.FillRecordKeys(record);
    record.version = version;
    if (source.found) {
        record.ctime = source.ctime;
        record.mtime = source.mtime;
    }
    engine_.CheckParent(record, true, false);
    engine_.Db().RecAdd(record, true);
}

bool ReplayEntry::MoveFolderRows(const PeltaRecVfsSyncFile& source, const QString& dest)
{
    int folders = 0;
    int files = 0;
    std::int64_t size = 0;
    const bool moved = RecordKey::IsValid(source.key) &&
                       engine_.MoveFolderRecords(source.key, engine_.RecordKey(dest), source.path, dest, folders,
                                                 files, size, 1);
    if (!moved) {
        // The rows not moved yet stay reachable from the source's own row.
        PeltaSync::Log(QStringLiteral("PeltaSync:resyncJournal:XSyncFolderMove:catch exception"), LogGeneral);
        return false;
    }
    // The destination's row stands for the source's own row now.
    engine_.Db().RecDelete(source.path, XFSFolder);
    return true;
}

// Paths below folder whose change made here has not gone up yet.
QStringList ReplayEntry::UnsentBelow(const QString& folder)
{
    QStringList paths;
    const auto statement = engine_.Db().NewStatement();
    const QString sql =
        QStringLiteral("select distinct path from sync_request where commit_time is null and status<10 and (action=") +
        QString::number(XSYNCFileAdd) + QStringLiteral(" or action=") + QString::number(XSYNCFileMod) +
        QStringLiteral(") and path>=") + PeltaRec::Literal(folder + QLatin1Char('\\')) + QStringLiteral(" and path<") +
        PeltaRec::Literal(folder + QLatin1Char(']'));
    if (engine_.Db().QueryWith(sql, *statement) > 0) {
        while (statement->FetchRow())
            paths << engine_.Db().ColumnText(QStringLiteral("path"), *statement);
    }
    return paths;
}

// The moved records keep the time and size of a change made here, so at the
// new paths that change reads as synchronised: it goes up from there.
void ReplayEntry::RequeueMoved(const QStringList& unsent, const QString& orig, const QString& dest)
{
    for (const QString& path : unsent)
        QueueUnsent(dest + path.mid(orig.size()));
}

bool ReplayEntry::MakeFolder(const QString& path)
{
    const QString full = engine_.ToLocalPath(path);
    Mark(path);
    int error = 0;
    bool made = LocalItem::MakeFolder(root_, full, error) || error == EEXIST;
    if (!made && error == ENOENT) {
        // Its own folder is missing too.
        PeltaRecVfsSyncFile record;
        record.kind = XFSFolder;
        record.path = path;
        engine_.FillRecordKeys(record);
        engine_.CheckParent(record, false, true);
        made = LocalItem::MakeFolder(root_, full, error);
    }
    Unmark(path);
    if (!made)
        PeltaSync::Log(kWhere + QStringLiteral("cannot make ") + path + QLatin1Char(':') + LocalItem::ErrorText(error),
                       LogGeneral);
    return made;
}

void ReplayEntry::WalkDestination(const QString& dest)
{
    QString timestamp;
    engine_.ResyncRemote(dest, true, true, true, timestamp, 1);
}

void ReplayEntry::QueueRestoringRescan(const QString& path)
{
    auto item = std::make_unique<PeltaFSQueue>(XMOResyncLocalNoRemoval, path);
    {
        std::lock_guard lock(csFSFinalQueue);
        FSFinalQueue.Push(std::move(item));
    }
    evtFSFinalQueue.Set();
}
