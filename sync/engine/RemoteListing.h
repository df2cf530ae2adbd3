#pragma once

// One getMetadata reply of the remote walk, read and checked before anything
// acts on it.
//
// A reply is usable only when it is a JSON object whose "status" is "1" and
// whose "metadata" object holds both arrays, "folder" and "file". A reply
// without them (or not JSON at all) is a failed read: it is never taken for
// an empty folder.
//
// An entry is taken when it is an object with every field the walk reads -
// "key", "path", "name", "parent", "version", "local_mtime" and, for files,
// "size" - as scalars, with integers where integers belong; when its "path"
// is the walked folder (for a listing of one object: the object's folder,
// and its "name" the object's name); and when its "name" is one name the
// engine can hold (PathGuard). Every other entry is skipped with a log line
// and counted, and the listing is then known only in part: the walk acts on
// the entries it took but removes or registers nothing at that level.
//
// An entry whose name is one name the service may hold (not ".", "..", no
// separator) but that cannot exist here (longer than 255 bytes in UTF-8, a
// control character, a file of the cache folder's name at the top) is left
// out with a log line and counted apart: no stored item can carry such a
// name, so the listing is still whole for every item the engine can hold.
// Were it skipped, every walk of its folder would be partial, and a walk of
// the whole folder would fail and be retried for as long as the item exists.
//
// The service's own copy of the cache folder (a folder of that name directly
// in the sync folder) is left out without a word.
//
// Names compare exactly (Linux names are case-sensitive). No state beyond the
// listing; any thread.

#include "foundation/text/JsonValue.h"

#include <QSet>
#include <QString>

#include <cstdint>
#include <vector>

struct RemoteEntry {
    QString path;  // relative path of the item
    QString name;
    QString version;
    std::int64_t mtime = 0;  // "local_mtime"
    std::int64_t size = 0;   // files only
};

class RemoteListing {
public:
    // reply: the text of a call that the service client accepted. folder:
    // the walked folder's relative path ("\" the sync folder). object: for a
    // listing of one object its relative path, otherwise empty.
    static RemoteListing Read(const QString& reply, const QString& folder, const QString& object = QString());

    bool IsUsable() const { return reason_.isEmpty(); }
    // Why the reply is not usable.
    const QString& Reason() const { return reason_; }
    // The reply's "timestamp" when it is a decimal text ("1000" or
    // "1000.25"), otherwise empty.
    const QString& Timestamp() const { return timestamp_; }

    const std::vector<RemoteEntry>& Folders() const { return folders_; }
    const std::vector<RemoteEntry>& Files() const { return files_; }
    // Entries that were not taken because they could not be used.
    int Skipped() const { return skipped_; }
    // Entries left out because their names cannot exist here.
    int LeftOut() const { return leftOut_; }
    bool IsEmpty() const { return folders_.empty() && files_.empty() && skipped_ == 0 && leftOut_ == 0; }

private:
    void ReadEntries(const JsonValue& array, bool folders, const QString& folder, const QString& object);
    void Skip(const QString& what, const QString& reason);
    void LeaveOut(const QString& what, const QString& reason);

    QString reason_ = QStringLiteral("not read");
    QString timestamp_;
    std::vector<RemoteEntry> folders_;
    std::vector<RemoteEntry> files_;
    int skipped_ = 0;
    int leftOut_ = 0;
    QSet<QString> names_;  // taken so far
};
