#include "sync/threads/PeltaSyncPreThread.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"

#include <sys/stat.h>

#include <memory>

PeltaSyncPreThread::PeltaSyncPreThread(PathMapper toLocalPath, std::chrono::milliseconds hold)
    : WorkerThread(QStringLiteral("SyncPre")), hold_(hold), toLocalPath_(std::move(toLocalPath))
{
}

PeltaSyncPreThread::~PeltaSyncPreThread()
{
    StopAndJoin();
}

void PeltaSyncPreThread::SetPathMapper(PathMapper toLocalPath)
{
    std::lock_guard lock(mapperLock_);
    toLocalPath_ = std::move(toLocalPath);
}

void PeltaSyncPreThread::Execute()
{
    EventMerger merger(&PeltaSyncPreThread::PassOn, [this](const QString& path) { return IsFolder(path); });
    int emptyRounds = 0;
    while (!Terminated()) {
        const bool holding = merger.HasHeld();
        const bool signalled = WaitFor(evtFSQueue, holding ? static_cast<int>(hold_.count()) : Event::Infinite);
        if (Terminated())
            break;
        if (!signalled && holding) {
            merger.FlushHeld();
            AppLog.Write(QStringLiteral("FSQueue:event:evtFSFinalQueue"), LogEvent);
            evtFSFinalQueue.Set();
        }
        const int taken = DrainFSQueue(merger);
        emptyRounds = taken > 0 ? 0 : emptyRounds + 1;
        holding_ = merger.HasHeld();
        if (AppState.load() == XAPPExit) {
            evtFSQueue.Reset();  // what is queued stays there; no busy rounds while exiting
            emptyRounds = 0;
            continue;
        }
        if (emptyRounds < QuietRounds) {
            evtFSQueue.Set();
            continue;
        }
        emptyRounds = 0;
        std::lock_guard lock(csFSQueue);
        if (FSQueue.Count() == 0)
            evtFSQueue.Reset();  // a push after this sets it again
    }
    holding_ = false;
}

int PeltaSyncPreThread::DrainFSQueue(EventMerger& merger)
{
    int count = 0;
    {
        std::lock_guard lock(csFSQueue);
        count = FSQueue.Count();
    }
    int taken = 0;
    for (; count > 0 && !Terminated(); --count) {
        if (AppState.load() == XAPPExit)
            break;
        std::unique_ptr<PeltaFSQueue> item;
        {
            std::lock_guard lock(csFSQueue);
            item = FSQueue.Pop();
        }
        if (!item)
            break;
        ++taken;
        merger.Take(*item);
        evtFSFinalQueue.Set();
    }
    return taken;
}

void PeltaSyncPreThread::PassOn(const PeltaFSQueue& event)
{
    {
        std::lock_guard lock(csFSFinalQueue);
        FSFinalQueue.Push(std::make_unique<PeltaFSQueue>(event.status, event.path, event.path2));
    }
    evtFSFinalQueue.Set();
}

bool PeltaSyncPreThread::IsFolder(const QString& path) const
{
    PathMapper toLocalPath;
    {
        std::lock_guard lock(mapperLock_);
        toLocalPath = toLocalPath_;
    }
    if (!toLocalPath)
        return false;
    struct stat info {};
    return ::lstat(toLocalPath(path).toUtf8().constData(), &info) == 0 && S_ISDIR(info.st_mode);
}
