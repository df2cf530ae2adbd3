#pragma once

// "File in use": Linux has no share modes, so a file counts as in use while
// another open file holds a lock on it that conflicts with reading (a write
// lock, POSIX or open-file-description). Permission denied is "unreadable",
// not "in use". Every engine operation asks here; tests can put their own
// answer in place.

#include <QString>

#include <functional>

class FileInUse {
public:
    using Test = std::function<bool(const QString& full)>;

    // fd is the caller's descriptor of the file, open for reading; full its
    // path (what a test answer is asked about).
    static bool Check(int fd, const QString& full);

    // Puts a test's answer in place of the lock test; an empty function
    // restores it. For tests only.
    static void Override(Test test);

private:
    static bool HasConflictingLock(int fd);
};
