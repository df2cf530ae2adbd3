#include "sync/threads/PeltaResyncLocalThread.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/EngineNotices.h"
#include "sync/threads/InstalledFolderNotice.h"

#include <algorithm>
#include <climits>

namespace {

const QString kRoot = QStringLiteral("\\");

bool IsPosition(const QString& stamp)
{
    return !stamp.isEmpty() && stamp != QLatin1String("0");
}

}  // namespace

PeltaResyncLocalThread::PeltaResyncLocalThread(PeltaSync& formEngine, ResyncRequests& requests)
    : PeltaResyncLocalThread(formEngine, requests, Options{})
{
}

PeltaResyncLocalThread::PeltaResyncLocalThread(PeltaSync& formEngine, ResyncRequests& requests, Options options)
    : WorkerThread(QStringLiteral("ResyncLocal")),
      engine_(std::make_unique<PeltaSync>(formEngine.Reg(), formEngine.Settings(), formEngine.Status(),
                                          formEngine.Conflicts())),
      requests_(requests),
      options_(std::move(options)),
      folderNotice_(std::make_unique<InstalledFolderNotice>())
{
}

PeltaResyncLocalThread::~PeltaResyncLocalThread()
{
    StopAndJoin();
}

void PeltaResyncLocalThread::ResetConfig(PeltaSyncAgentSetting* settings)
{
    engine_->SetAgentSetting(settings);
    restart_ = true;
}

void PeltaResyncLocalThread::Terminate()
{
    WorkerThread::Terminate();
    engine_->RaiseAbort();
    engine_->Api().Abort();  // a held exchange of a walk ends at once
}

void PeltaResyncLocalThread::HandOver(ResyncRequests& requests, int kind, const QString& path)
{
    if (!requests.Ask(kind, path))
        return;
    Log(QStringLiteral("ResyncLocal:asked:") + XMOName(kind) + QLatin1Char(',') + ResyncRequests::PathOf(kind, path),
        LogEvent);
    evtResyncLocal.Set();
}

void PeltaResyncLocalThread::Execute()
{
    while (!Terminated()) {
        ResyncRunning = false;
        WaitFor(evtResyncLocal, WaitTimeoutMs());
        if (Terminated() || AppState.load() == XAPPExit)
            break;
        evtResyncLocal.Reset();  // a request asked from here on sets it again
        const auto request = requests_.TakeDue(SteadyClock::now(), !refilling_);
        if (!request || !FolderReady(*request))
            continue;
        RunJob(*request);
        if (AppState.load() == XAPPExit)
            break;
    }
    restart_ = false;
    ResyncRunning = false;
}

int PeltaResyncLocalThread::WaitTimeoutMs() const
{
    const SteadyTime next = requests_.NextDue(!refilling_);
    if (next == SteadyTime::max())
        return Event::Infinite;
    const SteadyTime now = SteadyClock::now();
    if (next <= now)
        return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<long long>(left, INT_MAX));
}

bool PeltaResyncLocalThread::FolderReady(const ResyncRequests::Request& request)
{
    const QString folder = engine_->SyncFolder();
    if (!mounted_ || mounted_->Folder() != folder)
        mounted_ = std::make_unique<MountedFolder>(folder, folderNotice_.get());
    const SteadyTime now = SteadyClock::now();
    switch (mounted_->Check()) {
    case MountedFolder::State::Mounted:
        if (paused_.exchange(false)) {
            // Changes made while the monitor was down are found by a rescan.
            Log(QStringLiteral("PeltaResyncLocalThread:sync folder back, resuming"), LogGeneral);
            if (const auto notices = EngineNotices::Installed())
                notices->StartDirectoryMonitor();
            if (request.kind != XMOResyncLocal || request.path != kRoot)
                requests_.Ask(XMOResyncLocal, kRoot);
        }
        return true;
    case MountedFolder::State::NotMounted:
        paused_ = true;
        requests_.Retry(request, now + options_.mountCheck);
        return false;
    case MountedFolder::State::Removed:
        break;
    }
    // Removed by the user: made again and filled from the service. What
    // the rescans would take for deletions is only the folder's absence.
    if (!mounted_->Recreate()) {
        requests_.Retry(request, now + options_.mountCheck);
        return false;
    }
    paused_ = false;
    refilling_ = true;
    Log(QStringLiteral("PeltaResyncLocalThread:sync folder made again, filled from the service"), LogGeneral);
    if (const auto notices = EngineNotices::Installed())
        notices->StartDirectoryMonitor();
    requests_.Forget(XMOResyncLocal);
    requests_.Forget(XMOResyncAppStart);
    requests_.Ask(XMOResyncRemote, kRoot);
    if (!ResyncRequests::MayRemove(request.kind))
        requests_.Retry(request, SteadyTime{});
    return false;
}

void PeltaResyncLocalThread::RunJob(ResyncRequests::Request request)
{
    JobStart();
    Log(QStringLiteral("PeltaResyncLocalThread:job:") + XMOName(request.kind) + QLatin1Char(',') + request.path,
        LogGeneral);
    int failed = 0;
    for (const int stage : {ResyncRequests::LocalStage, ResyncRequests::JournalStage, ResyncRequests::RemoteStage}) {
        if (!(request.stages & stage))
            continue;
        if (RunStage(stage, request) == Outcome::Failed)
            failed |= stage;
        if (CutShort()) {
            Log(QStringLiteral("PeltaResyncLocalThread:job cut short:") + KeyOf(request), LogGeneral);
            // A folder made again is still to be filled, whatever folder
            // the settings name now.
            if (refilling_ && !Terminated())
                requests_.Ask(XMOResyncRemote, kRoot);
            return;
        }
    }
    JobEnd(request, failed);
}

PeltaResyncLocalThread::Outcome PeltaResyncLocalThread::RunStage(int stage, const ResyncRequests::Request& request)
{
    switch (stage) {
    case ResyncRequests::LocalStage:
        return LocalStage(request);
    case ResyncRequests::JournalStage:
        return JournalStage();
    default:
        return RemoteStage(request);
    }
}

bool PeltaResyncLocalThread::CutShort() const
{
    return Terminated() || AppState.load() == XAPPExit || restart_.load();
}

PeltaResyncLocalThread::Outcome PeltaResyncLocalThread::LocalStage(const ResyncRequests::Request& request)
{
    // The whole folder after lost events, at start and in the full resync;
    // a single folder in detail, as the journal replay asks.
    const bool whole = request.path == kRoot;
    bool checkFile = !whole;
    bool removeMissing = true;
    if (request.kind == XMOResyncFull) {
        checkFile = true;
        removeMissing = false;
    } else if (request.kind == XMOResyncLocalNoRemoval) {
        removeMissing = false;
    }
    Log(QStringLiteral("PeltaResyncLocalThread:ResyncLocal"), LogGeneral);
    const PassResult result = Local(request.path, checkFile, removeMissing);
    if (result == PassResult::Complete)
        return Outcome::Done;
    Log(QStringLiteral("PeltaResyncLocalThread:ResyncLocal:") + FailedReads::Name(result) + QLatin1Char(':') +
            request.path,
        LogGeneral);
    return Outcome::Failed;
}

PeltaResyncLocalThread::Outcome PeltaResyncLocalThread::JournalStage()
{
    const QString position = engine_->Settings()->Get(QStringLiteral("last_sync_time"));
    if (!IsPosition(position))
        return Outcome::Done;
    const int counted = Journal(position, 2);
    if (CutShort())
        return Outcome::Failed;
    if (counted < 0) {
        Log(QStringLiteral("PeltaResyncLocalThread:XMOResyncAppStart:ResyncJournal Check failed"), LogGeneral);
        evtRequestSyncJournal.Set();
        return Outcome::Failed;
    }
    if (counted > 0) {
        Log(QStringLiteral("PeltaResyncLocalThread:XMOResyncAppStart:ResyncJournal Check"), LogGeneral);
        return WalkWholeFolder(true, false) ? Outcome::Done : Outcome::Failed;
    }
    Log(QStringLiteral("PeltaResyncLocalThread:XMOResyncAppStart:ResyncJournal"), LogGeneral);
    if (Journal(position, 1) >= 0)
        return Outcome::Done;
    evtRequestSyncJournal.Set();
    return Outcome::Failed;
}

PeltaResyncLocalThread::Outcome PeltaResyncLocalThread::RemoteStage(const ResyncRequests::Request& request)
{
    if (request.path == kRoot)
        return WalkWholeFolder(false, request.kind == XMOResyncFull) ? Outcome::Done : Outcome::Failed;
    Log(QStringLiteral("PeltaResyncLocalThread:ResyncRemote:") + request.path, LogGeneral);
    QString stamp;  // a folder's walk is no position
    return Remote(request.path, false, stamp) ? Outcome::Done : Outcome::Failed;
}

bool PeltaResyncLocalThread::WalkWholeFolder(bool deleteMissing, bool firstSync)
{
    Log(QStringLiteral("PeltaResyncLocalThread:ResyncRemote"), LogGeneral);
    QString stamp;
    const bool walked = Remote(kRoot, deleteMissing, stamp);
    if (CutShort())
        return false;
    if (!walked || !IsPosition(stamp)) {
        Log(QStringLiteral("PeltaResyncLocalThread:ResyncRemote:") +
                (walked ? QStringLiteral("no time stamp") : QStringLiteral("failed")) +
                QStringLiteral(", last_sync_time kept=") + engine_->Settings()->Get(QStringLiteral("last_sync_time")),
            LogGeneral);
        return false;
    }
    StoreSetting(QStringLiteral("last_sync_time"), stamp);
    if (firstSync) {
        StoreSetting(QStringLiteral("first_sync_time"), stamp);
        if (const auto notices = EngineNotices::Installed())
            notices->SaveSettings();
    }
    Log(QStringLiteral("last_sync_time=") + stamp, LogGeneral);
    refilling_ = false;
    return true;
}

PassResult PeltaResyncLocalThread::Local(const QString& path, bool checkFile, bool removeMissing)
{
    if (options_.stages.local)
        return options_.stages.local(*engine_, path, checkFile, removeMissing);
    return engine_->ResyncLocal(path, checkFile, removeMissing);
}

bool PeltaResyncLocalThread::Remote(const QString& path, bool deleteMissing, QString& stamp)
{
    if (options_.stages.remote)
        return options_.stages.remote(*engine_, path, deleteMissing, stamp);
    return engine_->ResyncRemote(path, true, deleteMissing, true, stamp, 1);
}

int PeltaResyncLocalThread::Journal(const QString& position, int mode)
{
    if (options_.stages.journal)
        return options_.stages.journal(*engine_, position, mode);
    return engine_->ResyncJournal(position, mode, true);
}

void PeltaResyncLocalThread::JobStart()
{
    restart_ = false;
    engine_->ClearAbort();
    ResyncRunning = true;
    Log(QStringLiteral("ResyncLocal:1:SetSyncStatus=true"), LogIcon);
    if (const auto notices = EngineNotices::Installed())
        notices->SetSyncStatus(true, false, 0);
}

void PeltaResyncLocalThread::JobEnd(const ResyncRequests::Request& request, int failedStages)
{
    const QString key = KeyOf(request);
    if (failedStages != 0) {
        RetryDelay& delay = delays_.try_emplace(key, options_.firstRetry, options_.retryCap).first->second;
        const RetryDelay::Duration wait = delay.Failed();
        requests_.Retry({request.kind, request.path, failedStages}, delay.Due());
        Log(QStringLiteral("PeltaResyncLocalThread:retry in ") + QString::number(wait.count()) +
                QStringLiteral(" ms:") + key,
            LogGeneral);
    } else {
        delays_.erase(key);
    }
    Log(QStringLiteral("ResyncLocal:1:SetSyncStatus=false"), LogIcon);
    const auto notices = EngineNotices::Installed();
    if (notices)
        notices->SetSyncStatus(false, false, 0);
    ResyncRunning = false;
    evtRequestQueue.Set();
    restart_ = false;
    engine_->ClearAbort();
    // The menu's resync stays off while a whole-folder resync still waits.
    const bool wholeFolderWaits =
        requests_.IsPending(XMOResyncFull, kRoot) || requests_.IsPending(XMOResyncAppStart, kRoot);
    if (notices && !wholeFolderWaits)
        notices->SetResyncMenu(true);
}

void PeltaResyncLocalThread::StoreSetting(const QString& name, const QString& value)
{
    // The store at once, so that the next job reads it; the control form
    // writes it out.
    engine_->Settings()->Set(name, value);
    if (const auto notices = EngineNotices::Installed())
        notices->SetSetting(name, value);
}

QString PeltaResyncLocalThread::KeyOf(const ResyncRequests::Request& request)
{
    return QString::number(request.kind) + QLatin1Char(':') + request.path;
}

void PeltaResyncLocalThread::Log(const QString& text, int category)
{
    AppLog.Write(text, category);
}
