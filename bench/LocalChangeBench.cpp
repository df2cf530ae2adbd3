// Cost of the engine's local-change operations: how many statements each
// prepares and how long it takes with the statements' pause as the agent runs
// with it (100 ms after every prepare). A sync folder and a data folder of
// its own are made in a temporary folder; nothing of the user's data is
// touched.
//
// Every prepare is counted (the link wraps sqlite3_prepare16_v2). Each
// operation runs on fresh items several times; the time is shown as
// minimum, median and maximum, the statements per run (which do not vary).
//
// Usage: local_change_bench [runs]   (default 3)

#include "bench/support/BenchHome.h"
#include "bench/support/PreparedStatementCount.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/PeltaTrackConflict.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "platform/Event.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"

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
#include <functional>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFolderFiles = 100;

struct Sample {
    long statements = 0;
    double milliseconds = 0;
};

// A sync folder with an engine on it.
class Bench {
public:
    explicit Bench(const QString& base)
        : root_(base + QStringLiteral("/sync")), status_(conflicts_, tray_)
    {
        QDir().mkpath(root_);
        reg_ = std::make_unique<PeltaReg>(*registry_);
        settings_.Set(QStringLiteral("user_sn"), QStringLiteral("12345"));
        settings_.Set(QStringLiteral("agent_key"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        settings_.Set(QStringLiteral("sync_folder"), root_);
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_, status_);
    }

    PeltaSync& Engine() { return *engine_; }

    QString Local(const QString& relative) const
    {
        QString names = relative;
        return root_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }
    void MakeFolder(const QString& relative) { QDir().mkpath(Local(relative)); }
    void MakeFile(const QString& relative, const QByteArray& bytes)
    {
        QFile file(Local(relative));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    void Rename(const QString& from, const QString& to) { QDir().rename(Local(from), Local(to)); }
    void RemoveFile(const QString& relative) { QFile::remove(Local(relative)); }
    void RemoveFolder(const QString& relative) { QDir(Local(relative)).removeRecursively(); }

    // Marks every request row as committed, with a version on every file, as
    // once the request worker has sent them.
    void CommitAll()
    {
        Lithos::SQLiteStatement statement(engine_->Db().Connection());
        statement.ExecuteOnce(QStringLiteral("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP"));
        statement.ExecuteOnce(QStringLiteral("update vfs_sync_file set version='v1'"));
    }

    // Stores a folder and its files without timing, as earlier events did.
    void Prepare(const QString& folder, int files)
    {
        MakeFolder(folder);
        engine_->FileAdd(folder, 1, false, false);
        for (int n = 0; n < files; ++n) {
            const QString path = folder + QStringLiteral("\\f%1.dat").arg(n);
            MakeFile(path, QByteArray(1000 + n, 'x'));
            engine_->FileAdd(path, 1, false, false);
        }
        CommitAll();
    }

private:
    QString root_;
    std::unique_ptr<RegistryStore> registry_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    PeltaTrackConflict conflicts_;
    Event tray_{QStringLiteral("bench tray"), Event::ResetKind::Automatic};
    PeltaRequestObject status_;
    std::unique_ptr<PeltaSync> engine_;
};

Sample Measure(const std::function<void()>& operation)
{
    const long before = PreparedStatementCount::Now();
    const auto start = Clock::now();
    operation();
    const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
    return {PreparedStatementCount::Now() - before, elapsed.count()};
}

void Print(const char* name, std::vector<Sample> samples)
{
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.milliseconds < b.milliseconds; });
    long lowest = samples.front().statements;
    long highest = samples.front().statements;
    for (const Sample& sample : samples) {
        lowest = std::min(lowest, sample.statements);
        highest = std::max(highest, sample.statements);
    }
    std::printf("%-38s statements %4ld", name, lowest);
    if (highest != lowest)
        std::printf("..%-4ld", highest);
    else
        std::printf("      ");
    std::printf("  ms min %9.1f  median %9.1f  max %9.1f  (runs %zu)\n", samples.front().milliseconds,
                samples[samples.size() / 2].milliseconds, samples.back().milliseconds, samples.size());
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
    UploadMethod = UploadMethodPostFile2;
    Lithos::SQLiteStatement::SetPauseDuration(Lithos::SQLiteStatement::DefaultPause);

    Bench bench(home.Path());
    PeltaSync& engine = bench.Engine();
    std::printf("pause after each prepare: %lld ms\n",
                static_cast<long long>(Lithos::SQLiteStatement::PauseDuration().count()));

    std::vector<Sample> add, modify, rename, move, remove, folderAdd, folderMove, folderRemove;
    for (int run = 0; run < runs; ++run) {
        const QString a = QStringLiteral("\\A%1").arg(run);
        const QString b = QStringLiteral("\\B%1").arg(run);
        bench.Prepare(a, 0);
        bench.Prepare(b, 0);

        const QString file = a + QStringLiteral("\\file.txt");
        bench.MakeFile(file, QByteArray(4096, 'a'));
        add.push_back(Measure([&] { engine.FileAdd(file, 1, false, false); }));
        bench.CommitAll();

        bench.MakeFile(file, QByteArray(5000, 'b'));
        modify.push_back(Measure([&] { engine.FileModify(file); }));
        bench.CommitAll();

        const QString renamed = a + QStringLiteral("\\renamed.txt");
        bench.Rename(file, renamed);
        rename.push_back(Measure([&] { engine.FileRename(file, renamed); }));
        bench.CommitAll();

        const QString moved = b + QStringLiteral("\\renamed.txt");
        bench.Rename(renamed, moved);
        move.push_back(Measure([&] { engine.FileRename(renamed, moved); }));
        bench.CommitAll();

        bench.RemoveFile(moved);
        remove.push_back(Measure([&] { engine.FileRemove(moved); }));
        bench.CommitAll();

        // A folder with 100 files arrives: the folder and each file are
        // reported once, as the folder monitor does.
        const QString folder = QStringLiteral("\\F%1").arg(run);
        bench.MakeFolder(folder);
        for (int n = 0; n < kFolderFiles; ++n)
            bench.MakeFile(folder + QStringLiteral("\\f%1.dat").arg(n), QByteArray(1000 + n, 'x'));
        folderAdd.push_back(Measure([&] {
            engine.FileAdd(folder, 1, false, false);
            for (int n = 0; n < kFolderFiles; ++n)
                engine.FileAdd(folder + QStringLiteral("\\f%1.dat").arg(n), 1, false, false);
        }));
        bench.CommitAll();

        const QString folderMoved = QStringLiteral("\\G%1").arg(run);
        bench.Rename(folder, folderMoved);
        folderMove.push_back(Measure([&] { engine.FileRename(folder, folderMoved); }));
        bench.CommitAll();

        bench.RemoveFolder(folderMoved);
        folderRemove.push_back(Measure([&] { engine.FileRemove(folderMoved); }));
        bench.CommitAll();
    }

    Print("file add (in a stored folder)", add);
    Print("file modify", modify);
    Print("file rename (same folder)", rename);
    Print("file move (to another folder)", move);
    Print("file remove", remove);
    Print("folder add, then its 100 files", folderAdd);
    Print("folder rename with 100 files", folderMove);
    Print("folder remove with 100 files", folderRemove);
    return 0;
}
