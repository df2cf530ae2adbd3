// PeltaSync: the service's view of single items - one object's metadata, the
// immediate registration of a folder, the creation of a folder the service
// lists - and the entry point of the remote walk.

#include "sync/engine/PeltaSync.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"

#include <cerrno>

namespace {

const QString kRoot = QStringLiteral("\\");

// The service's form of a relative folder path: "/" for the sync folder.
QString ServiceFolder(const QString& relative)
{
    QString folder = relative;
    return folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

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
        !api_->CallAgentAPI(url, body, true, reply))
        return Remote::Failed;
    const std::optional<JsonValue> entries =
        PeltaJSON::ParseFindObject(reply, QStringLiteral("metadata")).FindArray(folder ? QStringLiteral("folder")
                                                                                         : QStringLiteral("file"));
    if (!entries) {
        Log(QStringLiteral("PeltaSync::GetRemoteObject:reply without its list:") + relative, LogGeneral);
        return Remote::Failed;
    }
    const qsizetype cut = relative.lastIndexOf(QLatin1Char('\\'));
    const QString holder = ServiceFolder(cut <= 0 ? kRoot : relative.left(cut));
    const QString name = relative.mid(cut + 1);
    for (const JsonValue& entry : *entries) {
        const XMap fields = entry.ObjectToMap();
        if (Field(fields, "path") != holder || Field(fields, "name") != name)
            continue;
        std::int64_t mtime = 0;
        std::int64_t size = 0;
        const QString version = Field(fields, "version");
        if (version.isEmpty() || version.startsWith(QLatin1Char(':')) || !ReadInteger(fields, "local_mtime", mtime) ||
            (!folder && !ReadInteger(fields, "size", size))) {
            Log(QStringLiteral("PeltaSync::GetRemoteObject:entry without its fields:") + relative, LogGeneral);
            return Remote::Failed;
        }
        const QString parent = Field(fields, "parent");
        record.path = relative;
        record.key = RecordKey(relative);
        record.name = name;
        record.sn = Field(fields, "sn");
        record.parent = parent == SyncRootParentKey ? kRoot : parent;
        record.version = version;
        record.mtime = static_cast<std::int32_t>(mtime);
        record.ctime = static_cast<std::int32_t>(mtime);
        record.size = size;
        record.found = true;
        return Remote::Listed;
    }
    return Remote::Absent;
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
    FillRecordKeys(record);
    Guarded("PeltaSync::CheckRemoteObject", [&] { db_->RecAdd(record, true); });
    const auto folders = Folders();
    const QString full = Full(*folders, record.path);
    status_.FileMon(record.path, PeltaRequestObject::SelfChangeMark, false);
    int error = 0;
    const bool made = LocalItem::MakeFolder(folders->SyncFolder(), full, error) || error == EEXIST;
    if (!made)
        Log(QStringLiteral("PeltaSync::CheckRemoteObject:Err:") + full + QLatin1Char(':') +
                LocalItem::ErrorText(error),
            LogGeneral);
    status_.FileMon(record.path, 0, false);
    return made;
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
        if (!reply.isEmpty() && !HandleJournalError(request, reply))
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
    if (!reply.isEmpty() && !HandleJournalError(request, reply))
        return true;
    Log(QStringLiteral("PeltaSync:SyncObjectNow:setSyncJournal:錯誤訊息：") + reply, LogGeneral);
    if (!reply.isEmpty())
        Log(QStringLiteral("PeltaSync:SyncObjectNow:commitSyncJournal:錯誤訊息：") + reply, LogGeneral);
    return false;
}

// The walk itself is not here yet: this only logs its start, so a folder
// that the service holds under another name is not walked until it is.
bool PeltaSync::ResyncRemote(const QString& path, bool /*recursive*/, bool /*deleteMissing*/, bool /*logExchange*/,
                             QString& /*timestamp*/, int depth)
{
    const QString walked = path.isEmpty() || path == QLatin1String("0") ? kRoot : path;
    Log(QStringLiteral("PeltaSync::ResyncRemote(") + QString::number(depth) + QStringLiteral(") Start ") + walked +
            QStringLiteral(", ") + walked,
        LogGeneral);
    return false;
}

bool PeltaSync::ReadJournalReply(const QString& reply, PeltaRecSyncRequest& request)
{
    return ReadJournal(reply, request);
}
