#pragma once

// Runs the member login away from the user-interface thread: sleeps on
// "Global\XTryLogin" and runs one login per request. A request while a run
// is in progress is refused, so there is never a second run at once.
//
// Owned and joined by its creator; the login object is not owned and must
// outlive the thread.

#include "client/XApLogin.h"
#include "foundation/ProcessState.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

#include <QString>

#include <atomic>
#include <mutex>

class PeltaLoginThread : public WorkerThread {
public:
    struct Credentials {
        XApLogin::Callback callback;
        QString login;
        QString password;
        PeltaSyncAgentSetting* store = nullptr;
        PeltaReg* facade = nullptr;
    };

    explicit PeltaLoginThread(XApLogin* login, Event& trigger = evtTryLogin);
    ~PeltaLoginThread() override;

    // Hands the credentials over and wakes the thread; false (nothing
    // changed) while a run is pending or in progress. Any thread.
    bool RequestLogin(Credentials credentials);

    // True from an accepted request until its run has ended.
    bool Busy() const { return busy_.load(); }
    // Runs finished since the start.
    int Runs() const { return runs_.load(); }

    // Also stops a run's pending request.
    void Terminate() override;

protected:
    void Execute() override;

private:
    XApLogin* const login_;
    Event& trigger_;
    std::atomic<bool> busy_{false};
    std::atomic<int> runs_{0};
    std::mutex lock_;  // guards pending_
    Credentials pending_;
};
