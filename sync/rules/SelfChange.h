#pragma once

// Whether a change reported on a path is the engine's own, the one test the
// directory monitor and the handling of a modification both use.
//
// The engine marks a path in the status object (PeltaRequestObject::FileMon)
// before it writes, moves or deletes there itself: with SelfChangeMark while
// its operation runs, then, once the store holds the outcome, with the short
// settle mark. A change on a path without a live mark is the user's. While
// the operation runs, every change there is the engine's own. Under the
// settle mark a change is the engine's own only while the disk still agrees
// with what the engine left there, that is with the store's record of the
// path: an item is there exactly when a record is, of the same kind, and a
// file has the recorded size and modification time. Anything else is the
// user's - an edit, a removal or a rename right after the engine's change -
// and goes through the normal handling, which compares with the store again.
//
// An unreadable store or an item that cannot be looked at counts as the
// user's: the normal handling decides then. No state of its own; any thread
// may call it with a store connection of its own.

#include <QString>

class PeltaDb;
class PeltaRequestObject;

class SelfChange {
public:
    // root is the sync folder (absolute, "/"-separated, no trailing "/");
    // path is relative ("\a\b"; a missing leading "\" is added).
    static bool IsOwn(PeltaRequestObject& status, PeltaDb& store, const QString& root, const QString& path);

    // The disk at path agrees with the store's record of it, as above.
    static bool DiskMatchesRecord(PeltaDb& store, const QString& root, const QString& path);
};
