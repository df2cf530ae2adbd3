#pragma once

// Runs the control form's service calls (the agent check, the registration of
// a new sync folder) away from the user-interface thread, one at a time in
// the order they were queued. Each job posts its result back to that thread
// itself. Terminate also stops the call in progress, so the thread ends
// without waiting for the network.
//
// Owned and joined by the control form; the service client is not owned and
// must outlive the thread.

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <deque>
#include <functional>
#include <mutex>

class PeltaAPI;

class ServiceCallThread : public WorkerThread {
public:
    using Job = std::function<void()>;

    explicit ServiceCallThread(PeltaAPI& api);
    ~ServiceCallThread() override;

    // Any thread. Jobs queued after Terminate never run.
    void Queue(Job job);
    // Jobs queued or running.
    int Pending() const;

    void Terminate() override;

protected:
    void Execute() override;

private:
    bool Take(Job& job);

    PeltaAPI& api_;
    Event wake_;
    mutable std::mutex mutex_;
    std::deque<Job> jobs_;
    int running_ = 0;
};
