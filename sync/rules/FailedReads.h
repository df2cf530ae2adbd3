#pragma once

// No deletion from a failed read. A pass that compares the disk or the
// service with the store (a local rescan, a remote walk) records here every
// folder it could not read completely: a listing that failed, a store query
// that failed, a row it could not use, an item it could not examine. Such a
// folder and everything below it are skipped for the rest of the pass, and
// nothing in them may be deleted because the pass did not see it. A pass
// with any such folder, or one that was interrupted, is not complete: it
// reports PassResult::Failed (or Aborted), and its callers neither store a
// new position nor take it for a successful full pass.
//
// Paths are relative paths ("\" the whole sync folder, "\a\b" below it).
// One object belongs to one pass on one thread.

#include <QString>
#include <QStringList>

enum class PassResult {
    Complete,  // everything was read and compared
    Failed,    // something could not be read; the rest was compared
    Aborted,   // the pass was told to stop
};

class FailedReads {
public:
    // Records folder (and so its subtree) as not read, with a log line
    // "<where>:<reason>, skipped:<folder>".
    void Add(const QString& folder, const QString& where, const QString& reason);

    // True when path is a recorded folder or lies below one.
    bool Covers(const QString& path) const;
    // A deletion of path may follow from this pass: path is not covered and
    // the pass was not interrupted.
    bool MayDelete(const QString& path) const;

    // The pass stops before its end.
    void Interrupt() { interrupted_ = true; }
    bool Interrupted() const { return interrupted_; }

    bool IsEmpty() const { return folders_.isEmpty(); }
    const QStringList& Folders() const { return folders_; }

    // Aborted when interrupted, Failed when anything was recorded, else
    // Complete.
    PassResult Result() const;

    // True when path is folder itself or lies below it ("\" holds every
    // path).
    static bool IsAtOrBelow(const QString& path, const QString& folder);

    // "complete", "failed" or "aborted", for log lines.
    static QString Name(PassResult result);

private:
    QStringList folders_;
    bool interrupted_ = false;
};
