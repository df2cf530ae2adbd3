// Small files copied into the sync folder all at once, along the whole road
// of a local change: the directory monitor, the merging thread (which holds
// each event back 2000 ms for merging), the final queue and the sync-final
// thread with its own engine, as the agent runs them, with the statements'
// pause (100 ms after every prepare unless told otherwise). A sync folder and
// a data folder of their own are made in a temporary folder.
//
// Each run copies 1,000 files of a few hundred bytes into a folder of the
// sync folder that is stored already, and measures the time from the start of
// the copy until every file has its row: the file's overlay marker is
// written right after its row, so the bench watches the markers and never
// asks the database itself while it measures. Every prepare is counted (the
// link wraps sqlite3_prepare16_v2); the statements of a run are all the sync-
// final thread's. Afterwards the rows and request rows are counted.
//
// Usage: copy_in_bench [runs] [pause ms]   (defaults 3 and 100)

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/PeltaTrackConflict.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "platform/Event.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"
#include "sync/monitor/PeltaDirectoryMonitorThread.h"
#include "sync/rules/MountedFolder.h"
#include "sync/threads/PeltaSyncFinalThread.h"
#include "sync/threads/PeltaSyncPreThread.h"
#include "sync/threads/ResyncRequests.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

std::atomic<long> preparedStatements{0};

}  // namespace

extern "C" {
int __real_sqlite3_prepare16_v2(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail);

int __wrap_sqlite3_prepare16_v2(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail)
{
    preparedStatements.fetch_add(1);
    return __real_sqlite3_prepare16_v2(db, sql, bytes, statement, tail);
}
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 1000;

struct Sample {
    double seconds = 0;
    double statementsPerFile = 0;
};

void PrintSpread(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    const double median = values.size() % 2 ? values[values.size() / 2]
                                            : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    std::printf("  %-34s min %9.2f  median %9.2f  max %9.2f %s  (runs %zu)\n", what, values.front(), median,
                values.back(), unit, values.size());
}

class Bench {
public:
    explicit Bench(const QString& base)
        : root_(base + QStringLiteral("/sync")), source_(base + QStringLiteral("/source")), status_(conflicts_, tray_)
    {
        QDir().mkpath(root_);
        QDir().mkpath(source_);
        reg_ = std::make_unique<PeltaReg>(*registry_);
        settings_.Set(QStringLiteral("user_sn"), QStringLiteral("12345"));
        settings_.Set(QStringLiteral("agent_key"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        settings_.Set(QStringLiteral("sync_folder"), root_);
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_, status_);
        MountedFolder(root_).WriteMarker();
        for (int n = 0; n < kFiles; ++n) {
            QFile file(source_ + QStringLiteral("/file-%1.txt").arg(n, 4, 10, QLatin1Char('0')));
            if (file.open(QIODevice::WriteOnly))
                file.write(QByteArray(200 + n % 300, 'a' + char(n % 26)));
        }
    }

    // A stored folder for each run, made before the monitor starts.
    void PrepareRuns(int runs)
    {
        for (int run = 0; run < runs; ++run) {
            QDir().mkpath(Local(RunFolder(run)));
            engine_->FileAdd(RunFolder(run), 1, false, false);
        }
    }

    bool StartRoad()
    {
        PeltaSync* engine = engine_.get();
        syncPre_ = std::make_unique<PeltaSyncPreThread>([engine](const QString& path) {
            return engine->ToLocalPath(path);
        });
        monitor_ = std::make_unique<PeltaDirectoryMonitorThread>(root_);
        final_ = std::make_unique<PeltaSyncFinalThread>(*engine_, requests_);
        syncPre_->Start();
        final_->Start();
        monitor_->Start();
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (monitor_->WatchedFolder() != root_) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    void StopRoad()
    {
        monitor_->StopAndJoin();
        syncPre_->StopAndJoin();
        final_->StopAndJoin();
    }

    bool Run(int run, Sample& sample)
    {
        const QString folder = RunFolder(run);
        std::vector<QString> markers;
        for (int n = 0; n < kFiles; ++n)
            markers.push_back(reg_->MarkerFolder() + QLatin1Char('.') +
                              Md5Hex(folder + QStringLiteral("\\file-%1.txt").arg(n, 4, 10, QLatin1Char('0'))) +
                              QStringLiteral(".1"));
        const long before = preparedStatements.load();
        const auto start = Clock::now();
        for (int n = 0; n < kFiles; ++n) {
            const QString name = QStringLiteral("/file-%1.txt").arg(n, 4, 10, QLatin1Char('0'));
            QFile::copy(source_ + name, Local(folder) + name);
        }
        std::size_t seen = 0;
        const auto deadline = start + std::chrono::hours(1);
        while (seen < markers.size()) {
            if (QFileInfo::exists(markers[seen])) {
                ++seen;
                continue;
            }
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        sample.seconds = elapsed.count();
        sample.statementsPerFile = double(preparedStatements.load() - before) / kFiles;
        std::this_thread::sleep_for(std::chrono::seconds(3));  // the last request row and any late event
        const QString under = QStringLiteral("'") + folder + QStringLiteral("\\%'");
        const auto statement = engine_->Db().NewStatement();
        const double rows =
            statement->QueryDouble(QStringLiteral("select count(*) from vfs_sync_file where path like ") + under);
        const double requests = statement->QueryDouble(
            QStringLiteral("select count(*) from sync_request where action=1 and path like ") + under);
        std::printf("run %d: %8.2f s until every file has its row, %6.2f statements per file; %d rows, %d request "
                    "rows\n",
                    run + 1, sample.seconds, sample.statementsPerFile, int(rows), int(requests));
        std::fflush(stdout);
        return int(rows) == kFiles && int(requests) == kFiles;
    }

private:
    static QString RunFolder(int run) { return QStringLiteral("\\run%1").arg(run + 1); }
    QString Local(const QString& relative) const
    {
        QString names = relative;
        return root_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }

    QString root_;
    QString source_;
    std::unique_ptr<RegistryStore> registry_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    PeltaTrackConflict conflicts_;
    Event tray_{QStringLiteral("bench tray"), Event::ResetKind::Automatic};
    PeltaRequestObject status_;
    std::unique_ptr<PeltaSync> engine_;
    ResyncRequests requests_;
    std::unique_ptr<PeltaSyncPreThread> syncPre_;
    std::unique_ptr<PeltaDirectoryMonitorThread> monitor_;
    std::unique_ptr<PeltaSyncFinalThread> final_;
};

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int pauseMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 100;
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    qputenv("TESSARON_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("HOME", (home.path() + QStringLiteral("/home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QDir().mkpath(home.path() + QStringLiteral("/home"));
    InitProcessState();
    UploadMethod = UploadMethodPostFile2;
    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(pauseMs));
    std::printf("%d small files copied into the sync folder at once; pause after each prepare: %d ms, merging "
                "hold %lld ms\n",
                kFiles, pauseMs, static_cast<long long>(PeltaSyncPreThread::DefaultHold.count()));

    Bench bench(home.path());
    bench.PrepareRuns(runs);
    if (!bench.StartRoad()) {
        std::printf("the monitor did not start\n");
        return 1;
    }
    std::vector<double> seconds;
    std::vector<double> statements;
    for (int run = 0; run < runs; ++run) {
        Sample sample;
        if (!bench.Run(run, sample)) {
            std::printf("run %d did not complete\n", run + 1);
            bench.StopRoad();
            return 1;
        }
        seconds.push_back(sample.seconds);
        statements.push_back(sample.statementsPerFile);
    }
    bench.StopRoad();
    PrintSpread("time until every file has its row", seconds, "s");
    PrintSpread("statements per file", statements, "");
    return 0;
}
