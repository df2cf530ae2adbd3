#pragma once

// Is the sync folder really there? A sync folder on a disk that is not
// mounted looks, to a pass that compares it with the store, like a folder
// whose every item was deleted. So one small marker file lives in the sync
// folder's cache folder (".tessaron.cache/.mounted"); it is written when the
// folder is bound and after each complete full pass, and its absence in an
// empty folder tells an empty mount point from a sync folder.
//
//   folder and its parent both missing        NotMounted (the disk is gone)
//   folder empty (but for the cache folder)   NotMounted (an empty mount point)
//     and its marker missing
//   folder missing, its parent there          Removed (the user deleted it: it
//                                             is made again and filled from
//                                             the service; nothing is deleted
//                                             on the service)
//   marker missing, folder has content        the marker is written again;
//                                             Mounted
//   folder and marker there                   Mounted
//
// A folder that cannot be looked at, or something else in its place, counts
// as NotMounted. Nothing that can delete runs unless the state is Mounted.
//
// While NotMounted, syncing is paused: the owner (a thread) calls Check
// periodically and resumes (restarting the directory monitor) once it
// reports Mounted again. The pause belongs to the folder, not to one
// object: the first NotMounted that any object finds is logged and told to
// its notice, and so is the first Mounted that any object finds after it,
// even one that never saw the folder gone itself.
//
// One object belongs to one thread; several objects may look at the same
// folder (writing the marker twice is harmless).

#include <QString>

class SyncFolderNotice;

class MountedFolder {
public:
    enum class State { Mounted, NotMounted, Removed };

    // The marker's name inside the cache folder.
    static const QString MarkerName;

    // syncFolder is absolute, "/"-separated, without a trailing "/". The
    // notice is not owned and may be null.
    explicit MountedFolder(QString syncFolder, SyncFolderNotice* notice = nullptr);

    // Looks at the folder now; writes the marker again when it is missing
    // from a folder with content.
    State Check();
    // Check() is Mounted.
    bool IsMounted() { return Check() == State::Mounted; }
    // The last Check found the folder not mounted.
    bool Paused() const { return paused_; }

    // Writes the marker (and the cache folder when it is missing); true when
    // the marker is there afterwards. Called when the folder is bound and
    // after each complete full pass.
    bool WriteMarker();
    // For a Removed folder: makes the folder again (one level: its parent
    // must exist) with its marker, so that the empty new folder counts as
    // mounted. False when it cannot be made.
    bool Recreate();

    const QString& Folder() const { return folder_; }
    QString MarkerPath() const;

    static QString StateName(State state);

private:
    State Look(QString& reason);
    State LookWithoutMarker(QString& reason);
    void Report(State state, const QString& reason);

    QString folder_;
    SyncFolderNotice* notice_;
    bool paused_ = false;
    bool checked_ = false;
    State last_ = State::Mounted;
};
