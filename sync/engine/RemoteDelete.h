#pragma once

// The local removal of an item that the service no longer has
// (PeltaSync::ResyncRemoteDelete): a file, or a folder with its content.
//
// Only what is known to be the service's former content goes: a file is
// removed when its record has a version (it reached the service), its size
// and modification time still equal the record's, and no request row has
// work to do for it (OpenWork). Everything else stays where it is:
//   - a file changed here is kept and its upload queued again, and so is a
//     file that never reached the service or that the store does not know;
//   - an item with an open request (an upload under way, a download, a
//     deletion or move not yet sent) is left to that request;
//   - links, FIFOs and other entries that are not items are never touched.
// A folder is emptied from the bottom up, and each folder is removed only
// once it is empty; one that still holds something stays with its record.
// Nothing is moved: the content is removed in place, so nothing that
// appears meanwhile can be caught by a move. A folder that cannot be listed
// keeps everything in it.
//
// Rows go with the items they describe, and rows of items that are gone here
// as well (and have no open request) go too. Nothing runs unless the sync
// folder is mounted (MountedFolder). Self-change marks cover every removal.
// Names compare exactly.
//
// One object per call, on the engine's thread.

#include "sync/engine/RecordBatch.h"
#include "sync/rules/LocalItem.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>

class PeltaSync;

class RemoteDelete {
public:
    explicit RemoteDelete(PeltaSync& engine);

    // kind 1 folder, 2 file. False when nothing could be decided: not a path
    // of an item, the sync folder not mounted, the store or the item cannot
    // be read. Items kept for their safety still give true.
    bool Run(const QString& path, int kind);

private:
    struct StoredFile {
        std::int32_t mtime = 0;
        std::int64_t size = 0;
        QString version;
    };

    bool ReadStore(const QString& path);
    bool File(const QString& path);
    bool Folder(const QString& path);
    void EmptyFolder(const QString& path);
    void TakeFile(const QString& path, std::int64_t size, std::int64_t mtime);
    void RemoveIfEmpty(const QString& folder);
    void KeepAndSend(const QString& path, const QString& why);
    void DropGoneRows();
    bool Covered(const QString& path) const;

    QString Full(const QString& relative) const;

    PeltaSync& engine_;
    QString root_;
    RecordBatch batch_;
    QHash<QString, StoredFile> storedFiles_;
    QSet<QString> storedFolders_;
    QSet<QString> open_;        // paths with open work
    QSet<QString> present_;     // seen here
    QStringList unreadable_;    // folders that could not be listed
    QStringList settling_;      // removed items still marked until their rows go
};
