#pragma once

// One pass of the full local rescan (PeltaSync::ResyncLocal): a folder of the
// sync folder, with everything below it, is compared with the store, and each
// difference becomes one of the engine's ordinary local operations. New and
// changed items go to FileAdd; items that vanished go to FileRemove (with
// removeMissing) or are restored from the service (folders made again, files
// queued for download).
//
// Walk phase: every folder that is both on disk and in the store is listed,
// and it is chosen for a detailed look when its last-write time differs from
// the stored one, when one of its files differs from its row (a file written
// in place leaves the folder's time alone), or always with checkFile. New
// folders are added and looked at in detail.
// Detail phase: a chosen folder's subfolders and files are compared with its
// rows; new subfolders are added and looked at in turn.
//
// Nothing is deleted from a failed read (FailedReads): a folder whose listing
// or store query failed, or whose row is unusable, is skipped with its
// subtree and the pass reports Failed. A folder that vanished during the pass
// is taken as gone only once a complete listing of its parent lacks it. No
// deletion runs unless the sync folder is mounted (MountedFolder); a pass
// that finds it unmounted does not start. A complete pass over the whole
// sync folder writes the mounted marker.
//
// Names compare exactly (Linux names are case-sensitive). Hidden (dot-named)
// subfolders that the store does not know are not added, and the cache
// folder at the top is never looked at; hidden files are compared like any
// other. Files of the file filter are left alone.
//
// One object per pass, on the engine's thread.

#include "sync/rules/FailedReads.h"
#include "sync/rules/LocalListing.h"
#include "sync/rules/MountedFolder.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

class PeltaDb;
class PeltaSync;

namespace Lithos {
class SQLiteStatement;
}  // namespace Lithos

class LocalRescan {
public:
    // More stored subfolders than this put a folder back once to the end of
    // the detail queue while other folders wait.
    static constexpr int CheckLaterThreshold = 100;

    LocalRescan(PeltaSync& engine, bool checkFile, bool removeMissing);

    PassResult Run(const QString& path);

private:
    struct StoredFolder {
        QString key;
        std::int32_t mtime = 0;
    };
    struct StoredFile {
        std::int32_t mtime = 0;
        std::int64_t size = 0;
        bool committed = false;  // the row has a version
    };
    // The rows below one folder, in query order.
    struct StoredChildren {
        QStringList folders;
        QSet<QString> folderNames;
        std::vector<std::pair<QString, StoredFile>> files;
        QHash<QString, StoredFile> fileByName;
    };

    bool Start();
    // Runs sql and hands each row to take. A query that fails or throws is
    // a failed read of the folder, "<what> cannot be read": false.
    using RowReader = std::function<void(PeltaDb& db, Lithos::SQLiteStatement& row)>;
    bool ReadRows(const QString& folder, const QString& sql, const char* what, const RowReader& take);
    // The stored file of a row holding its mtime, size and version.
    static StoredFile FileOfRow(PeltaDb& db, Lithos::SQLiteStatement& row);
    static bool UsablePath(const QString& path, const char* row);
    static bool UsableName(const QString& folder, const QString& name, const char* row);
    bool ReadStoredFolders();
    bool ReadStoredFiles();
    QString SubtreeCondition() const;

    // Takes folders from the front of the queue, each not skipped to visit,
    // until it is empty (true) or the pass stops (false).
    bool Drain(std::deque<QString>& queue, void (LocalRescan::*visit)(const QString&));
    void Walk();
    void WalkFolder(const QString& folder);
    bool FilesDiffer(const QString& folder, const LocalListing& listing) const;
    // Each listed file whose path is not ignored, until visit returns false.
    using FileVisit = std::function<bool(const LocalEntry& entry, const QString& child)>;
    static void ForListedFiles(const QString& folder, const LocalListing& listing, const FileVisit& visit);
    // The row holds what the disk shows: committed, the same size and time.
    static bool SameAsStored(const StoredFile* row, const LocalEntry& entry);

    void Details();
    void Examine(const QString& folder);
    bool FolderKey(const QString& folder, QString& key, bool& hasRow);
    bool ReadChildFolders(const QString& folder, const QString& key, StoredChildren& stored);
    bool ReadChildFiles(const QString& folder, const QString& key, StoredChildren& stored);
    void AddNewFolders(const QString& folder, const LocalListing& listing, const StoredChildren& stored);
    QStringList ChangedFiles(const QString& folder, const LocalListing& listing, const StoredChildren& stored) const;
    void StoreFolderTime(const QString& folder, const QString& key, std::int64_t mtime);

    // A stored item that the disk lacks.
    void MissingFolder(const QString& child);
    void MissingFile(const QString& child);
    bool IsPendingOrPresent(const QString& child);
    void Remove(const QString& child);
    void Restore(const QString& child);

    // Listings.
    LocalListing List(const QString& folder) const;
    void ListingFailed(const QString& folder, const LocalListing& listing);
    bool NoteUnreadable(const QString& folder, const LocalListing& listing);
    bool ConfirmVanished();
    void ForgetVanished(const QString& folder);
    bool Skipped(const QString& folder) const;

    void QueueDetail(const QString& folder);
    bool Running();

    QString Full(const QString& relative) const;
    static QString Join(const QString& folder, const QString& name);
    static QString ParentOf(const QString& relative);
    static QString NameOf(const QString& relative);
    static bool IsListedSubfolder(const QString& folder, const LocalEntry& entry);

    PeltaSync& engine_;
    const bool checkFile_;
    const bool removeMissing_;
    QString root_;
    QString start_;
    MountedFolder mounted_;
    FailedReads failed_;

    QHash<QString, StoredFolder> storedFolders_;
    QHash<QString, StoredFile> storedFiles_;     // only without checkFile
    QHash<QString, int> storedFileCount_;        // by folder, only without checkFile

    std::deque<QString> walk_;
    std::deque<QString> detail_;
    QSet<QString> queued_;    // ever put into the detail queue
    QSet<QString> deferred_;  // put back by the check-later rule
    QSet<QString> restored_;  // made again by this pass
    QStringList vanished_;    // gone during the pass, not yet confirmed
};
