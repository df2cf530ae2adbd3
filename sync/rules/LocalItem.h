#pragma once

// The one place where the engine reaches items of the sync folder on disk.
//
// Only regular files and folders are items. Symbolic links, FIFOs, sockets
// and devices are never opened and never followed: every name below the sync
// folder is looked at with lstat semantics first, folders are entered one
// name at a time with O_NOFOLLOW, and files are opened with
// O_NOFOLLOW | O_NONBLOCK and checked to be regular once open. A path that
// runs through a symbolic link is therefore not an item either. The sync
// folder itself is taken as configured (it may be reached through a link).
//
// root is the sync folder (absolute, "/"-separated, no trailing "/"); full is
// root itself or a path below it. A full path outside root is refused with
// EPERM. Failures give false or a closed descriptor with the errno value in
// error. No state: any thread may call these.

#include "sync/rules/FileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

enum class LocalKind {
    Missing,  // nothing there (or a folder on the way is missing or a file)
    File,     // a regular file
    Folder,
    Other,    // not an item: a link, FIFO, socket or device, or below a link
    Unknown,  // could not be looked at (error holds why)
};

struct LocalFacts {
    LocalKind kind = LocalKind::Missing;
    std::int64_t ctime = 0;  // birth time where the file system keeps one, else mtime
    std::int64_t mtime = 0;
    std::int64_t size = 0;   // regular files only
    int error = 0;           // errno, for Unknown
    QString what;            // for Other: what the item is
};

class LocalItem {
public:
    // What is at full, without following anything below root.
    static LocalFacts Stat(const QString& root, const QString& full);
    // The facts of an open descriptor.
    static LocalFacts FactsOf(int fd);

    // The folder that holds full, reached from root one name at a time;
    // name gets the last name. ELOOP when a folder on the way is a link.
    static FileDescriptor OpenParent(const QString& root, const QString& full, QByteArray& name, int& error);
    // A regular file for reading. ELOOP for a link, EINVAL for any other
    // item that is not a regular file (neither is opened).
    static FileDescriptor OpenFile(const QString& root, const QString& full, int& error);
    // A folder for reading its entries.
    static FileDescriptor OpenFolder(const QString& root, const QString& full, int& error);
    // A new file for writing (mode 0600); EEXIST when there is one already.
    static FileDescriptor CreateFile(const QString& root, const QString& full, int& error);

    // One level: the folder that holds full must exist.
    static bool MakeFolder(const QString& root, const QString& full, int& error);
    // Removes a file (or a link or other non-folder item, never followed).
    static bool RemoveFile(const QString& root, const QString& full, int& error);
    // Renames from over to, both below root, replacing a file at to.
    static bool Rename(const QString& root, const QString& from, const QString& to, int& error);
    // Renames from to to, both below root, only when nothing is at to
    // (EEXIST otherwise); EXDEV when they lie on different file systems.
    static bool RenameNoReplace(const QString& root, const QString& from, const QString& to, int& error);
    // Flushes the folder that holds full, so a rename or creation in it
    // survives a crash.
    static bool SyncParent(const QString& root, const QString& full, int& error);
    // Sets a regular file's modification time (whole seconds); the access
    // time is left as it is.
    static bool SetModificationTime(const QString& root, const QString& full, std::int64_t mtime, int& error);

    // The system's message for an errno value.
    static QString ErrorText(int error);
};
