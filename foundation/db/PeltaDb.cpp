#include "foundation/db/PeltaDb.h"

#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/db/PeltaRec.h"

#include <sqlite3.h>

#include <array>

namespace {

const QString kFileTable = QStringLiteral("vfs_sync_file");
const QString kFolderTable = QStringLiteral("vfs_sync_folder");

// A record of kind XFSNone is a file record that has not been given its kind.
bool IsFileKind(int kind)
{
    return kind == XFSFile || kind == XFSNone;
}

}  // namespace

const QString PeltaDb::CreateFileTableSql = QStringLiteral(
    "CREATE TABLE vfs_sync_file ( key VARCHAR(32) NOT NULL, sn VARCHAR(32) NOT NULL, parent VARCHAR(32) NOT NULL, "
    "name TEXT NOT NULL, path TEXT NOT NULL,version VARCHAR(32), ctime INT NOT NULL, mtime INT NOT NULL, "
    "size UNSIGNED BIG INT DEFAULT 0\t);");
const QString PeltaDb::CreateFolderTableSql = QStringLiteral(
    "CREATE TABLE vfs_sync_folder ( key VARCHAR(32) NOT NULL, sn VARCHAR(32) NOT NULL, parent VARCHAR(32) NOT NULL, "
    "name TEXT NOT NULL,\tpath TEXT NOT NULL,version VARCHAR(32), ctime int NOT NULL, mtime int NOT NULL );");
const QString PeltaDb::CreateRequestTableSql = QStringLiteral(
    "CREATE TABLE sync_request ( key VARCHAR(32) NOT NULL, path TEXT NOT NULL, path2 TEXT, sn VARCHAR(32) NOT NULL,"
    "agent_key VARCHAR(32) NOT NULL, request_time INT DEFAULT CURRENT_TIMESTAMP, commit_time INT, "
    "update_time INT DEFAULT CURRENT_TIMESTAMP, action INT DEFAULT 0, opt TEXT, status INT DEFAULT 0, "
    "server_response INT, sync_journal_key VARCHAR(32), sync_journal_key_checksum VARCHAR(32), "
    "sync_journal_key_expire INT, err_count INT DEFAULT 0 );");
const QString PeltaDb::CreateLogTableSql = QStringLiteral(
    "CREATE TABLE log ( key VARCHAR(32) NOT NULL, level INT DEFAULT 1, time INT DEFAULT CURRENT_TIMESTAMP, "
    "desc text );");

PeltaDb::PeltaDb(PeltaSyncAgentSetting& settings) : PeltaSQLite3(csProfileDb), settings_(settings)
{
    // A file that cannot be opened has been reported already; there is
    // nothing to upgrade then.
    if (Open())
        Migrate();
}

PeltaDb::~PeltaDb() = default;

bool PeltaDb::CreateTables()
{
    const FileLock hold(*this);
    for (const QString& sql : {CreateFileTableSql, CreateFolderTableSql, CreateRequestTableSql, CreateLogTableSql})
        Exec(sql);
    return true;
}

void PeltaDb::Migrate()
{
    // One hold for the whole upgrade, so that two objects made at once never
    // both add the same column.
    const FileLock hold(*this);
    if (!ColumnExists(kFileTable, QStringLiteral("crc"))) {
        static const std::array<QString, 8> steps = {
            QStringLiteral("alter table vfs_sync_file add column crc VARCHAR(8);"),
            QStringLiteral("alter table vfs_sync_file add column isSynced int default 0;"),
            QStringLiteral("create index if not exists idx_vfs_sync_file_1 on vfs_sync_file (key, parent);"),
            QStringLiteral("create index if not exists idx_vfs_sync_file_2 on vfs_sync_file (path);"),
            QStringLiteral("create index if not exists idx_vfs_sync_folder_1 on vfs_sync_folder (key, parent);"),
            QStringLiteral("create index if not exists idx_vfs_sync_folder_2 on vfs_sync_folder (path);"),
            QStringLiteral("create index if not exists idx_sync_request_1 on sync_request (key);"),
            QStringLiteral("create index if not exists idx_sync_request_2 on sync_request (path);"),
        };
        for (const QString& sql : steps)
            Exec(sql);
    }
    if (!ColumnExists(QStringLiteral("sync_request"), QStringLiteral("priority")))
        Exec(QStringLiteral("alter table sync_request add column priority int default 0;"));
    if (!ColumnExists(kFolderTable, QStringLiteral("crc")))
        Exec(QStringLiteral("alter table vfs_sync_folder add column crc VARCHAR(8);"));
    // Children are listed by parent; without these every listing reads the
    // whole table. Made on every open, so older files get them too.
    Exec(QStringLiteral("create index if not exists idx_vfs_sync_file_parent on vfs_sync_file (parent);"));
    Exec(QStringLiteral("create index if not exists idx_vfs_sync_folder_parent on vfs_sync_folder (parent);"));
    // Finished request rows stay in the table; the next row is found among
    // the open ones only, so taking it does not slow down as history grows.
    Exec(QStringLiteral("create index if not exists idx_sync_request_open on sync_request "
                        "(priority, request_time) where commit_time is null;"));
}

void PeltaDb::Log(const QString& text)
{
    AppLog.Write(text, LogDB);
}

QString PeltaDb::TableOf(int kind)
{
    return kind == XFSFolder ? kFolderTable : kFileTable;
}

bool PeltaDb::IsIdentifier(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype index = 0; index < name.size(); ++index) {
        const char16_t c = name.at(index).unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        const bool digit = c >= u'0' && c <= u'9';
        if (!letter && !(digit && index > 0))
            return false;
    }
    return true;
}

// ---- File and folder rows --------------------------------------------------

bool PeltaDb::RecExists(const QString& path, const QString& table)
{
    Log(QStringLiteral("DB:RecExists:begin:") + table + QLatin1Char(':') + path);
    if (!IsIdentifier(table)) {
        Log(QStringLiteral("DB:RecExists:refused table name:") + table);
        return false;
    }
    const FileLock hold(*this);
    const auto statement = NewStatement();
    return statement->QueryDouble(QStringLiteral("select count(*) from ") + table + QStringLiteral(" where path=") +
                                  PeltaRec::Literal(path)) > 0;
}

bool PeltaDb::RecExists(const QString& path, int kind)
{
    if (kind != XFSFolder && kind != XFSFile)
        return false;
    return RecExists(path, TableOf(kind));
}

bool PeltaDb::RecGet(PeltaRecVfsSyncFile& record)
{
    record.found = false;
    record.error = false;
    const QString where = record.path.isEmpty() ? QStringLiteral(" where key=") + PeltaRec::Literal(record.key)
                                                : QStringLiteral(" where path=") + PeltaRec::Literal(record.path);
    return ReadRecordRow(QStringLiteral("select * from ") + TableOf(record.kind) + where + QLatin1Char(';'), record);
}

bool PeltaDb::ReadRecordRow(const QString& sql, PeltaRecVfsSyncFile& record)
{
    const FileLock hold(*this);
    const auto statement = NewStatement();
    const int found = QueryWith(sql, *statement);
    if (found <= 0) {
        record.error = found < 0;
        return false;
    }
    try {
        if (!statement->FetchRow())
            return false;
        record.key = ColumnText(QStringLiteral("key"), *statement);
        record.sn = ColumnText(QStringLiteral("sn"), *statement);
        record.parent = ColumnText(QStringLiteral("parent"), *statement);
        record.name = ColumnText(QStringLiteral("name"), *statement);
        record.path = ColumnText(QStringLiteral("path"), *statement);
        record.version = ColumnText(QStringLiteral("version"), *statement);
        record.ctime = GetColumnInt(QStringLiteral("ctime"), *statement);
        record.mtime = GetColumnInt(QStringLiteral("mtime"), *statement);
        // Every row of vfs_sync_file has a size, also one read for a record
        // whose kind was not set yet.
        if (record.kind != XFSFolder)
            record.size = statement->GetColumnInt64ByName("size");
    } catch (const Lithos::SQLiteException& failure) {
        ReportError(failure);
        record.error = true;
        return false;
    }
    record.found = true;
    return true;
}

bool PeltaDb::RecInsert(PeltaRecVfsSyncFile& record)
{
    if (record.kind == XFSNone)
        record.kind = XFSFile;
    QString sql;
    if (record.kind == XFSFolder) {
        sql = QStringLiteral("insert into vfs_sync_folder (key, sn, parent, name, path,  ctime, mtime) values (") +
              PeltaRec::Literal(record.key) + QStringLiteral(", ") + PeltaRec::Literal(record.sn) + QStringLiteral(", ") +
              PeltaRec::Literal(record.parent) + QStringLiteral(", ") + PeltaRec::Literal(record.name) + QStringLiteral(", ") +
              PeltaRec::Literal(record.path) + QStringLiteral(", ") + QString::number(record.ctime) + QStringLiteral(", ") +
              QString::number(record.mtime) + QStringLiteral(");");
    } else if (record.kind == XFSFile) {
        sql = QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, version, ctime, mtime, size) "
                             "values (") +
              PeltaRec::Literal(record.key) + QStringLiteral(", ") + PeltaRec::Literal(record.sn) + QStringLiteral(", ") +
              PeltaRec::Literal(record.parent) + QStringLiteral(", ") + PeltaRec::Literal(record.name) + QStringLiteral(", ") +
              PeltaRec::Literal(record.path) + QStringLiteral(", ") + PeltaRec::Literal(record.version) + QStringLiteral(", ") +
              QString::number(record.ctime) + QStringLiteral(", ") + QString::number(record.mtime) + QStringLiteral(", ") +
              QString::number(record.size) + QStringLiteral(");");
    } else {
        Log(QStringLiteral("DB:RecAdd:no table for kind ") + QString::number(record.kind) + QLatin1Char(':') + record.path);
        return false;
    }
    Log(QStringLiteral("DB:RecAdd:") + sql);
    return Exec(sql);
}

bool PeltaDb::RecUpdate(const PeltaRecVfsSyncFile& record)
{
    QString sql;
    if (record.kind == XFSFolder) {
        sql = QStringLiteral("update vfs_sync_folder set parent=") + PeltaRec::Literal(record.parent) +
              QStringLiteral(", name=") + PeltaRec::Literal(record.name) + QStringLiteral(", path=") + PeltaRec::Literal(record.path) +
              QStringLiteral(", ctime=") + QString::number(record.ctime) + QStringLiteral(", mtime=") + QString::number(record.mtime) +
              QStringLiteral(" where key=") + PeltaRec::Literal(record.key) + QLatin1Char(';');
    } else if (IsFileKind(record.kind)) {
        sql = QStringLiteral("update vfs_sync_file set parent=") + PeltaRec::Literal(record.parent) +
              QStringLiteral(", name=") + PeltaRec::Literal(record.name) + QStringLiteral(", path=") + PeltaRec::Literal(record.path) +
              QStringLiteral(", ctime=") + QString::number(record.ctime) + QStringLiteral(", mtime=") + QString::number(record.mtime) +
              QStringLiteral(", size=") + QString::number(record.size) + QStringLiteral(", version=") +
              PeltaRec::Literal(record.version) + QStringLiteral(" where key=") + PeltaRec::Literal(record.key) + QLatin1Char(';');
    } else {
        Log(QStringLiteral("DB:RecUpdate:no table for kind ") + QString::number(record.kind) + QLatin1Char(':') + record.path);
        return false;
    }
    return Exec(sql);
}

bool PeltaDb::RecAdd(PeltaRecVfsSyncFile& record, bool updateWhenPresent)
{
    // A record without a kind is a file: it is looked for, and written, in
    // vfs_sync_file, so adding it twice never makes two rows.
    if (record.kind == XFSNone)
        record.kind = XFSFile;
    Log(QStringLiteral("DB:RecAdd:start:") + record.path + QLatin1Char(':') +
        (record.kind == XFSFile ? QStringLiteral("file") : QStringLiteral("folder")));
    bool result = false;
    // The test for a record already there and the insert are one step, so
    // two engines adding the same path never make two records.
    const FileLock hold(*this);
    if (!RecExists(record.path, record.kind)) {
        Log(QStringLiteral("DB:RecAdd:Start Add"));
        result = RecInsert(record);
    } else if (updateWhenPresent) {
        Log(QStringLiteral("DB:RecAdd:rec exists, update"));
        result = RecUpdate(record);
    } else {
        Log(QStringLiteral("DB:RecAdd:rec exists, skip"));
    }
    Log(QStringLiteral("DB:RecAdd:end"));
    return result;
}

bool PeltaDb::RecDelete(const QString& path, int kind)
{
    return Exec(QStringLiteral("delete from ") + TableOf(kind) + QStringLiteral(" where path=") + PeltaRec::Literal(path));
}

QString PeltaDb::GetFieldByPath(const QString& path, const QString& column, int kind)
{
    if (!IsIdentifier(column)) {
        Log(QStringLiteral("DB:GetFieldByPath:refused column name:") + column);
        return QString();
    }
    const QString sql = QStringLiteral("select ") + column + QStringLiteral(" from ") + TableOf(kind) +
                        QStringLiteral(" where path=") + PeltaRec::Literal(path);
    if (column.toLower() == QStringLiteral("key") && kind == XFSFolder)
        return ReadFolderKey(sql, column);
    return QueryValue(sql, column);
}

// Read without the file's lock; nothing else runs on this statement's
// connection meanwhile, and the statement ends before returning.
QString PeltaDb::ReadFolderKey(const QString& sql, const QString& column)
{
    try {
        const auto statement = NewStatement();
        statement->Prepare(sql);
        if (!statement->FetchRow())
            return QString();
        const std::string name = column.toStdString();
        QString key;
        if (statement->GetColumnTypeByName(name) == SQLITE_TEXT)
            key = statement->GetColumnString16ByName(name);
        return key.isEmpty() ? QStringLiteral("\\") : key;
    } catch (const Lithos::SQLiteException& failure) {
        Log(QStringLiteral("DB:GetFieldByPath:") + FormatSQLiteException(failure));
        return QString();
    }
}

QString PeltaDb::GetFolderKey(const QString& folderPath)
{
    return GetFieldByPath(folderPath, QStringLiteral("key"), XFSFolder);
}

QString PeltaDb::GetFieldByKey(const QString& key, const QString& column, int kind)
{
    if (!IsIdentifier(column)) {
        Log(QStringLiteral("DB:GetFieldByKey:refused column name:") + column);
        return QString();
    }
    return QueryValue(QStringLiteral("select ") + column + QStringLiteral(" from ") + TableOf(kind) +
                          QStringLiteral(" where key=") + PeltaRec::Literal(key),
                      column);
}

bool PeltaDb::RecMove(const QString& oldKey, const QString& newPath, int kind, const QString& newParent,
                      const QString& newKey)
{
    return Exec(QStringLiteral("update ") + TableOf(kind) + QStringLiteral(" set path=") + PeltaRec::Literal(newPath) +
                QStringLiteral(", key=") + PeltaRec::Literal(newKey) + QStringLiteral(", parent=") + PeltaRec::Literal(newParent) +
                QStringLiteral(" where key=") + PeltaRec::Literal(oldKey));
}

bool PeltaDb::RecUpdateFields(const QString& key, int kind, const XMap& fields)
{
    if (fields.empty()) {
        Log(QStringLiteral("DB:RecUpdateFields:no columns for key ") + key);
        return false;
    }
    QString pairs;
    for (const auto& [column, value] : fields) {
        if (!IsIdentifier(column)) {
            Log(QStringLiteral("DB:RecUpdateFields:refused column name:") + column);
            return false;
        }
        if (!pairs.isEmpty())
            pairs += QLatin1Char(',');
        pairs += column + QLatin1Char('=') + PeltaRec::Literal(value);
    }
    return Exec(QStringLiteral("update ") + TableOf(kind) + QStringLiteral(" set ") + pairs +
                QStringLiteral(" where key=") + PeltaRec::Literal(key));
}

bool PeltaDb::RecSetMtime(const QString& key, int kind, std::int64_t mtime)
{
    return Exec(QStringLiteral("update ") + TableOf(kind) + QStringLiteral(" set mtime=") + QString::number(mtime) +
                QStringLiteral(" where key=") + PeltaRec::Literal(key));
}

void PeltaDb::PurgeOtherSn(const QString& sn)
{
    const QString value = PeltaRec::Literal(sn);
    Exec(QStringLiteral("delete from vfs_sync_file where sn <> ") + value);
    Exec(QStringLiteral("delete from vfs_sync_folder where sn <> ") + value);
    Exec(QStringLiteral("delete from sync_request where sn<> ") + value);
}
