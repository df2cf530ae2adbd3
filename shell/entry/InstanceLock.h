#pragma once

// One running agent per user and data folder: a lock file held for the
// whole run. A lock left by a process that has ended is taken over. The
// file lives in $XDG_RUNTIME_DIR; an agent given its own data folder
// ($TESSARON_HOME), or a session without a runtime folder, keeps it in the
// data folder, since the lock guards that folder's databases.

#include <QLockFile>
#include <QString>

#include <chrono>

class InstanceLock {
public:
    explicit InstanceLock(const QString& path = DefaultPath());
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    static QString DefaultPath();

    // Takes the lock when no living process holds it.
    bool TryAcquire();
    // Waits up to limit for the process that holds the lock to end, then
    // holds it (the updater's restart of the program).
    bool WaitAndAcquire(std::chrono::milliseconds limit);

    bool Held() const { return file_.isLocked(); }
    QString Path() const { return path_; }

private:
    const QString path_;
    QLockFile file_;
};
