#include "shell/threads/PeltaTransferStatusThread.h"

PeltaTransferStatusThread::PeltaTransferStatusThread(Event& trayEvent, StatusText statusText, ShowTip show)
    : WorkerThread(QStringLiteral("TransferStatus")), trayEvent_(trayEvent), statusText_(std::move(statusText)),
      show_(std::move(show))
{
}

PeltaTransferStatusThread::~PeltaTransferStatusThread()
{
    StopAndJoin();
}

void PeltaTransferStatusThread::Terminate()
{
    WorkerThread::Terminate();
    trayEvent_.Set();
}

void PeltaTransferStatusThread::Execute()
{
    while (!Terminated()) {
        if (!WaitFor(trayEvent_, Event::Infinite) || Terminated())
            break;
        trayEvent_.Reset();
        show_(statusText_());
    }
}
