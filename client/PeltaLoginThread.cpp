#include "client/PeltaLoginThread.h"

#include "foundation/ProcessState.h"

PeltaLoginThread::PeltaLoginThread(XApLogin* login, Event& trigger)
    : WorkerThread(QStringLiteral("XTryLogin")), login_(login), trigger_(trigger)
{
}

PeltaLoginThread::~PeltaLoginThread()
{
    StopAndJoin();
}

bool PeltaLoginThread::RequestLogin(Credentials credentials)
{
    if (!login_ || Terminated())
        return false;
    // The flag is raised here, before the signal, so a second request that
    // arrives before the thread wakes is refused too.
    bool expected = false;
    if (!busy_.compare_exchange_strong(expected, true))
        return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_ = std::move(credentials);
    }
    trigger_.Set();
    return true;
}

void PeltaLoginThread::Terminate()
{
    WorkerThread::Terminate();
    if (login_)
        login_->Abort();
}

void PeltaLoginThread::Execute()
{
    while (!Terminated()) {
        if (!WaitFor(trigger_, Event::Infinite))
            break;
        if (!login_)
            break;
        if (!busy_.load())
            continue;  // a signal without a request: nothing to run
        {
            std::lock_guard<std::mutex> guard(lock_);
            login_->SetCallback(std::move(pending_.callback));
            login_->SetCredentials(pending_.login, pending_.password);
            login_->SetStore(pending_.store);
            login_->SetFacade(pending_.facade);
            pending_ = Credentials();
        }
        if (!Terminated())
            login_->Login();
        ++runs_;
        busy_ = false;
    }
    busy_ = false;
}
