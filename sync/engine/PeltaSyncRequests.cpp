// PeltaSync: request rows - taking, saving, counting and cancelling them, and
// what the service's error messages do to them.

#include "sync/engine/PeltaSync.h"

#include "client/PeltaAPI.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/IncomingFetches.h"
#include "sync/engine/JournalBarrier.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/RecordKey.h"
#include "sync/rules/SafeReplace.h"
#include "sync/rules/UploadSnapshot.h"

#include <QByteArray>

#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace {

const QString kRoot = QStringLiteral("\\");

// The service's version this side knew when a deletion or move row was
// queued (its "version" option); none for a row that never kept one.
std::optional<QString> KnownVersion(const PeltaRecSyncRequest& request)
{
    const XMap opt = PeltaJSON::ParseToMap(request.opt);
    const auto known = opt.find(QStringLiteral("version"));
    if (known == opt.end())
        return std::nullopt;
    return known->second;
}

// The service's messages, compared exactly.
const QString kObjectPathError = QStringLiteral("object path error");
const QString kJournalExpired = QStringLiteral("sync_journal is expired or commited or fail");
const QString kQuotaFull = QStringLiteral("Quota 已滿");
const QString kQuotaError = QStringLiteral("Quota Error");
const QString kAgentKeyNotMatch = QStringLiteral("agent_key not match in sync_journal");
const QString kParentNotExist = QStringLiteral("parent not exist");
const QString kParentOfDestNotExist = QStringLiteral("parent of dest not exist");
const QString kFileNotExist = QStringLiteral("file not exist");
const QString kFileRecycled = QStringLiteral("file has been recycled");
const QString kFileNotFound = QStringLiteral("file not found in metadata");
const QString kDestFileExists = QStringLiteral("dest file exists");
const QString kOrigFileNotFound = QStringLiteral("orig file not found in metadata");
const QString kOrigFileRecycled = QStringLiteral("orig file has been recycled");
const QString kFolderExists = QStringLiteral("folder already exist");
const QString kFolderRecycled = QStringLiteral("folder has been recycled");
const QString kFolderNotFound = QStringLiteral("folder not found in metadata");
const QString kOrigFolderNotFound = QStringLiteral("orig folder not found in metadata");
const QString kOrigFolderRecycled = QStringLiteral("orig folder has been recycled");
const QString kDestFolderExists = QStringLiteral("dest folder exists");
const QString kCachingExpired = QStringLiteral("caching data expired or not set");

QString Number(std::int64_t value)
{
    return QString::number(value);
}

QString RowClause(const PeltaRecSyncRequest& request)
{
    return QStringLiteral(" where rowid=") + Number(request.rowid);
}

// The rowid that a snapshot name "_<key>_<rowid>" (or its note or temporary
// copy) carries; -1 for any other name of the key, 0 for the core's copy.
int SnapshotRowid(const QString& name, const QString& key)
{
    const QString prefix = QLatin1Char('_') + key;
    if (!name.startsWith(prefix))
        return -1;
    const QString rest = name.mid(prefix.size());
    if (rest.isEmpty())
        return 0;
    if (!rest.startsWith(QLatin1Char('_')))
        return -1;
    qsizetype end = 1;
    while (end < rest.size() && rest.at(end).isDigit())
        ++end;
    bool ok = false;
    const int rowid = rest.mid(1, end - 1).toInt(&ok);
    return ok && rowid > 0 ? rowid : -1;
}

// An add of the deleted item (an upload for a file) that was queued before
// the deletion and is still open.
bool AddOpenBefore(PeltaDb& db, const PeltaRecSyncRequest& deletion)
{
    const QString adds = deletion.action == XSYNCFolderDel
                             ? QStringLiteral("action=") + Number(XSYNCFolderAdd)
                             : QStringLiteral("(action=") + Number(XSYNCFileAdd) + QStringLiteral(" or action=") +
                                   Number(XSYNCFileMod) + QLatin1Char(')');
    return db.NewStatement()->QueryDouble(QStringLiteral("select count(*) from sync_request where path=") +
                                          PeltaRec::Literal(deletion.path) +
                                          QStringLiteral(" and commit_time is null and status<10 and rowid<") +
                                          Number(deletion.rowid) + QStringLiteral(" and ") + adds) > 0;
}

}  // namespace

bool PeltaSync::IsUploadAction(int action)
{
    return action == XSYNCFileAdd || action == XSYNCFileMod;
}

// ---- Taking and saving rows ---------------------------------------------------

bool PeltaSync::GetNextRequest(PeltaRecSyncRequest& request)
{
    // Fields that the row does not hold (version, the service's message)
    // never carry over from the row handled before.
    request.Clear();
    bool taken = false;
    Guarded("PeltaSync::GetNextRequest", [&] { taken = db_->GetNextRequest(request, 2); });
    return taken;
}

bool PeltaSync::SaveRequestStatus(PeltaRecSyncRequest& request)
{
    const QString head = QStringLiteral("update sync_request set status=") + Number(request.status) +
                         QStringLiteral(", update_time=CURRENT_TIMESTAMP");
    switch (request.status) {
    case RequestNoJournal:
        db_->Exec(head +
                  QStringLiteral(", sync_journal_key='', sync_journal_key_checksum='', sync_journal_key_expire=''") +
                  RowClause(request));
        break;
    case RequestRegister:
        db_->Exec(head + QStringLiteral(", sync_journal_key=") + PeltaRec::Literal(request.sync_journal_key) +
                  QStringLiteral(", sync_journal_key_checksum=") +
                  PeltaRec::Literal(request.sync_journal_key_checksum) + QStringLiteral(", sync_journal_key_expire=") +
                  PeltaRec::Literal(Number(request.sync_journal_key_expire)) + RowClause(request));
        break;
    case RequestCommitted: {
        db_->Exec(head + QStringLiteral(", commit_time=CURRENT_TIMESTAMP") + RowClause(request));
        SetIcon(request.path, XICOSync);
        // An empty version would read as "never synchronised" and let a
        // later walk replace the local file: only a real one is stored.
        // A move gives the file a version of its own too: a later deletion
        // is meant for that one.
        const int kind = IsUploadAction(request.action) || request.action == XSYNCFileMove ? XFSFile
                         : request.action == XSYNCFolderAdd                               ? XFSFolder
                                                                                          : XFSNone;
        if (kind != XFSNone && !request.version.isEmpty() && RecordKey::IsValid(request.key))
            db_->RecUpdateFields(request.key, kind, XMap{{QStringLiteral("version"), request.version}});
        if (kind == XFSFile)
            PassVersionToDeletions(request, request.version);
        break;
    }
    case RequestTransfer:
    case RequestTransferAlt:
    case RequestFetched:
    case RequestFetchDone:
        db_->Exec(head + RowClause(request));
        break;
    default:
        break;
    }
    return true;
}

bool PeltaSync::IncRequestErrCount(PeltaRecSyncRequest& request)
{
    ++request.err_count;
    if (request.rowid != 0)
        db_->Exec(QStringLiteral("update sync_request set err_count=err_count+1, update_time=CURRENT_TIMESTAMP") +
                  RowClause(request));
    return true;
}

bool PeltaSync::CancelRequest(PeltaRecSyncRequest& request)
{
    if (request.rowid == 0)
        return true;
    db_->Exec(QStringLiteral("update sync_request set status=") + Number(RequestCancelled) +
              QStringLiteral(", update_time=CURRENT_TIMESTAMP") + RowClause(request));
    Log(QStringLiteral("PeltaSync:CancelRequest(id=") + Number(request.rowid) + QStringLiteral("):") +
            XSYNCName(request.action) + QLatin1Char(':') + request.path,
        LogSync);
    if (IsUploadAction(request.action))
        RemoveUploadSnapshot(request);
    return true;
}

bool PeltaSync::ResetRequest(PeltaRecSyncRequest& request)
{
    db_->Exec(QStringLiteral("update sync_request set err_count=") + Number(request.err_count) +
              QStringLiteral(", opt=") + PeltaRec::Literal(request.opt) + QStringLiteral(", action=") +
              Number(request.action) + QStringLiteral(", status=") + Number(request.status) +
              QStringLiteral(", update_time=CURRENT_TIMESTAMP") + RowClause(request));
    return true;
}

bool PeltaSync::RegisterAgain(PeltaRecSyncRequest& request)
{
    request.status = RequestRegister;
    request.sync_journal_key.clear();
    request.sync_journal_key_checksum.clear();
    request.sync_journal_key_expire = 0;
    SaveRequestStatus(request);
    // The registration takes a fresh snapshot; the old one goes now, as
    // the row may yet be replaced by a newer change before it runs again.
    if (IsUploadAction(request.action) && RecordKey::IsValid(request.key))
        UploadSnapshot::Remove(SyncFolder(), SnapshotOf(request));
    return true;
}

// ---- Snapshots -------------------------------------------------------------------

QString PeltaSync::SnapshotOf(const PeltaRecSyncRequest& request) const
{
    return UploadSnapshot::PathOf(CacheDir(), request.key, request.rowid);
}

bool PeltaSync::TakeUploadSnapshot(const PeltaRecSyncRequest& request, PeltaRecVfsSyncFile& copy)
{
    const auto folders = Folders();
    const QString source = Full(*folders, Relative(*folders, request.path, QStringLiteral("PeltaSync::Snapshot")));
    if (source.isEmpty() || !RecordKey::IsValid(request.key) || !EnsureCacheDir())
        return false;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    int error = 0;
    if (!UploadSnapshot::Take(folders->SyncFolder(), source,
                              UploadSnapshot::PendingPathOf(folders->CacheDir(), request.key),
                              UploadSnapshot::PathOf(folders->CacheDir(), request.key, request.rowid), size, mtime,
                              error)) {
        Log(QStringLiteral("PeltaSync:Snapshot:Err:") + request.path + QLatin1Char(':') + LocalItem::ErrorText(error) +
                QLatin1Char('(') + Number(error) + QLatin1Char(')'),
            LogGeneral);
        return false;
    }
    copy.size = size;
    copy.mtime = static_cast<std::int32_t>(mtime);
    return true;
}

void PeltaSync::RemoveStaleSnapshots(const SyncFolders& folders, const QString& key)
{
    // The cache folder is looked at first, so the rows are asked about only
    // when the key has a snapshot at all.
    int error = 0;
    const FileDescriptor folder = LocalItem::OpenFolder(folders.SyncFolder(), folders.CacheDir(), error);
    if (!folder.IsOpen())
        return;
    const int fd = ::dup(folder.Get());
    DIR* const listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (listing == nullptr) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    std::vector<std::pair<QString, int>> found;
    while (const dirent* entry = ::readdir(listing)) {
        const QString name = QString::fromUtf8(entry->d_name);
        const int rowid = SnapshotRowid(name, key);
        if (rowid >= 0)
            found.emplace_back(name, rowid);
    }
    ::closedir(listing);
    if (found.empty())
        return;

    std::set<int> open;
    const bool listed = Guarded("PeltaSync::RemoveStaleSnapshots", [&] {
        const auto statement = db_->NewStatement();
        if (db_->QueryWith(QStringLiteral("select rowid from sync_request where key=") + PeltaRec::Literal(key) +
                               QStringLiteral(" and commit_time is null and status<10"),
                           *statement) <= 0)
            return;
        while (statement->FetchRow())
            open.insert(db_->GetColumnInt(QStringLiteral("rowid"), *statement));
    });
    if (!listed)
        return;
    for (const auto& [name, rowid] : found) {
        if (rowid == 0 || open.count(rowid) == 0)
            LocalItem::RemoveFile(folders.SyncFolder(), folders.CacheDir() + QLatin1Char('/') + name, error);
    }
}

void PeltaSync::RemoveUploadSnapshot(const PeltaRecSyncRequest& request)
{
    if (!RecordKey::IsValid(request.key))
        return;
    UploadSnapshot::Remove(SyncFolder(), SnapshotOf(request));
    DropUnclaimedLockedCopy(request.path, request.key, request.rowid);
}

void PeltaSync::DropUnclaimedLockedCopy(const QString& path, const QString& key, int excludeRowid)
{
    if (!RecordKey::IsValid(key) || UploadRowOpen(path, excludeRowid))
        return;
    UploadSnapshot::Remove(SyncFolder(), UploadSnapshot::PendingPathOf(CacheDir(), key));
}

bool PeltaSync::RequestOpen(const QString& path, int action, int excludeRowid)
{
    bool open = true;
    Guarded("PeltaSync::RequestOpen", [&] { open = db_->RequestPending(path, action, excludeRowid); });
    return open;
}

bool PeltaSync::UploadRowOpen(const QString& path, int excludeRowid)
{
    bool open = false;
    Guarded("PeltaSync::UploadRowOpen", [&] {
        QString sql = QStringLiteral("select count(*) from sync_request where path=") + PeltaRec::Literal(path) +
                      QStringLiteral(" and commit_time is null and status<10 and (action=") + Number(XSYNCFileAdd) +
                      QStringLiteral(" or action=") + Number(XSYNCFileMod) + QLatin1Char(')');
        if (excludeRowid > 0)
            sql += QStringLiteral(" and rowid<>") + Number(excludeRowid);
        open = db_->NewStatement()->QueryDouble(sql) > 0;
    });
    return open;
}

bool PeltaSync::LocalContentOpen(const QString& path)
{
    if (UploadRowOpen(path))
        return true;
    bool open = true;
    Guarded("PeltaSync::LocalContentOpen", [&] {
        open = db_->NewStatement()->QueryDouble(QStringLiteral("select count(*) from sync_request where path=") +
                                                PeltaRec::Literal(path) +
                                                QStringLiteral(" and commit_time is null and status<10 and action=") +
                                                Number(XSYNCFileMove)) > 0;
    });
    return open;
}

bool PeltaSync::UploadWaitsForMove(PeltaRecSyncRequest& request)
{
    if (request.rowid <= 0 || !MoveOntoOpen(request.path, request.rowid))
        return false;
    Log(QStringLiteral("PeltaSync:Upload:waits for the move onto it:") + request.path, LogSync);
    IncRequestErrCount(request);
    return true;
}

bool PeltaSync::MoveOntoOpen(const QString& path, int beforeRowid)
{
    QString sql = QStringLiteral("select count(*) from sync_request where path=") + PeltaRec::Literal(path) +
                  QStringLiteral(" and commit_time is null and status<10 and action=") + Number(XSYNCFileMove);
    if (beforeRowid > 0)
        sql += QStringLiteral(" and rowid<") + Number(beforeRowid);
    bool open = true;
    Guarded("PeltaSync::MoveOntoOpen", [&] { open = db_->NewStatement()->QueryDouble(sql) > 0; });
    return open;
}

bool PeltaSync::PathRowOpen(const QString& path)
{
    bool open = true;
    Guarded("PeltaSync::PathRowOpen", [&] {
        const QString literal = PeltaRec::Literal(path);
        open = db_->NewStatement()->QueryDouble(QStringLiteral("select count(*) from sync_request where (path=") +
                                                literal + QStringLiteral(" or path2=") + literal +
                                                QStringLiteral(") and commit_time is null and status<=") +
                                                Number(RequestFetched)) > 0;
    });
    return open;
}

// ---- The service's error messages -------------------------------------------------

bool PeltaSync::HandleJournalError(PeltaRecSyncRequest& request, const QString& message, JournalErrorEffect* effect)
{
    bool result = true;
    JournalErrorEffect done = JournalErrorEffect::None;
    if (!HandleCommonError(request, message, result, done)) {
        done = HandleActionError(request, message, result);
        request.serverMsg = message;
    }
    if (effect != nullptr)
        *effect = done;
    return result;
}

// The messages for every action; false when the message is none of them.
bool PeltaSync::HandleCommonError(PeltaRecSyncRequest& request, const QString& message, bool& result,
                                  JournalErrorEffect& effect)
{
    result = true;
    effect = JournalErrorEffect::None;
    if (message == kObjectPathError) {
        if (request.action == XSYNCFileMove) {
            effect = FileMoveRefused(request);
            return true;
        }
        CancelRequest(request);
        effect = JournalErrorEffect::Cancelled;
        return true;
    }
    if (message == kJournalExpired) {
        RegisterAgain(request);
        result = false;
        effect = JournalErrorEffect::Register;
        return true;
    }
    if (message == kQuotaFull || message == kQuotaError) {
        NotifyQuotaFull(message == kQuotaError);
        IncRequestErrCount(request);
        return true;
    }
    if (message == kAgentKeyNotMatch) {
        // The journal key belongs to the agent key the row was registered
        // with; only a new registration under the current one can commit.
        request.agent_key = Settings()->Get(QStringLiteral("agent_key"));
        if (request.rowid != 0)
            db_->Exec(QStringLiteral("update sync_request set agent_key=") + PeltaRec::Literal(request.agent_key) +
                      RowClause(request));
        RegisterAgain(request);
        effect = JournalErrorEffect::Register;
        return true;
    }
    return false;
}

// A folder gone here as well (the service moved or removed it, and so did
// the replay here) is not made again on the service; the row's next run
// finds its file gone.
bool PeltaSync::ParentToMakeOnService(const QString& parent)
{
    const QString full = ToLocalPath(parent);
    if (!full.isEmpty() && LocalItem::Stat(SyncFolder(), full).kind == LocalKind::Folder)
        return true;
    Log(QStringLiteral("PeltaSync:parent not exist:gone here too, not made on the service:") + parent, LogGeneral);
    return false;
}

// A row's parent that the service lacks may be one that another computer
// moved or removed, with the replay of that change still to come here: the
// journal is replayed past the refusal before the folder here is looked at.
// A refusal met outside a row (an immediate registration) takes the folder
// as it is here.
bool PeltaSync::ReplayCaughtUp(const PeltaRecSyncRequest& request)
{
    if (request.rowid == 0)
        return true;
    if (JournalBarrier::WaitForReplay([this] { return AbortRaised(); }))
        return true;
    Log(QStringLiteral("PeltaSync:parent not exist:journal not replayed yet, tried again later:") + request.path,
        LogGeneral);
    return false;
}

// The messages by action; a message that no row names leaves the row alone
// and counts (result true).
PeltaSync::JournalErrorEffect PeltaSync::HandleActionError(PeltaRecSyncRequest& request, const QString& message,
                                                           bool& result)
{
    result = true;
    switch (request.action) {
    case XSYNCFileAdd:
    case XSYNCFileMod:
        if (message == kParentNotExist) {
            const QString parent = ParentPath(request.path);
            if (ReplayCaughtUp(request) && ParentToMakeOnService(parent)) {
                FileAdd(parent, 0, false, false);
                SyncObjectNow(parent, XSYNCFolderAdd);
            }
            IncRequestErrCount(request);
        } else if (message == kFileNotExist) {
            SaveRequestStatus(request);
        }
        return JournalErrorEffect::None;
    case XSYNCFileDel:
        if (message == kFileRecycled || message == kFileNotFound) {
            CancelRequest(request);
            return JournalErrorEffect::Cancelled;
        }
        return JournalErrorEffect::None;
    case XSYNCFileMove:
        if (message == kDestFileExists)
            return FileMoveRefused(request);
        if (message == kOrigFileNotFound || message == kOrigFileRecycled || message == kParentOfDestNotExist)
            return MoveSourceGone(request, false);
        return JournalErrorEffect::None;
    case XSYNCFileGet:
        if (message == kFileNotFound) {
            // Often moved there, with the move's replay still to come: the
            // row stays open until the journal is replayed past the refusal,
            // so the move finds the service's change of the old name never
            // came here (a change here still to go up then stays based on
            // the version it was made from).
            if (!ReplayCaughtUp(request)) {
                IncRequestErrCount(request);
                return JournalErrorEffect::None;
            }
            CancelRequest(request);
            if (request.rowid != 0)
                ForgetFileGoneEverywhere(request.path);
            return JournalErrorEffect::Cancelled;
        }
        IncRequestErrCount(request);
        return JournalErrorEffect::None;
    case XSYNCFolderAdd:
        if (message == kFolderExists) {
            result = false;
            return JournalErrorEffect::Settled;
        }
        if (message == kParentNotExist)
            return FolderParentMissing(request, result);
        return JournalErrorEffect::None;
    case XSYNCFolderDel:
        if (message == kFolderRecycled || message == kFolderNotFound) {
            result = false;
            return JournalErrorEffect::Settled;
        }
        return JournalErrorEffect::None;
    case XSYNCFolderMove:
        if (message == kOrigFolderNotFound || message == kOrigFolderRecycled) {
            result = false;
            return MoveSourceGone(request, true);
        }
        if (message == kDestFolderExists) {
            CancelRequest(request);
            QString timestamp;
            ResyncRemote(request.path, true, false, true, timestamp, 1);
            return JournalErrorEffect::Cancelled;
        }
        return JournalErrorEffect::None;
    default:
        if (message == kCachingExpired) {
            CancelRequest(request);
            result = false;
            return JournalErrorEffect::Cancelled;
        }
        return JournalErrorEffect::None;
    }
}

// A move whose source the service no longer has, or whose destination has
// no parent there: the service holds nothing at the new path. The move row
// is cancelled first (an open row would keep the add from being queued),
// then the item's row is dropped, so that it is read again without a version
// and queued as a new item whose content reaches the service.
PeltaSync::JournalErrorEffect PeltaSync::MoveSourceGone(PeltaRecSyncRequest& request, bool folder)
{
    CancelRequest(request);
    Log(QStringLiteral("PeltaSync:HandleJournalError:move refused, add anew:") + request.path, LogSync);
    Guarded("PeltaSync:HandleJournalError", [&] { db_->RecDelete(request.path, folder ? XFSFolder : XFSFile); });
    FileAdd(request.path, folder ? 1 : 0, false, true);
    return JournalErrorEffect::Cancelled;
}

// A download the service no longer has, of a file that is not here
// either: its record describes nothing. Dropped, so that no later walk
// takes the missing file for a deletion here; should the journal move the
// file on the service later, the move fetches it under its new name.
void PeltaSync::ForgetFileGoneEverywhere(const QString& path)
{
    const auto folders = Folders();
    const QString full = Full(*folders, Relative(*folders, path, QStringLiteral("PeltaSync:HandleJournalError")));
    if (full.isEmpty() || LocalItem::Stat(folders->SyncFolder(), full).kind != LocalKind::Missing)
        return;
    Log(QStringLiteral("PeltaSync:HandleJournalError:neither here nor on the service, record dropped:") + path,
        LogSync);
    Guarded("PeltaSync:HandleJournalError", [&] { db_->RecDelete(path, XFSFile); });
}

// A file's move that the service refuses - outright, or because another
// file holds the new name there: the service keeps the old name and this
// side has only the new one. Taking the move for done would leave the old
// name on the service for good, and the record of the new name would claim
// another file's place. The move is made there as a deletion of the old name
// (only in the version this side knew, see CheckDeletion; not when the old
// name is an item here again) and an add of the new one, which the service
// keeps beside another file at that name as a conflict copy.
PeltaSync::JournalErrorEffect PeltaSync::FileMoveRefused(PeltaRecSyncRequest& request)
{
    PeltaRecVfsSyncFile moved;
    moved.kind = XFSFile;
    moved.path = request.path;
    bool found = false;
    Guarded("PeltaSync:HandleJournalError", [&] { found = db_->RecGet(moved); });
    const QString& oldPath = request.path2;
    if (!found || oldPath.isEmpty() || oldPath == kRoot) {
        CancelRequest(request);
        return JournalErrorEffect::Cancelled;
    }
    Log(QStringLiteral("PeltaSync:HandleJournalError:move refused, old name deleted, new name added:") + oldPath +
            QLatin1Char(',') + request.path,
        LogSync);
    Guarded("PeltaSync:HandleJournalError", [&] {
        PeltaRecVfsSyncFile stored;
        stored.kind = XFSFile;
        stored.path = oldPath;
        if (db_->RecGet(stored) || stored.error ||
            LocalItem::Stat(SyncFolder(), ToLocalPath(oldPath)).kind != LocalKind::Missing)
            return;  // the old name is an item of its own here again
        PeltaRecVfsSyncFile old;
        old.kind = XFSFile;
        old.path = oldPath;
        old.key = RecordKey(oldPath);
        old.sn = moved.sn;
        old.version = moved.version;
        DeleteStored(old, 0);
    });
    return MoveSourceGone(request, false);
}

PeltaSync::JournalErrorEffect PeltaSync::FolderParentMissing(PeltaRecSyncRequest& request, bool& result)
{
    if (!ReplayCaughtUp(request)) {
        IncRequestErrCount(request);
        return JournalErrorEffect::None;
    }
    if (!LocalFolderExists(request.path)) {
        CancelRequest(request);
        result = false;
        return JournalErrorEffect::Cancelled;
    }
    const QString parent = ParentPath(request.path);
    FileAdd(parent, 0, false, false);
    if (SyncObjectNow(parent, XSYNCFolderAdd) && SyncObjectNow(request.path, XSYNCFolderAdd)) {
        CancelRequest(request);
        result = false;
        return JournalErrorEffect::Cancelled;
    }
    return JournalErrorEffect::None;
}

// ---- A commit the service calls expired or committed ------------------------------

bool PeltaSync::SettleFromService(PeltaRecSyncRequest& request)
{
    return IsUploadAction(request.action) ? SettleUpload(request) : SettleOther(request);
}

// The service holds this upload when its file has the size and modification
// time that the registration sent.
bool PeltaSync::SettleUpload(PeltaRecSyncRequest& request)
{
    QString url;
    XMap metadata;
    bool counted = false;
    PeltaRecSyncRequest check = request;
    check.rowid = 0;  // the question touches no row
    check.action = XSYNCFileGet;
    if (AskFileCheck(check, "SettleFromService", url, metadata, counted) != CheckAnswer::Ok)
        return false;
    const XMap sent = PeltaJSON::ParseToMap(request.opt);
    if (Field(metadata, "size") != Field(sent, "size") ||
        Field(metadata, "local_mtime") != Field(sent, "local_mtime")) {
        Log(QStringLiteral("PeltaSync:SettleFromService:") + request.path +
                QStringLiteral(":not on the service, register again"),
            LogSync);
        return false;
    }
    return CommitSettled(request, Field(metadata, "version"));
}

bool PeltaSync::SettleOther(PeltaRecSyncRequest& request)
{
    PeltaRecVfsSyncFile item;
    item.path = request.path;
    switch (request.action) {
    case XSYNCFolderAdd:
        item.kind = XFSFolder;
        return LookUpRemote(item) == Remote::Listed && CommitSettled(request, item.version);
    case XSYNCFileDel:
    case XSYNCFolderDel:
        item.kind = request.action == XSYNCFileDel ? XFSFile : XFSFolder;
        return LookUpRemote(item) == Remote::Absent && CommitSettled(request, QString());
    case XSYNCFileMove:
    case XSYNCFolderMove: {
        item.kind = request.action == XSYNCFileMove ? XFSFile : XFSFolder;
        PeltaRecVfsSyncFile source;
        source.kind = item.kind;
        source.path = request.path2;
        return LookUpRemote(item) == Remote::Listed && LookUpRemote(source) == Remote::Absent &&
               CommitSettled(request, item.version);
    }
    default:
        return false;
    }
}

bool PeltaSync::CommitSettled(PeltaRecSyncRequest& request, const QString& version)
{
    Log(QStringLiteral("PeltaSync:SettleFromService:") + request.path +
            QStringLiteral(":the service has it, version=") + version,
        LogSync);
    request.version = version;
    request.status = RequestCommitted;
    SaveRequestStatus(request);
    if (IsUploadAction(request.action))
        RemoveUploadSnapshot(request);
    return true;
}

// ---- Deletions and the adds before them --------------------------------------------

PeltaSync::DeletionCheck PeltaSync::CheckDeletion(PeltaRecSyncRequest& request)
{
    bool waits = true;
    Guarded("PeltaSync::CheckDeletion", [&] { waits = request.rowid > 0 && AddOpenBefore(*db_, request); });
    if (waits) {
        Log(QStringLiteral("PeltaSync:CheckDeletion:waits for the add before it:") + request.path, LogSync);
        IncRequestErrCount(request);
        return DeletionCheck::Wait;
    }
    if (request.action == XSYNCFolderDel)
        return CheckFolderDeletion(request);
    if (request.action != XSYNCFileDel)
        return DeletionCheck::Send;
    if (FileHereAsRecorded(request.path)) {
        Log(QStringLiteral("PeltaSync:CheckDeletion:the file is here again as the service has it, not deleted:") +
                request.path,
            LogSync);
        CancelRequest(request);
        return DeletionCheck::Dropped;
    }
    const std::optional<QString> known = KnownVersion(request);
    if (!known)
        return DeletionCheck::Send;  // a row that never kept the version

    PeltaRecVfsSyncFile remote;
    const DeletionCheck held = CompareWithService(request, request.path, *known, remote);
    if (held != DeletionCheck::Dropped)
        return held;
    Log(QStringLiteral("PeltaSync:CheckDeletion:the service holds version ") + remote.version +
            QStringLiteral(", deleted here was ") + (known->isEmpty() ? QStringLiteral("none") : *known) +
            QStringLiteral(", fetched again:") + request.path,
        LogSync);
    CancelRequest(request);
    FetchKeptFile(remote);
    return DeletionCheck::Dropped;
}

// A file of the service's that a deletion here did not reach (kept and
// fetched again, or new there) is on its way into the folder: the folder's
// deletion waits for that download, which makes the folder again. A folder
// that is here again and not being added anew by the user keeps what it
// holds on the service: its deletion is dropped and the service's content
// is walked into it.
PeltaSync::DeletionCheck PeltaSync::CheckFolderDeletion(PeltaRecSyncRequest& request)
{
    // A fetch under way queues its row before it ends, so it is asked first.
    const bool underWay = IncomingFetches::AnyBelow(request.path);
    bool fetching = true;
    Guarded("PeltaSync::CheckDeletion", [&] {
        if (underWay)
            return;
        const QString below = PeltaRec::Literal(request.path + QLatin1Char('\\'));
        const QString beyond = PeltaRec::Literal(request.path + QLatin1Char(']'));
        fetching = db_->NewStatement()->QueryDouble(
                       QStringLiteral("select count(*) from sync_request where action=") + Number(XSYNCFileGet) +
                       QStringLiteral(" and path>=") + below + QStringLiteral(" and path<") + beyond +
                       QStringLiteral(" and commit_time is null and status<=7")) > 0;
    });
    if (fetching) {
        Log(QStringLiteral("PeltaSync:CheckDeletion:waits for the download into it:") + request.path, LogSync);
        IncRequestErrCount(request);
        return DeletionCheck::Wait;
    }
    if (!LocalFolderExists(request.path) || RequestOpen(request.path, XSYNCFolderAdd, request.rowid))
        return DeletionCheck::Send;
    Log(QStringLiteral("PeltaSync:CheckDeletion:the folder is here again with the service's content, kept:") +
            request.path,
        LogSync);
    CancelRequest(request);
    // Stored again as the service has it, and what else the service holds
    // in it comes here too.
    PeltaRecVfsSyncFile folder;
    folder.kind = XFSFolder;
    folder.path = request.path;
    CheckRemoteObject(folder);
    QString timestamp;
    ResyncRemote(request.path, true, false, false, timestamp, 1);
    return DeletionCheck::Dropped;
}

PeltaSync::DeletionCheck PeltaSync::CheckFileMove(PeltaRecSyncRequest& request)
{
    if (request.action != XSYNCFileMove)
        return DeletionCheck::Send;
    const std::optional<QString> known = KnownVersion(request);
    if (!known || known->isEmpty())
        return DeletionCheck::Send;  // a row that never kept the version

    PeltaRecVfsSyncFile remote;
    const DeletionCheck held = CompareWithService(request, request.path2, *known, remote);
    if (held != DeletionCheck::Dropped)
        return held;
    Log(QStringLiteral("PeltaSync:CheckFileMove:the service holds version ") + remote.version +
            QStringLiteral(", moved here was ") + *known + QStringLiteral(", fetched again:") + request.path2 +
            QStringLiteral(", goes up as a new file:") + request.path,
        LogSync);
    CancelRequest(request);
    FetchKeptFile(remote);
    SendAsNewFile(request.path);
    return DeletionCheck::Dropped;
}

// The file here no longer stands for any version of the service's: its
// record forgets the version and the file goes up as an add.
void PeltaSync::SendAsNewFile(const QString& path)
{
    Guarded("PeltaSync::SendAsNewFile", [&] {
        PeltaRecVfsSyncFile stored;
        stored.kind = XFSFile;
        stored.path = path;
        if (!db_->RecGet(stored) || !RecordKey::IsValid(stored.key))
            return;
        db_->RecUpdateFields(stored.key, XFSFile, XMap{{QStringLiteral("version"), QString()}});
        stored.version.clear();
        if (!UploadRowOpen(path))
            db_->AddSyncRequest(stored, XSYNCFileAdd, false);
    });
}

bool PeltaSync::FileHereAsRecorded(const QString& path)
{
    const QString full = ToLocalPath(path);
    if (full.isEmpty())
        return false;
    const LocalFacts facts = LocalItem::Stat(SyncFolder(), full);
    if (facts.kind != LocalKind::File)
        return false;
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = path;
    bool found = false;
    if (!Guarded("PeltaSync::FileHereAsRecorded", [&] { found = db_->RecGet(stored); }))
        return false;
    const SafeReplace::Stored record{found, stored.size, stored.mtime, stored.version};
    return SafeReplace::Matches(facts.size, facts.mtime, record, UploadRowOpen(path));
}

// Whether the service's file at servicePath is still the version this side
// knew (known; empty: none): Send when it is, or when the service holds
// nothing there (its answer settles the row); Wait when it could not be
// looked up; Dropped when it holds another version, which remote then holds.
PeltaSync::DeletionCheck PeltaSync::CompareWithService(PeltaRecSyncRequest& request, const QString& servicePath,
                                                       const QString& known, PeltaRecVfsSyncFile& remote)
{
    remote.kind = XFSFile;
    remote.path = servicePath;
    switch (LookUpRemote(remote)) {
    case Remote::Absent:
        return DeletionCheck::Send;
    case Remote::Failed:
        IncRequestErrCount(request);
        return DeletionCheck::Wait;
    case Remote::Listed:
        break;
    }
    return !known.isEmpty() && remote.version == known ? DeletionCheck::Send : DeletionCheck::Dropped;
}

// The service's file that a deletion here did not reach comes back: recorded
// with the service's facts when the store has no record of it, and fetched
// (beside a local file there, through the safe replace).
void PeltaSync::FetchKeptFile(PeltaRecVfsSyncFile& remote)
{
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = remote.path;
    bool recorded = false;
    Guarded("PeltaSync::CheckDeletion", [&] { recorded = db_->RecGet(stored) || db_->RecAdd(remote, true); });
    if (recorded)
        QueueFileGet(remote);
}

void PeltaSync::PassVersionToDeletions(const PeltaRecSyncRequest& upload, const QString& version)
{
    if (version.isEmpty() || upload.rowid <= 0)
        return;
    Guarded("PeltaSync::PassVersionToDeletions", [&] {
        std::vector<std::pair<int, QString>> rows;
        const auto statement = db_->NewStatement();
        // A file move queued after the upload moves that version too.
        const QString path = PeltaRec::Literal(upload.path);
        if (db_->QueryWith(QStringLiteral("select rowid, opt from sync_request where ((path=") + path +
                               QStringLiteral(" and action=") + Number(XSYNCFileDel) +
                               QStringLiteral(") or (path2=") + path + QStringLiteral(" and action=") +
                               Number(XSYNCFileMove) +
                               QStringLiteral(")) and commit_time is null and status<10 and rowid>") +
                               Number(upload.rowid),
                           *statement) <= 0)
            return;
        while (statement->FetchRow())
            rows.emplace_back(db_->GetColumnInt(QStringLiteral("rowid"), *statement),
                              db_->ColumnText(QStringLiteral("opt"), *statement));
        for (auto& [rowid, text] : rows) {
            XMap opt = PeltaJSON::ParseToMap(text);
            opt[QStringLiteral("version")] = version;
            db_->Exec(QStringLiteral("update sync_request set opt=") + PeltaRec::Literal(PeltaJSON::MapToJson(opt)) +
                      QStringLiteral(" where rowid=") + Number(rowid));
        }
    });
}
