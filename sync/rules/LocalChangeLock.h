#pragma once

// Recording a change made here and replacing a file with what the service
// has are each a test followed by an act, and they run on different threads:
// the final queue writes the local file's new facts into its record and then
// opens its upload row, while a download, the journal replay's move or a
// remote recycle compares the file with that record and with the open rows
// and then replaces, moves or deletes it. Between the record written and the
// row opened, the file looks like what the service has and nothing waits to
// go up: a replace then would lose the change.
//
// One process-wide lock serialises the two: held while a local change is
// recorded (record and row), and while a remote change tests a file and acts
// on it. Never held across an exchange with the service. The same thread may
// take it again (recording the conflict copy of a download, the parent
// folders of a moved file).

#include <atomic>
#include <mutex>

class LocalChangeLock {
public:
    LocalChangeLock();
    ~LocalChangeLock();
    LocalChangeLock(const LocalChangeLock&) = delete;
    LocalChangeLock& operator=(const LocalChangeLock&) = delete;

    // Gives the lock back before the scope ends (before an exchange with the
    // service); a second call does nothing.
    void Release();

    // How many threads wait for the lock now: a test that holds it learns
    // that another thread got as far as the lock.
    static int Waiting();

private:
    static std::recursive_mutex& Mutex();
    static std::atomic<int>& WaitingCount();

    std::unique_lock<std::recursive_mutex> lock_;
};
