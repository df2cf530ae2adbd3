// PeltaSync: the upload of one registered request from its snapshot, by the
// method the request names, with resume where the method allows it.

#include "sync/engine/PeltaSync.h"

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/text/Xi18n.h"
#include "sync/engine/EngineNotices.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"
#include "sync/rules/UploadSnapshot.h"

namespace {

const QString kQuotaMessage = QStringLiteral("Quota");

bool IsResumable(int method)
{
    return method == UploadMethodPutFile || method == UploadMethodPostFile2;
}

// "file_info"."total_filesize" of a size query's reply; false when it is
// missing or not a count of bytes.
bool ReadSentLength(const QString& reply, std::int64_t& length)
{
    const XMap info = PeltaJSON::ParseFindObject(reply, QStringLiteral("file_info")).ObjectToMap();
    const QString text = PeltaSync::Field(info, "total_filesize");
    bool ok = false;
    length = text.toLongLong(&ok);
    return ok && length >= 0;
}

void ShowFailure(const QString& message)
{
    PeltaSync::Log(QStringLiteral("PeltaSync:PostFile:balloon:") + message, LogGeneral);
    if (const auto notices = EngineNotices::Installed())
        notices->ShowBalloon(QStringLiteral("同步失敗"), QStringLiteral("錯誤訊息:") + message);
}

}  // namespace

bool PeltaSync::PostFile(PeltaRecSyncRequest& request)
{
    if (!IsRunning())
        return false;
    EnsureCacheDir();
    SaveRequestStatus(request);
    const auto folders = Folders();
    const QString& root = folders->SyncFolder();
    const QString local = Full(*folders, Relative(*folders, request.path, QStringLiteral("PeltaSync:PostFile")));
    const QString snapshot = UploadSnapshot::PathOf(folders->CacheDir(), request.key, request.rowid);

    if (local.isEmpty() || !RecordKey::IsValid(request.key) ||
        LocalItem::Stat(root, local).kind != LocalKind::File) {
        CancelRequest(request);
        Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QStringLiteral(":missing, cancel queue"), LogSync);
        UploadOfGoneFileCancelled(request);
        return false;
    }
    // What is sent is the snapshot the registration took and described; a
    // row without one is registered again, which takes a new one.
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    if (!UploadSnapshot::Facts(root, snapshot, size, mtime)) {
        Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QStringLiteral(":no snapshot, register again"),
            LogSync);
        RegisterAgain(request);
        return false;
    }
    const XMap registered = PeltaJSON::ParseToMap(request.opt);
    if (Field(registered, "size") != QString::number(size) ||
        Field(registered, "local_mtime") != QString::number(mtime)) {
        Log(QStringLiteral("PeltaSync:PostFile:") + request.path +
                QStringLiteral(":the snapshot is not what was registered, register again"),
            LogSync);
        RegisterAgain(request);
        return false;
    }
    if (RebaseUpload(request))
        return false;
    if (conflicts_.Exists(request.path) && IsFileLocked(local)) {
        IncRequestErrCount(request);
        Log(QStringLiteral("PeltaSync:PostFile:") + request.path +
                QStringLiteral(":in conflict table, try next time"),
            LogSync);
        return false;
    }

    SetFileMessage(request.path, 0);
    status_.BeginTransfer(PeltaRequestObject::ActionUpload, request.path, request.rowid, size);
    Log(QStringLiteral("PeltaSync:UploadFile(id=") + QString::number(request.rowid) + QStringLiteral("):") +
            request.path,
        LogGeneral);

    std::int64_t position = 0;
    if (IsResumable(request.uploadMethod)) {
        switch (ResumePosition(request, snapshot, size, position)) {
        case UploadStart::Send:
            break;
        case UploadStart::Whole:
            status_.ResetTransfer();
            return UploadAccepted(request, snapshot, QStringLiteral("{\"status\":\"1\"}"));
        case UploadStart::FreshKey:
            status_.ResetTransfer();
            RegisterAgain(request);
            return false;
        case UploadStart::Failed:
            status_.ResetTransfer();
            IncRequestErrCount(request);
            return false;
        case UploadStart::Handled:
            status_.ResetTransfer();
            return false;
        }
    }

    QString reply;
    const bool sent = SendSnapshot(request, snapshot, position, reply);
    status_.ResetTransfer();
    if (sent)
        return UploadAccepted(request, snapshot, reply);
    if (LocalItem::Stat(root, local).kind == LocalKind::Missing) {
        Log(QStringLiteral("PeltaSync:UploadFile:Cancel by FileRemove:") + request.path, LogGeneral);
        CancelRequest(request);
        return false;
    }
    return UploadFailed(request, reply);
}

// Where a resumable upload starts. A row that began sending under its
// journal key asks how much the service holds; it continues only when its
// snapshot is unchanged since and the service holds no more than it; at the
// snapshot's size there is nothing left to send. Otherwise the service's
// bytes are not this snapshot's, and the row starts again from 0 under a
// fresh journal key (anything sent under this one would be appended).
PeltaSync::UploadStart PeltaSync::ResumePosition(PeltaRecSyncRequest& request, const QString& snapshot,
                                                 std::int64_t size, std::int64_t& position)
{
    const QString root = SyncFolder();
    position = 0;
    if (UploadSnapshot::HasNote(root, snapshot)) {
        std::int64_t held = 0;
        QString message;
        if (!QuerySentLength(request, held, message)) {
            Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QStringLiteral(":size query failed:") + message,
                LogSync);
            // The service's reason (an expired or committed key, ...) is
            // handled like that of any transfer.
            if (!message.isEmpty()) {
                JournalErrorEffect effect = JournalErrorEffect::None;
                HandleJournalError(request, message, &effect);
                if (effect == JournalErrorEffect::Register || effect == JournalErrorEffect::Cancelled)
                    return UploadStart::Handled;
            }
            return UploadStart::Failed;
        }
        if (!UploadSnapshot::UnchangedSinceSent(root, snapshot, request.sync_journal_key) || held > size) {
            Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QStringLiteral(":the service holds ") +
                    QString::number(held) + QStringLiteral(" bytes of another copy, start again under a new key"),
                LogSync);
            return UploadStart::FreshKey;
        }
        if (held == size && size > 0)
            return UploadStart::Whole;
        position = held;
    }
    if (position == 0 && !UploadSnapshot::NoteSending(root, snapshot, request.sync_journal_key)) {
        Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QStringLiteral(":cannot note the sending"),
            LogGeneral);
        return UploadStart::Failed;
    }
    return UploadStart::Send;
}

bool PeltaSync::QuerySentLength(PeltaRecSyncRequest& request, std::int64_t& length, QString& message)
{
    QString reply;
    message.clear();
    if (request.uploadMethod == UploadMethodPutFile) {
        const QString url = api_->BuildPutFile(request, TransferActionSize);
        if (!api_->HTTPPut(url, reply))
            return false;
        if (!PeltaJSON::CheckStatus(reply, message))
            return false;
    } else {
        XMap fields{{QStringLiteral("p_checksum"), QString()}, {QStringLiteral("p_size"), QString()}};
        const QString url = api_->BuildPostFile2(request, TransferActionSize, fields);
        if (!api_->CallAgentAPIWithParams(url, fields, reply, PeltaAPI::CallEffect::OnlyReads)) {
            message = reply;
            return false;
        }
    }
    if (ReadSentLength(reply, length))
        return true;
    Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QStringLiteral(":size reply without total_filesize"),
        LogGeneral);
    return false;
}

bool PeltaSync::SendSnapshot(PeltaRecSyncRequest& request, const QString& snapshot, std::int64_t position,
                             QString& reply)
{
    XMap fields;
    switch (request.uploadMethod) {
    case UploadMethodPostFile: {
        const QString url = api_->BuildPostFile(request, fields);
        return api_->HTTPPost(url, snapshot, reply, fields, request.path);
    }
    case UploadMethodPutFile: {
        const QString url = api_->BuildPutFile(request, TransferActionTransfer);
        Log(QStringLiteral("PeltaSync:UploadFile:put:") + QString::number(position), LogSync);
        return api_->PutFile(url, snapshot, reply, position, request.path);
    }
    case UploadMethodPostFile2: {
        const QString url = api_->BuildPostFile2(request, TransferActionTransfer, fields);
        Log(QStringLiteral("PeltaSync:UploadFile:postFile2:") + QString::number(position), LogSync);
        SetFileMessage(request.path, 0);
        return api_->PostFile2(url, snapshot, request.path, reply, position, fields);
    }
    default:
        Log(QStringLiteral("PeltaSync:UploadFile:no such upload method:") + QString::number(request.uploadMethod),
            LogGeneral);
        return false;
    }
}

// The transfer ended; the reply says whether the service took it. The
// item's record takes the size and time of what was sent - the snapshot's -
// so that a change made meanwhile still reads as a change.
bool PeltaSync::UploadAccepted(PeltaRecSyncRequest& request, const QString& snapshot, const QString& reply)
{
    QString message;
    if (PeltaJSON::CheckStatus(reply, message)) {
        // The commit follows at once: it must name the version the record
        // holds now, which a download may have changed while this was sent.
        if (RebaseUpload(request))
            return false;
        request.status = RequestCommit;
        SaveRequestStatus(request);
        std::int64_t size = 0;
        std::int64_t mtime = 0;
        if (UploadSnapshot::Facts(SyncFolder(), snapshot, size, mtime)) {
            Guarded("PeltaSync:PostFile", [&] {
                db_->RecUpdateFields(request.key, XFSFile,
                                     XMap{{QStringLiteral("mtime"), QString::number(mtime)},
                                          {QStringLiteral("size"), QString::number(size)}});
            });
        }
        return true;
    }
    IncRequestErrCount(request);
    if (request.uploadMethod == UploadMethodPutFile)
        ResetRequest(request);
    if (message == kQuotaMessage)
        NotifyQuotaFull(false);
    else if (!message.isEmpty())
        ShowFailure(message);
    return false;
}

bool PeltaSync::UploadFailed(PeltaRecSyncRequest& request, const QString& reply)
{
    if (reply == PeltaAPI::FreshKeyNeededText) {
        Log(QStringLiteral("PeltaSync:UploadFile:") + request.path + QStringLiteral(":start again under a new key"),
            LogSync);
        RegisterAgain(request);
        return false;
    }
    Log(QStringLiteral("PeltaSync:UploadFile error, res=") + reply, LogSync);
    const XMap answer = PeltaJSON::ParseToMap(reply);
    if (Field(answer, "status") == QLatin1String("0")) {
        JournalErrorEffect effect = JournalErrorEffect::None;
        HandleJournalError(request, Field(answer, "msg"), &effect);
        // A message that changed nothing still counts, so the row waits
        // before it is tried again.
        if (effect == JournalErrorEffect::None || effect == JournalErrorEffect::Settled)
            IncRequestErrCount(request);
        return false;
    }
    IncRequestErrCount(request);
    if (IsResumable(request.uploadMethod))
        ResetRequest(request);
    return false;
}

// The row was registered against the version its item's record held then.
// A download that came meanwhile and kept the local file (the service's
// content went beside it as a conflict copy) moved the record on to the
// service's version: the local content is now an edit of that version. Sent
// against the old one, the service would keep it as a conflict copy as well
// and the file would end different on each side.
bool PeltaSync::RebaseUpload(PeltaRecSyncRequest& request)
{
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = request.path;
    bool found = false;
    if (!Guarded("PeltaSync:PostFile", [&] { found = db_->RecGet(stored); }) || !found || stored.error)
        return false;
    // A record without a version knows nothing newer of the service's file.
    if (stored.version.isEmpty())
        return false;
    // An edit registered without a version replaces whatever the service
    // holds; one registered against another version, or an add where the
    // service holds a file, would be kept beside it.
    XMap opt = PeltaJSON::ParseToMap(request.opt);
    const QString registered = Field(opt, "version");
    const bool stale = request.action == XSYNCFileAdd || (!registered.isEmpty() && registered != stored.version);
    if (!stale)
        return false;
    Log(QStringLiteral("PeltaSync:PostFile:") + request.path + QLatin1Char(':') + XSYNCName(request.action) +
            QStringLiteral(" registered against version \"") + registered + QStringLiteral("\", the record holds ") +
            stored.version + QStringLiteral(" now, register again as an edit of it"),
        LogSync);
    opt[QStringLiteral("version")] = stored.version;
    request.opt = PeltaJSON::MapToJson(opt);
    request.action = XSYNCFileMod;
    RegisterAgain(request);
    ResetRequest(request);
    return true;
}

// ---- A commit kept under another name ------------------------------------------------

void PeltaSync::PlaceCommitConflict(PeltaRecSyncRequest& request, const QString& conflictWire, const QString& version)
{
    // The item's version stays the one the upload was based on, so the
    // service's newer file still reads as newer.
    request.version.clear();
    request.status = RequestCommitted;
    SaveRequestStatus(request);

    const auto folders = Folders();
    const QString& root = folders->SyncFolder();
    const QString snapshot = UploadSnapshot::PathOf(folders->CacheDir(), request.key, request.rowid);
    QString reason;
    const std::optional<QString> decoded = Base64UrlDecodeText(conflictWire);
    const QString copy = decoded ? PathGuard::FromServicePath(*decoded, reason) : QString();
    if (copy.isEmpty() || copy == QLatin1String("\\")) {
        PathGuard::LogRefused(QStringLiteral("[CommitSyncJournal]:conflict"), decoded.value_or(conflictWire),
                              reason.isEmpty() ? QStringLiteral("not a path") : reason);
    } else {
        const QString full = Full(*folders, copy);
        status_.FileMon(copy, PeltaRequestObject::SelfChangeMark, false);
        int error = 0;
        if (SafeReplace::MoveNoReplace(root, snapshot, full, error)) {
            PeltaRecVfsSyncFile record;
            record.kind = XFSFile;
            record.path = copy;
            GetLocalInfo(record);
            FillRecordKeys(record);
            record.version = version;
            Guarded("[CommitSyncJournal]", [&] { db_->RecAdd(record, true); });
            SetIcon(copy, XICOSync);
            Log(QStringLiteral("[CommitSyncJournal]:kept by the service as ") + copy, LogGeneral);
        } else {
            Log(QStringLiteral("[CommitSyncJournal]:conflict copy not placed:") + copy + QLatin1Char(':') +
                    LocalItem::ErrorText(error),
                LogGeneral);
        }
        status_.FileMon(copy, 1, true);
    }
    RemoveUploadSnapshot(request);
    conflicts_.Remove(request.path);

    PeltaRecVfsSyncFile remote;
    remote.kind = XFSFile;
    remote.path = request.path;
    if (GetRemoteObject(remote))
        GetFileDirect(remote, false);
    evtRequestFileTransfer.Set();
}
