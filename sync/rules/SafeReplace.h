#pragma once

// The one test-and-replace of every remote change that would replace a local
// file (a finished download, later the walk, the replay and conflict
// handling). The local file is replaced only when it still is what the store
// says the service has: its size and modification time equal the stored
// record's, the record has a version, and no upload of the path is open. A
// file that does not exist may always be created. The test runs right before
// the file-system call.
//
// When the test fails, the local file stays where it is and what came from
// the service is put beside it as a conflict copy, under a name that says so
// and never over anything; the caller then queues the local content for
// upload. A local file that another program holds locked is left alone
// (EBUSY): the caller waits for it instead.
//
// Paths are full paths below root (the sync folder), reached through
// LocalItem. Moves are renames (no-replace where nothing may be overwritten)
// followed by a flush of the folder; across file systems the file is copied
// and the source unlinked. No state: any thread may call these.

#include <QDateTime>
#include <QString>

#include <cstdint>

class SafeReplace {
public:
    // What the store holds for the local file.
    struct Stored {
        bool known = false;  // the store has a record for the path
        std::int64_t size = 0;
        std::int64_t mtime = 0;
        QString version;
    };

    enum class Outcome {
        Replaced,   // incoming is now at target
        KeptLocal,  // the local file stayed; incoming is at conflictCopy
        Failed,     // nothing moved; error says why (EBUSY: target in use)
    };

    struct Result {
        Outcome outcome = Outcome::Failed;
        QString conflictCopy;  // for KeptLocal
        int error = 0;         // for Failed
    };

    // Whether a local file with these facts may be replaced or removed by a
    // remote change.
    static bool Matches(std::int64_t size, std::int64_t mtime, const Stored& stored, bool uploadOpen);

    // Puts incoming at target when the local file may be replaced, otherwise
    // beside it as a conflict copy named for when.
    static Result Apply(const QString& root, const QString& incoming, const QString& target, const Stored& stored,
                        bool uploadOpen, const QDateTime& when);

    // A free name beside target that says it is a conflict copy:
    // "report (conflict 2026-12-11 041200).txt", then "... 041200 2).txt" and
    // so on while a name is taken. Empty when no free name was found.
    static QString ConflictCopyName(const QString& root, const QString& target, const QDateTime& when);

    // Moves from to to only when nothing is at to (EEXIST otherwise).
    static bool MoveNoReplace(const QString& root, const QString& from, const QString& to, int& error);
    // Moves from to to, replacing the file there.
    static bool MoveReplacing(const QString& root, const QString& from, const QString& to, int& error);

private:
    static Result PutBeside(const QString& root, const QString& incoming, const QString& target,
                            const QDateTime& when);
};
