#include "shell/windows/PeltaLogThread.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"

PeltaLogThread::PeltaLogThread(PeltaLog& log, Event& logEvent, Deliver deliver)
    : WorkerThread(QStringLiteral("PeltaLog")), log_(log), logEvent_(logEvent), deliver_(std::move(deliver))
{
}

PeltaLogThread::~PeltaLogThread()
{
    StopAndJoin();
}

void PeltaLogThread::Terminate()
{
    WorkerThread::Terminate();
    logEvent_.Set();
}

void PeltaLogThread::Execute()
{
    while (!Terminated()) {
        if (!WaitFor(logEvent_, Event::Infinite))
            break;
        logEvent_.Reset();
        const QString text = log_.TakeBuffer();
        if (Terminated() || AppState.load() == XAPPExit || text.isEmpty())
            continue;
        if (deliver_)
            deliver_(text);
    }
}
