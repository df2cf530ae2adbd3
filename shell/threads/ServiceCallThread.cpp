#include "shell/threads/ServiceCallThread.h"

#include "client/PeltaAPI.h"

ServiceCallThread::ServiceCallThread(PeltaAPI& api)
    : WorkerThread(QStringLiteral("ServiceCalls")), api_(api),
      wake_(QStringLiteral("ServiceCalls"), Event::ResetKind::Automatic)
{
}

ServiceCallThread::~ServiceCallThread()
{
    StopAndJoin();
}

void ServiceCallThread::Queue(Job job)
{
    if (Terminated())
        return;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.Set();
}

int ServiceCallThread::Pending() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(jobs_.size()) + running_;
}

void ServiceCallThread::Terminate()
{
    WorkerThread::Terminate();
    api_.Abort();
}

bool ServiceCallThread::Take(Job& job)
{
    std::lock_guard lock(mutex_);
    if (jobs_.empty())
        return false;
    job = std::move(jobs_.front());
    jobs_.pop_front();
    running_ = 1;
    return true;
}

void ServiceCallThread::Execute()
{
    while (!Terminated()) {
        Job job;
        if (!Take(job)) {
            WaitFor(wake_, Event::Infinite);
            continue;
        }
        job();
        std::lock_guard lock(mutex_);
        running_ = 0;
    }
}
