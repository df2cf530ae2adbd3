// The request rows of PeltaDb (table sync_request).

#include "foundation/db/PeltaDb.h"

#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/PeltaRec.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/text/PeltaJSON.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/ProcessState.h"

#include <utility>

namespace {

constexpr int kStatusRegister = 1;
constexpr int kStatusTransferPending = 5;
constexpr int kStatusCancelled = 12;
// A failed row is taken again once its last update is as old as its retry
// delay: 10 s after the first failure, twice as long after each further one,
// at most 10 min. A row is never given up for failing often.
const QString kRetryDue = QStringLiteral(
    "(update_time is null or DateTime('now', '-' || min(600, 10 << min(max(err_count, 1) - 1, 6)) || ' second')"
    ">=update_time)");

bool IsMoveAction(int action)
{
    return action == XSYNCFileMove || action == XSYNCFolderMove;
}

QString StatusSet(int mode)
{
    switch (mode) {
    case 1:
        return QStringLiteral("(5, 7, 6)");
    case 2:
        return QStringLiteral("(1, 3, 5, 7, 6)");
    default:
        return QStringLiteral("(1, 3)");
    }
}

QString UploadTypeName()
{
    const int method = UploadMethod.load();
    if (method < 0 || method >= int(UploadMethodNames.size()))
        return QString::fromLatin1(UploadMethodNames[UploadMethodPostFile2]);
    return QString::fromLatin1(UploadMethodNames[std::size_t(method)]);
}

}  // namespace

bool PeltaDb::AddSyncRequest(const PeltaRecVfsSyncFile& record, int action, bool lowPriority)
{
    XMap none;
    return AddSyncRequestTo(record, action, lowPriority, nullptr, none);
}

bool PeltaDb::AddSyncRequestTo(const PeltaRecVfsSyncFile& record, int action, bool lowPriority,
                               const PeltaRecVfsSyncFile* oldRecord, XMap& extra)
{
    XMap pairs = std::exchange(extra, XMap());
    if (record.path.isEmpty() || record.key.isEmpty()) {
        Log(QStringLiteral("DB:AddSyncRequest:no path or key:") + record.path);
        return false;
    }
    if (IsMoveAction(action) && oldRecord == nullptr) {
        Log(QStringLiteral("DB:AddSyncRequest:move without its old record:") + record.path);
        return false;
    }

    PeltaRecSyncRequest row;
    row.key = record.key;
    row.sn = record.sn;
    row.path = record.path;
    row.agent_key = settings_.Get(QStringLiteral("agent_key"));
    row.action = action;
    row.status = kStatusRegister;

    // The tests for rows already there and the insert are one step, so two
    // engines never both add the same download.
    const FileLock hold(*this);
    if (SkipRequest(record, action, row))
        return false;
    row.opt = BuildRequestOpt(record, action, oldRecord, pairs);
    row.path2 = oldRecord ? oldRecord->path : QString();
    row.priority = lowPriority ? 1 : 0;
    return Exec(row.GetInsertSQL());
}

// True when no row is to be added for the action; may set the new row's
// status.
bool PeltaDb::SkipRequest(const PeltaRecVfsSyncFile& record, int action, PeltaRecSyncRequest& row)
{
    switch (action) {
    case XSYNCFileMod:
        if (record.mtime == 0) {
            Log(QStringLiteral("DB:AddSyncRequest:modification without mtime:") + record.path);
            return true;
        }
        // A modification not yet started is replaced by the new one.
        return !Exec(QStringLiteral("update sync_request set status=") + QString::number(kStatusCancelled) +
                     QStringLiteral(" where key=") + PeltaRec::Literal(record.key) + QStringLiteral(" and action=") +
                     QString::number(XSYNCFileMod) + QStringLiteral(" and status=") + QString::number(kStatusRegister) +
                     QStringLiteral(" and err_count=0"));
    case XSYNCFileGet:
        if (DownloadOpen(record.key))
            return true;
        row.status = kStatusTransferPending;
        return false;
    case XSYNCFolderMod:
        return true;
    default:
        return false;
    }
}

// A failed query counts as no open download (the failure is reported).
bool PeltaDb::DownloadOpen(const QString& key)
{
    const auto statement = NewStatement();
    return QueryWith(QStringLiteral("select * from sync_request where key=") + PeltaRec::Literal(key) +
                         QStringLiteral(" and action=") + QString::number(XSYNCFileGet) +
                         QStringLiteral(" and commit_time is null and status<=7 and err_count=0  limit 1"),
                     *statement) > 0;
}

QString PeltaDb::BuildRequestOpt(const PeltaRecVfsSyncFile& record, int action)
{
    XMap none;
    return BuildRequestOpt(record, action, nullptr, none);
}

QString PeltaDb::BuildRequestOpt(const PeltaRecVfsSyncFile& record, int action, const PeltaRecVfsSyncFile* oldRecord,
                                 XMap& extra)
{
    XMap pairs = std::exchange(extra, XMap());
    const QString mtime = QString::number(record.mtime);
    switch (action) {
    case XSYNCFileMod:
        pairs[QStringLiteral("version")] = record.version;
        [[fallthrough]];
    case XSYNCFileAdd:
        pairs[QStringLiteral("size")] = QString::number(record.size);
        pairs[QStringLiteral("local_mtime")] = mtime;
        pairs[QStringLiteral("upload_type")] = UploadTypeName();
        pairs[QStringLiteral("my_base64_full_path_name")] = PathToBase64Url(record.path);
        break;
    case XSYNCFileDel:
    case XSYNCFolderAdd:
    case XSYNCFolderDel:
        pairs[QStringLiteral("local_mtime")] = mtime;
        pairs[QStringLiteral("my_base64_full_path_name")] = PathToBase64Url(record.path);
        break;
    case XSYNCFileMove:
    case XSYNCFolderMove:
        pairs[QStringLiteral("local_mtime")] = mtime;
        pairs[QStringLiteral("my_base64_dest_full_path_name")] = PathToBase64Url(record.path);
        if (oldRecord)
            pairs[QStringLiteral("my_base64_orig_full_path_name")] = PathToBase64Url(oldRecord->path);
        else
            Log(QStringLiteral("DB:BuildRequestOpt:move without its old record:") + record.path);
        break;
    default:
        break;
    }
    return PeltaJSON::MapToJson(pairs);
}

bool PeltaDb::GetNextRequest(PeltaRecSyncRequest& request, int mode)
{
    const QString statuses = StatusSet(mode);
    const QString fresh = QStringLiteral("select rowid, * from sync_request where status in ") + statuses +
                          QStringLiteral(" and err_count=0 and commit_time is null order by priority, request_time, "
                                         "rowid limit 1");
    const QString retry = QStringLiteral("select rowid, * from sync_request where status in ") + statuses +
                          QStringLiteral(" and commit_time is null and err_count>0 and ") + kRetryDue +
                          QStringLiteral(" order by err_count desc, priority, request_time, rowid limit 1");

    // The row is read and stamped under one hold: no other connection waits
    // for this one's read while it waits for the lock.
    const FileLock hold(*this);
    auto statement = NewStatement();
    int found = QueryWith(fresh, *statement);
    if (found == 0)
        found = QueryWith(retry, *statement);
    if (found <= 0 || !statement->FetchRow())
        return false;

    request.rowid = GetColumnInt(QStringLiteral("rowid"), *statement);
    request.key = ColumnText(QStringLiteral("key"), *statement);
    request.path = ColumnText(QStringLiteral("path"), *statement);
    request.path2 = ColumnText(QStringLiteral("path2"), *statement);
    request.sn = ColumnText(QStringLiteral("sn"), *statement);
    request.agent_key = ColumnText(QStringLiteral("agent_key"), *statement);
    request.action = GetColumnInt(QStringLiteral("action"), *statement);
    request.opt = ColumnText(QStringLiteral("opt"), *statement);
    request.status = GetColumnInt(QStringLiteral("status"), *statement);
    request.err_count = GetColumnInt(QStringLiteral("err_count"), *statement);
    request.sync_journal_key = ColumnText(QStringLiteral("sync_journal_key"), *statement);
    request.sync_journal_key_checksum = ColumnText(QStringLiteral("sync_journal_key_checksum"), *statement);
    request.priority = GetColumnInt(QStringLiteral("priority"), *statement);
    statement.reset();

    Exec(QStringLiteral("update sync_request set update_time=CURRENT_TIMESTAMP where rowid=") +
         QString::number(request.rowid));
    return true;
}

bool PeltaDb::CountPendingRequests()
{
    try {
        return NewStatement()->QueryDouble(QStringLiteral(
                   "select count(*) from sync_request where status in (1, 3, 5, 7, 6) and commit_time is null")) > 0;
    } catch (const Lithos::SQLiteException& failure) {
        Log(QStringLiteral("DB:CountPendingRequests:") + FormatSQLiteException(failure));
        return false;
    }
}

bool PeltaDb::RequestPending(const QString& path, int action, int excludeRowid)
{
    QString sql = QStringLiteral("select count(*) from sync_request where path=") + PeltaRec::Literal(path) +
                  QStringLiteral(" and  commit_time is null ");
    if (action == XSYNCNOP) {
        sql += QStringLiteral(" and status <=7");
    } else if (action == XSYNCFileAdd || action == XSYNCFileMod) {
        sql += QStringLiteral("and status <=4 and (action=") + QString::number(XSYNCFileAdd) + QStringLiteral(" or action=") +
               QString::number(XSYNCFileMod) + QLatin1Char(')');
    } else {
        sql += QStringLiteral(" and status <=7 and action=") + QString::number(action);
    }
    if (excludeRowid > 0)
        sql += QStringLiteral(" and rowid<>") + QString::number(excludeRowid);
    return NewStatement()->QueryDouble(sql) > 0;
}

bool PeltaDb::CancelPathRequests(const QString& path, int action)
{
    QString clause;
    if (action == XSYNCFileAdd || action == XSYNCFileMod) {
        clause = QStringLiteral("and (action=") + QString::number(XSYNCFileAdd) + QStringLiteral(" or action=") +
                 QString::number(XSYNCFileMod) + QStringLiteral(" or action=") + QString::number(XSYNCFileGet) + QStringLiteral(") ");
    } else {
        clause = QStringLiteral("and action=") + QString::number(action) + QLatin1Char(' ');
    }
    return Exec(QStringLiteral("update sync_request set status=") + QString::number(kStatusCancelled) +
                QStringLiteral(" where path=") + PeltaRec::Literal(path) +
                QStringLiteral(" and commit_time is null and status<10 ") + clause);
}

bool PeltaDb::CancelAllRequests()
{
    return Exec(QStringLiteral("update sync_request set status=") + QString::number(kStatusCancelled) +
                QStringLiteral(" where commit_time is null and status<10"));
}
