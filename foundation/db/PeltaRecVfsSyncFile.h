#pragma once

#include "foundation/db/PeltaRec.h"

#include <QString>

#include <cstdint>

// The kind of a file record and so its table.
enum XFSType : int {
    XFSNone = 0,
    XFSFolder = 1,  // vfs_sync_folder
    XFSFile = 2,    // vfs_sync_file
};

// One row of vfs_sync_file or vfs_sync_folder.
class PeltaRecVfsSyncFile : public PeltaRec {
public:
    void Clear();
    // Copies every field, the flags included; null clears the record.
    void Assign(const PeltaRecVfsSyncFile* source);

    QString key;
    QString sn;
    QString parent;   // key of the parent folder's record; "\" directly in the sync folder
    QString name;
    QString path;     // relative to the sync folder, with a leading "\"
    QString version;
    std::int32_t ctime = 0;
    std::int32_t mtime = 0;
    std::int64_t size = 0;
    int kind = XFSNone;
    bool found = false;  // set by the database read when the row was found
    bool error = false;  // set by the database read when reading failed
};
