#include "shell/threads/TerminalLogThread.h"

#include "foundation/log/PeltaLog.h"

TerminalLogThread::TerminalLogThread(PeltaLog& log, Event& logEvent, std::FILE* out)
    : WorkerThread(QStringLiteral("TerminalLog")), log_(log), logEvent_(logEvent), out_(out)
{
}

TerminalLogThread::~TerminalLogThread()
{
    StopAndJoin();
}

void TerminalLogThread::Terminate()
{
    WorkerThread::Terminate();
    logEvent_.Set();
}

void TerminalLogThread::Drain()
{
    logEvent_.Reset();
    const QByteArray text = log_.TakeBuffer().toUtf8();
    if (text.isEmpty())
        return;
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), out_);
    std::fflush(out_);
}

void TerminalLogThread::Execute()
{
    while (!Terminated()) {
        if (!WaitFor(logEvent_, Event::Infinite))
            break;
        Drain();
    }
    Drain();
}
