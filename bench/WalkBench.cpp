// A full remote walk of a service tree of 10,000 files (1 KiB each) in 500
// folders into an empty sync folder and an empty store: every folder made,
// every file fetched at once and put into place, every record written.
//
// Each run starts from an empty folder and store. Measured per run: wall
// time; statements prepared (the link wraps sqlite3_prepare16_v2, and each
// prepare is followed by the statements' pause); the HTTP requests the fake
// service received (its call log, by method); the TCP connections this
// process opened (connect() is counted here, in front of the C library);
// and the peak resident memory during the walk (the peak is reset before
// each run; the growth over the resident size at its start in brackets).
// With the statements' pause as the agent has it (100 ms) and with 0. The
// fake runs in a child process forked before anything else starts, so the
// figures are the engine's alone.
//
//   walk_bench [runs per pause, default 3] [pause in ms, default both 100 and 0]

#include "bench/support/BenchHome.h"
#include "bench/support/FakeProcess.h"
#include "bench/support/PreparedStatementCount.h"
#include "bench/support/ResidentMemory.h"
#include "client/PeltaAPI.h"
#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TimeHelpers.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/MountedFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QStringList>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

std::atomic<long> connects{0};

}  // namespace

extern "C" {
// Every TCP connection the HTTP library opens passes here first.
int connect(int fd, const struct sockaddr* address, socklen_t length)
{
    using Connect = int (*)(int, const struct sockaddr*, socklen_t);
    static const Connect real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    ++connects;
    return real(fd, address, length);
}
}

namespace {

const QString& UserId = TestAccount::UserId;
const QString AgentKey = QStringLiteral("5f2b9c0e7d1a43b8a6c4e2f0d9b7a531");
constexpr int kTopFolders = 25;
constexpr int kSubfolders = 19;      // 25 + 25 * 19 = 500 folders
constexpr int kFilesPerFolder = 20;  // 500 * 20 = 10,000 files
constexpr int kFileBytes = 1024;

// ---- The fake's process ----------------------------------------------------------

std::string Seed(FakeService& service)
{
    int folders = 0;
    int files = 0;
    for (int top = 0; top < kTopFolders; ++top) {
        const QString topFolder = QStringLiteral("/Top %1").arg(top);
        QStringList here{topFolder};
        for (int sub = 0; sub < kSubfolders; ++sub)
            here << topFolder + QStringLiteral("/Sub %1").arg(sub);
        for (const QString& folder : here) {
            service.State().SeedFolder(UserId, folder, 1'600'000'000);
            ++folders;
            for (int n = 0; n < kFilesPerFolder; ++n) {
                const QByteArray content(kFileBytes, char('a' + n % 26));
                if (!service.State().SeedFile(UserId, folder + QStringLiteral("/file %1.dat").arg(n), content,
                                              1'600'000'000 + n))
                    return "error";
                ++files;
            }
        }
    }
    return "ok " + std::to_string(folders) + ' ' + std::to_string(files);
}

std::string Reply(FakeService& service, const QStringList& words)
{
    const QString command = words.value(0);
    if (command == u"seed")
        return Seed(service);
    if (command == u"calls") {  // total getMetadata getFileCheck download
        return std::to_string(service.Calls().size()) + ' ' + std::to_string(service.CallCount("getMetadata")) +
               ' ' + std::to_string(service.CallCount("getFileCheck")) + ' ' +
               std::to_string(service.CallCount("download"));
    }
    return "unknown";
}

int RunFake(int commands, int replies)
{
    FakeService service;
    if (!service.IsRunning() || !service.State().AddAccount(TestAccount::Spec()))
        return 1;
    service.State().RegisterAgent(UserId, FakeAgent{AgentKey, QStringLiteral("YmVuY2g"), QString(), QString()});
    FakeProcess::Serve(commands, replies, {service.BaseUrl(), service.UploadUrl()},
                       [&service](const QStringList& words) { return Reply(service, words); });
    service.Stop();
    return 0;
}

// ---- Measuring ---------------------------------------------------------------------

struct Calls {
    long long total = 0;
    long long metadata = 0;
    long long checks = 0;
    long long downloads = 0;

    static Calls Parse(const QString& text)
    {
        const QStringList words = text.split(u' ');
        return Calls{words.value(0).toLongLong(), words.value(1).toLongLong(), words.value(2).toLongLong(),
                     words.value(3).toLongLong()};
    }
    Calls operator-(const Calls& other) const
    {
        return Calls{total - other.total, metadata - other.metadata, checks - other.checks,
                     downloads - other.downloads};
    }
};

struct Sample {
    bool complete = false;
    bool whole = false;  // every file and folder there
    double seconds = 0;
    long statements = 0;
    long connections = 0;
    Calls calls;
    long long peakKb = 0;
    long long baseKb = 0;
};

class Bench {
public:
    Bench(FakeProcess& fake, QTemporaryDir& dir) : fake_(fake), dir_(dir) {}

    bool Setup()
    {
        fake_.AimProcessHere();
        root_ = dir_.filePath(QStringLiteral("sync"));
        if (!QDir().mkpath(root_))
            return false;
        reg_ = std::make_unique<PeltaReg>(*store_);
        if (!reg_->SetAccessKey(TestAccount::AccessKey, UnixTimeNow() + 36000, TestAccount::AccessChecksum))
            return false;
        settings_.Set(QStringLiteral("user_id"), UserId);
        settings_.Set(QStringLiteral("user_sn"), TestAccount::UserSn);
        settings_.Set(QStringLiteral("agent_key"), AgentKey);
        settings_.Set(QStringLiteral("sync_folder"), root_);
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_);
        return true;
    }

    // An empty sync folder (mounted) and an empty store.
    void Empty()
    {
        QDir(root_).removeRecursively();
        QDir().mkpath(root_);
        MountedFolder(root_).WriteMarker();
        Lithos::SQLiteStatement statement(engine_->Db().Connection());
        for (const char* table : {"vfs_sync_file", "vfs_sync_folder", "sync_request"})
            statement.ExecuteOnce(QStringLiteral("delete from ") + QLatin1String(table));
        ::sync();
    }

    Sample Walk()
    {
        Empty();
        AppLog.TakeBuffer();
        const Calls before = Calls::Parse(fake_.Ask(QStringLiteral("calls")));
        Sample sample;
        ResidentMemory::ResetPeak();
        sample.baseKb = ResidentMemory::NowKb();
        const long preparedBefore = PreparedStatementCount::Now();
        const long connectsBefore = connects.load();
        const auto start = std::chrono::steady_clock::now();
        QString stamp;
        sample.complete = engine_->ResyncRemote(QStringLiteral("\\"), true, false, true, stamp, 1);
        sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        sample.peakKb = ResidentMemory::PeakKb();
        sample.statements = PreparedStatementCount::Now() - preparedBefore;
        sample.connections = connects.load() - connectsBefore;
        sample.calls = Calls::Parse(fake_.Ask(QStringLiteral("calls"))) - before;
        sample.whole = Count() == kTopFolders * (1 + kSubfolders) * (1 + kFilesPerFolder);
        AppLog.TakeBuffer();
        return sample;
    }

private:
    // Files and folders in the sync folder, the cache folder left out.
    int Count() const
    {
        int count = 0;
        QDirIterator items(root_, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (items.hasNext()) {
            items.next();
            ++count;
        }
        return count;
    }

    FakeProcess& fake_;
    QTemporaryDir& dir_;
    QString root_;
    std::unique_ptr<RegistryStore> store_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    std::unique_ptr<PeltaSync> engine_;
};

void Print(std::vector<Sample> samples)
{
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.seconds < b.seconds; });
    long long peak = 0;
    long long growth = 0;
    bool clean = true;
    for (const Sample& sample : samples) {
        peak = std::max(peak, sample.peakKb);
        growth = std::max(growth, sample.peakKb - sample.baseKb);
        clean = clean && sample.complete && sample.whole;
    }
    const Sample& median = samples[samples.size() / 2];
    std::printf("  wall s min %7.2f  median %7.2f  max %7.2f   (runs %zu%s)\n", samples.front().seconds, median.seconds,
                samples.back().seconds, samples.size(), clean ? "" : ", NOT CLEAN: a walk failed or missed items");
    std::printf("  statements prepared %ld (pauses %.1f s)\n", median.statements,
                median.statements * Lithos::SQLiteStatement::PauseDuration().count() / 1000.0);
    std::printf("  HTTP requests %lld: getMetadata %lld, getFileCheck %lld, downloads %lld, other %lld\n",
                median.calls.total, median.calls.metadata, median.calls.checks, median.calls.downloads,
                median.calls.total - median.calls.metadata - median.calls.checks - median.calls.downloads);
    std::printf("  TCP connections opened %ld%s\n", median.connections,
                median.connections == 0 ? " (connect() not seen: the count did not take)" : "");
    std::printf("  peak RSS %.1f MiB (+%.1f over the start of the walk)\n", peak / 1024.0, growth / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<std::chrono::milliseconds> pauses{Lithos::SQLiteStatement::DefaultPause, std::chrono::milliseconds(0)};
    if (argc > 2)
        pauses = {std::chrono::milliseconds(std::max(0, std::atoi(argv[2])))};
    FakeProcess fake;  // forked before any thread of this process starts
    if (!fake.Start(&RunFake, 2)) {
        std::fprintf(stderr, "the fake service did not start\n");
        return 1;
    }
    const QString seeded = fake.Ask(QStringLiteral("seed"));
    BenchHome home;
    Bench bench(fake, home.Dir());
    if (!home.IsValid() || !seeded.startsWith(u"ok") || !bench.Setup()) {
        std::fprintf(stderr, "set-up failed (%s)\n", qPrintable(seeded));
        return 1;
    }
    const QStringList counts = seeded.split(u' ');
    std::printf("service tree: %s folders, %s files of %d bytes; a walk of \\ into an empty folder and store\n",
                qPrintable(counts.value(1)), qPrintable(counts.value(2)), kFileBytes);
    for (const auto pause : pauses) {
        Lithos::SQLiteStatement::SetPauseDuration(pause);
        std::vector<Sample> samples;
        for (int run = 0; run < runs; ++run)
            samples.push_back(bench.Walk());
        std::printf("pause after each prepare: %lld ms\n", static_cast<long long>(pause.count()));
        Print(samples);
    }
    return 0;
}
