#pragma once

// The engine bound to the fake service, as the engine's worker threads see
// it: the sync folder marked as mounted, the member token and the signed
// API's address set, the quota figures, push times, counters and events of
// the process put back before and after each test, and notices that record
// what the threads ask of the application.

#include "tests/sync/EngineServiceFixture.h"

#include <QString>
#include <QStringList>

#include <mutex>
#include <vector>

class ThreadNotices : public RecordingNotices {
public:
    void SetSyncStatus(bool busy, bool reset, int pending) override;
    void UpdateQuotaMenu() override;
    void Relogin() override;
    void SetSetting(const QString& name, const QString& value) override;
    void StartDirectoryMonitor() override;
    void SetResyncMenu(bool enabled) override;
    void SyncFolderUnavailable(const QString& folder, const QString& reason) override;
    void SyncFolderAvailable(const QString& folder) override;

    // Each call as a line: "SetSyncStatus(busy,reset,pending)",
    // "UpdateQuotaMenu", "Relogin", "SetSetting(name=value)",
    // "StartDirectoryMonitor", "SetResyncMenu(enabled)",
    // "SyncFolderUnavailable", "SyncFolderAvailable".
    QStringList Calls() const;
    int Count(const QString& call) const;

private:
    void Add(const QString& call);

    mutable std::mutex mutex_;
    QStringList calls_;
};

class EngineThreadFixture : public EngineServiceFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Items of the final queue taken out.
    static std::vector<PeltaFSQueue> TakeFinalQueue();
    // Puts the process-wide values the threads use back to their start.
    static void ResetProcessState();

    // The last commit time of the service's journal: a position from which
    // the next change of another agent is read.
    QString JournalEnd();
    // A change committed by another agent (in the journal); service paths
    // with "/", dest only for a move.
    void OtherAgentCommits(FakeObjType type, FakeAction action, const QString& servicePath,
                           const QByteArray& content = {}, const QString& dest = {});
    void OtherAgentAdds(const QString& servicePath, const QByteArray& content)
    {
        OtherAgentCommits(FakeObjType::File, FakeAction::Add, servicePath, content);
    }

    std::shared_ptr<ThreadNotices> threadNotices_ = std::make_shared<ThreadNotices>();
};
