#pragma once

// The merging rules of the sync-pre thread, without the thread: one folder
// event is held back and merged with the next one, and what is left is
// passed on (flushed) through the sink.
//
// - An addition followed by modifications of the same item stays one
//   addition; an addition removed again cancels out; an addition renamed
//   right away becomes a modification (an addition for a folder) of the new
//   name; the parent folder's event after an addition inside it is absorbed.
// - A removal followed by an addition of the same path is one modification.
//   A removal and an addition of different paths stay what they are: only
//   the kernel pairs moves.
// - A move a -> b followed by a move x -> a (a save through a backup name)
//   is one modification of a; the backup name b is held as an addition, so
//   that it reaches the engine unless it goes away again.
// - A move followed by a modification of its new name stays the move.
// - Two modifications of one item are one.
// - A rename to itself is a modification.
// - A command (a kind other than 1 to 4) passes the held event on first and
//   then goes on unchanged, so that the order is kept.
//
// Paths are compared exactly. isFolder tells whether a relative path is an
// existing folder at the moment of the merge.

#include "foundation/PeltaFSQueue.h"

#include <QString>

#include <functional>

class EventMerger {
public:
    using Sink = std::function<void(const PeltaFSQueue& event)>;
    using FolderTest = std::function<bool(const QString& path)>;

    EventMerger(Sink sink, FolderTest isFolder);

    // Merges event with the held one; what cannot wait is flushed.
    void Take(const PeltaFSQueue& event);

    // Passes the held event on unchanged (nothing came for the hold time).
    void FlushHeld();

    bool HasHeld() const { return held_.status != 0; }
    const PeltaFSQueue& Held() const { return held_; }

private:
    // Merges next with the held event; next may be changed or dropped (kind 0).
    void Merge(PeltaFSQueue& next);
    void MergeAfterRemoved(PeltaFSQueue& next);
    void MergeAfterAdded(PeltaFSQueue& next);
    void MergeAfterMove(PeltaFSQueue& next);
    void MergeAfterModified(PeltaFSQueue& next);
    void Flush(int kind, const QString& path, const QString& path2 = QString());
    bool IsFolder(const QString& path) const;

    Sink sink_;
    FolderTest isFolder_;
    PeltaFSQueue held_;
};
