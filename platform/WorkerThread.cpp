#include "platform/WorkerThread.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

WorkerThread::WorkerThread(QString name)
    : name_(std::move(name)), wake_(QStringLiteral("WorkerThread.wake"), Event::ResetKind::Manual)
{
}

WorkerThread::~WorkerThread()
{
    StopAndJoin();
}

bool WorkerThread::Start()
{
    if (thread_.joinable() || running_.load())
        return false;
    running_ = true;
    thread_ = std::thread(&WorkerThread::Run, this);
    return true;
}

void WorkerThread::Terminate()
{
    terminated_ = true;
    wake_.Set();
    // The event WaitFor waits on lives as long as this object is used.
    if (Event* event = waiting_.load())
        event->Interrupt();
}

void WorkerThread::Join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void WorkerThread::StopAndJoin()
{
    Terminate();
    Join();
}

void WorkerThread::Run()
{
    const QByteArray name = name_.left(MaxNameLength).toUtf8().left(MaxNameLength);
    pthread_setname_np(pthread_self(), name.constData());
    Execute();
    running_ = false;
}

bool WorkerThread::WaitFor(Event& event, int timeoutMs)
{
    if (Terminated())
        return false;
    waiting_ = &event;
    const Event::WaitResult result = event.WaitUnless(timeoutMs, terminated_);
    waiting_ = nullptr;
    return result == Event::WaitResult::Signalled;
}

bool WorkerThread::Sleep(int ms)
{
    if (Terminated())
        return false;
    return wake_.Wait(std::max(ms, 0)) == Event::WaitResult::TimedOut && !Terminated();
}
