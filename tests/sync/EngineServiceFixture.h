#pragma once

// The sync fixture with its engine bound to a running fake service: the
// test account and its access key, the agent registered, the process's
// endpoints and method paths pointed at the fake, an engine that uses the
// fixture's conflict tracker, and the worker's steps over it. Notices are
// recorded. Process-wide values it changes are put back afterwards.

#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"
#include "sync/engine/EngineNotices.h"
#include "sync/threads/RequestSteps.h"
#include "tests/sync/SyncFixture.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class RecordingNotices : public EngineNotices {
public:
    void ShowBalloon(const QString& title, const QString& text) override;
    void ShowBalloonWithPath(const QString& title, const QString& text, bool autoHide, const QString& url) override;
    void ShowFileBalloon(const QString& title, const QString& text, const QString& target) override;
    // "title|text" of each notice, in order.
    QStringList Shown() const;

private:
    mutable std::mutex mutex_;
    QStringList shown_;
};

class EngineServiceFixture : public SyncFixture {
protected:
    static inline const QString& UserId = TestAccount::UserId;

    void SetUp() override;
    void TearDown() override;

    // Takes rows and drives each as far as it goes now, until none is left
    // to take (rows that failed wait their retry delay) or maxRows were
    // taken. The tally of the run.
    RequestSteps::Tally Drive(int maxRows = 40);
    // Lets every failed row be taken again at once.
    void RetriesDue();
    // Drive, then retries due and Drive again, rounds times.
    void DriveWithRetries(int rounds = 3);
    // The row as the worker would take it.
    PeltaRecSyncRequest LoadRow(int rowid);
    // "action|status|err_count" of every row, in insertion order.
    QStringList RowStates();

    // Local changes as the event application would record them.
    void AddLocal(const QString& relative, const QByteArray& bytes, std::int64_t mtime);
    void ModifyLocal(const QString& relative, const QByteArray& bytes, std::int64_t mtime);

    // The file's record: "version|mtime|size", "" without one.
    std::string FileRecord(const QString& relative);
    // A record as the walk stores it for a file the service holds; no row.
    void StoreFileRecord(const QString& relative, const QString& version, std::int64_t mtime, std::int64_t size);

    // The service's live file or folder at a "/" path.
    std::optional<FakeItem> ServiceItem(const QString& servicePath);
    QString ServiceVersion(const QString& servicePath);
    // Its content; "(none)" when the service has no such live item.
    QByteArray ServiceContent(const QString& servicePath);
    // Commits an edit of a file as another agent would.
    void OtherAgentEdits(const QString& servicePath, const QByteArray& content, std::int64_t mtime);

    // A fault for the next call of the method that the service still
    // carries out (processed) or not.
    void NextMessage(const char* method, const QString& message, bool processed = false);

    FakeService service_;
    std::shared_ptr<RecordingNotices> notices_ = std::make_shared<RecordingNotices>();
    std::unique_ptr<RequestSteps> steps_;

private:
    QString savedProfile_;
    QString savedServiceUrl_;
    QString savedUploadUrl_;
};
