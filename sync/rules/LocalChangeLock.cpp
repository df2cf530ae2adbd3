#include "sync/rules/LocalChangeLock.h"

LocalChangeLock::LocalChangeLock() : lock_(Mutex(), std::defer_lock)
{
    ++WaitingCount();
    lock_.lock();
    --WaitingCount();
}

LocalChangeLock::~LocalChangeLock() = default;

void LocalChangeLock::Release()
{
    if (lock_.owns_lock())
        lock_.unlock();
}

int LocalChangeLock::Waiting()
{
    return WaitingCount().load();
}

std::recursive_mutex& LocalChangeLock::Mutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

std::atomic<int>& LocalChangeLock::WaitingCount()
{
    static std::atomic<int> count{0};
    return count;
}
