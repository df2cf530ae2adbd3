#include "sync/threads/PeltaResyncJournalThread.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/EngineNotices.h"
#include "sync/engine/JournalBarrier.h"
#include "sync/engine/SyncFolders.h"

#include <algorithm>
#include <utility>

namespace {

void SetSyncStatus(bool busy, bool reset, int pending)
{
    if (const auto notices = EngineNotices::Installed())
        notices->SetSyncStatus(busy, reset, pending);
}

bool IsPosition(const QString& position)
{
    return !position.isEmpty() && position != QLatin1String("0");
}

}  // namespace

PeltaResyncJournalThread::PeltaResyncJournalThread(PeltaSync& formEngine)
    : PeltaResyncJournalThread(formEngine, Options{})
{
}

PeltaResyncJournalThread::PeltaResyncJournalThread(PeltaSync& formEngine, Options options)
    : WorkerThread(QStringLiteral("ResyncJournal")),
      engine_(std::make_unique<PeltaSync>(formEngine.Reg(), formEngine.Settings(), formEngine.Status(),
                                          formEngine.Conflicts())),
      options_(std::move(options)),
      quota_(*engine_, QStringLiteral("TTResyncJournal"), options_.quota),
      retry_(options_.firstRetry, options_.retryCap)
{
}

PeltaResyncJournalThread::~PeltaResyncJournalThread()
{
    StopAndJoin();
}

void PeltaResyncJournalThread::ResetConfig(PeltaSyncAgentSetting* settings)
{
    engine_->SetAgentSetting(settings);
}

void PeltaResyncJournalThread::Terminate()
{
    WorkerThread::Terminate();
    engine_->RaiseAbort();
    engine_->Api().Abort();
}

void PeltaResyncJournalThread::Log(const QString& text, int category)
{
    AppLog.Write(text, category);
}

void PeltaResyncJournalThread::Execute()
{
    const JournalBarrier::Puller puller;
    lastPull_ = SteadyClock::now();
    quota_.Run();
    while (!Terminated()) {
        const bool woken = WaitFor(evtRequestSyncJournal, int(options_.wait.count()));
        if (Terminated())
            break;
        if (!FollowState())
            continue;
        FollowSettings();
        if (engine_->AbortRaised() && !Terminated())
            engine_->ClearAbort();  // raised by a change of the sync folder
        if (PullDue(woken)) {
            if (ResyncRunning.load()) {
                // The notices stay counted; the first turn after it pulls.
                Log(QStringLiteral("TTResyncJournal:ReyncJournal, sync pause"));
                continue;
            }
            pulling_ = true;
            Pull();
            pulling_ = false;
            if (Terminated())
                break;
        }
        CheckQuota();
    }
}

bool PeltaResyncJournalThread::FollowState()
{
    switch (AppState.load()) {
    case XAPPOnline:
    case XAPPOffline:
        break;
    case XAPPExit:
        Terminate();
        return false;
    default:
        Sleep(int(OtherStatePause.count()));
        return false;
    }
    // Offline does not stop pulls: only the tray is told.
    if (AppState.load() == XAPPOffline)
        Log(QStringLiteral("TTResyncJournal:Offline"));
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

void PeltaResyncJournalThread::FollowSettings()
{
    PeltaSyncAgentSetting* settings = engine_->Settings();
    const SyncFolders stored(settings->Get(QStringLiteral("sync_folder")));
    if (stored.SyncFolder() == engine_->SyncFolder())
        return;
    Log(QStringLiteral("TTResyncJournal:sync folder changed:") + stored.SyncFolder());
    engine_->SetAgentSetting(settings);
    engine_->ClearAbort();
}

bool PeltaResyncJournalThread::PullDue(bool woken) const
{
    if (woken)
        return true;
    if (!retry_.IsDue())
        return false;
    if (JournalRequestCount.load() > 0)
        return true;
    const SteadyTime now = SteadyClock::now();
    return now - LastApeOkTime.load() > options_.pushSilence && now - lastPull_ > options_.pullInterval;
}

void PeltaResyncJournalThread::Pull()
{
    JournalBarrier::Pull pull;
    const QString position = engine_->Settings()->Get(QStringLiteral("last_sync_time"));
    if (!IsPosition(position)) {
        // No full sync has completed yet: nothing to pull from.
        evtRequestSyncJournal.Reset();
        pull.Answered();
        return;
    }
    Log(QStringLiteral("TTResyncJournal: Start Sync Journal:") + position);
    // Every pending notice is served by this pull; a notice that arrives
    // meanwhile stays for the next one and wakes it.
    evtRequestSyncJournal.Reset();
    const int taken = JournalRequestCount.exchange(0);
    const int result = engine_->ResyncJournal(position, 1, true);
    if (result >= 0) {
        pull.Answered();
        ++pulls_;
        retry_.Succeeded();
        lastPull_ = SteadyClock::now();
        if (result > 0)
            evtRequestQueue.Set();
        return;
    }
    ++failedPulls_;
    JournalRequestCount.fetch_add(std::max(taken, 1));
    if (Terminated())
        return;
    const RetryDelay::Duration wait = retry_.Failed();
    Log(QStringLiteral("TTResyncJournal:ResyncJournal failed (") + QString::number(result) +
        QStringLiteral("), next pull in ") + QString::number(wait.count()) + QStringLiteral(" ms"));
}

void PeltaResyncJournalThread::CheckQuota()
{
    if (!quota_.Due())
        return;
    quota_.Run();
    if (QuotaCheckTime.load() != SteadyTime{} && !engine_->Db().CountPendingRequests())
        SetSyncStatus(false, true, 0);
}
