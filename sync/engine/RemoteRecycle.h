#pragma once

// A file or folder that the service recycled, taken away locally only as far
// as that is safe. A local file is deleted only when it still matches its
// record (SafeReplace::Matches: same size and modification time, a stored
// version, no open upload row), right before the deletion. Anything else - a
// changed file, a file the store does not know, a folder that still holds
// such a file - stays where it is and is queued for upload again as a new
// item (folders before what they hold), since the service no longer has it.
// A folder is removed only once it is empty; items that are not regular
// files or folders are never touched, and a folder that cannot be listed is
// kept whole. Rows of items that are gone locally are dropped without any
// request: the service already has the change.
//
// Nothing is deleted unless the engine is running and the sync folder is
// mounted (MountedFolder): an unmounted folder looks empty, and its items
// must not be taken for deleted.
//
// One object per replay, on the engine's thread.

#include <QString>

class MountedFolder;
class PeltaSync;

class RemoteRecycle {
public:
    enum class Result {
        Removed,  // the item is gone locally (or was never there)
        Kept,     // the item, or part of a folder, stays and is queued for upload
        Failed,   // it could not be looked at or removed; nothing more was done
        Stopped,  // the engine is stopping or the sync folder is not mounted
    };

    RemoteRecycle(PeltaSync& engine, MountedFolder& mounted);

    Result File(const QString& path);
    Result Folder(const QString& path);

private:
    bool MayDelete(const QString& path);
    // A file that matches its record is deleted; anything else is kept, and
    // with queueKept queued for upload (a folder's pass queues what it kept
    // afterwards, folders first).
    Result RemoveFile(const QString& path, bool queueKept);
    // Removes what is unchanged below folder, then folder once it is empty.
    // True when folder is gone.
    bool RemoveUnchanged(const QString& folder);
    // Queues folder and everything that is left below it for upload.
    void QueueKept(const QString& folder);
    void KeepForUpload(const QString& path);
    // Drops the rows of folder and below it whose item is gone locally.
    void ForgetGoneRows(const QString& folder);
    void DropDownloads(const QString& path);
    bool RemoveEmptyFolder(const QString& path, int& error);
    QString Full(const QString& path) const;

    PeltaSync& engine_;
    MountedFolder& mounted_;
    QString root_;
    bool stopped_ = false;
};
