// Cost of a full local rescan with nothing to find: a tree of 10,000 files in
// 500 folders whose store matches it exactly. A sync folder and a data folder
// of its own are made in a temporary folder; nothing of the user's data is
// touched.
//
// Two passes as the agent runs them: the start-up rescan (checkFile false,
// removeMissing true) and the rescan of a full synchronisation (checkFile
// true, removeMissing false); each with the statements' pause as the agent
// has it (100 ms after every prepare) and with the pause set to 0, which
// shows the engine's own cost. For each: wall time (min, median, max over the
// runs), statements prepared per run (counted through a wrapped
// sqlite3_prepare16_v2) and the peak resident memory during the pass (the
// process's peak is reset before each run; the growth over the resident
// size at the start of the pass in brackets).
//
// Usage: rescan_bench [runs]   (default 3)

#include "bench/support/BenchHome.h"
#include "bench/support/PreparedStatementCount.h"
#include "bench/support/ResidentMemory.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/PeltaTrackConflict.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "platform/Event.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/MountedFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTopFolders = 25;
constexpr int kSubfolders = 19;     // below each top folder: 25 + 25 * 19 = 500 folders
constexpr int kFilesPerFolder = 20;  // 500 * 20 = 10,000 files
constexpr std::int64_t kFileTime = 1'600'000'000;

struct Sample {
    long statements = 0;
    double milliseconds = 0;
    long long peakKb = 0;
    long long baseKb = 0;
    long long requests = 0;
    PassResult result = PassResult::Failed;
};

class Bench {
public:
    explicit Bench(const QString& base) : root_(base + QStringLiteral("/sync")), status_(conflicts_, tray_)
    {
        QDir().mkpath(root_);
        reg_ = std::make_unique<PeltaReg>(*registry_);
        settings_.Set(QStringLiteral("user_sn"), QStringLiteral("12345"));
        settings_.Set(QStringLiteral("agent_key"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        settings_.Set(QStringLiteral("sync_folder"), root_);
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_, status_);
    }

    PeltaSync& Engine() { return *engine_; }

    // The tree on disk and its rows, as after a complete synchronisation.
    void MakeSynchronisedTree()
    {
        QStringList folders;
        for (int top = 0; top < kTopFolders; ++top) {
            const QString folder = QStringLiteral("\\Top %1").arg(top);
            folders << folder;
            for (int sub = 0; sub < kSubfolders; ++sub)
                folders << folder + QStringLiteral("\\Sub %1").arg(sub);
        }
        Exec(QStringLiteral("begin"));
        for (const QString& folder : folders) {
            QDir().mkpath(Local(folder));
            for (int n = 0; n < kFilesPerFolder; ++n) {
                const QString file = folder + QStringLiteral("\\file %1.dat").arg(n);
                QFile out(Local(file));
                if (out.open(QIODevice::WriteOnly))
                    out.write(QByteArray(100 + n, 'x'));
                out.close();
                const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(kFileTime), 0}};
                ::utimensat(AT_FDCWD, Local(file).toUtf8().constData(), times, 0);
                Insert(file, false);
            }
        }
        // Folder times last: the files changed them.
        for (const QString& folder : folders)
            Insert(folder, true);
        Exec(QStringLiteral("commit"));
        MountedFolder(root_).WriteMarker();
    }

    long long OpenRequests()
    {
        Lithos::SQLiteStatement statement(engine_->Db().Connection());
        return static_cast<long long>(
            statement.QueryDouble(QStringLiteral("select count(*) from sync_request where commit_time is null")));
    }

private:
    QString Local(const QString& relative) const
    {
        QString names = relative;
        return root_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }

    void Exec(const QString& sql)
    {
        Lithos::SQLiteStatement statement(engine_->Db().Connection());
        statement.ExecuteOnce(sql);
    }

    void Insert(const QString& path, bool folder)
    {
        struct stat info {};
        ::stat(Local(path).toUtf8().constData(), &info);
        const qsizetype cut = path.lastIndexOf(QLatin1Char('\\'));
        const QString parent = cut == 0 ? QStringLiteral("\\") : engine_->RecordKey(path.left(cut));
        const QString values = PeltaRec::Literal(engine_->RecordKey(path)) + QStringLiteral(", '12345', ") +
                               PeltaRec::Literal(parent) + QStringLiteral(", ") + PeltaRec::Literal(path.mid(cut + 1)) +
                               QStringLiteral(", ") + PeltaRec::Literal(path) + QStringLiteral(", 1, ") +
                               QString::number(info.st_mtime);
        if (folder)
            Exec(QStringLiteral("insert into vfs_sync_folder (key, sn, parent, name, path, ctime, mtime) values (") +
                 values + QLatin1Char(')'));
        else
            Exec(QStringLiteral("insert into vfs_sync_file (key, sn, parent, name, path, ctime, mtime, size, "
                                "version) values (") +
                 values + QStringLiteral(", ") + QString::number(info.st_size) + QStringLiteral(", 'v1')"));
    }

    QString root_;
    std::unique_ptr<RegistryStore> registry_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    PeltaTrackConflict conflicts_;
    Event tray_{QStringLiteral("bench tray"), Event::ResetKind::Automatic};
    PeltaRequestObject status_;
    std::unique_ptr<PeltaSync> engine_;
};

Sample Measure(Bench& bench, bool checkFile, bool removeMissing)
{
    AppLog.TakeBuffer();
    ResidentMemory::ResetPeak();
    const long long baseKb = ResidentMemory::NowKb();
    const long before = PreparedStatementCount::Now();
    const auto start = Clock::now();
    Sample sample;
    sample.result = bench.Engine().ResyncLocal(QStringLiteral("\\"), checkFile, removeMissing);
    const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
    sample.milliseconds = elapsed.count();
    sample.statements = PreparedStatementCount::Now() - before;
    sample.peakKb = ResidentMemory::PeakKb();
    sample.baseKb = baseKb;
    sample.requests = bench.OpenRequests();
    AppLog.TakeBuffer();
    return sample;
}

void Print(const char* name, std::vector<Sample> samples)
{
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.milliseconds < b.milliseconds; });
    long long peak = 0;
    long long growth = 0;
    bool clean = true;
    for (const Sample& sample : samples) {
        peak = std::max(peak, sample.peakKb);
        growth = std::max(growth, sample.peakKb - sample.baseKb);
        clean = clean && sample.result == PassResult::Complete && sample.requests == 0;
    }
    std::printf("%-34s statements %5ld  ms min %9.1f  median %9.1f  max %9.1f  peak RSS %5.1f MiB (+%4.1f)  "
                "(runs %zu%s)\n",
                name, samples.front().statements, samples.front().milliseconds,
                samples[samples.size() / 2].milliseconds, samples.back().milliseconds, peak / 1024.0, growth / 1024.0,
                samples.size(), clean ? "" : ", NOT CLEAN: a pass failed or queued something");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    BenchHome home;
    if (!home.IsValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(0));
    Bench bench(home.Path());
    bench.MakeSynchronisedTree();
    std::printf("tree: %d folders, %d files, store filled to match; resident before the passes %.1f MiB\n",
                kTopFolders * (1 + kSubfolders), kTopFolders * (1 + kSubfolders) * kFilesPerFolder,
                ResidentMemory::NowKb() / 1024.0);

    for (const auto pause : {std::chrono::milliseconds(0), Lithos::SQLiteStatement::DefaultPause}) {
        Lithos::SQLiteStatement::SetPauseDuration(pause);
        std::vector<Sample> startUp;
        std::vector<Sample> full;
        for (int run = 0; run < runs; ++run) {
            startUp.push_back(Measure(bench, false, true));
            full.push_back(Measure(bench, true, false));
        }
        std::printf("pause after each prepare: %lld ms\n", static_cast<long long>(pause.count()));
        Print("  start-up rescan (false, true)", startUp);
        Print("  full-sync rescan (true, false)", full);
    }
    return 0;
}
