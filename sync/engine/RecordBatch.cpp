#include "sync/engine/RecordBatch.h"

#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"

#include <algorithm>

namespace {

QString Number(std::int64_t value)
{
    return QString::number(value);
}

// The rows from..to of items as one text, each made by row().
template <typename Item, typename Make>
QString Rows(const std::vector<Item>& items, std::size_t from, std::size_t to, Make row)
{
    QStringList rows;
    for (std::size_t index = from; index < to; ++index)
        rows << row(items[index]);
    return rows.join(QStringLiteral(", "));
}

template <typename Item, typename Send>
bool InChunks(const std::vector<Item>& items, Send send)
{
    bool ok = true;
    for (std::size_t from = 0; from < items.size(); from += RecordBatch::MaxRows)
        ok = send(from, std::min(items.size(), from + RecordBatch::MaxRows)) && ok;
    return ok;
}

}  // namespace

void RecordBatch::Insert(const PeltaRecVfsSyncFile& record)
{
    (record.kind == XFSFolder ? folders_ : files_).push_back(record);
}

void RecordBatch::SetFolderMtime(const QString& key, std::int64_t mtime)
{
    mtimes_.emplace_back(key, mtime);
}

void RecordBatch::Delete(const QString& path, int kind)
{
    (kind == XFSFolder ? deletedFolders_ : deletedFiles_) << path;
}

int RecordBatch::Pending() const
{
    return int(files_.size() + folders_.size()) + deletedFiles_.size() + deletedFolders_.size();
}

bool RecordBatch::Flush(bool all)
{
    bool ok = DeleteRows(std::exchange(deletedFiles_, {}), QStringLiteral("vfs_sync_file"));
    ok = DeleteRows(std::exchange(deletedFolders_, {}), QStringLiteral("vfs_sync_folder")) && ok;
    ok = InsertFolders(std::exchange(folders_, {})) && ok;
    ok = InsertFiles(std::exchange(files_, {})) && ok;
    if (all || mtimes_.size() >= std::size_t(MaxRows))
        ok = UpdateMtimes(std::exchange(mtimes_, {})) && ok;
    if (!ok)
        AppLog.Write(QStringLiteral("PeltaSync:RecordBatch:a statement failed"), LogGeneral);
    return ok;
}

bool RecordBatch::InsertFiles(const std::vector<PeltaRecVfsSyncFile>& files)
{
    return InChunks(files, [&](std::size_t from, std::size_t to) {
        const QString values = Rows(files, from, to, [](const PeltaRecVfsSyncFile& file) {
            return QLatin1Char('(') + PeltaRec::Literal(file.key) + QStringLiteral(", ") +
                   PeltaRec::Literal(file.sn) + QStringLiteral(", ") + PeltaRec::Literal(file.parent) +
                   QStringLiteral(", ") + PeltaRec::Literal(file.name) + QStringLiteral(", ") +
                   PeltaRec::Literal(file.path) + QStringLiteral(", ") + PeltaRec::Literal(file.version) +
                   QStringLiteral(", ") + Number(file.ctime) + QStringLiteral(", ") + Number(file.mtime) +
                   QStringLiteral(", ") + Number(file.size) + QLatin1Char(')');
        });
        return db_.Exec(QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, version, ctime, mtime, "
                                       "size) select column1, column2, column3, column4, column5, column6, column7, "
                                       "column8, column9 from (values ") +
                        values +
                        QStringLiteral(") as v where not exists (select 1 from vfs_sync_file f where "
                                       "f.path=v.column5)"));
    });
}

bool RecordBatch::InsertFolders(const std::vector<PeltaRecVfsSyncFile>& folders)
{
    return InChunks(folders, [&](std::size_t from, std::size_t to) {
        const QString values = Rows(folders, from, to, [](const PeltaRecVfsSyncFile& folder) {
            return QLatin1Char('(') + PeltaRec::Literal(folder.key) + QStringLiteral(", ") +
                   PeltaRec::Literal(folder.sn) + QStringLiteral(", ") + PeltaRec::Literal(folder.parent) +
                   QStringLiteral(", ") + PeltaRec::Literal(folder.name) + QStringLiteral(", ") +
                   PeltaRec::Literal(folder.path) + QStringLiteral(", ") + PeltaRec::Literal(folder.version) +
                   QStringLiteral(", ") + Number(folder.ctime) + QStringLiteral(", ") + Number(folder.mtime) +
                   QLatin1Char(')');
        });
        return db_.Exec(QStringLiteral("insert into vfs_sync_folder (key, sn, parent, name, path, version, ctime, "
                                       "mtime) select column1, column2, column3, column4, column5, column6, column7, "
                                       "column8 from (values ") +
                        values +
                        QStringLiteral(") as v where not exists (select 1 from vfs_sync_folder f where "
                                       "f.path=v.column5)"));
    });
}

bool RecordBatch::UpdateMtimes(const std::vector<std::pair<QString, std::int64_t>>& mtimes)
{
    return InChunks(mtimes, [&](std::size_t from, std::size_t to) {
        QString cases;
        QStringList keys;
        for (std::size_t index = from; index < to; ++index) {
            const QString key = PeltaRec::Literal(mtimes[index].first);
            cases += QStringLiteral(" when ") + key + QStringLiteral(" then ") + Number(mtimes[index].second);
            keys << key;
        }
        return db_.Exec(QStringLiteral("update vfs_sync_folder set mtime=case key") + cases +
                        QStringLiteral(" else mtime end where key in (") + keys.join(QStringLiteral(", ")) +
                        QLatin1Char(')'));
    });
}

bool RecordBatch::DeleteRows(const QStringList& paths, const QString& table)
{
    std::vector<QString> list(paths.cbegin(), paths.cend());
    return InChunks(list, [&](std::size_t from, std::size_t to) {
        QStringList literals;
        for (std::size_t index = from; index < to; ++index)
            literals << PeltaRec::Literal(list[index]);
        return db_.Exec(QStringLiteral("delete from ") + table + QStringLiteral(" where path in (") +
                        literals.join(QStringLiteral(", ")) + QLatin1Char(')'));
    });
}
