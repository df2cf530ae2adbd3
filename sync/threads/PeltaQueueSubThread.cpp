#include "sync/threads/PeltaQueueSubThread.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/TimeHelpers.h"
#include "sync/engine/EngineNotices.h"
#include "sync/threads/InstalledFolderNotice.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

namespace {

const QString kRoot = QStringLiteral("\\");

void QueueRemoteResync(MountedFolder::State)
{
    {
        std::lock_guard lock(csFSFinalQueue);
        FSFinalQueue.Push(std::make_unique<PeltaFSQueue>(XMOResyncRemote, kRoot));
    }
    evtFSFinalQueue.Set();
}

void SetSyncStatus(bool busy, bool reset, int pending)
{
    if (const auto notices = EngineNotices::Installed())
        notices->SetSyncStatus(busy, reset, pending);
}

}  // namespace

PeltaQueueSubThread::PeltaQueueSubThread(PeltaSync& formEngine) : PeltaQueueSubThread(formEngine, Options{}) {}

PeltaQueueSubThread::PeltaQueueSubThread(PeltaSync& formEngine, Options options)
    : WorkerThread(QStringLiteral("QueueSub")),
      engine_(std::make_unique<PeltaSync>(formEngine.Reg(), formEngine.Settings(), formEngine.Status(),
                                          formEngine.Conflicts())),
      options_(std::move(options)),
      steps_(*engine_),
      quota_(*engine_, QStringLiteral("QueueSub"), options_.quota)
{
    if (!options_.folderGone)
        options_.folderGone = &QueueRemoteResync;
    steps_.SetOnCommitted(options_.committed);
}

PeltaQueueSubThread::~PeltaQueueSubThread()
{
    StopAndJoin();
}

void PeltaQueueSubThread::ResetConfig(PeltaSyncAgentSetting* settings)
{
    engine_->SetAgentSetting(settings);
}

void PeltaQueueSubThread::Terminate()
{
    WorkerThread::Terminate();
    engine_->RaiseAbort();
    engine_->Api().Abort();
}

void PeltaQueueSubThread::Log(const QString& text, int category) const
{
    AppLog.Write(text, category);
}

void PeltaQueueSubThread::Execute()
{
    started_ = SteadyClock::now();
    Log(QStringLiteral("QueueSub: start, LastSyncJournal=") + QDateTime::currentDateTime().toString(Qt::ISODate));
    quota_.Run();
    int quiet = options_.quietTurns;  // the first turn always runs a batch
    while (!Terminated()) {
        const bool woken = WaitFor(evtRequestQueue, int(options_.wait.count()));
        if (Terminated())
            break;
        if (woken)
            Log(QStringLiteral("QueueSub:event:evtRequestQueue"), LogEvent);
        if (!FollowState())
            continue;
        if (engine_->AbortRaised() && !Terminated())
            engine_->ClearAbort();  // raised by a change of the sync folder
        if (!FolderReady())
            continue;
        RefreshIconsOnce();
        RescanAddedFolders();
        if (!woken && quiet < options_.quietTurns) {
            ++quiet;
            continue;
        }
        quiet = 0;
        RunBatch();
    }
}

bool PeltaQueueSubThread::FollowState()
{
    switch (AppState.load()) {
    case XAPPOnline:
    case XAPPOffline:
        break;
    case XAPPExit:
        Terminate();
        return false;
    default:
        Sleep(int(std::chrono::milliseconds(OtherStatePause).count()));
        return false;
    }
    if (AppState.load() == XAPPOffline)
        Log(QStringLiteral("QueueSub:Offline"));
    switch (PeltaAPI::UpdateOnlineState()) {
    case PeltaAPI::OnlineSwitch::WentOffline:
        SetSyncStatus(false, false, 0);
        evtTrayIconMsn.Set();
        break;
    case PeltaAPI::OnlineSwitch::WentOnline:
        SetSyncStatus(true, false, 0);
        evtTrayIconMsn.Set();
        break;
    case PeltaAPI::OnlineSwitch::None:
        break;
    }
    return !Terminated();
}

bool PeltaQueueSubThread::FolderReady()
{
    const QString folder = engine_->SyncFolder();
    if (!mounted_ || mounted_->Folder() != folder) {
        mounted_ = std::make_unique<MountedFolder>(folder, &folderNotice_);
        folderGone_ = false;
    }
    const MountedFolder::State state = mounted_->Check();
    if (state == MountedFolder::State::Mounted) {
        if (folderGone_.exchange(false))
            Log(QStringLiteral("QueueSub:sync folder is back:") + folder);
        return true;
    }
    if (!folderGone_.exchange(true)) {
        // Made again (removed) or waited for (not mounted) by the resync-local
        // thread, which watches it again and fills it from the service.
        Log(QStringLiteral("QueueSub:sync folder ") + MountedFolder::StateName(state) +
            QStringLiteral(", no request handled until it is back:") + folder);
        options_.folderGone(state);
    }
    return false;
}

void PeltaQueueSubThread::RefreshIconsOnce()
{
    if (IconRefreshDone.load())
        return;
    const SteadyTime since = std::max(SyncStartTime.load(), started_);
    if (SteadyClock::now() - since <= options_.iconRefreshAfter)
        return;
    engine_->RefreshAllIcons();
    IconRefreshDone = true;
}

void PeltaQueueSubThread::RescanAddedFolders()
{
    PeltaRequestObject& status = engine_->Status();
    const int count = status.FolderAddCount();
    if (count == 0)
        return;
    Log(QStringLiteral("mmFolderAdd.Count=") + QString::number(count));
    // Taken under the status object's lock, rescanned after it.
    for (const QString& folder : status.TakeExpiredFolderAdds()) {
        if (Terminated())
            return;
        Log(QStringLiteral("QueueSub:Process Add Folder:") + folder);
        const PassResult result = engine_->ResyncLocal(folder, true, false);
        if (result != PassResult::Complete && engine_->LocalFolderExists(folder)) {
            // Retried like any failed pass: the folder is looked at again
            // once its new mark is old enough.
            Log(QStringLiteral("QueueSub:Process Add Folder:") + FailedReads::Name(result) + QLatin1Char(':') + folder);
            status.FolderAddMark(folder);
        }
    }
}

void PeltaQueueSubThread::RunBatch()
{
    ++batches_;
    Log(QStringLiteral("QueueSub: continue"), LogEvent);
    if (AppState.load() != XAPPOnline)
        return;  // no row is taken (nor stamped) while offline
    PeltaRecSyncRequest row;
    if (!engine_->GetNextRequest(row))
        return;
    SetSyncStatus(true, false, 0);
    Log(QStringLiteral("QueueSub:1:SetSyncStatus=Yes"), LogIcon);

    RequestSteps::Tally tally;
    std::map<int, Visit> visits;  // by rowid, the rows handled in this batch
    do {
        if (AppState.load() != XAPPOnline || Terminated())
            break;
        if (Repeated(row, visits))
            continue;
        const int takenStatus = row.status;
        steps_.Drive(row, tally);
        if (engine_->AbortRaised() && !Terminated()) {
            // A change of the sync folder cut the row short: it is handled
            // afresh on the new binding.
            engine_->ClearAbort();
            visits.erase(row.rowid);
            continue;
        }
        Visit& visit = visits[row.rowid];
        visit.status = takenStatus;
        ++visit.times;
    } while (engine_->GetNextRequest(row));

    Log(QStringLiteral("QueueSub:2:SetSyncStatus=false"), LogIcon);
    SetSyncStatus(false, false, tally.unfinished);
    if (!tally.parents.empty()) {
        engine_->RefreshParentIcons(tally.parents);
        engine_->NotifySyncResult(tally.actionCounts, tally.lastPath);
    }
}

bool PeltaQueueSubThread::Repeated(const PeltaRecSyncRequest& row, const std::map<int, Visit>& visits)
{
    // A failed row comes back only after its retry delay. One that comes
    // back at once with the status it was taken at was left as it was; one
    // whose handling moved it on (to be registered again, say) is handled
    // again, a few times at most.
    const auto found = visits.find(row.rowid);
    if (found == visits.end() || row.err_count != 0)
        return false;
    if (row.status != found->second.status && found->second.times < MaxVisitsPerBatch)
        return false;
    Log(QStringLiteral("QueueSub:row(id=") + QString::number(row.rowid) + QStringLiteral(") ") +
        XSYNCName(row.action) + QStringLiteral(" back unchanged at status ") + QString::number(row.status) +
        QStringLiteral(", retried later:") + row.path);
    PeltaRecSyncRequest counted = row;
    engine_->IncRequestErrCount(counted);
    return true;
}
