#pragma once

// Keeps the tray's tool-tip current: sleeps on "Global\XTrayIconMsg", and on
// each signal reads the status object's text and hands it to the
// user-interface thread, without waiting there. The event is reset before
// the text is read, so a change signalled while a pass runs leads to one
// more pass instead of being lost; many signals during one pass fold into
// that one.
//
// Owned and joined by the control form.

#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <QString>

#include <functional>

class PeltaTransferStatusThread : public WorkerThread {
public:
    using StatusText = std::function<QString()>;
    using ShowTip = std::function<void(const QString& text)>;

    // show must not block; it runs on this thread.
    PeltaTransferStatusThread(Event& trayEvent, StatusText statusText, ShowTip show);
    ~PeltaTransferStatusThread() override;

    // Also wakes the thread from its wait on the tray event.
    void Terminate() override;

protected:
    void Execute() override;

private:
    Event& trayEvent_;
    const StatusText statusText_;
    const ShowTip show_;
};
