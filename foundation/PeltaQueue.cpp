#include "foundation/PeltaQueue.h"

void PeltaQueue::Push(std::unique_ptr<PeltaFSQueue> item)
{
    if (!item)
        return;
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
}

std::unique_ptr<PeltaFSQueue> PeltaQueue::Pop()
{
    std::lock_guard lock(mutex_);
    if (items_.empty())
        return nullptr;
    std::unique_ptr<PeltaFSQueue> front = std::move(items_.front());
    items_.pop_front();
    return front;
}

int PeltaQueue::Count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(items_.size());
}
