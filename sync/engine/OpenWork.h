#pragma once

// The deletion guard: does a request row still have work to do for a path?
// A remote change (the walk's removal of what the service no longer lists,
// the removal of a folder's content) never removes an item that has one.
//
// A row has work to do while it is not committed and its status is one the
// request worker still takes: 1 (to register), 3, 5 and 6 (registered, its
// transfer pending - an upload registered but not yet sent is one), 7 (a
// download waiting to be put into place). The action does not matter: an
// upload, a download, a deletion or a move of the path all hold it. A move
// holds both its new path (the row's path) and its old one (path2).
//
// This differs on purpose from the request-row test that a local change
// uses (PeltaDb::RequestPending with an upload action counts statuses up to
// 4 only): that one asks whether a new row is needed, this one whether
// anything is still under way.
//
// A store that cannot be read counts as work to do. Paths compare exactly;
// a folder's subtree is found by comparing the paths' first characters, so
// no character of a name is special. Runs on the caller's connection.

#include <QSet>
#include <QString>

class PeltaDb;

class OpenWork {
public:
    // The worker's statuses, as an SQL list.
    static const QString Statuses;

    // True when a row with work to do names path.
    static bool On(PeltaDb& db, const QString& path);

    // The paths at or below folder ("\": every path) that rows with work to
    // do name, into paths. False when the store could not be read (paths is
    // then incomplete and the caller must assume work everywhere).
    static bool Below(PeltaDb& db, const QString& folder, QSet<QString>& paths);

    // An SQL condition on the text column: it is path, or lies below it.
    static QString AtOrBelow(const QString& column, const QString& path);
};
