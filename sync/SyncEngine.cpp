#include "sync/SyncEngine.h"

#include "foundation/Constants.h"
#include "foundation/PeltaFSQueue.h"
#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/SyncEngineNotices.h"
#include "sync/SyncEngineOptions.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/SelfChange.h"
#include "sync/threads/ResyncRequests.h"

#include <QDateTime>
#include <QFileInfo>

#include <atomic>
#include <mutex>
#include <utility>

namespace {

const QString kRoot = QStringLiteral("\\");

void Log(const QString& text)
{
    AppLog.Write(text, LogGeneral);
}

// A command for the event application thread, which it is woken for.
void QueueFinal(int command, const QString& path)
{
    {
        std::lock_guard lock(csFSFinalQueue);
        FSFinalQueue.Push(std::make_unique<PeltaFSQueue>(command, path));
    }
    evtFSFinalQueue.Set();
}

int CommandOf(SyncEngine::FirstCommand first)
{
    switch (first) {
    case SyncEngine::FirstCommand::FullSync:
        return XMOResyncFull;
    case SyncEngine::FirstCommand::RemoteResync:
        return XMOResyncRemote;
    case SyncEngine::FirstCommand::AppStart:
        break;
    }
    return XMOResyncAppStart;
}

// Ends a thread: told first (all of them, so they stop together), joined
// after.
template <typename Thread>
void Tell(const std::unique_ptr<Thread>& thread, const char* name)
{
    if (!thread)
        return;
    Log(QStringLiteral("Stop Thread:") + QLatin1String(name));
    thread->Terminate();
}

template <typename Thread>
void JoinAndRelease(std::unique_ptr<Thread>& thread)
{
    if (!thread)
        return;
    thread->Join();
    thread.reset();
}

}  // namespace

class SyncEngine::Threads {
public:
    Threads(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices,
            SyncEngineOptions options);
    ~Threads();

    void Start(FirstCommand first);
    void Stop();
    bool Running() const { return running_.load(); }
    void ChangeSyncFolder();
    void StartDirectoryMonitor(bool restart);
    void ReloadProxy();
    void StopPushChannel();
    bool Quiet();
    PeltaSync& Engine() { return *formEngine_; }

private:
    void WriteBindingMarker(FirstCommand first);
    // The monitor on the form engine's sync folder; under monitorLock_.
    void NewMonitor();
    // The monitor's options: those given, and unless they bring a test of
    // their own, the engine's test of its own changes (SelfChange).
    PeltaDirectoryMonitorThread::Options MonitorOptions();
    void StartPush();
    void SendPost();
    // The sync folder is back after it was not mounted.
    void FolderBack();
    // The monitor has ended and every event it reported is a row by now.
    bool EventsSettled();

    PeltaSyncAgentSetting& settings_;
    SyncEngineOptions options_;
    std::shared_ptr<SyncEngineNotices> notices_;
    std::unique_ptr<PeltaSync> formEngine_;
    ResyncRequests resync_;
    // Read by the engine's threads (a restart of the monitor).
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    bool pushStopped_ = false;  // for good (StopPushChannel)

    std::unique_ptr<PeltaSyncPreThread> pre_;
    std::unique_ptr<PeltaSyncFinalThread> final_;
    std::unique_ptr<PeltaResyncLocalThread> resyncLocal_;
    std::unique_ptr<PeltaQueueSubThread> queueSub_;
    std::unique_ptr<PeltaResyncJournalThread> journal_;

    // The monitor is restarted from the engine's threads too, and the push
    // channel told of commits from the request worker.
    std::mutex monitorLock_;
    std::unique_ptr<PeltaDirectoryMonitorThread> monitor_;  // guarded by monitorLock_
    std::mutex pushLock_;
    std::unique_ptr<PeltaAPEThread> push_;  // guarded by pushLock_
};

SyncEngine::Threads::Threads(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices,
                             SyncEngineOptions options)
    : settings_(settings),
      options_(std::move(options)),
      notices_(std::make_shared<SyncEngineNotices>(std::move(notices))),
      formEngine_(std::make_unique<PeltaSync>(&reg, &settings))
{
    options_.monitor.notice = notices_;
    options_.queueSub.committed = [this] { SendPost(); };
    options_.resyncLocal.eventsSettled = [this] { return EventsSettled(); };
    notices_->SetMonitorStarter([this] { StartDirectoryMonitor(true); });
    notices_->SetFolderBack([this] { FolderBack(); });
    EngineNotices::Install(notices_);
}

SyncEngine::Threads::~Threads()
{
    Stop();
    notices_->SetMonitorStarter({});
    notices_->SetFolderBack({});
    if (EngineNotices::Installed() == notices_)
        EngineNotices::Install(notices_->Application());
}

void SyncEngine::Threads::Start(FirstCommand first)
{
    if (running_) {
        // The main step after a new login: the threads of the first one go on.
        ResyncRunning = false;
        evtFSFinalQueue.Set();
        return;
    }
    stopping_ = false;
    running_ = true;
    SyncStartTime = SteadyClock::now();
    formEngine_->ClearAbort();
    WriteBindingMarker(first);

    PeltaSync* engine = formEngine_.get();
    pre_ = std::make_unique<PeltaSyncPreThread>([engine](const QString& path) { return engine->ToLocalPath(path); },
                                                options_.eventHold);
    pre_->Start();
    final_ = std::make_unique<PeltaSyncFinalThread>(*formEngine_, resync_, options_.final);
    final_->Start();
    Log(QStringLiteral("PeltaSyncThread Start"));
    resyncLocal_ = std::make_unique<PeltaResyncLocalThread>(*formEngine_, resync_, options_.resyncLocal);
    resyncLocal_->Start();
    Log(QStringLiteral("PeltaResyncLocalThread Start"));

    const int command = CommandOf(first);
    if (command == XMOResyncAppStart)
        notices_->SetResyncMenu(false);
    QueueFinal(command, kRoot);

    StartDirectoryMonitor(false);
    queueSub_ = std::make_unique<PeltaQueueSubThread>(*formEngine_, options_.queueSub);
    queueSub_->Start();
    evtRequestQueue.Set();
    Log(QStringLiteral("PeltaQueueSubThread Start"));
    journal_ = std::make_unique<PeltaResyncJournalThread>(*formEngine_, options_.journal);
    journal_->Start();
    Log(QStringLiteral("PeltaResyncJournalThread Start"));
    if (options_.pushChannel && !pushStopped_)
        StartPush();
}

void SyncEngine::Threads::WriteBindingMarker(FirstCommand first)
{
    // A first full sync and the remote resync of a folder that was missing
    // at start fill a folder the user has just bound (or the facade has just
    // made again in an existing parent): its marker says it is the sync
    // folder, even while it is empty. A start-up resync relies on the marker
    // written back then.
    if (first == FirstCommand::AppStart)
        return;
    const QString folder = formEngine_->SyncFolder();
    if (QFileInfo(folder).isDir())
        MountedFolder(folder).WriteMarker();
}

void SyncEngine::Threads::Stop()
{
    if (!running_)
        return;
    stopping_ = true;
    std::unique_ptr<PeltaAPEThread> push;
    {
        std::lock_guard lock(pushLock_);
        push = std::move(push_);
    }
    std::unique_ptr<PeltaDirectoryMonitorThread> monitor;
    {
        std::lock_guard lock(monitorLock_);
        monitor = std::move(monitor_);
    }
    Tell(push, "APE");
    Tell(monitor, "MonitorDirectory");
    Tell(resyncLocal_, "ResyncLocalThread");
    Tell(pre_, "FSQueue");
    Tell(final_, "FSFinalQueue");
    Tell(queueSub_, "QueueSub");
    Tell(journal_, "ResyncJorunal");

    JoinAndRelease(push);
    JoinAndRelease(monitor);
    JoinAndRelease(resyncLocal_);
    JoinAndRelease(pre_);
    JoinAndRelease(final_);
    JoinAndRelease(queueSub_);
    JoinAndRelease(journal_);
    ResyncRunning = false;
    running_ = false;
}

void SyncEngine::Threads::ChangeSyncFolder()
{
    const QString before = formEngine_->SyncFolder();
    formEngine_->SetAgentSetting(&settings_);
    formEngine_->ClearAbort();
    const QString folder = formEngine_->SyncFolder();
    Log(QStringLiteral("SyncEngine:sync folder changed:") + before + QStringLiteral(" -> ") + folder);
    // The user has just chosen the folder: it is the sync folder, empty or
    // not.
    if (QFileInfo(folder).isDir())
        MountedFolder(folder).WriteMarker();
    formEngine_->Db().CancelAllRequests();
    formEngine_->Db().PurgeOtherSn(settings_.Get(QStringLiteral("user_sn")));
    if (!running_)
        return;

    {
        std::lock_guard lock(monitorLock_);
        if (monitor_ && monitor_->Running())
            monitor_->ResetConfig(folder, false);
    }
    StartDirectoryMonitor(false);  // one that had ended watches the new folder
    queueSub_->ResetConfig(&settings_);
    final_->ResetConfig(&settings_);
    resyncLocal_->ResetConfig(&settings_);
    journal_->ResetConfig(&settings_);
    PeltaSync* engine = formEngine_.get();
    pre_->SetPathMapper([engine](const QString& path) { return engine->ToLocalPath(path); });
    ReloadProxy();
}

void SyncEngine::Threads::StartDirectoryMonitor(bool restart)
{
    std::unique_ptr<PeltaDirectoryMonitorThread> old;
    {
        std::lock_guard lock(monitorLock_);
        if (stopping_.load() || !running_.load())
            return;
        if (monitor_ && monitor_->Running() && !restart)
            return;
        old = std::move(monitor_);
        if (old)
            old->Terminate();
    }
    if (old)
        old->Join();  // prompt: its poll also waits on its wake-up descriptor
    std::lock_guard lock(monitorLock_);
    if (stopping_.load() || monitor_)
        return;
    NewMonitor();
}

PeltaDirectoryMonitorThread::Options SyncEngine::Threads::MonitorOptions()
{
    PeltaDirectoryMonitorThread::Options options = options_.monitor;
    if (options.watcher.isOwnChange)
        return options;
    // The engine's own test of its own changes, on a store connection that
    // only this monitor's thread uses.
    auto store = std::make_shared<PeltaDb>(settings_);
    PeltaSync* engine = formEngine_.get();
    options.watcher.isOwnChange = [store, engine](const QString& path) {
        return SelfChange::IsOwn(engine->Status(), *store, engine->SyncFolder(), path);
    };
    return options;
}

void SyncEngine::Threads::NewMonitor()
{
    monitor_ = std::make_unique<PeltaDirectoryMonitorThread>(formEngine_->SyncFolder(), MonitorOptions());
    monitor_->Start();
    Log(QStringLiteral("PeltaDirectoryMonitorThread Start"));
}

void SyncEngine::Threads::FolderBack()
{
    if (!running_.load() || stopping_.load())
        return;
    Log(QStringLiteral("SyncEngine:sync folder back, watched again and rescanned"));
    StartDirectoryMonitor(true);
    QueueFinal(XMOResyncLocal, kRoot);
}

void SyncEngine::Threads::StartPush()
{
    const QString userSn = settings_.Get(QStringLiteral("user_sn"));
    const QDateTime now = QDateTime::currentDateTime();
    QString url = options_.pushUrl;
    if (url.isEmpty())
        url = PeltaAPEThread::PushUrl(userSn, now, ServerProfile, ApeHostSuffix);
    Log(QStringLiteral("APEUrl=") + url);
    auto push = std::make_unique<PeltaAPEThread>(PeltaAPEThread::Clock{}, options_.push);
    push->SetUrl(url);
    push->SetUserSn(userSn);
    push->SetName(PeltaAPEThread::MakeName(userSn, now.toSecsSinceEpoch()));
    push->SetChannels(PeltaAPEThread::ChannelName(userSn));
    push->Start();
    std::lock_guard lock(pushLock_);
    push_ = std::move(push);
}

void SyncEngine::Threads::SendPost()
{
    std::lock_guard lock(pushLock_);
    if (push_)
        push_->SendPost();
}

void SyncEngine::Threads::ReloadProxy()
{
    std::lock_guard lock(pushLock_);
    if (push_)
        push_->ReloadProxy();
}

void SyncEngine::Threads::StopPushChannel()
{
    pushStopped_ = true;
    std::unique_ptr<PeltaAPEThread> push;
    {
        std::lock_guard lock(pushLock_);
        push = std::move(push_);
    }
    if (!push)
        return;
    Tell(push, "APE");
    JoinAndRelease(push);
}

bool SyncEngine::Threads::EventsSettled()
{
    {
        std::lock_guard lock(monitorLock_);
        if (monitor_ && monitor_->Running())
            return false;
    }
    {
        std::lock_guard lock(csFSQueue);
        if (FSQueue.Count() > 0)
            return false;
    }
    if (!pre_ || pre_->Holding())
        return false;
    {
        std::lock_guard lock(csFSFinalQueue);
        if (FSFinalQueue.Count() > 0)
            return false;
    }
    return !final_->Applying();
}

bool SyncEngine::Threads::Quiet()
{
    if (!running_.load() || stopping_.load())
        return false;
    // Each queue before the thread that takes from it.
    {
        std::lock_guard lock(csFSQueue);
        if (FSQueue.Count() > 0)
            return false;
    }
    if (pre_->Holding())
        return false;
    {
        std::lock_guard lock(csFSFinalQueue);
        if (FSFinalQueue.Count() > 0)
            return false;
    }
    if (final_->Applying() || resync_.Count() > 0 || ResyncRunning.load())
        return false;
    if (JournalRequestCount.load() > 0 || journal_->Pulling())
        return false;
    return !formEngine_->Db().CountPendingRequests();
}

// ---- SyncEngine -------------------------------------------------------------------------

SyncEngine::SyncEngine(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices)
    : SyncEngine(reg, settings, std::move(notices), SyncEngineOptions{})
{
}

SyncEngine::SyncEngine(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices,
                       const SyncEngineOptions& options)
    : threads_(std::make_unique<Threads>(reg, settings, std::move(notices), options))
{
}

SyncEngine::~SyncEngine() = default;

void SyncEngine::Start(FirstCommand first)
{
    threads_->Start(first);
}

void SyncEngine::Stop()
{
    threads_->Stop();
}

bool SyncEngine::Running() const
{
    return threads_->Running();
}

void SyncEngine::ChangeSyncFolder()
{
    threads_->ChangeSyncFolder();
}

void SyncEngine::StartDirectoryMonitor()
{
    threads_->StartDirectoryMonitor(false);
}

void SyncEngine::QueueResync(int command, const QString& path)
{
    QueueFinal(command, path);
}

void SyncEngine::ReloadProxy()
{
    threads_->ReloadProxy();
}

void SyncEngine::StopPushChannel()
{
    threads_->StopPushChannel();
}

bool SyncEngine::Quiet()
{
    return threads_->Quiet();
}

PeltaSync& SyncEngine::Engine()
{
    return threads_->Engine();
}
