#pragma once

// Runs one job away from the user-interface thread. The job hands its result
// back itself (through a UiThreadPost). The owner joins the thread; a job
// must end by itself within its own time-outs.

#include "platform/WorkerThread.h"

#include <functional>

class BackgroundTask : public WorkerThread {
public:
    BackgroundTask(QString name, std::function<void()> job);
    ~BackgroundTask() override;

protected:
    void Execute() override;

private:
    std::function<void()> job_;
};
