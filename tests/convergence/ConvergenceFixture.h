#pragma once

// The whole engine in this process on a temporary sync folder, against the
// fake service and a second computer on the same account. A run carries out
// operations on both sides while the engine works, then stops the faults,
// lets the engine run until it is quiet and checks what a user relies on:
//   1. the sync folder and the service hold the same tree;
//   2. nothing either side wrote is lost, unless that side later replaced or
//      deleted it knowingly;
//   3. no request row is left open, the cache folder holds only its marker,
//      no path has two records;
//   4. every record matches its item on disk.
// Items of the service whose names cannot exist in a Linux folder are left
// out of check 1 (each named in the output, "left out: ..."). The engine is
// quiet only once it also stopped calling the service for work: an engine
// that walks or sends the same thing again and again never comes to rest.
// A failing check names its invariant and path; the run's trace of
// operations and the engine's log are printed with it.

#include "sync/SyncEngine.h"
#include "sync/rules/FileDescriptor.h"
#include "sync/SyncEngineOptions.h"
#include "tests/convergence/ContentLedger.h"
#include "tests/convergence/SecondComputer.h"
#include "tests/convergence/TreeSnapshot.h"
#include "tests/sync/threads/EngineThreadFixture.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

struct Operation;

class ConvergenceFixture : public EngineThreadFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // One seeded run with its checks.
    void RunSeed(std::uint64_t seed);

    // Starts (or starts again) the engine and waits until it watches the
    // folder and (unless told not to: a job that fails is retried, and the
    // start-up job does not end while a fault lasts) has run its start-up
    // job.
    void StartEngine(SyncEngine::FirstCommand first = SyncEngine::FirstCommand::AppStart, bool waitForJob = true);
    void StopEngine();
    // A new engine object after a stop, with the events that were queued
    // lost, as after the program's exit.
    void RestartProgram();

    // Waits until nothing is open or queued, the journal position is at the
    // service's last commit and both trees stayed unchanged for a while.
    bool WaitQuiet(std::chrono::milliseconds limit,
                   std::chrono::milliseconds quietFor = std::chrono::milliseconds(1500));
    // What keeps the engine from being quiet, for a failure message.
    QString Unquiet();

    // The four checks; each failure as "invariant: path: detail".
    QStringList Check();

    // Items in the sync folder by service path.
    QString Full(const QString& servicePath) const { return root_ + servicePath; }
    TreeSnapshot LocalTree() const { return TreeSnapshot::OfLocal(root_); }
    TreeSnapshot ServiceTree() { return TreeSnapshot::OfService(service_.State(), UserId); }

    // Binds the engine to another sync folder (before it starts).
    void UseSyncFolder(const QString& folder);
    const QString& Root() const { return root_; }

    // A line of the run's trace.
    void Trace(const QString& line);
    // The trace and where the engine's log was written.
    std::string Report(const QString& run, const QStringList& failures);
    // Faults off, the engine run until quiet, then the four checks.
    void SettleAndCheck(const QString& run);

    SyncEngineOptions options_;
    std::unique_ptr<SyncEngine> sync_;
    std::unique_ptr<SecondComputer> second_;
    ContentLedger ledger_;
    QStringList trace_;
    QString log_;

    // Single operations; each returns what happened, for the trace.
    QString Apply(const Operation& op, int step);
    QString LocalWrite(const QString& path, const QByteArray& content, int step);
    QString LocalMakeFolder(const Operation& op, int step);
    QString LocalMove(const QString& from, const QString& to);
    QString LocalDelete(const QString& path);
    QString RemoteWrite(const QString& path, const QByteArray& content, int step);
    QString RemoteMakeFolder(const Operation& op, int step);
    QString RemoteDelete(const QString& path);
    QString RestartDuring(const std::string& method);
    void SetPushSilent(bool silent);
    // A lock on the local file that conflicts with reading, as another
    // program holds it, until the step until has been carried out.
    QString HoldInUse(const QString& path, int until);
    // Lets go of the files held until step (all with step < 0).
    void ReleaseHeld(int step);
    QString RemoteOddName(const Operation& op);

private:
    struct Held {
        QString path;
        int until = 0;
        FileDescriptor file;
    };
    // The service's calls that only work makes, summed.
    std::size_t WorkCalls() const;
    // Forgets every mark of its own change the engine set in this run.
    void ForgetSelfChanges();

    QStringList CheckRows();
    QStringList CheckCacheFolder();
    QStringList CheckDuplicates();
    QStringList CheckRecords();

    QString root_;
    std::atomic<int> rootWatches_{0};
    std::vector<Held> held_;

protected:
    // The time the next local write gets (one second later than the last).
    std::int64_t localMtime_ = 1700000000;
};
