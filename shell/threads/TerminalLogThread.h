#pragma once

// Copies the process log's buffered lines to the terminal (standard error)
// as they come: how the agent shows its log when it runs without a tray
// icon. Sleeps on "Global\XLog"; the event is reset before the buffer is
// taken, so no line waits for the next signal. What is buffered when the
// thread ends is written once more.
//
// Owned and joined by the control form.

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <cstdio>

class PeltaLog;

class TerminalLogThread : public WorkerThread {
public:
    TerminalLogThread(PeltaLog& log, Event& logEvent, std::FILE* out = stderr);
    ~TerminalLogThread() override;

    void Terminate() override;

protected:
    void Execute() override;

private:
    void Drain();

    PeltaLog& log_;
    Event& logEvent_;
    std::FILE* const out_;
};
