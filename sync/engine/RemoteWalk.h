#pragma once

// One remote walk (PeltaSync::ResyncRemote): the service's listing of a
// folder, and recursively of every folder below it, compared with the disk
// and the store. Folders the service lists are made locally, files that are
// new or changed there are fetched (small ones at once, larger ones as
// download rows), and stored items that the service no longer lists are
// removed locally (deleteMissing) or registered with the service again.
// A walk of one object (depth 0, or not recursive) lists only that object.
//
// Order: each folder is finished (its folders, then its files, then its
// stored items) before the folders found in it are walked, in the order
// listed, each completely before the next.
//
// Nothing is taken from a failed read (FailedReads): a listing that failed
// or that lacks its lists, a folder the service no longer has when its
// listing comes back empty, a folder that cannot be made locally - that
// folder and its subtree are skipped and the pass reports Failed. A listing
// with entries that had to be skipped (RemoteListing) is acted on, but
// nothing at that level is removed or registered again, and the pass is
// Failed too. A pass that is not Complete gives no journal position.
//
// Data safety. No walk starts unless the sync folder is mounted
// (MountedFolder); every removal checks it again. Items with an open
// deletion or move row (the user removed or moved them) are left alone: not
// made again, not fetched, not walked. A stored item the service lacks is
// touched only when no request row has work to do for it (OpenWork); when it
// is gone locally too, only its rows go. Downloads are put into place
// through the safe replace; a file record takes the service's version, size
// and time only once the file is in place, and a fetch that does not end in
// place leaves a download row behind. Names compare exactly.
//
// Statements. Every prepared statement costs the agent a pause, so the
// stored rows and open requests of the walked tree are read once at the
// start and new records are written in batches (RecordBatch), at the latest
// every FlushRows records or FlushInterval. The folders that got new items
// are flushed to the disk once before each batch, not once per item.
//
// One object per walk, on the engine's thread.

#include "sync/engine/RecordBatch.h"
#include "sync/engine/RemoteListing.h"
#include "sync/rules/FailedReads.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

class PeltaSync;

class RemoteWalk {
public:
    static constexpr int FlushRows = 100;
    static constexpr std::chrono::seconds FlushInterval{1};

    RemoteWalk(PeltaSync& engine, bool recursive, bool deleteMissing, bool logExchange);

    // Walks path (a relative path; "", "0" and "\" are the sync folder) at
    // depth. timestamp, when empty, takes the first usable listing's time
    // stamp; the caller keeps it only for a Complete pass.
    PassResult Run(const QString& path, int depth, QString& timestamp);

private:
    struct Level {
        QString path;
        int depth = 1;
        bool finish = false;  // the level's closing step, after its subtree
        QString key;          // the parent value of its children's rows
        bool complete = false;
    };
    struct StoredFile {
        QString key;
        std::int32_t mtime = 0;
        std::int64_t size = 0;
        QString version;
    };

    bool Prepare();
    bool ReadStoredFolders();
    bool ReadStoredFiles();
    bool ReadUserChanges();
    QString Subtree(const QString& column) const;

    // One level; the folders to walk below it.
    QStringList WalkLevel(Level& level);
    bool FolderKey(const QString& folder, QString& key);
    bool List(const Level& level, RemoteListing& listing);
    bool FolderStillThere(const Level& level, const RemoteListing& listing);
    void FolderEntry(const RemoteEntry& entry, const QString& parentKey, QStringList& subfolders);
    void FileEntry(const RemoteEntry& entry, const QString& parentKey);
    void StoredFolders(const Level& level, QStringList& subfolders);
    void StoredFiles(const Level& level);
    void FinishLevel(const Level& level);

    // Fetching.
    bool Fetch(const RemoteEntry& entry, const QString& parentKey, const StoredFile* stored);
    enum class Placement { InPlace, Beside, NotPlaced };
    Placement PutInPlace(const QString& target, const QString& path, const StoredFile* stored,
                         const QString& version, int& error);
    void Record(const PeltaRecVfsSyncFile& record, const StoredFile* stored, std::int64_t heldMtime);
    // The file's record, stored when the walk began, is gone: the removal of
    // the file here was taken in since.
    bool RecordGone(const QString& path);
    bool QueueDownload(PeltaRecVfsSyncFile record, const StoredFile* stored);

    // Stored items the service does not list.
    bool MayChange(const QString& path);
    void DropStale(const QString& path, int kind);

    bool IsUserChanged(const QString& path) const;
    bool Running();
    void FlushIfDue();
    // The folders changed since the last flush are flushed to the disk, then
    // the records are written.
    void Flush(bool all);
    // An item made in its folder; the folder is flushed before the records.
    void Touched(const QString& path);
    // An item the walk made or replaced, still marked as the engine's
    // operation: the mark is lowered to the settle mark once its record is
    // written (at the next flush).
    void Settle(const QString& path);

    QString Full(const QString& relative) const;
    static QString Join(const QString& folder, const QString& name);
    static QString ParentOf(const QString& relative);

    PeltaSync& engine_;
    const bool recursive_;
    const bool deleteMissing_;
    const bool logExchange_;
    bool objectWalk_ = false;
    QString root_;
    QString start_;
    QString* timestamp_ = nullptr;
    FailedReads failed_;
    bool badListing_ = false;  // entries were skipped somewhere
    RecordBatch batch_;
    std::chrono::steady_clock::time_point lastFlush_;

    QHash<QString, QString> storedFolders_;  // path -> key
    QHash<QString, StoredFile> storedFiles_;
    QHash<QString, QStringList> folderChildren_;  // stored folders by their folder
    QHash<QString, QStringList> fileChildren_;    // stored files by their folder
    QSet<QString> userChanged_;  // paths of open deletion and move rows
    QSet<QString> listed_;       // the current level's listed paths
    QHash<QString, QString> unsynced_;  // folder -> the full path of an item made in it
    QStringList settling_;              // marked paths whose records wait for the flush
};
