#include "foundation/PeltaFSQueue.h"

#include <utility>

PeltaFSQueue::PeltaFSQueue(int kind, QString path) : status(kind), path(std::move(path)) {}

PeltaFSQueue::PeltaFSQueue(int kind, QString path, QString path2)
    : status(kind), path(std::move(path)), path2(std::move(path2))
{
}

void PeltaFSQueue::CopyTo(PeltaFSQueue& other) const
{
    other = *this;
}

void PeltaFSQueue::Clear()
{
    *this = PeltaFSQueue();
}
