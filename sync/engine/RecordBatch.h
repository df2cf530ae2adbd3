#pragma once

// Writes to the file and folder records that a pass collects and sends to
// the store a batch at a time: every statement the store prepares costs the
// agent a pause, so a walk over thousands of items writes its new records in
// a few statements instead of one each.
//
// New rows are inserted only where the store has no row of the path yet (a
// row that another thread wrote meanwhile wins); folder times are set by
// key. A batch goes out whole in one statement per kind, at most MaxRows rows
// each. Nothing is written until Flush. One object per pass, on the
// engine's thread.

#include "foundation/db/PeltaRecVfsSyncFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

class PeltaDb;

class RecordBatch {
public:
    static constexpr int MaxRows = 200;

    explicit RecordBatch(PeltaDb& db) : db_(db) {}

    // A new record (kind 1 folder, 2 file).
    void Insert(const PeltaRecVfsSyncFile& record);
    // The stored modification time of the folder with the key.
    void SetFolderMtime(const QString& key, std::int64_t mtime);
    // Rows to delete, by path (kind 1 folder, 2 file).
    void Delete(const QString& path, int kind);

    // Rows to insert or delete that wait (folder times not counted).
    int Pending() const;
    // Sends what was collected; false when a statement failed (the rest is
    // still sent; nothing is kept for a later attempt). Folder times, which
    // only spare a later rescan a look, wait for a full statement's worth
    // unless all is set.
    bool Flush(bool all = true);

private:
    bool InsertFiles(const std::vector<PeltaRecVfsSyncFile>& files);
    bool InsertFolders(const std::vector<PeltaRecVfsSyncFile>& folders);
    bool UpdateMtimes(const std::vector<std::pair<QString, std::int64_t>>& mtimes);
    bool DeleteRows(const QStringList& paths, const QString& table);

    PeltaDb& db_;
    std::vector<PeltaRecVfsSyncFile> files_;
    std::vector<PeltaRecVfsSyncFile> folders_;
    std::vector<std::pair<QString, std::int64_t>> mtimes_;
    QStringList deletedFiles_;
    QStringList deletedFolders_;
};
