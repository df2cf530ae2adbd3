#include "tests/sync/threads/EngineThreadFixture.h"

#include "foundation/ProcessState.h"
#include "sync/rules/MountedFolder.h"

void ThreadNotices::Add(const QString& call)
{
    std::lock_guard lock(mutex_);
    calls_ << call;
}

void ThreadNotices::SetSyncStatus(bool busy, bool reset, int pending)
{
    Add(QStringLiteral("SetSyncStatus(%1,%2,%3)").arg(int(busy)).arg(int(reset)).arg(pending));
}

void ThreadNotices::UpdateQuotaMenu()
{
    Add(QStringLiteral("UpdateQuotaMenu"));
}

void ThreadNotices::Relogin()
{
    Add(QStringLiteral("Relogin"));
}

void ThreadNotices::SetSetting(const QString& name, const QString& value)
{
    Add(QStringLiteral("SetSetting(") + name + QLatin1Char('=') + value + QLatin1Char(')'));
}

void ThreadNotices::StartDirectoryMonitor()
{
    Add(QStringLiteral("StartDirectoryMonitor"));
}

void ThreadNotices::SetResyncMenu(bool enabled)
{
    Add(QStringLiteral("SetResyncMenu(%1)").arg(int(enabled)));
}

void ThreadNotices::SyncFolderUnavailable(const QString&, const QString&)
{
    Add(QStringLiteral("SyncFolderUnavailable"));
}

void ThreadNotices::SyncFolderAvailable(const QString&)
{
    Add(QStringLiteral("SyncFolderAvailable"));
}

QStringList ThreadNotices::Calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

int ThreadNotices::Count(const QString& call) const
{
    std::lock_guard lock(mutex_);
    return int(calls_.count(call));
}

void EngineThreadFixture::SetUp()
{
    EngineServiceFixture::SetUp();
    ResetProcessState();
    ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
    SignedApiUrl = QString::fromStdString(service_.ApiUrl());
    ApiKey = ProgramApiKey;
    ApiSecret = ProgramApiSecret;
    settings_.Set(QStringLiteral("member_access_token"), TestAccount::MemberToken);
    service_.State().SetClock(1000);
    EngineNotices::Install(threadNotices_);
}

void EngineThreadFixture::TearDown()
{
    EngineNotices::Install(nullptr);
    ResetProcessState();
    EngineServiceFixture::TearDown();
}

void EngineThreadFixture::ResetProcessState()
{
    TakeFinalQueue();
    for (Event* event : {&evtFSQueue, &evtFSFinalQueue, &evtResyncLocal, &evtRequestQueue, &evtRequestSyncJournal,
                         &evtRequestFileTransfer, &evtTrayIconMsn})
        event->Reset();
    AppState = XAPPOnline;
    NetFailCount = 0;
    JournalRequestCount = 0;
    ResyncRunning = false;
    IconRefreshDone = false;
    QuotaCheckTime = SteadyTime{};
    LastApeOkTime = SteadyClock::now();
    SyncStartTime = SteadyClock::now();
}

std::vector<PeltaFSQueue> EngineThreadFixture::TakeFinalQueue()
{
    std::vector<PeltaFSQueue> items;
    std::lock_guard lock(csFSFinalQueue);
    while (auto item = FSFinalQueue.Pop())
        items.push_back(*item);
    return items;
}

QString EngineThreadFixture::JournalEnd()
{
    const std::vector<FakeJournalEntry> journal = service_.State().Journal(UserId);
    return journal.empty() ? QStringLiteral("1") : journal.back().commitTime;
}

void EngineThreadFixture::OtherAgentCommits(FakeObjType type, FakeAction action, const QString& servicePath,
                                            const QByteArray& content, const QString& dest)
{
    FakeChange change;
    change.objType = type;
    change.action = action;
    if (action == FakeAction::Move) {
        change.origPath = servicePath;
        change.destPath = dest;
    } else {
        change.path = servicePath;
    }
    change.localMtime = 1500;
    change.size = content.size();
    const FakeCommitResult result =
        service_.State().CommitChange(UserId, QStringLiteral("another-agent"), change, content);
    ASSERT_TRUE(result.message.isEmpty()) << result.message.toStdString();
}
