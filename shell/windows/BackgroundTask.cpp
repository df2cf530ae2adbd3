#include "shell/windows/BackgroundTask.h"

BackgroundTask::BackgroundTask(QString name, std::function<void()> job)
    : WorkerThread(std::move(name)), job_(std::move(job))
{
}

BackgroundTask::~BackgroundTask()
{
    StopAndJoin();
}

void BackgroundTask::Execute()
{
    if (job_ && !Terminated())
        job_();
}
