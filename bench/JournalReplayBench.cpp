// Cost of reading a long change journal: PeltaSync::ResyncJournal in replay
// mode against a journal of N entries of another agent that change nothing
// locally (folder edits, which are only counted), so that what is measured is
// the replay's own frame - the exchange, the parse, reading each entry, the
// position - and not the file system.
//
// The reply is built once and served as it is by a small loopback server in
// this process (the fake service would build its reply anew each time). For
// each N: the reply's size, wall time (min, median, max over the runs) and
// the peak resident memory during the replay over the resident size at its
// start (the process's peak is reset before each run), also as a multiple of
// the reply's size. The reply arrives as bytes, becomes text, then a parsed
// document; the entries are read from that document one at a time.
//
// Usage: journal_replay_bench [runs]   (default 5)

#include "bench/support/BenchHome.h"
#include "bench/support/ResidentMemory.h"
#include "client/PeltaAPI.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/PeltaTrackConflict.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TimeHelpers.h"
#include "platform/Event.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/MountedFolder.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A getSyncJournal reply of n folder edits by another agent.
std::string JournalReply(int n)
{
    std::string body = "{\"status\":\"1\",\"commit_journal_count\":\"" + std::to_string(n) + "\",\"commit_journal\":[";
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            body += ',';
        const QString path = QStringLiteral("/Projects/Folder %1").arg(i);
        body += "{\"agent_key\":\"another-agent-key-0123456789abcdef\",\"commit_time\":\"1700000000." +
                std::to_string(100000 + i) + "\",\"obj_type\":\"folder\",\"action\":\"edit\",\"version\":\"3\","
                "\"commit_desc\":{\"status\":\"1\",\"version\":\"3\",\"my_base64_full_path_name\":\"" +
                Base64UrlEncodeText(path).toStdString() + "\"},\"req_desc\":{\"local_mtime\":1700000000,\"size\":0}}";
    }
    return body + "]}";
}

// Answers every request with the body set last.
class JournalServer {
public:
    JournalServer()
    {
        server_.Post(".*", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(body_, "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~JournalServer()
    {
        server_.stop();
        thread_.join();
    }
    void SetBody(std::string body) { body_ = std::move(body); }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::string body_;
};

struct Sample {
    double milliseconds = 0;
    long long growthKb = 0;
    int result = 0;
};

class Bench {
public:
    explicit Bench(const QString& base) : root_(base + QStringLiteral("/sync")), status_(conflicts_, tray_)
    {
        QDir().mkpath(root_);
        reg_ = std::make_unique<PeltaReg>(*registry_);
        reg_->SetAccessKey(QStringLiteral("bench-access-key"), UnixTimeNow() + 36000, QStringLiteral("checksum"));
        settings_.Set(QStringLiteral("user_id"), QStringLiteral("1001"));
        settings_.Set(QStringLiteral("user_sn"), QStringLiteral("12345"));
        settings_.Set(QStringLiteral("agent_key"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        settings_.Set(QStringLiteral("sync_folder"), root_);
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_, status_);
        MountedFolder(root_).WriteMarker();
    }

    Sample Measure()
    {
        AppLog.TakeBuffer();
        ResidentMemory::ResetPeak();
        const long long baseKb = ResidentMemory::NowKb();
        const auto start = Clock::now();
        Sample sample;
        sample.result = engine_->ResyncJournal(QStringLiteral("1700000000.000000"), 1, true);
        const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
        sample.milliseconds = elapsed.count();
        sample.growthKb = ResidentMemory::PeakKb() - baseKb;
        AppLog.TakeBuffer();
        return sample;
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

void Print(int entries, std::size_t replyBytes, std::vector<Sample> samples)
{
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.milliseconds < b.milliseconds; });
    long long growth = 0;
    bool replayed = true;
    for (const Sample& sample : samples) {
        growth = std::max(growth, sample.growthKb);
        replayed = replayed && sample.result == PeltaSync::JournalReplayed;
    }
    const double replyMiB = replyBytes / 1048576.0;
    std::printf("%6d entries  reply %6.2f MiB  ms min %8.1f  median %8.1f  max %8.1f  (%.1f us per entry)  "
                "peak RSS +%6.1f MiB (%.1fx the reply)  (runs %zu%s)\n",
                entries, replyMiB, samples.front().milliseconds, samples[samples.size() / 2].milliseconds,
                samples.back().milliseconds, 1000.0 * samples[samples.size() / 2].milliseconds / entries,
                growth / 1024.0, growth / 1024.0 / replyMiB, samples.size(),
                replayed ? "" : ", NOT REPLAYED: a run failed");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    BenchHome home;
    if (!home.IsValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    AppState = XAPPOnline;
    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(0));

    JournalServer server;
    ServiceUrl = server.Base();
    ApiMethodMap.clear();
    PeltaReg::FillApiMethodMap(ApiMethodMap);
    Bench bench(home.Path());

    for (const int entries : {1000, 10000, 50000}) {
        std::string body = JournalReply(entries);
        const std::size_t bytes = body.size();
        server.SetBody(std::move(body));
        std::vector<Sample> samples;
        for (int run = 0; run < runs; ++run)
            samples.push_back(bench.Measure());
        Print(entries, bytes, samples);
    }
    return 0;
}
