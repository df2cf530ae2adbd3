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
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::atomic<long> prepares{0};
std::atomic<long> connects{0};

}  // namespace

extern "C" {
int __real_sqlite3_prepare16_v2(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail);

int __wrap_sqlite3_prepare16_v2(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail)
{
    ++prepares;
    return __real_sqlite3_prepare16_v2(db, sql, bytes, statement, tail);
}

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
    std::unique_ptr<FILE, decltype(&std::fclose)> in(fdopen(commands, "r"), &std::fclose);
    std::unique_ptr<FILE, decltype(&std::fclose)> out(fdopen(replies, "w"), &std::fclose);
    std::fprintf(out.get(), "%s %s\n", service.BaseUrl().c_str(), service.UploadUrl().c_str());
    std::fflush(out.get());
    char line[4096];
    while (std::fgets(line, sizeof line, in.get())) {
        const QStringList words = QString::fromUtf8(line).trimmed().split(u' ');
        if (words.value(0) == u"quit")
            break;
        std::fprintf(out.get(), "%s\n", Reply(service, words).c_str());
        std::fflush(out.get());
    }
    service.Stop();
    return 0;
}

class FakeProcess {
public:
    bool Start()
    {
        int commands[2];
        int replies[2];
        if (pipe(commands) != 0 || pipe(replies) != 0)
            return false;
        pid_ = fork();
        if (pid_ == 0) {
            close(commands[1]);
            close(replies[0]);
            std::_Exit(RunFake(commands[0], replies[1]));
        }
        close(commands[0]);
        close(replies[1]);
        out_.reset(fdopen(commands[1], "w"));
        in_.reset(fdopen(replies[0], "r"));
        const QStringList urls = ReadLine().split(u' ');
        base_ = urls.value(0);
        upload_ = urls.value(1);
        return pid_ > 0 && !upload_.isEmpty();
    }

    ~FakeProcess()
    {
        if (pid_ <= 0)
            return;
        std::fprintf(out_.get(), "quit\n");
        out_.reset();
        waitpid(pid_, nullptr, 0);
    }

    QString Ask(const QString& command)
    {
        std::fprintf(out_.get(), "%s\n", qPrintable(command));
        std::fflush(out_.get());
        return ReadLine();
    }

    const QString& Base() const { return base_; }
    const QString& Upload() const { return upload_; }

private:
    QString ReadLine()
    {
        char line[4096];
        return std::fgets(line, sizeof line, in_.get()) ? QString::fromUtf8(line).trimmed() : QString();
    }

    pid_t pid_ = -1;
    std::unique_ptr<FILE, decltype(&std::fclose)> out_{nullptr, &std::fclose};
    std::unique_ptr<FILE, decltype(&std::fclose)> in_{nullptr, &std::fclose};
    QString base_;
    QString upload_;
};

// ---- Measuring ---------------------------------------------------------------------

long long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(field));
    }
    return -1;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

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
        ServiceUrl = fake_.Base();
        UploadUrl = fake_.Upload();
        ApiMethodMap.clear();
        PeltaReg::FillApiMethodMap(ApiMethodMap);
        AppState = XAPPOnline;
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
        ResetPeak();
        sample.baseKb = StatusKb("VmRSS:");
        const long preparedBefore = prepares.load();
        const long connectsBefore = connects.load();
        const auto start = std::chrono::steady_clock::now();
        QString stamp;
        sample.complete = engine_->ResyncRemote(QStringLiteral("\\"), true, false, true, stamp, 1);
        sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        sample.peakKb = StatusKb("VmHWM:");
        sample.statements = prepares.load() - preparedBefore;
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
    if (!fake.Start()) {
        std::fprintf(stderr, "the fake service did not start\n");
        return 1;
    }
    const QString seeded = fake.Ask(QStringLiteral("seed"));
    QTemporaryDir dir;
    qputenv("TESSARON_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    qputenv("HOME", dir.filePath(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    InitProcessState();
    Bench bench(fake, dir);
    if (!dir.isValid() || !seeded.startsWith(u"ok") || !bench.Setup()) {
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
