// PeltaSync: the service's view of single items - one object's metadata, the
// immediate registration of a folder, the creation of a folder the service
// lists - the remote walk and the local removal of what the service no
// longer has, and the deletion guard.

#include "sync/engine/PeltaSync.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/OpenWork.h"
#include "sync/engine/RemoteDelete.h"
#include "sync/engine/RemoteListing.h"
#include "sync/engine/RemoteWalk.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"

#include <cerrno>

namespace {

const QString kRoot = QStringLiteral("\\");

bool ReadInteger(const XMap& map, const char* name, std::int64_t& value)
{
    bool ok = false;
    value = PeltaSync::Field(map, name).toLongLong(&ok);
    return ok;
}

// The journal key of a registration reply; false when a field is missing or
// of the wrong kind.
bool ReadJournal(const QString& reply, PeltaRecSyncRequest& request)
{
    const XMap journal = PeltaJSON::ParseFindObject(reply, QStringLiteral("sync_journal")).ObjectToMap();
    const QString key = PeltaSync::Field(journal, "key");
    const QString checksum = PeltaSync::Field(journal, "checksum");
    std::int64_t expire = 0;
    if (key.isEmpty() || checksum.isEmpty() || key.startsWith(QLatin1Char(':')) ||
        checksum.startsWith(QLatin1Char(':')) || !ReadInteger(journal, "expire", expire))
        return false;
    request.sync_journal_key = key;
    request.sync_journal_key_checksum = checksum;
    request.sync_journal_key_expire = static_cast<int>(expire);
    return true;
}

}  // namespace

PeltaSync::Remote PeltaSync::LookUpRemote(PeltaRecVfsSyncFile& record)
{
    const QString relative = Relative(*Folders(), record.path, QStringLiteral("PeltaSync::GetRemoteObject"));
    if (relative.isEmpty() || relative == kRoot)
        return Remote::Failed;
    const bool folder = record.kind == XFSFolder;
    QString url;
    QString body;
    QString reply;
    if (!api_->BuildGetMetadata(folder ? 1 : 2, relative, 0, false, url, body) ||
        !api_->CallAgentAPI(url, body, true, reply, PeltaAPI::CallEffect::OnlyReads))
        return Remote::Failed;
    // A reply without its lists, or with an entry that cannot be read, tells
    // nothing about the object: never taken for its absence.
    const RemoteListing listing = RemoteListing::Read(reply, QString(), relative);
    if (!listing.IsUsable() || listing.Skipped() > 0) {
        Log(QStringLiteral("PeltaSync::GetRemoteObject:reply not usable:") + relative + QLatin1Char(':') +
                (listing.IsUsable() ? QStringLiteral("entries skipped") : listing.Reason()),
            LogGeneral);
        return Remote::Failed;
    }
    const std::vector<RemoteEntry>& entries = folder ? listing.Folders() : listing.Files();
    if (entries.empty())
        return Remote::Absent;
    const RemoteEntry& entry = entries.front();
    const qsizetype cut = relative.lastIndexOf(QLatin1Char('\\'));
    record.path = relative;
    record.key = RecordKey(relative);
    record.name = entry.name;
    record.sn = userSn_;
    record.parent = cut <= 0 ? kRoot : RecordKey(relative.left(cut));
    record.version = entry.version;
    record.mtime = static_cast<std::int32_t>(entry.mtime);
    record.ctime = record.mtime;
    record.size = folder ? 0 : entry.size;
    record.found = true;
    return Remote::Listed;
}

bool PeltaSync::GetRemoteObject(PeltaRecVfsSyncFile& record)
{
    return LookUpRemote(record) == Remote::Listed;
}

bool PeltaSync::CheckRemoteObject(PeltaRecVfsSyncFile& record)
{
    record.kind = XFSFolder;
    if (!GetRemoteObject(record))
        return false;
    const auto folders = Folders();
    const QString& root = folders->SyncFolder();
    const QString full = Full(*folders, record.path);
    status_.FileMon(record.path, PeltaRequestObject::SelfChangeMark, false);
    int error = 0;
    const bool made =
        LocalItem::MakeFolder(root, full, error) || LocalItem::Stat(root, full).kind == LocalKind::Folder;
    if (!made) {
        status_.FileMon(record.path, 1, true);
        Log(QStringLiteral("PeltaSync::CheckRemoteObject:Err:") + full + QLatin1Char(':') +
                LocalItem::ErrorText(error),
            LogGeneral);
        return false;
    }
    // Only a folder that is there gets its record: a stored folder missing
    // here reads as removed by the user. The mark is lowered once the record
    // is written, so that the folder's late events are judged against it.
    FillRecordKeys(record);
    Guarded("PeltaSync::CheckRemoteObject", [&] { db_->RecAdd(record, true); });
    status_.FileMon(record.path, 1, true);
    return true;
}

// The service's refusal of an immediate registration says that it has what
// was asked for already (or that it no longer matters). A refusal that only
// asks for a new registration is no such answer: the folder is not there.
bool PeltaSync::NothingMoreNeeded(PeltaRecSyncRequest& request, const QString& message)
{
    if (message.isEmpty())
        return false;
    JournalErrorEffect effect = JournalErrorEffect::None;
    return !HandleJournalError(request, message, &effect) && effect != JournalErrorEffect::Register;
}

bool PeltaSync::SyncObjectNow(const QString& path, int action)
{
    if (action != XSYNCFolderAdd && action != XSYNCFolderDel)
        return false;
    PeltaRecVfsSyncFile folder;
    folder.kind = XFSFolder;
    folder.path = path;
    bool stored = false;
    Guarded("PeltaSync:SyncObjectNow", [&] { stored = !path.isEmpty() && path != kRoot && db_->RecGet(folder); });
    if (!stored)
        return false;

    PeltaRecSyncRequest request;
    request.key = folder.key;
    request.path = folder.path;
    request.sn = folder.sn;
    request.action = action;
    request.agent_key = Settings()->Get(QStringLiteral("agent_key"));
    request.opt = PeltaDb::BuildRequestOpt(folder, action);

    QString url;
    QString body;
    QString reply;
    if (!api_->BuildSetSyncJournal(request, url, body))
        return false;
    if (!api_->CallAgentAPI(url, body, true, reply)) {
        if (NothingMoreNeeded(request, reply))
            return true;
        Log(QStringLiteral("PeltaSync:SyncObjectNow:setSyncJournal:錯誤訊息：") + reply, LogGeneral);
        return false;
    }
    if (!ReadJournal(reply, request)) {
        Log(QStringLiteral("PeltaSync:SyncObjectNow:setSyncJournal:reply without sync_journal:") + path, LogGeneral);
        return false;
    }
    if (!api_->BuildCommitSyncJournal(request, url, body))
        return false;
    if (api_->CallAgentAPI(url, body, true, reply)) {
        Log(QStringLiteral("PeltaSync:SyncObjectNow:commitSyncJournal:ok"), LogGeneral);
        const QString version = Field(PeltaJSON::ParseToMap(reply), "version");
        if (action == XSYNCFolderAdd && !version.isEmpty() && !version.startsWith(QLatin1Char(':')))
            Guarded("PeltaSync:SyncObjectNow", [&] {
                db_->RecUpdateFields(folder.key, XFSFolder, XMap{{QStringLiteral("version"), version}});
            });
        return true;
    }
    if (NothingMoreNeeded(request, reply))
        return true;
    Log(QStringLiteral("PeltaSync:SyncObjectNow:setSyncJournal:錯誤訊息：") + reply, LogGeneral);
    if (!reply.isEmpty())
        Log(QStringLiteral("PeltaSync:SyncObjectNow:commitSyncJournal:錯誤訊息：") + reply, LogGeneral);
    return false;
}

bool PeltaSync::ResyncRemote(const QString& path, bool recursive, bool deleteMissing, bool logExchange,
                             QString& timestamp, int depth)
{
    const QString given = timestamp;
    RemoteWalk walk(*this, recursive, deleteMissing, logExchange);
    if (walk.Run(path, depth, timestamp) == PassResult::Complete)
        return true;
    timestamp = given;
    return false;
}

bool PeltaSync::ResyncRemoteDelete(const QString& path, int kind)
{
    if (path.isEmpty() || path == kRoot)
        return false;
    RemoteDelete removal(*this);
    return removal.Run(path, kind);
}

bool PeltaSync::HasOpenWork(const QString& path)
{
    return OpenWork::On(*db_, path);
}

bool PeltaSync::ReadJournalReply(const QString& reply, PeltaRecSyncRequest& request)
{
    return ReadJournal(reply, request);
}
