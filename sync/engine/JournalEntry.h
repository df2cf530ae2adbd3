#pragma once

// One entry of the service's change journal (an element of the
// getSyncJournal reply's "commit_journal"), read and checked before the
// replay touches anything with it.
//
// An entry's "obj_type" and "action" give its kind (an XSYNCAction):
//   file   add XSYNCFileAdd, edit XSYNCFileMod, recycle XSYNCFileDel, move XSYNCFileMove
//   folder add XSYNCFolderAdd, edit XSYNCFolderMod, recycle XSYNCFolderDel, move XSYNCFolderMove
// Its "commit_desc" holds the commit's "status" ("1": it succeeded), the
// item's "version" and its path or, for a move, the source and destination
// paths (Base64url of the UTF-8 path with "/" separators); its "req_desc"
// holds what the committing agent sent: "local_mtime" and "size". Both may
// come as objects or as texts holding an object.
//
// Paths are decoded and pass PathGuard; what a kind does not need is not
// required. Reading never throws.

#include "foundation/text/JsonValue.h"

#include <QString>

#include <cstdint>

class JournalEntry {
public:
    enum class State {
        Usable,      // every field the kind needs is there and its paths are usable here
        Failed,      // the commit did not succeed on the service: nothing to replay
        Unreadable,  // not an object, an unknown kind, or a needed field missing or malformed
        Refused,     // a path that cannot exist in the sync folder (PathGuard)
    };

    static JournalEntry Read(const JsonValue& value);

    State state = State::Unreadable;
    QString problem;  // why, for Unreadable and Refused

    // Read first, whatever the state.
    QString agentKey;
    QString commitTime;
    QString objType;
    QString action;

    int kind = 0;            // an XSYNCAction; XSYNCNOP when unknown
    bool isFolder = false;
    QString version;         // commit_desc "version"
    QString path;            // relative path; the source of a move
    QString destPath;        // relative path of a move's destination
    std::int64_t mtime = 0;  // req_desc "local_mtime"
    std::int64_t size = 0;   // req_desc "size"

    bool IsMove() const;
    // "obj_type,action:path" (and "->destination" for a move), for log lines.
    QString Describe() const;
};

// What replaying one entry came to.
enum class EntryOutcome {
    Applied,     // done as far as it safely goes; the position may pass it
    NotApplied,  // not done: the position must stay before it
    Stop,        // the replay must end now (engine stopping, sync folder not mounted)
};
