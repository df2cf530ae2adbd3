// The whole engine running against the fake service, as the tray application
// starts it (SyncEngine with its default tuning: the merging thread's hold,
// the waits of every thread, the push channel's long poll), in a temporary
// sync folder and data folder of its own:
//
//  (a) latency from closing a small written file to its commit on the
//      service, 20 files one after the other;
//  (b) small files copied into a new folder at once: time until every one
//      is committed on the service, statements prepared (counted through a
//      wrapped sqlite3_prepare16_v2) and HTTP requests (the fake's call log,
//      push exchanges included) per file; once with the statements' pause
//      given and once with no pause, which shows the engine's own cost;
//  (c) latency from another agent's commit to the file's arrival here after
//      a push notice, 20 changes;
//  (d) the engine idle: CPU time of the process and of the engine's own
//      threads, their wake-ups per second (context switches) and the
//      resident memory.
//
// Usage: engine_bench [files for (b)] [pause ms] [idle seconds] [log]
//        (defaults 1000, 100 and 60; "log" logs every category, to see
//        what went wrong)

#include "fakeservice/FakeService.h"
#include "fakeservice/PushChannel.h"
#include "fakeservice/TestAccount.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TimeHelpers.h"
#include "platform/RegistryStore.h"
#include "sync/SyncEngine.h"
#include "sync/SyncEngineOptions.h"
#include "sync/rules/MountedFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
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
using namespace std::chrono_literals;

constexpr int kSamples = 20;

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

void PrintSpread(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    const double median = values.size() % 2 ? values[values.size() / 2]
                                            : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    std::printf("  %-44s min %9.3f  median %9.3f  max %9.3f %s  (samples %zu)\n", what, values.front(), median,
                values.back(), unit, values.size());
    std::fflush(stdout);
}

bool WaitFor(const std::function<bool()>& condition, Clock::duration limit, std::chrono::milliseconds step = 2ms)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// ---- What /proc tells of this process ----------------------------------------------------

long long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = field;
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0)
            return std::atoll(line.c_str() + key.size());
    }
    return 0;
}

struct TaskFigures {
    double cpuSeconds = 0;
    long long switches = 0;
};

std::set<int> TaskIds()
{
    std::set<int> ids;
    const QStringList names = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        ids.insert(name.toInt());
    return ids;
}

TaskFigures ReadTask(int tid)
{
    TaskFigures figures;
    const std::string base = "/proc/self/task/" + std::to_string(tid);
    std::ifstream stat(base + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close != std::string::npos) {
        // Fields after the name: state is the 3rd field; utime and stime the
        // 14th and 15th.
        std::vector<std::string> fields;
        std::size_t at = close + 2;
        while (at < text.size()) {
            const std::size_t space = text.find(' ', at);
            fields.push_back(text.substr(at, space == std::string::npos ? std::string::npos : space - at));
            if (space == std::string::npos)
                break;
            at = space + 1;
        }
        if (fields.size() > 12) {
            const double ticks = double(::sysconf(_SC_CLK_TCK));
            figures.cpuSeconds = (std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str())) / ticks;
        }
    }
    std::ifstream status(base + "/status");
    std::string line;
    while (std::getline(status, line)) {
        for (const char* key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            if (line.rfind(key, 0) == 0)
                figures.switches += std::atoll(line.c_str() + std::strlen(key));
        }
    }
    return figures;
}

std::string TaskName(int tid)
{
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::map<int, TaskFigures> ReadTasks(const std::set<int>& ids)
{
    std::map<int, TaskFigures> figures;
    for (const int id : ids)
        figures[id] = ReadTask(id);
    return figures;
}

// ---- The engine and the service ----------------------------------------------------------

class Bench {
public:
    explicit Bench(const QString& base) : root_(base + QStringLiteral("/sync"))
    {
        QDir().mkpath(root_);
        service_.State().AddAccount(TestAccount::Spec());
        service_.State().RegisterAgent(TestAccount::UserId,
                                       FakeAgent{AgentKey(), QStringLiteral("bGFwdG9w"), QString(), QString()});
        reg_ = std::make_unique<PeltaReg>(*registry_);
        reg_->SetAccessKey(TestAccount::AccessKey, UnixTimeNow() + 36000, TestAccount::AccessChecksum);
        settings_.Set(QStringLiteral("user_id"), TestAccount::UserId);
        settings_.Set(QStringLiteral("user_sn"), TestAccount::UserSn);
        settings_.Set(QStringLiteral("agent_key"), AgentKey());
        settings_.Set(QStringLiteral("sync_folder"), root_);
        settings_.Set(QStringLiteral("member_access_token"), TestAccount::MemberToken);
        settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
        settings_.Set(QStringLiteral("first_sync_time"), QStringLiteral("1"));
        ServerProfile = QStringLiteral("RELEASE");
        ServiceUrl = QString::fromStdString(service_.BaseUrl());
        UploadUrl = QString::fromStdString(service_.UploadUrl());
        SignedApiUrl = QString::fromStdString(service_.ApiUrl());
        ApiKey = ProgramApiKey;
        ApiSecret = ProgramApiSecret;
        ApiMethodMap.clear();
        PeltaReg::FillApiMethodMap(ApiMethodMap);
        MountedFolder(root_).WriteMarker();

        options_.pushUrl = QString::fromStdString(service_.PushUrl());
        options_.monitor.watcher.addWatch = [this](int fd, const char* path, std::uint32_t mask) {
            const int watch = ::inotify_add_watch(fd, path, mask);
            if (watch >= 0)
                ++watches_;
            return watch;
        };
    }

    ~Bench()
    {
        if (engine_)
            engine_->Stop();
    }

    bool Start()
    {
        before_ = TaskIds();
        engine_ = std::make_unique<SyncEngine>(*reg_, settings_, nullptr, options_);
        engine_->Start(SyncEngine::FirstCommand::AppStart);
        return WaitFor([&] { return watches_.load() > 0; }, 30s) &&
               WaitFor([&] { return service_.Push().HeldChecks() >= 1; }, 30s) && Settle();
    }

    // Quiet twice, a second apart.
    bool Settle()
    {
        for (int look = 0; look < 2; ++look) {
            if (!WaitFor([&] { return engine_->Quiet(); }, 600s, 20ms))
                return false;
            std::this_thread::sleep_for(1s);
        }
        AppLog.TakeBuffer();
        return engine_->Quiet();
    }

    bool Committed(const QString& servicePath, const QByteArray& content)
    {
        const std::optional<FakeItem> item = service_.State().LiveFile(TestAccount::UserId, servicePath);
        return item && item->content.Bytes() == content;
    }

    // (a)
    bool LocalToService()
    {
        std::vector<double> latencies;
        for (int n = 0; n < kSamples; ++n) {
            const QString name = QStringLiteral("written-%1.txt").arg(n);
            const QByteArray content = "a small file written here, number " + QByteArray::number(n);
            if (!Write(root_ + QLatin1Char('/') + name, content))
                return false;
            const auto closed = Clock::now();
            if (!WaitFor([&] { return Committed(QLatin1Char('/') + name, content); }, 120s))
                return false;
            latencies.push_back(Seconds(Clock::now() - closed));
            if (!Settle())
                return false;
        }
        std::printf("(a) a small file written and closed, until committed on the service:\n");
        PrintSpread("latency", latencies, "s");
        return true;
    }

    // (b)
    bool CopyIn(int files, const QString& folder)
    {
        const QString source = root_ + QStringLiteral("/../source-") + folder;
        QDir().mkpath(source);
        for (int n = 0; n < files; ++n) {
            if (!Write(source + QStringLiteral("/file-%1.txt").arg(n, 5, 10, QLatin1Char('0')),
                       QByteArray(200 + n % 300, char('a' + n % 26))))
                return false;
        }
        const long statements = preparedStatements.load();
        const std::size_t calls = service_.Calls().size();
        const auto start = Clock::now();
        // Copied as a file manager does it: the folder is made, then filled.
        QDir().mkpath(root_ + QLatin1Char('/') + folder);
        for (int n = 0; n < files; ++n) {
            const QString name = QStringLiteral("/file-%1.txt").arg(n, 5, 10, QLatin1Char('0'));
            QFile::copy(source + name, root_ + QLatin1Char('/') + folder + name);
        }
        const QString prefix = QLatin1Char('/') + folder + QLatin1Char('/');
        const bool done = WaitFor(
            [&] {
                int committed = 0;
                for (const FakeItem& item : service_.State().Items(TestAccount::UserId))
                    committed += !item.recycled && !item.isFolder && item.path.startsWith(prefix);
                return committed == files;
            },
            3h, 50ms);
        if (!done)
            return false;
        const double seconds = Seconds(Clock::now() - start);
        const double perFileStatements = double(preparedStatements.load() - statements) / files;
        const double perFileCalls = double(service_.Calls().size() - calls) / files;
        std::printf("(b) %d small files copied into a new folder at once, pause %lld ms:\n", files,
                    static_cast<long long>(Lithos::SQLiteStatement::PauseDuration().count()));
        std::printf("  %-44s %9.2f s (%.1f ms per file)\n", "until every file is committed", seconds,
                    1000 * seconds / files);
        std::printf("  %-44s %9.2f\n", "statements prepared per file", perFileStatements);
        std::printf("  %-44s %9.2f\n", "HTTP requests per file", perFileCalls);
        std::fflush(stdout);
        return Settle();
    }

    // (c)
    bool ServiceToLocal()
    {
        std::vector<double> latencies;
        for (int n = 0; n < kSamples; ++n) {
            const QString name = QStringLiteral("elsewhere-%1.txt").arg(n);
            const QByteArray content = "committed by another agent, number " + QByteArray::number(n);
            FakeChange change;
            change.objType = FakeObjType::File;
            change.action = FakeAction::Add;
            change.path = QLatin1Char('/') + name;
            change.localMtime = UnixTimeNow();
            change.size = content.size();
            const auto committed = Clock::now();
            const FakeCommitResult result =
                service_.State().CommitChange(TestAccount::UserId, QStringLiteral("another-agent"), change, content);
            if (!result.message.isEmpty()) {
                std::printf("the commit was refused: %s\n", qPrintable(result.message));
                return false;
            }
            service_.Push().InjectMessage(PushChannel::ChannelOf(TestAccount::UserSn), QStringLiteral("1"));
            const QString local = root_ + QLatin1Char('/') + name;
            if (!WaitFor([&] { return QFileInfo(local).isFile() && QFileInfo(local).size() == content.size(); },
                         120s)) {
                std::printf("%s did not arrive; the end of the log:\n%s\n", qPrintable(name),
                            qPrintable(AppLog.TakeBuffer().right(20000)));
                return false;
            }
            latencies.push_back(Seconds(Clock::now() - committed));
            if (!Settle())
                return false;
        }
        std::printf("(c) another agent's commit, after a push notice, until the file is here:\n");
        PrintSpread("latency", latencies, "s");
        return true;
    }

    // (d)
    bool Idle(int seconds)
    {
        if (!Settle())
            return false;
        const std::set<int> all = TaskIds();
        std::set<int> own;
        for (const int id : all) {
            if (!before_.count(id))
                own.insert(id);
        }
        const std::map<int, TaskFigures> first = ReadTasks(all);
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double elapsed = Seconds(Clock::now() - start);
        const std::map<int, TaskFigures> last = ReadTasks(TaskIds());
        TaskFigures process;
        TaskFigures engine;
        std::vector<std::pair<long long, std::string>> busiest;
        for (const auto& [id, end] : last) {
            const auto begin = first.find(id);
            const TaskFigures from = begin == first.end() ? TaskFigures{} : begin->second;
            const double cpu = end.cpuSeconds - from.cpuSeconds;
            const long long switches = end.switches - from.switches;
            process.cpuSeconds += cpu;
            process.switches += switches;
            if (own.count(id) || begin == first.end()) {
                engine.cpuSeconds += cpu;
                engine.switches += switches;
                busiest.emplace_back(switches, TaskName(id));
            }
        }
        std::printf("(d) the engine idle for %.0f s (%zu threads of its own, the fake service in the same "
                    "process):\n",
                    elapsed, own.size());
        std::printf("  %-44s %9.3f s (%.3f%% of one core)\n", "CPU time, the engine's threads", engine.cpuSeconds,
                    100 * engine.cpuSeconds / elapsed);
        std::printf("  %-44s %9.3f s\n", "CPU time, the whole process", process.cpuSeconds);
        std::printf("  %-44s %9.2f per s\n", "wake-ups of the engine's threads", engine.switches / elapsed);
        std::printf("  %-44s %9.2f per s\n", "wake-ups of the whole process", process.switches / elapsed);
        std::sort(busiest.rbegin(), busiest.rend());
        for (const auto& [switches, name] : busiest)
            std::printf("    %-42s %9.2f per s\n", name.c_str(), switches / elapsed);
        std::printf("  %-44s %9.1f MiB (peak %.1f MiB)\n", "resident memory of the process",
                    StatusKb("VmRSS:") / 1024.0, StatusKb("VmHWM:") / 1024.0);
        std::fflush(stdout);
        return true;
    }

    void Stop()
    {
        const auto start = Clock::now();
        engine_->Stop();
        std::printf("Stop took %.3f s\n", Seconds(Clock::now() - start));
    }

private:
    static QString AgentKey() { return QStringLiteral("0123456789abcdef0123456789abcdef"); }

    static bool Write(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    QString root_;
    FakeService service_;
    std::unique_ptr<RegistryStore> registry_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    SyncEngineOptions options_;
    std::atomic<int> watches_{0};
    std::set<int> before_;
    std::unique_ptr<SyncEngine> engine_;
};

}  // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int pauseMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 100;
    const int idleSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 60;
    const bool fullLog = argc > 4 && std::strcmp(argv[4], "log") == 0;
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
    AppState = XAPPOnline;
    UploadMethod = UploadMethodPostFile2;
    if (fullLog)
        LogMask = 0x7FFFFFFF;
    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(pauseMs));
    std::printf("the whole engine against the fake service; pause after each prepare %d ms, merging hold %lld ms\n",
                pauseMs, static_cast<long long>(PeltaSyncPreThread::DefaultHold.count()));
    std::fflush(stdout);

    Bench bench(home.path());
    if (!bench.Start()) {
        std::printf("the engine did not start\n");
        return 1;
    }
    if (!bench.LocalToService()) {
        std::printf("(a) did not complete\n");
        return 1;
    }
    if (!bench.CopyIn(files, QStringLiteral("copied"))) {
        std::printf("(b) did not complete\n");
        return 1;
    }
    if (pauseMs != 0) {
        Lithos::SQLiteStatement::SetPauseDuration(0ms);
        if (!bench.CopyIn(files, QStringLiteral("copied-without-pause"))) {
            std::printf("(b) without the pause did not complete\n");
            return 1;
        }
        Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(pauseMs));
    }
    if (!bench.ServiceToLocal()) {
        std::printf("(c) did not complete\n");
        return 1;
    }
    if (!bench.Idle(idleSeconds)) {
        std::printf("(d) did not complete\n");
        return 1;
    }
    bench.Stop();
    return 0;
}
