#include "platform/WorkerThread.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

namespace {
// WaitFor looks at the terminate flag at least this often.
constexpr int WaitSliceMs = 50;
}  // namespace

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
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    while (!Terminated()) {
        int slice = WaitSliceMs;
        if (timeoutMs != Event::Infinite) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            slice = static_cast<int>(std::min<long long>(left, WaitSliceMs));
        }
        if (event.Wait(slice) == Event::WaitResult::Signalled)
            return true;
    }
    return false;
}

bool WorkerThread::Sleep(int ms)
{
    if (Terminated())
        return false;
    return wake_.Wait(std::max(ms, 0)) == Event::WaitResult::TimedOut && !Terminated();
}
