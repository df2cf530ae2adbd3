#pragma once

// The resync jobs waiting for the resync-local thread. The sync-final thread
// asks for them as it takes resync commands from the final queue; the
// resync-local thread takes them one at a time. A set, not one mode: a
// request never replaces another one (a full resync asked while a folder
// rescan waits runs too), and a request that is pending already is not added
// again (repeated rescan commands coalesce). A request asked while the same
// job runs is pending anew and runs after it.
//
// Each request remembers the stages still to run; a job that failed is put
// back with the stages that failed and the time it is due again (the thread
// keeps the growing delays). Asking again for a job that waits for its retry
// makes it due at once with all its stages.
//
// Jobs, by kind (path "\" is the whole sync folder):
//   XMOResyncLocal           local rescan of the path, removing what the disk lacks
//   XMOResyncLocalNoRemoval  local rescan of the path, restoring what the disk lacks
//   XMOResyncRemote          remote walk of the path
//   XMOResyncFull            local rescan and remote walk of "\"
//   XMOResyncAppStart        local rescan of "\" and the journal since the position
//
// Any thread; every operation takes the object's lock.

#include "foundation/ProcessState.h"

#include <QString>

#include <mutex>
#include <optional>
#include <vector>

class ResyncRequests {
public:
    // The stages of a job, run in this order.
    enum Stage : int {
        LocalStage = 1,
        JournalStage = 2,
        RemoteStage = 4,
    };

    struct Request {
        int kind = 0;
        QString path;    // "\" for the whole sync folder
        int stages = 0;  // Stage bits still to run
    };

    // The stages of a kind; 0 for a kind that is no resync job.
    static int StagesOf(int kind);
    // A local rescan that may remove items from the service (a pass that
    // must not run while the sync folder is not really there).
    static bool MayRemove(int kind);
    // "", "0" and "\" are the whole folder; kinds other than the local
    // rescans and the remote walk always work on "\".
    static QString PathOf(int kind, const QString& path);

    // Asks for a job, due at once. False (nothing asked) for a kind that is
    // no resync job.
    bool Ask(int kind, const QString& path);
    // Puts a job that ran back, with the stages of request, due at due. A
    // request of the same job asked meanwhile stays due at once and gains
    // those stages.
    void Retry(const Request& request, SteadyTime due);
    // Takes the first request, in the order asked, that is due at now;
    // withRemoval false leaves the rescans that may remove where they are.
    std::optional<Request> TakeDue(SteadyTime now, bool withRemoval = true);
    // The earliest due time of the requests TakeDue(…, withRemoval) could
    // take; SteadyTime::max() when there is none.
    SteadyTime NextDue(bool withRemoval = true) const;
    // Drops every request of the kind.
    void Forget(int kind);

    bool IsPending(int kind, const QString& path) const;
    int Count() const;
    // The requests in order, for log lines and tests.
    std::vector<Request> Pending() const;

private:
    struct Entry {
        Request request;
        SteadyTime due{};
    };

    // The index of the job's entry; -1 when none. Needs the lock.
    int Find(int kind, const QString& path) const;

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;  // in the order asked
};
