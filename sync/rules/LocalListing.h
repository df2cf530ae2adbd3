#pragma once

// The entries of one folder of the sync folder, read the way LocalItem reads
// items: the folder is reached from the sync folder one name at a time
// without following links, and every entry is looked at with lstat semantics.
// Nothing is opened but the folder itself, so a FIFO, socket, device or link
// among the entries is never opened or followed; it is reported as present
// but not an item, with a log line. A name that cannot be represented inside
// the engine (not UTF-8, holding "\", longer than 255 bytes) is skipped with
// a log line.
//
// A listing is complete only when the folder was opened and read to its end
// without an error. An entry that vanished or could not be looked at between
// the read and the look is counted as present and unreadable: neither an item
// nor missing. No state: any thread may read listings.

#include "sync/rules/LocalItem.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

struct LocalEntry {
    QString name;
    LocalKind kind = LocalKind::File;  // File or Folder
    std::int64_t mtime = 0;
    std::int64_t size = 0;  // files only
};

class LocalListing {
public:
    enum class Outcome {
        Complete,  // every entry was read
        Missing,   // the folder itself is not there (ENOENT, or a name on the way is not a folder)
        Failed,    // the folder is there, or may be, but could not be read to its end
    };

    // A test's answer in place of reading: a non-zero errno fails the listing
    // of full with that error; 0 reads it. For tests only.
    using Fault = std::function<int(const QString& full)>;

    // Lists full (root itself or a folder below it). where opens the log
    // lines of skipped entries.
    static LocalListing Read(const QString& root, const QString& full, const QString& where);

    // True when the folder holds any entry whose name is not except; false
    // with error set when it cannot be read.
    static bool HasEntries(const QString& folder, const QString& except, int& error);

    // Puts a test's answer in place; an empty function restores reading.
    static void Override(Fault fault);

    Outcome GetOutcome() const { return outcome_; }
    bool IsComplete() const { return outcome_ == Outcome::Complete; }
    // The errno of a listing that is not complete.
    int Error() const { return error_; }
    // The folder's own modification time, taken before its entries were read.
    std::int64_t FolderMtime() const { return folderMtime_; }

    // Regular files and folders, in the order the system listed them.
    const std::vector<LocalEntry>& Items() const { return items_; }
    // Every name that is there in some form: the items, the entries that are
    // not items, and the unreadable ones.
    const QSet<QString>& Present() const { return present_; }
    // Entries that are there but could not be looked at.
    const QStringList& Unreadable() const { return unreadable_; }

private:
    void ReadEntries(int folderFd, const QString& full, const QString& where);

    Outcome outcome_ = Outcome::Failed;
    int error_ = 0;
    std::int64_t folderMtime_ = 0;
    std::vector<LocalEntry> items_;
    QSet<QString> present_;
    QStringList unreadable_;
};
