#include "sync/threads/PeltaSyncFinalThread.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/PeltaFSQueue.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/EngineNotices.h"
#include "sync/rules/PendingLocalMoves.h"
#include "sync/threads/PeltaResyncLocalThread.h"

namespace {

const QString kRoot = QStringLiteral("\\");

void Log(const QString& text, int category = LogGeneral)
{
    AppLog.Write(text, category);
}

}  // namespace

PeltaSyncFinalThread::PeltaSyncFinalThread(PeltaSync& formEngine, ResyncRequests& resync)
    : PeltaSyncFinalThread(formEngine, resync, Options{})
{
}

PeltaSyncFinalThread::PeltaSyncFinalThread(PeltaSync& formEngine, ResyncRequests& resync, Options options)
    : WorkerThread(QStringLiteral("SyncFinal")),
      engine_(std::make_unique<PeltaSync>(formEngine.Reg(), formEngine.Settings(), formEngine.Status(),
                                          formEngine.Conflicts())),
      resync_(resync),
      options_(options)
{
}

PeltaSyncFinalThread::~PeltaSyncFinalThread()
{
    StopAndJoin();
}

void PeltaSyncFinalThread::ResetConfig(PeltaSyncAgentSetting* settings)
{
    engine_->SetAgentSetting(settings);
    engine_->ClearAbort();
}

void PeltaSyncFinalThread::Terminate()
{
    WorkerThread::Terminate();
    engine_->RaiseAbort();
    engine_->Api().Abort();  // a held exchange of a walk ends at once
}

void PeltaSyncFinalThread::Execute()
{
    while (!Terminated()) {
        WaitFor(evtFSFinalQueue, Event::Infinite);
        if (Terminated())
            break;
        evtFSFinalQueue.Reset();  // a push from here on sets it again
        applying_ = true;
        Drain();
        applying_ = false;
    }
}

void PeltaSyncFinalThread::Drain()
{
    while (!Terminated()) {
        std::unique_ptr<PeltaFSQueue> item;
        {
            std::lock_guard lock(csFSFinalQueue);
            item = FSFinalQueue.Pop();
        }
        if (!item)
            break;
        Log(QStringLiteral("FSFinalQueue: has rec"), LogQueue);
        const bool ignored = (item->status == XMOAdded || item->status == XMOModified) &&
                             PeltaSync::IsIgnoredFile(item->path);
        if (ignored) {
            engine_->SetIcon(item->path, XICOSync);
            continue;
        }
        const bool listed = Apply(*item);
        if (Terminated())
            return;
        Log(QStringLiteral("FSFinalQueue: loop"), LogQueue);
        if (listed) {
            Log(QStringLiteral("FSFinalQueue:event:evtRequestQueue"), LogEvent);
            evtRequestQueue.Set();
        }
    }
    Log(QStringLiteral("FSFinalQueue:leave while"), LogQueue);
}

bool PeltaSyncFinalThread::Apply(const PeltaFSQueue& item)
{
    switch (item.status) {
    case XMONOP:
        return true;
    case XMOAdded:
        Log(QStringLiteral("FSFinalQueue:XMOAdded:") + item.path);
        engine_->FileAdd(item.path, 1, false, false);
        Log(QStringLiteral("FSFinalQueue:XMOAdded:") + item.path + QStringLiteral(", leave"));
        return true;
    case XMORemoved:
        Log(QStringLiteral("FSFinalQueue:XMORemoved:") + item.path);
        Remove(item.path);
        return true;
    case XMOModified:
        Log(QStringLiteral("FSFinalQueue:XMOModified:") + item.path);
        engine_->FileModify(item.path);
        return true;
    case XMORenameOldName:
        Log(QStringLiteral("FSFinalQueue:XMORename:") + item.path + QLatin1Char(',') + item.path2);
        Rename(item.path, item.path2);
        PendingLocalMoves::TakenIn(item.path, item.path2);
        return true;
    case XMOResyncLocal:
    case XMOResyncLocalNoRemoval:
        Log(QStringLiteral("FSFinalQueue:ResyncLocal:") + item.path);
        PeltaResyncLocalThread::HandOver(resync_, item.status, item.path);
        return true;
    case XMOResyncRemote:
        Log(QStringLiteral("FSFinalQueue:ResyncRemote:") + item.path);
        PeltaResyncLocalThread::HandOver(resync_, item.status, item.path);
        return true;
    case XMOResyncFull:
        FullResync();
        return true;
    case XMOResyncAppStart:
        PeltaResyncLocalThread::HandOver(resync_, item.status, kRoot);
        return true;
    default:
        Log(QStringLiteral("FSFinalQueue:dropped:") + QString::number(item.status) + QLatin1Char(',') + item.path);
        return false;
    }
}

void PeltaSyncFinalThread::Rename(const QString& from, const QString& to)
{
    const bool fromIgnored = PeltaSync::IsIgnoredFile(from);
    const bool toIgnored = PeltaSync::IsIgnoredFile(to);
    if (fromIgnored && toIgnored) {
        Log(QStringLiteral("FSFinalQueue:XMORename:Cancel"));
        engine_->SetIcon(to, XICOSync);
        engine_->SetIcon(from, XICODel);
    } else if (fromIgnored) {
        Log(QStringLiteral("FSFinalQueue:XMORename -> XMOModified:") + to);
        engine_->FileModify(to);
        engine_->SetIcon(to, XICOSync);
        engine_->SetIcon(from, XICODel);
    } else if (toIgnored) {
        Log(QStringLiteral("FSFinalQueue:XMORename -> Ignore:") + to);
        engine_->SetIcon(to, XICODel);
    } else {
        engine_->FileRename(from, to);
    }
}

// A folder that is not there makes every item look deleted: its removals
// are left to a rescan that runs once it is back.
void PeltaSyncFinalThread::Remove(const QString& path)
{
    if (FolderMounted()) {
        engine_->FileRemove(path);
        return;
    }
    Log(QStringLiteral("FSFinalQueue:XMORemoved:sync folder not there, left to a rescan:") + path);
    PeltaResyncLocalThread::HandOver(resync_, XMOResyncLocal, kRoot);
}

void PeltaSyncFinalThread::FullResync()
{
    Log(QStringLiteral("FSFinalQueue:ResyncFull"));
    if (!Sleep(static_cast<int>(options_.fullResyncPause.count())))
        return;
    // last_sync_time keeps the old position until the walk has succeeded;
    // first_sync_time "0" makes a start before that run a full resync again.
    engine_->Settings()->Set(QStringLiteral("first_sync_time"), QStringLiteral("0"));
    const auto notices = EngineNotices::Installed();
    if (notices)
        notices->SetSetting(QStringLiteral("first_sync_time"), QStringLiteral("0"));
    PeltaResyncLocalThread::HandOver(resync_, XMOResyncFull, kRoot);
    if (notices)
        notices->SetResyncMenu(false);
}

bool PeltaSyncFinalThread::FolderMounted()
{
    const QString folder = engine_->SyncFolder();
    if (!mounted_ || mounted_->Folder() != folder)
        mounted_ = std::make_unique<MountedFolder>(folder);
    return mounted_->Check() == MountedFolder::State::Mounted;
}
