#pragma once

#include "foundation/PeltaFSQueue.h"

#include <deque>
#include <memory>
#include <mutex>

// First-in first-out queue of owned work items. Callers hold the queue's
// shared lock around their pushes and pops as the threads agree; the queue
// also guards itself, so a caller that forgets that lock cannot corrupt it.
class PeltaQueue {
public:
    void Push(std::unique_ptr<PeltaFSQueue> item);
    // The front item, or null when the queue is empty.
    std::unique_ptr<PeltaFSQueue> Pop();
    int Count() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::unique_ptr<PeltaFSQueue>> items_;
};
