#pragma once

// Applies one usable journal entry (JournalEntry) that another agent
// committed to the local folder and the store, the safe way:
//
// - File added or changed: recorded (with the service's version, time and
//   size when the store does not know it) and fetched through the engine's
//   direct download, whose safe replace puts the service's content beside a
//   local file that changed as a conflict copy. A file that cannot be fetched
//   now is left to a download row, so no later rescan takes its missing local
//   copy for a local deletion.
// - Recycled: RemoteRecycle (only what still matches its record goes).
// - File moved: the local file is renamed, never over anything; a locally
//   changed file keeps its content and its record moves with it, the change
//   then goes up as a modification. When the source is missing, or the move
//   cannot be made (the destination is taken here), the destination is
//   fetched - beside a local file there - and the source goes here as it
//   went there, unless it changed here: then it stays and goes up as new.
//   A file here that was never the service's (no record, or one without a
//   version) is not the one moved: it stays and goes up as new, and the
//   destination is fetched.
// - Folder added: made locally and recorded.
// - Folder moved: renamed locally, never over anything, and its rows follow;
//   a move that fails keeps the source whole. A source that is missing
//   locally has its rows moved and a rescan of the destination queued that
//   restores rather than removes (the files may not have arrived yet). The
//   destination is then walked on the service.
//
// Names compare exactly. One object per replay, on the engine's thread.

#include "sync/engine/JournalEntry.h"
#include "sync/engine/PeltaSync.h"
#include "sync/engine/RemoteRecycle.h"

#include <QString>
#include <QStringList>

class MountedFolder;

class ReplayEntry {
public:
    // What the entries of one replay leave for the batch notice.
    struct Batch {
        PeltaSync::ActionCounts counts{};
        QString lastPath;
        PeltaSync::ParentCounter parents;
    };

    ReplayEntry(PeltaSync& engine, MountedFolder& mounted, Batch& batch);

    // entry is Usable; its kind's counter has been raised already.
    EntryOutcome Apply(const JournalEntry& entry);

    // The final queue's command for a folder whose rows were moved before its
    // content arrived: rescan it, restoring what is missing (removeMissing
    // off).
    static void QueueRestoringRescan(const QString& path);

private:
    EntryOutcome FetchFile(const JournalEntry& entry);
    EntryOutcome Recycle(const JournalEntry& entry);
    EntryOutcome MoveFile(const JournalEntry& entry);
    EntryOutcome AddFolder(const JournalEntry& entry);
    EntryOutcome MoveFolder(const JournalEntry& entry);

    // The stored record of path and kind; false with error set when the
    // store could not be read.
    bool Stored(const QString& path, int kind, PeltaRecVfsSyncFile& record, bool& error);
    // A record of path, stored: with the entry's version, time and size when
    // the content is here already, without them for a file still to come.
    bool InsertFromEntry(const QString& path, const JournalEntry& entry, PeltaRecVfsSyncFile& record,
                         bool contentHere);
    // Fetches the stored file of path (GetFileDirect) with the entry's
    // facts; a file not fetched now is left to a download row. True when it
    // is in place now.
    bool Fetch(const PeltaRecVfsSyncFile& stored, const JournalEntry& entry);
    // Fetches the destination of a file move that could not be made locally.
    EntryOutcome FetchMoved(const JournalEntry& entry);
    // The same when the source is still here but could not be moved: the
    // source then goes here as it went there.
    EntryOutcome FetchMovedAway(const JournalEntry& entry);
    // Queues the modification of a moved file whose content had not gone up
    // under its old name.
    void QueueUnsent(const QString& dest);
    bool MoveFolderRows(const PeltaRecVfsSyncFile& source, const QString& dest);
    // What changed here below a folder and has not gone up yet; queued
    // again under dest once the folder moved (the rows of the old paths
    // find nothing there any more).
    QStringList UnsentBelow(const QString& folder);
    void RequeueMoved(const QStringList& unsent, const QString& orig, const QString& dest);
    void AddFolderRecord(const QString& path, const PeltaRecVfsSyncFile& source, const QString& version);
    // Makes the folder (and its own folder when that is missing too); true
    // when it is there.
    bool MakeFolder(const QString& path);
    void WalkDestination(const QString& dest);
    void Uncount(const JournalEntry& entry);
    void Mark(const QString& path);
    void Unmark(const QString& path);

    PeltaSync& engine_;
    Batch& batch_;
    RemoteRecycle recycle_;
    QString root_;
};
