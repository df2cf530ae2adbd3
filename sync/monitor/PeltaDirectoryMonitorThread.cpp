#include "sync/monitor/PeltaDirectoryMonitorThread.h"

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "sync/rules/PendingLocalMoves.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

InotifyWatcher::Options WithDefaults(InotifyWatcher::Options options)
{
    if (!options.isOwnChange)
        options.isOwnChange = [](const QString& path) { return RequestObject.IsFileMonitored(path); };
    return options;
}

}  // namespace

PeltaDirectoryMonitorThread::PeltaDirectoryMonitorThread(PeltaReg& reg)
    : PeltaDirectoryMonitorThread(reg.GetSyncFolder(), Options())
{
}

PeltaDirectoryMonitorThread::PeltaDirectoryMonitorThread(QString folder)
    : PeltaDirectoryMonitorThread(std::move(folder), Options())
{
}

PeltaDirectoryMonitorThread::PeltaDirectoryMonitorThread(PeltaReg& reg, Options options)
    : PeltaDirectoryMonitorThread(reg.GetSyncFolder(), std::move(options))
{
}

PeltaDirectoryMonitorThread::PeltaDirectoryMonitorThread(QString folder, Options options)
    : WorkerThread(QStringLiteral("DirectoryMonitor")),
      options_(std::move(options)),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      folder_(std::move(folder))
{
    if (!wakeFd_.IsValid())
        AppLog.Write(QStringLiteral("Monitor: cannot create the wake-up descriptor: ") +
                         QString::fromLocal8Bit(std::strerror(errno)),
                     LogGeneral);
}

PeltaDirectoryMonitorThread::~PeltaDirectoryMonitorThread()
{
    StopAndJoin();
}

void PeltaDirectoryMonitorThread::ResetConfig(const QString& folder, bool logFlag)
{
    const int lastError = errno;
    {
        std::lock_guard lock(folderLock_);
        folder_ = folder;
    }
    reopen_ = true;
    if (logFlag)
        AppLog.Write(QStringLiteral("ResetConfig:") + QString::number(lastError), LogGeneral);
    Wake();
}

void PeltaDirectoryMonitorThread::Terminate()
{
    WorkerThread::Terminate();
    Wake();
}

QString PeltaDirectoryMonitorThread::Folder() const
{
    std::lock_guard lock(folderLock_);
    return folder_;
}

QString PeltaDirectoryMonitorThread::WatchedFolder() const
{
    std::lock_guard lock(folderLock_);
    return watchedFolder_;
}

void PeltaDirectoryMonitorThread::SetWatchedFolder(const QString& folder)
{
    std::lock_guard lock(folderLock_);
    watchedFolder_ = folder;
}

void PeltaDirectoryMonitorThread::Execute()
{
    reopen_ = false;
    if (!wakeFd_.IsValid() || !OpenWatcher())
        return;
    while (!Terminated()) {
        if (reopen_.exchange(false) && !OpenWatcher())
            break;
        pollfd fds[2] = {{watcher_->Fd(), POLLIN, 0}, {wakeFd_.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, PollTimeoutMs(SteadyClock::now()));
        if (ready < 0 && errno != EINTR) {
            AppLog.Write(QStringLiteral("Monitor: poll failed: ") + QString::fromLocal8Bit(std::strerror(errno)),
                         LogGeneral);
            Sleep(100);
            continue;
        }
        if (ready > 0 && (fds[1].revents & POLLIN))
            DrainWake();
        if (Terminated() || reopen_.load())
            continue;
        RunOnce(ready > 0 && (fds[0].revents & POLLIN));
        if (watcher_->RootGone())
            break;
    }
    SetWatchedFolder(QString());
    watcher_.reset();
}

bool PeltaDirectoryMonitorThread::OpenWatcher()
{
    SetWatchedFolder(QString());
    const QString folder = Folder();
    watcher_ = std::make_unique<InotifyWatcher>(folder, WithDefaults(options_.watcher));
    const bool opened = watcher_->Open();
    TellLimitOnce();
    if (!opened) {
        AppLog.Write(QStringLiteral("Monitor: cannot watch ") + folder + QStringLiteral(", the monitor ends"),
                     LogGeneral);
        watcher_.reset();
        return false;
    }
    nextRewatch_ = SteadyTime{};
    watchCount_ = watcher_->WatchCount();
    SetWatchedFolder(folder);
    return true;
}

void PeltaDirectoryMonitorThread::RunOnce(bool readable)
{
    // A move's old name counts as unpaired only once everything the kernel
    // queued has been read; the reads of one turn are bounded so that a
    // flood of events does not delay a stop.
    bool drained = !readable;
    for (int reads = 0; readable && reads < MaxReadsPerTurn && !Terminated(); ++reads) {
        if (!watcher_->ReadOnce(SteadyClock::now())) {
            drained = true;
            break;
        }
        QueueEvents(watcher_->TakeReady());
        if (watcher_->RootGone())
            return;
    }
    const SteadyTime now = SteadyClock::now();
    if (drained)
        watcher_->ReleaseExpired(now);
    if (!watcher_->WatchesShort()) {
        nextRewatch_ = SteadyTime{};
    } else if (nextRewatch_ == SteadyTime{}) {
        nextRewatch_ = now + options_.shortWatchRescan;
    } else if (now >= nextRewatch_) {
        watcher_->Rewatch();
        nextRewatch_ = now + options_.shortWatchRescan;
    }
    TellLimitOnce();
    QueueEvents(watcher_->TakeReady());
    watchCount_ = watcher_->WatchCount();
}

int PeltaDirectoryMonitorThread::PollTimeoutMs(SteadyTime now) const
{
    std::optional<SteadyTime> next = watcher_->NextDeadline();
    if (nextRewatch_ != SteadyTime{} && (!next || nextRewatch_ < *next))
        next = nextRewatch_;
    if (!next)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60 * 60 * 1000));
}

void PeltaDirectoryMonitorThread::QueueEvents(const std::vector<PeltaFSQueue>& events)
{
    for (const PeltaFSQueue& event : events) {
        // Known as a move before anything reads the event: a download must
        // not make the old name again meanwhile.
        if (event.status == XMORenameOldName)
            PendingLocalMoves::Seen(event.path, event.path2);
        {
            std::lock_guard lock(csFSQueue);
            FSQueue.Push(std::make_unique<PeltaFSQueue>(event.status, event.path, event.path2));
        }
        evtFSQueue.Set();
    }
}

void PeltaDirectoryMonitorThread::TellLimitOnce()
{
    if (!watcher_ || !watcher_->TakeLimitReached() || limitTold_.exchange(true))
        return;
    const int limit = InotifyWatcher::SystemWatchLimit();
    const int inUse = watcher_->WatchCount();
    AppLog.Write(QStringLiteral("Monitor: watch limit reached (limit ") + QString::number(limit) +
                     QStringLiteral(", in use ") + QString::number(inUse) +
                     QStringLiteral("), changes in unwatched folders are found by periodic rescans"),
                 LogGeneral);
    if (options_.notice)
        options_.notice->WatchLimitReached(limit, inUse);
}

void PeltaDirectoryMonitorThread::Wake()
{
    if (!wakeFd_.IsValid())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_.Get(), &one, sizeof one);
}

void PeltaDirectoryMonitorThread::DrainWake()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_.Get(), &count, sizeof count);
}
