#include "sync/threads/RequestSteps.h"

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/text/PeltaJSON.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/MountedFolder.h"

#include <utility>

namespace {

// A handled row never asks for more rounds than registration, transfer and
// commit take.
constexpr int kMaxRounds = 6;

bool IsUpload(int action)
{
    return action == XSYNCFileAdd || action == XSYNCFileMod;
}

bool IsTransfer(int action)
{
    return IsUpload(action) || action == XSYNCFileGet;
}

bool IsScalarText(const QString& text)
{
    return !text.isEmpty() && !text.startsWith(QLatin1Char(':'));
}

void Log(const QString& text, int category = LogGeneral)
{
    PeltaSync::Log(text, category);
}

}  // namespace

void RequestSteps::Tally::Reset()
{
    actionCounts.fill(0);
    lastPath.clear();
    unfinished = 0;
    parents.clear();
}

RequestSteps::RequestSteps(PeltaSync& sync) : sync_(sync) {}

void RequestSteps::SetOnCommitted(std::function<void()> onCommitted)
{
    onCommitted_ = std::move(onCommitted);
}

int RequestSteps::UploadMethodOf(const QString& opt)
{
    const QString type = PeltaSync::Field(PeltaJSON::ParseToMap(opt), "upload_type");
    if (type == QLatin1String("putFile"))
        return UploadMethodPutFile;
    if (type == QLatin1String("postFile2"))
        return UploadMethodPostFile2;
    return UploadMethodPostFile;
}

// ---- Dispatch by status -------------------------------------------------------------

void RequestSteps::Drive(PeltaRecSyncRequest& request, Tally& tally)
{
    for (int round = 0; round < kMaxRounds && Handle(request, tally); ++round) {
    }
}

bool RequestSteps::Handle(PeltaRecSyncRequest& request, Tally& tally)
{
    switch (request.status) {
    case PeltaSync::RequestRegister: {
        if (IsTransfer(request.action)) {
            sync_.SetIcon(request.path, XICOResync);
            sync_.SetParentIcon(request.path, tally.parents);
        }
        const bool commitNext = SetSyncJournal(request);
        if (request.status == PeltaSync::RequestRegister)
            ++tally.unfinished;
        return commitNext || request.status == PeltaSync::RequestTransfer;
    }
    case PeltaSync::RequestTransfer:
        sync_.SetIcon(request.path, XICOResync);
        sync_.SetParentIcon(request.path, tally.parents);
        return Transfer(request, tally);
    case PeltaSync::RequestTransferAlt:
        return Transfer(request, tally);
    case PeltaSync::RequestFetched:
        if (request.action != XSYNCFileGet) {
            EndUnhandled(request);
            return false;
        }
        if (sync_.GetFileCheck(request, true))
            Finished(request, tally);
        return false;
    case PeltaSync::RequestCommit:
        CommitSyncJournal(request);
        if (request.status != PeltaSync::RequestCommitted) {
            ++tally.unfinished;
            return false;
        }
        Finished(request, tally);
        if (request.action == XSYNCFileDel || request.action == XSYNCFolderDel)
            sync_.SetIcon(request.path, XICODel);
        FollowWithDeletion(request);
        return false;
    default:
        return false;
    }
}

bool RequestSteps::Transfer(PeltaRecSyncRequest& request, Tally& tally)
{
    if (IsUpload(request.action)) {
        request.uploadMethod = UploadMethodOf(request.opt);
        if (sync_.PostFile(request))
            return true;
        ++tally.unfinished;
        return false;
    }
    if (request.action == XSYNCFileGet) {
        if (sync_.GetFileCheck(request, true))
            Finished(request, tally);
        else
            ++tally.unfinished;
        return false;
    }
    EndUnhandled(request);
    return false;
}

void RequestSteps::Finished(const PeltaRecSyncRequest& request, Tally& tally)
{
    if (request.action >= 0 && request.action < int(tally.actionCounts.size()))
        ++tally.actionCounts[std::size_t(request.action)];
    tally.lastPath = request.path;
}

void RequestSteps::EndUnhandled(PeltaRecSyncRequest& request)
{
    Log(QStringLiteral("QueueSub:row(id=") + QString::number(request.rowid) + QStringLiteral(") ") +
        XSYNCName(request.action) + QStringLiteral(" has no handling at status ") + QString::number(request.status) +
        QStringLiteral(", ended:") + request.path);
    sync_.CancelRequest(request);
}

// ---- Registration --------------------------------------------------------------------

bool RequestSteps::SetSyncJournal(PeltaRecSyncRequest& request)
{
    if (PeltaSync::IsIgnoredFile(request.path)) {
        sync_.CancelRequest(request);
        return false;
    }
    if (IsUpload(request.action) && !PrepareUpload(request))
        return false;
    if ((request.action == XSYNCFileDel || request.action == XSYNCFolderDel) &&
        sync_.CheckDeletion(request) != PeltaSync::DeletionCheck::Send)
        return false;
    if (request.action == XSYNCFileMove && sync_.CheckFileMove(request) != PeltaSync::DeletionCheck::Send)
        return false;

    QString url;
    QString body;
    QString reply;
    if (!sync_.Api().BuildSetSyncJournal(request, url, body)) {
        Log(QStringLiteral("[setSyncJournal]:request refused:") + request.path);
        sync_.IncRequestErrCount(request);
        return false;
    }
    if (sync_.Api().CallAgentAPI(url, body, true, reply)) {
        if (!PeltaSync::ReadJournalReply(reply, request)) {
            Log(QStringLiteral("[setSyncJournal]:reply without its sync_journal key:") + request.path);
            sync_.IncRequestErrCount(request);
            return false;
        }
        request.status = PeltaSync::RequestRegister;
        sync_.SaveRequestStatus(request);
        if (IsTransfer(request.action)) {
            // Status and the options that describe the snapshot, together.
            request.status = PeltaSync::RequestTransfer;
            sync_.ResetRequest(request);
            return false;
        }
        request.status = PeltaSync::RequestCommit;
        return true;
    }

    PeltaSync::JournalErrorEffect effect = PeltaSync::JournalErrorEffect::None;
    if (sync_.HandleJournalError(request, reply, &effect)) {
        if (!reply.isEmpty())
            Log(QStringLiteral("[setSyncJournal]: 錯誤訊息：") + reply);
        if (effect != PeltaSync::JournalErrorEffect::Cancelled)
            sync_.IncRequestErrCount(request);
        return false;
    }
    Log(QStringLiteral("[setSyncJournal]:") + reply);
    if (effect == PeltaSync::JournalErrorEffect::Settled) {
        FinishSettled(request);
        FollowWithDeletion(request);
    } else if (effect == PeltaSync::JournalErrorEffect::Register)
        sync_.IncRequestErrCount(request);
    return false;
}

bool RequestSteps::PrepareUpload(PeltaRecSyncRequest& request)
{
    PeltaRecVfsSyncFile copy;
    copy.path = request.path;
    const int read = sync_.GetLocalInfo(copy);
    const QString full = sync_.ToLocalPath(request.path);
    if (read == PeltaSync::InfoMissing || (read == PeltaSync::InfoFound && copy.kind != XFSFile)) {
        sync_.CancelRequest(request);
        Log(QStringLiteral("QueueSub:setSyncJournal:cancel:") + request.path + QStringLiteral(":file not exists"));
        sync_.UploadOfGoneFileCancelled(request);
        return false;
    }
    if (PeltaSync::IsIgnoredFile(full)) {
        sync_.CancelRequest(request);
        return false;
    }
    if (sync_.UploadWaitsForMove(request))
        return false;
    if (sync_.Conflicts().Exists(request.path)) {
        if (sync_.RequestOpen(request.path, XSYNCFileAdd, request.rowid)) {
            sync_.CancelRequest(request);
            return false;
        }
        if (sync_.IsFileLocked(full)) {
            sync_.IncRequestErrCount(request);
            return false;
        }
        PeltaRecVfsSyncFile tracked;
        if (sync_.Conflicts().Get(request.path, tracked) && tracked.path == request.path)
            sync_.Conflicts().Remove(request.path);
    } else if (read == PeltaSync::InfoFailed || sync_.IsFileLocked(full)) {
        sync_.IncRequestErrCount(request);
        sync_.SetFileMessage(request.path, PeltaSync::FileStateInUse);
        return false;
    }

    XMap opt = PeltaJSON::ParseToMap(request.opt);
    const int method = UploadMethod.load();
    opt[QStringLiteral("upload_type")] = QString::fromLatin1(
        UploadMethodNames[method == UploadMethodPutFile    ? std::size_t(UploadMethodPutFile)
                          : method == UploadMethodPostFile2 ? std::size_t(UploadMethodPostFile2)
                                                            : std::size_t(UploadMethodPostFile)]);

    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = request.path;
    sync_.Db().RecGet(stored);
    copy.version = stored.version;
    if (!sync_.TakeUploadSnapshot(request, copy)) {
        sync_.IncRequestErrCount(request);
        return false;
    }
    const QString size = QString::number(copy.size);
    const QString mtime = QString::number(copy.mtime);
    Log(QStringLiteral("[setSyncJournal]file info:") + request.path + QStringLiteral(":FS,") + size +
            QLatin1Char(',') + stored.version + QStringLiteral(":mm,") + PeltaSync::Field(opt, "size") +
            QLatin1Char(',') + PeltaSync::Field(opt, "version"),
        LogDebug);

    bool changed = false;
    // An edit without a version replaces whatever the service holds under
    // the name. With no version known here the content goes up as an add,
    // which the service keeps beside another file of that name.
    if (request.action == XSYNCFileMod && copy.version.isEmpty()) {
        Log(QStringLiteral("QueueSub:setSyncJournal:no version known, sent as an add:") + request.path, LogSync);
        request.action = XSYNCFileAdd;
        opt.erase(QStringLiteral("version"));
        changed = true;
    }
    if (PeltaSync::Field(opt, "local_mtime") == QLatin1String("0") || stored.mtime == 0) {
        if (stored.found)
            sync_.Db().RecUpdateFields(stored.key, XFSFile,
                                       XMap{{QStringLiteral("mtime"), mtime}, {QStringLiteral("size"), size}});
        changed = true;
    }
    // The registration describes exactly the snapshot that will be sent.
    const bool hasVersion = opt.contains(QStringLiteral("version")) || !copy.version.isEmpty();
    if (changed || PeltaSync::Field(opt, "size") != size || PeltaSync::Field(opt, "local_mtime") != mtime ||
        (hasVersion && PeltaSync::Field(opt, "version") != copy.version)) {
        opt[QStringLiteral("size")] = size;
        opt[QStringLiteral("local_mtime")] = mtime;
        if (hasVersion)
            opt[QStringLiteral("version")] = copy.version;
        changed = true;
    }
    if (changed)
        request.opt = PeltaJSON::MapToJson(opt);
    return true;
}

void RequestSteps::FinishSettled(PeltaRecSyncRequest& request)
{
    if (request.action == XSYNCFolderAdd) {
        PeltaRecVfsSyncFile folder;
        folder.kind = XFSFolder;
        folder.path = request.path;
        if (sync_.GetRemoteObject(folder))
            request.version = folder.version;
    }
    request.status = PeltaSync::RequestCommitted;
    sync_.SaveRequestStatus(request);
}

// An add that landed on the service for an item that is gone here meanwhile
// (its removal may have been seen before, or lost in a restart): the item's
// deletion follows the add, and its record goes. Nothing is taken for
// deleted unless the sync folder is mounted.
void RequestSteps::FollowWithDeletion(const PeltaRecSyncRequest& request)
{
    if (request.status != PeltaSync::RequestCommitted || (!IsUpload(request.action) && request.action != XSYNCFolderAdd))
        return;
    const QString root = sync_.SyncFolder();
    if (LocalItem::Stat(root, sync_.ToLocalPath(request.path)).kind != LocalKind::Missing ||
        !MountedFolder(root).IsMounted())
        return;
    Log(QStringLiteral("QueueSub:") + XSYNCName(request.action) +
        QStringLiteral(" landed for an item gone here, its deletion follows:") + request.path);
    if (IsUpload(request.action) && sync_.DeleteLandedUpload(request))
        return;
    sync_.FileRemove(request.path);
}

// ---- Commit ------------------------------------------------------------------------------

bool RequestSteps::CommitSyncJournal(PeltaRecSyncRequest& request)
{
    if (PeltaSync::IsIgnoredFile(request.path)) {
        sync_.CancelRequest(request);
        return false;
    }
    QString url;
    QString body;
    QString reply;
    if (!sync_.Api().BuildCommitSyncJournal(request, url, body)) {
        Log(QStringLiteral("[CommitSyncJournal]:request refused:") + request.path);
        sync_.IncRequestErrCount(request);
        return false;
    }
    if (sync_.Api().CallAgentAPI(url, body, true, reply)) {
        CommitAccepted(request, reply);
        return false;
    }

    PeltaSync::JournalErrorEffect effect = PeltaSync::JournalErrorEffect::None;
    if (sync_.HandleJournalError(request, reply, &effect)) {
        if (!reply.isEmpty())
            Log(QStringLiteral("[CommitSyncJournal]: 錯誤訊息：") + reply);
        if (effect != PeltaSync::JournalErrorEffect::Cancelled)
            sync_.IncRequestErrCount(request);
        return false;
    }
    switch (effect) {
    case PeltaSync::JournalErrorEffect::Settled:
        FinishSettled(request);
        break;
    case PeltaSync::JournalErrorEffect::Register:
        // Not a success with an empty version: only the service's state
        // tells whether this commit already happened.
        if (!sync_.SettleFromService(request))
            sync_.IncRequestErrCount(request);
        break;
    case PeltaSync::JournalErrorEffect::Cancelled:
    case PeltaSync::JournalErrorEffect::None:
        break;
    }
    return false;
}

void RequestSteps::CommitAccepted(PeltaRecSyncRequest& request, const QString& reply)
{
    const XMap answer = PeltaJSON::ParseToMap(reply);
    const QString version = PeltaSync::Field(answer, "version");
    const bool carriesVersion = IsUpload(request.action) || request.action == XSYNCFolderAdd;
    if (carriesVersion && !IsScalarText(version)) {
        Log(QStringLiteral("[CommitSyncJournal]:reply without version:") + request.path);
        sync_.IncRequestErrCount(request);
        return;
    }
    request.server_response = 1;
    if (IsUpload(request.action) && PeltaSync::Field(answer, "conflict") == QLatin1String("1")) {
        sync_.PlaceCommitConflict(request, PeltaSync::Field(answer, "my_base64_full_path_name"), version);
    } else {
        request.version = IsScalarText(version) ? version : QString();
        request.status = PeltaSync::RequestCommitted;
        sync_.SaveRequestStatus(request);
        if (IsUpload(request.action)) {
            // A download that waited for this file is older than what was
            // just sent.
            if (sync_.Conflicts().Exists(request.path))
                sync_.DropWaitingDownload(request.path, request.key);
            sync_.RemoveUploadSnapshot(request);
        }
    }
    if (onCommitted_)
        onCommitted_();
}
