#pragma once

// The files that could not be put in place because the local file was in
// use: a finished download that was to replace it, or the conflict copy the
// service named after an upload. Each path keeps its own copy of the file's
// record so that the move can be finished later. Nothing is persisted.
//
// Paths are relative to the sync folder with a leading backslash and are
// compared exactly (case-sensitively); positions follow ascending key order.
// Every operation takes the tracker's lock for its whole duration and never
// calls out, so any thread may use it, also while holding another lock.

#include "foundation/db/PeltaRecVfsSyncFile.h"

#include <QString>

#include <map>
#include <mutex>

class PeltaTrackConflict {
public:
    // Stores a copy of the record under the path; a path already stored has
    // its record overwritten with the new values. Always true.
    bool Add(const QString& path, const PeltaRecVfsSyncFile& record);

    // Forgets the path and its record; an unknown path changes nothing.
    void Remove(const QString& path);

    bool Exists(const QString& path) const;

    // Copies the stored values into record and returns true when the path is
    // stored; otherwise false and record is left as it was.
    bool Get(const QString& path, PeltaRecVfsSyncFile& record) const;

    // The path at that position in key order, "" when position is outside
    // 0..Count()-1. A caller that counted first must accept "" when the entry
    // went away in between.
    QString KeyAt(int position) const;

    int Count() const;

private:
    mutable std::mutex mutex_;
    std::map<QString, PeltaRecVfsSyncFile> entries_;
};

// The process-wide tracker.
extern PeltaTrackConflict TrackConflict;
