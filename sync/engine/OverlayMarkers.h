#pragma once

// The overlay marker files in the data folder's ".ShellCache": for a relative
// path p, "." + Md5Hex(p) + ".1" while the item has local work pending or
// running and "." + Md5Hex(p) + ".9" once it is in sync. Empty files; at most
// one of the two exists for a path. The engines of one process change them
// under one lock, so two engines marking the same path never leave both.

#include <QString>

class OverlayMarkers {
public:
    static const QString PendingSuffix;  // "1"
    static const QString SyncedSuffix;   // "9"

    // folder is the marker folder, with or without a trailing "/".
    explicit OverlayMarkers(const QString& folder);

    // The marker base of p: folder + "." + Md5Hex(p) + ".".
    QString Base(const QString& p) const;

    // Leaves the markers of p as the overlay state asks: pending for add,
    // resync and modify, synced for sync, none for delete; the other states
    // change nothing. Failures are not reported.
    void Set(const QString& p, int state) const;

private:
    static void Create(const QString& file);
    static void Remove(const QString& file);

    QString folder_;
};
