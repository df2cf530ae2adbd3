// PeltaSync: downloads - of a queued XSYNCFileGet row through the cache
// folder with resume, and at once for a small file - and the one safe way a
// download is put into place.

#include "sync/engine/PeltaSync.h"

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalChangeLock.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/PendingLocalMoves.h"
#include "sync/rules/RecordKey.h"

#include <QDateTime>
#include <QStringList>

#include <cerrno>

namespace {

// A download's file in the cache folder and its notes.
void RemoveDownloadParts(const QString& root, const QString& target)
{
    int ignored = 0;
    for (const QString& name : {target, target + QStringLiteral("_v"), target + QStringLiteral("_t")})
        LocalItem::RemoveFile(root, name, ignored);
}

const QString kRoot = QStringLiteral("\\");
const QString kFileNotFound = QStringLiteral("file not found in metadata");

QString ErrorSuffix(int error)
{
    return QStringLiteral("err(") + QString::number(error) + QStringLiteral("):") + LocalItem::ErrorText(error);
}

bool NotAFile(LocalKind kind)
{
    return kind == LocalKind::Folder || kind == LocalKind::Other;
}

bool IsScalarText(const QString& text)
{
    return !text.isEmpty() && !text.startsWith(QLatin1Char(':'));
}

bool IsCount(const QString& text)
{
    bool ok = false;
    return text.toLongLong(&ok) >= 0 && ok;
}

// The three values a download is checked and recorded with.
XMap DownloadFacts(const XMap& metadata)
{
    return XMap{{QStringLiteral("local_mtime"), PeltaSync::Field(metadata, "local_mtime")},
                {QStringLiteral("size"), PeltaSync::Field(metadata, "size")},
                {QStringLiteral("version"), PeltaSync::Field(metadata, "version")}};
}

bool HasDownloadFacts(const XMap& facts)
{
    return IsCount(PeltaSync::Field(facts, "size")) && IsCount(PeltaSync::Field(facts, "local_mtime")) &&
           IsScalarText(PeltaSync::Field(facts, "version"));
}

std::int64_t Int(const XMap& facts, const char* name)
{
    return PeltaSync::Field(facts, name).toLongLong();
}

}  // namespace

QString PeltaSync::DownloadTarget(const QString& key) const
{
    return CacheDir() + QStringLiteral("/.") + key;
}

// ---- The file check ----------------------------------------------------------------

PeltaSync::CheckAnswer PeltaSync::AskFileCheck(PeltaRecSyncRequest& request, const char* where, QString& url,
                                               XMap& metadata, bool& counted)
{
    const QString origin = QString::fromLatin1(where);
    counted = false;
    QString body;
    if (!api_->BuildGetFileCheck(request, url, body))
        return CheckAnswer::Malformed;
    const QString reply = api_->HTTPPostForm(url, body, true, PeltaAPI::CallEffect::OnlyReads);
    url.clear();
    if (reply.isEmpty()) {
        Log(origin + QStringLiteral(":msg:is nothing, break"), LogSync);
        return CheckAnswer::NoAnswer;
    }
    const XMap answer = PeltaJSON::ParseToMap(reply);
    const QString message = Field(answer, "msg");
    if (Field(answer, "status") == QLatin1String("0")) {
        counted = HandleJournalError(request, message);
        Log(origin + QStringLiteral(":msg:") + message, LogSync);
        return CheckAnswer::Refused;
    }
    const QString address = Field(answer, "get_url");
    if (!IsScalarText(address)) {
        Log(origin + QStringLiteral(":msg:") + message, LogSync);
        return CheckAnswer::Malformed;
    }
    metadata = DownloadFacts(PeltaJSON::ParseFindObject(reply, QStringLiteral("metadata")).ObjectToMap());
    if (!HasDownloadFacts(metadata)) {
        Log(origin + QStringLiteral(":msg:reply without size, local_mtime and version:") + request.path, LogGeneral);
        return CheckAnswer::Malformed;
    }
    url = address;
    return CheckAnswer::Ok;
}

// ---- A queued download ---------------------------------------------------------------

bool PeltaSync::GetFileCheck(PeltaRecSyncRequest& request, bool mayWrite)
{
    if (!IsRunning())
        return false;
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = request.path;
    bool found = false;
    Guarded("GetFileCheck", [&] { found = db_->RecGet(stored); });
    if (!found || !RecordKey::IsValid(stored.key)) {
        Log(QStringLiteral("GetFileCheck:msg:") + request.path + QStringLiteral(" not in db"), LogGeneral);
        if (mayWrite && stored.error)
            IncRequestErrCount(request);
        else if (mayWrite)
            CancelRequest(request);
        return false;
    }

    // Fetched earlier: the row holds what the file in the cache folder is.
    if (request.status == RequestFetched) {
        const XMap fetched = PeltaJSON::ParseToMap(request.opt);
        if (HasDownloadFacts(fetched)) {
            switch (PlaceFetched(request, mayWrite, fetched, stored, DownloadTarget(stored.key))) {
            case Placed::Done:
                request.status = RequestFetchDone;
                if (mayWrite) {
                    SaveRequestStatus(request);
                    SetIcon(request.path, XICOSync);
                }
                return true;
            case Placed::Waiting:
                if (mayWrite)
                    IncRequestErrCount(request);
                return false;
            case Placed::Failed:
                return false;
            case Placed::Missing:
            case Placed::WrongSize:
                break;  // fetched again below, resuming what is there
            }
        }
    }
    return FetchQueued(request, mayWrite, stored);
}

bool PeltaSync::FetchQueued(PeltaRecSyncRequest& request, bool mayWrite, PeltaRecVfsSyncFile& stored)
{
    const auto folders = Folders();
    const QString local = Full(*folders, Relative(*folders, request.path, QStringLiteral("GetFileCheck")));
    if (local.isEmpty()) {
        if (mayWrite)
            CancelRequest(request);
        return false;
    }
    PeltaRecVfsSyncFile now;
    const LocalKind kind = LocalItem::Stat(folders->SyncFolder(), local).kind;
    const bool localExists = kind != LocalKind::Missing;
    // A folder (or anything but a file) in the way: the download goes beside
    // it as a conflict copy.
    if (localExists && !NotAFile(kind) && ReadFileInfo(*folders, local, now) != InfoFound) {
        if (mayWrite)
            IncRequestErrCount(request);
        return false;
    }
    if (conflicts_.Exists(request.path)) {
        if (mayWrite)
            IncRequestErrCount(request);
        conflicts_.Remove(request.path);
        return false;
    }
    EnsureCacheDir();
    const QString target = DownloadTarget(stored.key);

    QString url;
    XMap metadata;
    bool counted = false;
    const CheckAnswer answer = AskFileCheck(request, "GetFileCheck", url, metadata, counted);
    if (answer != CheckAnswer::Ok) {
        if (mayWrite && !counted)
            IncRequestErrCount(request);
        return false;
    }
    const std::int64_t size = Int(metadata, "size");
    const QString version = Field(metadata, "version");
    if (localExists && stored.size == size && stored.version == version && now.mtime == stored.mtime &&
        now.size == stored.size) {
        Log(QStringLiteral("GetFile:") + request.path + QStringLiteral(":file not change, skip"), LogGeneral);
        if (mayWrite) {
            CancelRequest(request);
            // What an earlier attempt of this row fetched is not needed.
            RemoveDownloadParts(folders->SyncFolder(), target);
        }
        SetIcon(request.path, XICOSync);
        return false;
    }

    Log(QStringLiteral("PeltaSync:GetFile:") + request.path, LogGeneral);
    status_.BeginTransfer(PeltaRequestObject::ActionDownload, request.path, request.rowid, size);
    // The version goes with the download: a partial file of another version
    // in the cache folder is dropped, never completed from this one.
    const bool fetched = api_->HTTPGetFile2(url, target, request.path, size, version);
    status_.ResetTransfer();
    if (!fetched) {
        Log(QStringLiteral("PeltaSync:GetFile2 error"), LogGeneral);
        if (!mayWrite)
            return false;
        IncRequestErrCount(request);
        // The row ended while the transfer ran (the file moved or went on
        // the service): no later attempt resumes what it left.
        if (!RequestOpen(request.path, XSYNCFileGet, 0))
            RemoveDownloadParts(folders->SyncFolder(), target);
        return false;
    }

    // The row keeps what the fetched file is, for the move should it wait.
    request.status = RequestFetched;
    request.opt = PeltaJSON::MapToJson(metadata);
    if (mayWrite)
        ResetRequest(request);
    switch (PlaceFetched(request, mayWrite, metadata, stored, target)) {
    case Placed::Done:
        request.status = RequestFetchDone;
        if (mayWrite) {
            SaveRequestStatus(request);
            SetIcon(request.path, XICOSync);
        }
        return true;
    case Placed::Failed:
        return false;
    case Placed::Waiting:
    case Placed::Missing:
    case Placed::WrongSize:
        if (mayWrite)
            IncRequestErrCount(request);
        return false;
    }
    return false;
}

bool PeltaSync::FinishGetFile(PeltaRecSyncRequest& request, bool mayWrite, const XMap& metadata,
                              PeltaRecVfsSyncFile& record)
{
    if (!HasDownloadFacts(metadata) || !RecordKey::IsValid(record.key))
        return false;
    return PlaceFetched(request, mayWrite, metadata, record, DownloadTarget(record.key)) == Placed::Done;
}

// Puts a fetched file into place: checked against the size the service
// gave, stamped with its time, then handed to the safe replace. stored is
// the item's record as it was before the download.
PeltaSync::Placed PeltaSync::PlaceFetched(PeltaRecSyncRequest& request, bool mayWrite, const XMap& metadata,
                                          PeltaRecVfsSyncFile& stored, const QString& target)
{
    const QString root = SyncFolder();
    const LocalFacts fetched = LocalItem::Stat(root, target);
    if (fetched.kind != LocalKind::File)
        return Placed::Missing;
    const std::int64_t size = Int(metadata, "size");
    const std::int64_t mtime = Int(metadata, "local_mtime");
    const QString version = Field(metadata, "version");
    int error = 0;
    if (fetched.size != size) {
        // So short an answer is an error page, not the file.
        if (fetched.size < 1024)
            LocalItem::RemoveFile(root, target, error);
        Log(QStringLiteral("PeltaSync:GetFileCheck:filesize != dbsize (") + QString::number(fetched.size) +
                QStringLiteral("!=") + QString::number(size) + QStringLiteral("), skip"),
            LogSync);
        return Placed::WrongSize;
    }
    // The time the file system holds once it is set (it may round it) is
    // the one to store.
    std::int64_t heldMtime = mtime;
    if (LocalItem::SetModificationTime(root, target, mtime, error))
        heldMtime = LocalItem::Stat(root, target).mtime;
    else
        Log(QStringLiteral("PeltaSync:GetFileCheck:cannot set the time of ") + target + QLatin1Char(':') +
                ErrorSuffix(error),
            LogSync);
    Log(QStringLiteral("PeltaSync:GetFileCheck:before move:") + request.path + QLatin1Char(',') +
            QString::number(stored.size) + QLatin1Char(',') + stored.version,
        LogDebug);
    Log(QStringLiteral("PeltaSync:GetFileCheck:before move:") + target + QLatin1Char(',') + QString::number(size) +
            QLatin1Char(',') + version,
        LogDebug);

    QString conflictPath;
    const SafeReplace::Outcome outcome = PlaceDownload(target, request.path, stored, version, &conflictPath, &error);
    switch (outcome) {
    case SafeReplace::Outcome::Replaced:
        Log(QStringLiteral("PeltaSync:GetFileCheck:after move:") + request.path + QLatin1Char(',') +
                QString::number(size) + QLatin1Char(',') + version,
            LogDebug);
        RecordPlaced(stored, heldMtime, size, version);
        // Change events of the move that arrive within the next seconds are
        // the engine's own while the file still is what was just recorded.
        SettleOwnChange(request.path);
        stored.mtime = static_cast<std::int32_t>(heldMtime);
        stored.size = size;
        stored.version = version;
        conflicts_.Remove(request.path);
        SetFileMessage(request.path, 0);
        return Placed::Done;
    case SafeReplace::Outcome::KeptLocal:
        conflicts_.Remove(request.path);
        SetFileMessage(request.path, 0);
        return Placed::Done;
    case SafeReplace::Outcome::Failed:
        break;
    }
    if (error == ENOENT)
        return ParentMissing(request, mayWrite);
    if (error == EBUSY) {
        Log(QStringLiteral("PeltaSync:GetFileCheck:") + request.path + QStringLiteral(":in use:") +
                ErrorSuffix(error),
            LogSync);
        if (!conflicts_.Exists(request.path))
            conflicts_.Add(request.path, stored);
        SetFileMessage(request.path, FileStateDownloadWaits);
        return Placed::Waiting;
    }
    Log(QStringLiteral("PeltaSync:GetFileCheck:") + request.path + QStringLiteral(":not moved:") + ErrorSuffix(error),
        LogSync);
    if (mayWrite)
        IncRequestErrCount(request);
    return Placed::Failed;
}

// The record of a file just put in place takes the service's facts. A
// removal seen here before the file came may have dropped the record
// meanwhile: the file is here, so its record is written again.
void PeltaSync::RecordPlaced(const PeltaRecVfsSyncFile& stored, std::int64_t mtime, std::int64_t size,
                             const QString& version)
{
    Guarded("PeltaSync:GetFileCheck", [&] {
        PeltaRecVfsSyncFile now;
        now.kind = XFSFile;
        now.path = stored.path;
        if (db_->RecGet(now) || now.error || !stored.found) {
            db_->RecUpdateFields(stored.key, XFSFile,
                                 XMap{{QStringLiteral("mtime"), QString::number(mtime)},
                                      {QStringLiteral("size"), QString::number(size)},
                                      {QStringLiteral("version"), version}});
            return;
        }
        Log(QStringLiteral("PeltaSync:GetFileCheck:record gone while the file came, written again:") + stored.path,
            LogSync);
        PeltaRecVfsSyncFile again;
        again.Assign(&stored);
        again.mtime = static_cast<std::int32_t>(mtime);
        again.size = size;
        again.version = version;
        db_->RecAdd(again, true);
    });
}

// The folder of the download is gone: made again when the store or the
// service still has it, and the move retried later; otherwise the row ends.
PeltaSync::Placed PeltaSync::ParentMissing(PeltaRecSyncRequest& request, bool mayWrite)
{
    Log(QStringLiteral("PeltaSync:GetFileCheck:") + request.path + QStringLiteral(":Cancel:") + ErrorSuffix(ENOENT),
        LogSync);
    const QString parent = ParentPath(request.path);
    // Moved away here, the move not taken in yet: the old name is not made
    // again; the move takes the download along once it is taken in.
    if (PendingLocalMoves::MovedAway(parent)) {
        Log(QStringLiteral("PeltaSync:GetFileCheck:") + request.path + QStringLiteral(":folder moved here, waits"),
            LogSync);
        if (mayWrite)
            IncRequestErrCount(request);
        return Placed::Failed;
    }
    // The move was taken in while the file came: the row went along with it.
    if (request.rowid > 0 && !RequestOpen(request.path, XSYNCFileGet, 0)) {
        Log(QStringLiteral("PeltaSync:GetFileCheck:") + request.path + QStringLiteral(":row ended, folder not made"),
            LogSync);
        if (RecordKey::IsValid(request.key))
            RemoveDownloadParts(SyncFolder(), DownloadTarget(request.key));
        return Placed::Failed;
    }
    // Every missing folder above it, the outermost last.
    QStringList missing;
    for (QString folder = parent; !folder.isEmpty() && folder != kRoot && !LocalFolderExists(folder);
         folder = ParentPath(folder))
        missing << folder;
    for (auto it = missing.crbegin(); it != missing.crend(); ++it) {
        PeltaRecVfsSyncFile folder;
        folder.kind = XFSFolder;
        folder.path = *it;
        bool stored = false;
        Guarded("PeltaSync:GetFileCheck", [&] { stored = db_->RecGet(folder); });
        bool made = false;
        if (stored) {
            status_.FileMon(*it, PeltaRequestObject::SelfChangeMark, false);
            int error = 0;
            made = LocalItem::MakeFolder(SyncFolder(), ToLocalPath(*it), error);
            status_.FileMon(*it, 0, false);
        } else {
            made = CheckRemoteObject(folder);
        }
        if (!made)
            break;
    }
    if (mayWrite) {
        if (IsRunning() && LocalFolderExists(parent))
            IncRequestErrCount(request);
        else
            CancelRequest(request);
    }
    return Placed::Failed;
}

// ---- The safe replace ------------------------------------------------------------------

SafeReplace::Outcome PeltaSync::PlaceDownload(const QString& incoming, const QString& path,
                                              const PeltaRecVfsSyncFile& stored, const QString& serviceVersion,
                                              QString* conflictPath, int* error)
{
    const auto folders = Folders();
    const QString relative = Relative(*folders, path, QStringLiteral("PeltaSync::PlaceDownload"));
    const QString full = Full(*folders, relative);
    if (full.isEmpty() || relative == kRoot) {
        if (error != nullptr)
            *error = EPERM;
        return SafeReplace::Outcome::Failed;
    }
    // No local change is half recorded while the file is tested and
    // replaced.
    const LocalChangeLock replacing;
    // The record as it is now: another download of the path may have placed
    // the file and written its record since the caller read it.
    PeltaRecVfsSyncFile current;
    current.kind = XFSFile;
    current.path = relative;
    bool fresh = false;
    Guarded("PeltaSync::PlaceDownload", [&] { fresh = db_->RecGet(current); });
    const PeltaRecVfsSyncFile& record = fresh ? current : stored;
    SafeReplace::Stored facts;
    facts.known = fresh || stored.found;
    facts.size = record.size;
    facts.mtime = record.mtime;
    facts.version = record.version;
    const bool uploadOpen = LocalContentOpen(relative);

    status_.FileMon(relative, PeltaRequestObject::SelfChangeMark, false);
    const SafeReplace::Result result = SafeReplace::Apply(folders->SyncFolder(), incoming, full, facts, uploadOpen,
                                                          QDateTime::currentDateTime());
    // When nothing was moved onto the path, the next change there is the
    // user's and must not be taken for one of ours. A replaced file keeps
    // its mark until the caller has written its record: only then may the
    // settle mark judge later changes against that record.
    if (result.outcome != SafeReplace::Outcome::Replaced)
        status_.FileMon(relative, 0, false);
    if (error != nullptr)
        *error = result.error;
    if (result.outcome != SafeReplace::Outcome::KeptLocal)
        return result.outcome;

    const QString copy = Relative(*folders, result.conflictCopy, QStringLiteral("PeltaSync::PlaceDownload"));
    Log(QStringLiteral("PeltaSync:PlaceDownload:") + relative +
            QStringLiteral(":the local file changed, the download is kept as ") + copy,
        LogGeneral);
    if (conflictPath != nullptr)
        *conflictPath = copy;
    if (NotAFile(LocalItem::Stat(folders->SyncFolder(), full).kind)) {
        // A folder keeps the name: no file record may claim it, or a later
        // look would take the file for deleted here.
        Guarded("PeltaSync::PlaceDownload", [&] { db_->RecDelete(relative, XFSFile); });
    } else {
        QueueLocalOverService(relative, serviceVersion);
    }
    if (!copy.isEmpty()) {
        FileAdd(copy, 0, false, false);
        // Recorded now: the copy's own events that come late are the engine's.
        status_.FileMon(copy, 1, true);
    }
    return result.outcome;
}

// The local file stays and goes to the service as an edit of the version the
// service has now, so the service keeps no second copy of its own.
void PeltaSync::QueueLocalOverService(const QString& path, const QString& serviceVersion)
{
    PeltaRecVfsSyncFile local;
    local.path = path;
    if (GetLocalInfo(local) != InfoFound || local.kind != XFSFile)
        return;
    FillRecordKeys(local);
    local.version = serviceVersion;
    // The upload row comes before the record, both in one hold of the store:
    // once the record holds the local file's facts, only the open upload
    // tells another download of the path that the file is not the service's.
    Guarded("PeltaSync::PlaceDownload", [&] {
        const PeltaDb::FileLock hold(*db_);
        if (!UploadCarries(path, local.size, local.mtime))
            db_->AddSyncRequest(local, XSYNCFileMod, false);
        db_->RecAdd(local, true);
    });
    SetIcon(path, XICOMod);
}

// Whether an open upload of path sends the content of this size and time:
// one still to take its snapshot does, one that took it already only when
// the snapshot is of the same size and time. Throws like the store.
bool PeltaSync::UploadCarries(const QString& path, std::int64_t size, std::int64_t mtime)
{
    const auto statement = db_->NewStatement();
    const QString sql = QStringLiteral("select status, opt from sync_request where path=") + PeltaRec::Literal(path) +
                        QStringLiteral(" and commit_time is null and status<10 and action in (") +
                        QString::number(XSYNCFileAdd) + QStringLiteral(", ") + QString::number(XSYNCFileMod) +
                        QLatin1Char(')');
    if (db_->QueryWith(sql, *statement) <= 0)
        return false;
    while (statement->FetchRow()) {
        if (db_->GetColumnInt(QStringLiteral("status"), *statement) <= RequestCommitted)
            return true;
        const XMap sent = PeltaJSON::ParseToMap(db_->ColumnText(QStringLiteral("opt"), *statement));
        if (Field(sent, "size") == QString::number(size) && Field(sent, "local_mtime") == QString::number(mtime))
            return true;
    }
    return false;
}

void PeltaSync::DropWaitingDownload(const QString& path, const QString& key)
{
    Guarded("PeltaSync:DropWaitingDownload", [&] { db_->CancelPathRequests(path, XSYNCFileGet); });
    const QString root = SyncFolder();
    RemoveDownloadParts(root, DownloadTarget(key));
    conflicts_.Remove(path);
    SetFileMessage(path, 0);
}

// ---- A download at once --------------------------------------------------------------

// GetFileDirect's answer when it leaves the file to a download row: false.
bool PeltaSync::LeaveToDownloadRow(const PeltaRecVfsSyncFile& record)
{
    QueueFileGet(record);
    return false;
}

bool PeltaSync::GetFileDirect(PeltaRecVfsSyncFile& record, bool queueOnly)
{
    if (!IsRunning())
        return LeaveToDownloadRow(record);
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = record.path;
    bool found = false;
    Guarded("GetFileDirect", [&] { found = db_->RecGet(stored); });
    if (!found || !RecordKey::IsValid(stored.key)) {
        Log(QStringLiteral("GetFileCheck:msg:") + record.path + QStringLiteral(" not in db"), LogGeneral);
        return false;
    }
    const auto folders = Folders();
    const QString local = Full(*folders, Relative(*folders, stored.path, QStringLiteral("GetFileDirect")));
    if (local.isEmpty())
        return false;
    PeltaRecVfsSyncFile now;
    const LocalKind kind = LocalItem::Stat(folders->SyncFolder(), local).kind;
    const bool localExists = kind != LocalKind::Missing;
    const bool readable = localExists && !NotAFile(kind) && ReadFileInfo(*folders, local, now) == InfoFound;
    if (localExists && !NotAFile(kind) && !readable && !conflicts_.Exists(stored.path)) {
        conflicts_.Add(stored.path, record);
        return LeaveToDownloadRow(record);
    }
    if (record.size > DirectFetchLimit || queueOnly)
        return LeaveToDownloadRow(record);

    EnsureCacheDir();
    const QString target = DownloadTarget(stored.key) + QStringLiteral(".direct");
    int ignored = 0;
    LocalItem::RemoveFile(folders->SyncFolder(), target, ignored);
    PeltaRecSyncRequest temporary;
    temporary.action = XSYNCFileGet;
    temporary.path = stored.path;
    temporary.key = stored.key;
    temporary.sn = stored.sn;
    QString url;
    XMap metadata;
    bool counted = false;
    const CheckAnswer answer = AskFileCheck(temporary, "GetFileDirect", url, metadata, counted);
    if (answer != CheckAnswer::Ok) {
        if (answer == CheckAnswer::Refused && temporary.serverMsg == kFileNotFound) {
            // Moved or recycled on the service since: what the journal says
            // next decides. No walk of the path now, which would take the
            // stored file for a new local one and send it up again.
            Log(QStringLiteral("GetFileDirect:not on the service (any more):") + stored.path, LogGeneral);
            return false;
        }
        // The record is written already: without a download row a later
        // rescan would take the missing file for a deletion.
        return LeaveToDownloadRow(record);
    }
    if (readable && Int(metadata, "size") == stored.size && Field(metadata, "version") == stored.version &&
        now.mtime == stored.mtime && now.size == stored.size)
        return true;

    status_.BeginTransfer(PeltaRequestObject::ActionDownload, stored.path, 0, Int(metadata, "size"));
    const bool fetched = api_->GetFile(url, target);
    status_.ResetTransfer();
    if (fetched && PlaceFetched(temporary, false, metadata, stored, target) == Placed::Done)
        return true;
    LocalItem::RemoveFile(folders->SyncFolder(), target, ignored);
    return LeaveToDownloadRow(record);
}
