#pragma once

// Moves the process log's buffered lines to the log window: sleeps on
// "Global\XLog", resets the event before taking the buffer (so a line
// buffered meanwhile signals again and is never left waiting), and hands
// each non-empty text to the deliver function, which posts it to the
// user-interface thread. Nothing is handed over once the program is exiting.
//
// Owned and joined by its creator.

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <QString>

#include <functional>

class PeltaLog;

class PeltaLogThread : public WorkerThread {
public:
    using Deliver = std::function<void(const QString& text)>;

    PeltaLogThread(PeltaLog& log, Event& logEvent, Deliver deliver);
    ~PeltaLogThread() override;

    void Terminate() override;

protected:
    void Execute() override;

private:
    PeltaLog& log_;
    Event& logEvent_;
    Deliver deliver_;
};
