#pragma once

// The upload snapshot: the copy of a file that one request row sends. It
// lives in the cache folder under a name that carries the row as well as the
// record key ("_" + key + "_" + rowid), so a later row for the same file
// never overwrites the copy that an earlier row is sending. Everything that
// reads or removes a snapshot - the registration that takes it, the
// transfer, the commit, the cancels and the removal of records - names it
// through this class.
//
// The engine core may copy a file that it cannot read in place before any
// row exists; that copy has the key alone ("_" + key) and is handed to the
// row that registers the file next.
//
// The service appends what it receives under a journal key. A resumed upload
// may therefore only continue what was sent of the same bytes: when the first
// part goes out, a note beside the snapshot records the journal key and the
// snapshot's size, modification time and inode; a resume continues only when
// the note names the row's key and the snapshot still matches it (its inode
// change time included, so a copy rewritten in place does not pass).
//
// Paths are full paths below root, the sync folder, reached through
// LocalItem. No state: any thread may call these.

#include <QString>

#include <cstdint>

class UploadSnapshot {
public:
    // "_" + key + "_" + rowid.
    static QString NameOf(const QString& key, int rowid);
    static QString PathOf(const QString& cacheDir, const QString& key, int rowid);
    // The engine core's copy of a file in use, made before a row exists.
    static QString PendingPathOf(const QString& cacheDir, const QString& key);
    // The note of what was first sent from the snapshot.
    static QString NoteOf(const QString& snapshot);

    // Takes a fresh snapshot of source for a row: the core's pending copy of
    // the key, when there is one, becomes the row's first, then the source
    // is copied over it. size and mtime receive the snapshot's. A note of an
    // earlier sending is dropped. The errno of a failure in error.
    static bool Take(const QString& root, const QString& source, const QString& pending, const QString& snapshot,
                     std::int64_t& size, std::int64_t& mtime, int& error);

    // Size and modification time of the snapshot; false when it is not there
    // as a regular file.
    static bool Facts(const QString& root, const QString& snapshot, std::int64_t& size, std::int64_t& mtime);

    // Records that sending of the snapshot under journalKey begins now.
    static bool NoteSending(const QString& root, const QString& snapshot, const QString& journalKey);
    // True when a note exists for the snapshot (something may have been sent).
    static bool HasNote(const QString& root, const QString& snapshot);
    // True when the note names journalKey and the snapshot has the size,
    // modification and change times and inode that it had when sending
    // began.
    static bool UnchangedSinceSent(const QString& root, const QString& snapshot, const QString& journalKey);
    static void DropNote(const QString& root, const QString& snapshot);

    // Removes the snapshot and its note; a missing one is no failure.
    static void Remove(const QString& root, const QString& snapshot);

private:
    static QByteArray NoteText(const QString& journalKey, int fd);
};
