// Throughput, memory and rate limit of the agent's uploads and downloads
// against the fake service on loopback, next to the curl command-line tool
// moving the same bytes to and from the same fake.
//
// The fake runs in a child process (forked before anything else starts), so
// that the peak memory measured here is the agent's alone; the child holds
// the uploaded and seeded content. Commands go to it over a pipe, one line
// each, and it answers with one line.
//
//   transfer_bench [size in MiB, default 256] [rounds, default 5]

#include "client/PeltaAPI.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/ProcessState.h"
#include "foundation/text/TimeHelpers.h"
#include "platform/FileWriteBack.h"
#include "platform/RegistryStore.h"
#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr qint64 MiB = 1048576;
const QString& UserId = TestAccount::UserId;
const QString& AccessKey = TestAccount::AccessKey;
const QString& AccessChecksum = TestAccount::AccessChecksum;
const QString AgentKey = QStringLiteral("5f2b9c0e7d1a43b8a6c4e2f0d9b7a531");

// The bench content: byte i of every file is a function of i alone.
void FillPattern(char* data, qint64 from, qint64 count)
{
    for (qint64 i = 0; i < count; ++i) {
        const qint64 at = from + i;
        data[i] = char((at * 31 + at / 251) % 256);
    }
}

QByteArray Pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    FillPattern(bytes.data(), 0, size);
    return bytes;
}

QByteArray PatternMd5(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block(MiB, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += MiB) {
        const qint64 n = std::min(MiB, size - at);
        FillPattern(block.data(), at, n);
        hash.addData(QByteArrayView(block.constData(), n));
    }
    return hash.result().toHex();
}

QByteArray FileMd5(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return "<unreadable>";
    return hash.result().toHex();
}

bool WritePatternFile(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(MiB, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += MiB) {
        const qint64 n = std::min(MiB, size - at);
        FillPattern(block.data(), at, n);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    return true;
}

// ---- The fake's process ----------------------------------------------------

std::string Reply(FakeService& service, const QStringList& words)
{
    static int serial = 0;
    const QString command = words.value(0);
    if (command == u"key") {
        const QString path = QStringLiteral("\\bench%1.bin").arg(++serial);
        const QJsonObject desc{{"my_base64_full_path_name", PathToBase64Url(path)},
                               {"size", words.value(1)},
                               {"local_mtime", "100"}};
        const auto registration = service.State().RegisterSyncKey(
            UserId, AgentKey, QStringLiteral("add"), QStringLiteral("file"),
            QString::fromUtf8(QJsonDocument(desc).toJson(QJsonDocument::Compact)));
        return (registration.key.key + u' ' + registration.key.checksum).toStdString();
    }
    if (command == u"held") {
        for (const FakeSyncKey& key : service.State().SyncKeys(UserId)) {
            if (key.key == words.value(1)) {
                QCryptographicHash hash(QCryptographicHash::Md5);
                std::vector<char> buffer;
                key.upload.Read(0, key.upload.Size(), buffer, [&](const char* data, qint64 length) {
                    hash.addData(QByteArrayView(data, length));
                    return true;
                });
                return std::to_string(key.upload.Size()) + ' ' + hash.result().toHex().toStdString();
            }
        }
        return "-1 none";
    }
    if (command == u"seed") {
        const QString path = QStringLiteral("\\seed%1.bin").arg(++serial);
        if (!service.State().SeedFile(UserId, path, Pattern(words.value(1).toLongLong())))
            return "error";
        return service.DownloadUrl() + DownloadHost::PathFor(UserId, *service.State().LiveFile(UserId, path));
    }
    if (command == u"next") {  // next <method> <cut|cutreq> <bytes> <calls to let through first>
        const std::string method = words.value(1).toStdString();
        for (int i = 0; i < words.value(4).toInt(); ++i)
            service.Faults().SetNext(method, Fault::Delay(std::chrono::milliseconds(0)));
        const auto bytes = static_cast<std::size_t>(words.value(3).toLongLong());
        Fault fault = words.value(2) == u"cutreq" ? Fault::DropAfterRequestBytes(bytes) : Fault::DropAfterBytes(bytes);
        fault.processed = false;
        service.Faults().SetNext(method, fault);
        return "ok";
    }
    if (command == u"clear") {
        service.Faults().ClearAll();
        return "ok";
    }
    return "unknown";
}

int RunFake(int commands, int replies)
{
    FakeService service;
    FakeAccountSpec account = TestAccount::Spec();
    account.quotaTotalBytes = std::int64_t(1) << 40;
    account.maxFileSizeBytes = std::int64_t(1) << 40;
    if (!service.IsRunning() || !service.State().AddAccount(account))
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
        Ask(QStringLiteral("quit"));
        out_.reset();
        waitpid(pid_, nullptr, 0);
    }

    QString Ask(const QString& command)
    {
        std::fprintf(out_.get(), "%s\n", qPrintable(command));
        std::fflush(out_.get());
        return command == u"quit" ? QString() : ReadLine();
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

// ---- Measuring ---------------------------------------------------------------

qint64 StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(field));
    }
    return -1;
}

// Starts a fresh peak: VmHWM falls back to the current resident size.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Run {
    bool ok = false;
    double seconds = 0;
    qint64 peakKb = 0;
    qint64 baseKb = 0;
};

template <typename F>
Run Measure(F&& transfer)
{
    Run run;
    ResetPeak();
    run.baseKb = StatusKb("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    run.ok = transfer();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = StatusKb("VmHWM:");
    return run;
}

double Rate(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / MiB / seconds : 0;
}

void Print(const char* what, qint64 bytes, const Run& run)
{
    std::printf("  %-34s %s %8.1f MiB/s  %6.2f s  peak RSS %6.1f MiB (before %5.1f MiB, +%5.1f MiB)\n", what,
                run.ok ? "ok  " : "FAIL", Rate(bytes, run.seconds), run.seconds, run.peakKb / 1024.0,
                run.baseKb / 1024.0, (run.peakKb - run.baseKb) / 1024.0);
}

bool Curl(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("curl"), arguments) == 0;
}

bool CurlGet(const QString& url, const QString& target)
{
    return Curl({QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), target, url});
}

// What the agent does at the end of a download: the file's data on the disk.
bool FlushFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && FileWriteBack::FlushToDisk(file);
}

// ---- The bench ---------------------------------------------------------------

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
        LogMask = 0x7FFFFFFF;
        reg_ = std::make_unique<PeltaReg>(*store_);
        if (!reg_->SetAccessKey(AccessKey, UnixTimeNow() + 36000, AccessChecksum))
            return false;
        setting_.Set(QStringLiteral("user_id"), UserId);
        setting_.Set(QStringLiteral("agent_key"), AgentKey);
        api_ = std::make_unique<PeltaAPI>(reg_.get(), &setting_);
        return true;
    }

    PeltaRecSyncRequest NewKey(qint64 size)
    {
        const QStringList words = fake_.Ask(QStringLiteral("key %1").arg(size)).split(u' ');
        PeltaRecSyncRequest row;
        row.path = QStringLiteral("\\bench.bin");
        row.sync_journal_key = words.value(0);
        row.sync_journal_key_checksum = words.value(1);
        return row;
    }

    bool HeldIs(const PeltaRecSyncRequest& row, qint64 size, const QByteArray& md5)
    {
        return fake_.Ask(QStringLiteral("held ") + row.sync_journal_key) ==
               QStringLiteral("%1 %2").arg(size).arg(QString::fromLatin1(md5));
    }

    qint64 Held(const PeltaRecSyncRequest& row)
    {
        return fake_.Ask(QStringLiteral("held ") + row.sync_journal_key).split(u' ').value(0).toLongLong();
    }

    bool PostFile2(const PeltaRecSyncRequest& row, const QString& file, qint64 start)
    {
        XMap fields;
        const QString url = api_->BuildPostFile2(row, 0, fields);
        QString reply;
        return api_->PostFile2(url, file, row.path, reply, start, fields);
    }

    bool HTTPPost(const PeltaRecSyncRequest& row, const QString& file)
    {
        XMap fields;
        const QString url = api_->BuildPostFile(row, fields);
        QString reply;
        return api_->HTTPPost(url, file, reply, fields);
    }

    bool CurlPost(const PeltaRecSyncRequest& row, const QString& file)
    {
        XMap fields;
        const QString url = api_->BuildPostFile(row, fields);
        QStringList arguments{QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                              QStringLiteral("/dev/null"), QStringLiteral("-H"), QStringLiteral("Expect:")};
        for (const auto& [key, value] : fields)
            arguments << QStringLiteral("-F") << key + u'=' + value;
        arguments << QStringLiteral("-F") << QStringLiteral("upload_file=@%1;type=application/octet-stream").arg(file)
                  << url;
        return Curl(arguments);
    }

    QString Seed(qint64 size) { return fake_.Ask(QStringLiteral("seed %1").arg(size)); }

    PeltaAPI& Api() { return *api_; }
    QString Path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

private:
    FakeProcess& fake_;
    QTemporaryDir& dir_;
    std::unique_ptr<RegistryStore> store_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting setting_;
    std::unique_ptr<PeltaAPI> api_;
};

// The runs of one way of moving the bytes, over the rounds of the bench.
struct Series {
    const char* what;
    std::vector<Run> runs;

    bool Ok() const
    {
        return !runs.empty() && std::all_of(runs.begin(), runs.end(), [](const Run& run) { return run.ok; });
    }

    // The median time: the first round pays for cold caches and fresh
    // memory on both sides, and single runs on a shared machine scatter.
    double Seconds() const
    {
        std::vector<double> seconds;
        for (const Run& run : runs)
            seconds.push_back(run.seconds);
        std::sort(seconds.begin(), seconds.end());
        return seconds.empty() ? 0 : seconds[seconds.size() / 2];
    }

    qint64 PeakGrowthKb() const
    {
        qint64 growth = 0;
        for (const Run& run : runs)
            growth = std::max(growth, run.peakKb - run.baseKb);
        return growth;
    }

    qint64 PeakKb() const
    {
        qint64 peak = 0;
        for (const Run& run : runs)
            peak = std::max(peak, run.peakKb);
        return peak;
    }

    void Print(qint64 bytes) const
    {
        std::printf("  %-34s %s %8.1f MiB/s  median %6.2f s of %zu  peak RSS %6.1f MiB (growth at most %5.1f MiB)\n",
                    what, Ok() ? "ok  " : "FAIL", Rate(bytes, Seconds()), Seconds(), runs.size(), PeakKb() / 1024.0,
                    PeakGrowthKb() / 1024.0);
    }
};

// One way of downloading the bench file, and its runs.
struct DownloadWay {
    Series series;
    QString target;
    std::function<bool(const QString& target)> get;
};

double Ratio(const Series& curl, const Series& agent)
{
    return agent.Seconds() > 0 ? curl.Seconds() / agent.Seconds() : 0;
}

void Throughput(Bench& bench, qint64 size, int rounds)
{
    const QString file = bench.Path("up.bin");
    if (!WritePatternFile(file, size)) {
        std::printf("cannot write %s\n", qPrintable(file));
        return;
    }
    const QByteArray md5 = PatternMd5(size);
    std::printf("Throughput, %lld MiB on loopback, %d rounds:\n", size / MiB, rounds);

    Series parts{"upload, agent postFile2 (parts)", {}};
    Series post{"upload, agent postFile (one POST)", {}};
    Series curlPost{"upload, curl -F (one POST)", {}};
    const QString url = bench.Seed(size);
    // Each download way writes to the disk, or to memory (tmpfs, where the
    // flush costs nothing) to compare the clients without the disk.
    QTemporaryDir memory(QStringLiteral("/dev/shm/transfer_bench-XXXXXX"));
    const QString onDisk = bench.Path("down.bin");
    const QString inMemory = memory.isValid() ? memory.filePath(QStringLiteral("down.bin")) : QString();
    const auto agentGet = [&](const QString& target) {
        return bench.Api().HTTPGetFile2(url, target, QStringLiteral("\\down.bin"), size);
    };
    std::vector<DownloadWay> downloads = {
        {{"download, agent ranged GET", {}}, onDisk, agentGet},
        {{"download, curl -o", {}}, onDisk, [&](const QString& target) { return CurlGet(url, target); }},
        {{"download, curl -o, file flushed", {}}, onDisk,
         [&](const QString& target) { return CurlGet(url, target) && FlushFile(target); }},
    };
    if (!inMemory.isEmpty()) {
        downloads.push_back({{"download to memory, agent", {}}, inMemory, agentGet});
        downloads.push_back(
            {{"download to memory, curl -o", {}}, inMemory, [&](const QString& target) { return CurlGet(url, target); }});
    }
    // The rounds interleave the agent and curl, so that neither always meets
    // the caches the other warmed.
    for (int round = 0; round < rounds; ++round) {
        UploadPartSize = MiB;
        PeltaRecSyncRequest row = bench.NewKey(size);
        Run run = Measure([&] { return bench.PostFile2(row, file, 0); });
        run.ok = run.ok && bench.HeldIs(row, size, md5);
        parts.runs.push_back(run);

        row = bench.NewKey(size);
        run = Measure([&] { return bench.HTTPPost(row, file); });
        run.ok = run.ok && bench.HeldIs(row, size, md5);
        post.runs.push_back(run);

        row = bench.NewKey(size);
        run = Measure([&] { return bench.CurlPost(row, file); });
        run.ok = run.ok && bench.HeldIs(row, size, md5);
        curlPost.runs.push_back(run);

        // The download ways take turns at going first after the uploads.
        for (std::size_t turn = 0; turn < downloads.size(); ++turn) {
            DownloadWay& way = downloads[(std::size_t(round) + turn) % downloads.size()];
            // Nothing of the previous run (its file's removal, its data)
            // may still be on its way to the disk when this one starts.
            QFile::remove(way.target);
            ::sync();
            run = Measure([&] { return way.get(way.target); });
            run.ok = run.ok && FileMd5(way.target) == md5;
            QFile::remove(way.target);
            way.series.runs.push_back(run);
        }
    }
    for (const Series* series : {&parts, &post, &curlPost})
        series->Print(size);
    for (const DownloadWay& way : downloads)
        way.series.Print(size);
    std::printf("  ratio agent/curl: upload one POST %.2f, upload in parts %.2f (goal >= 0.80)\n", Ratio(curlPost, post),
                Ratio(curlPost, parts));
    std::printf("  ratio agent/curl, download to the disk: %.2f against curl -o, %.2f against curl -o with its file "
                "flushed (goal >= 0.80)\n",
                Ratio(downloads[1].series, downloads[0].series), Ratio(downloads[2].series, downloads[0].series));
    if (downloads.size() == 5) {
        std::printf("  ratio agent/curl, download to memory: %.2f (goal >= 0.80)\n",
                    Ratio(downloads[4].series, downloads[3].series));
    }
    std::printf("  the agent's download is on the disk when it returns; plain curl's may still be in memory\n");
    std::printf("  the child process holds the fake's buffers; the peaks above are the agent's process alone\n");
}

void Limited(Bench& bench)
{
    constexpr qint64 size = 8 * MiB;
    const QString file = bench.Path("limited.bin");
    WritePatternFile(file, size);
    const QByteArray md5 = PatternMd5(size);
    UploadBitRate = 8 * MiB;  // 1 MiB/s, in bits per second
    DownloadBitRate = 8 * MiB;
    std::printf("Bandwidth limit of 1 MiB/s, %lld MiB:\n", size / MiB);

    UploadPartSize = MiB;
    const PeltaRecSyncRequest row = bench.NewKey(size);
    Run up = Measure([&] { return bench.PostFile2(row, file, 0); });
    up.ok = up.ok && bench.HeldIs(row, size, md5);
    Print("upload, agent postFile2", size, up);

    const QString url = bench.Seed(size);
    const QString target = bench.Path("limited_down.bin");
    Run down = Measure([&] { return bench.Api().HTTPGetFile2(url, target, QStringLiteral("\\l.bin"), size); });
    down.ok = down.ok && FileMd5(target) == md5;
    Print("download, agent ranged GET", size, down);
    std::printf("  achieved / limit: upload %.3f, download %.3f (goal within 0.90 .. 1.10)\n",
                Rate(size, up.seconds), Rate(size, down.seconds));
    UploadBitRate = 0;
    DownloadBitRate = 0;
}

void Resume(Bench& bench, FakeProcess& fake, qint64 size)
{
    const QString file = bench.Path("up.bin");
    const QByteArray md5 = PatternMd5(size);
    std::printf("Resume after a cut at half of %lld MiB:\n", size / MiB);

    // Parts of 16 MiB: the part that starts at half the file is cut midway.
    UploadPartSize = 16 * MiB;
    const PeltaRecSyncRequest row = bench.NewKey(size);
    fake.Ask(QStringLiteral("next postFile2 cutreq %1 %2").arg(8 * MiB).arg(size / 2 / (16 * MiB)));
    const bool first = bench.PostFile2(row, file, 0);
    const qint64 held = bench.Held(row);
    const bool second = bench.PostFile2(row, file, held);
    std::printf("  upload: first call %s, service held %lld bytes; second call %s, sent %lld bytes (%.1f%% of the "
                "file), content %s\n",
                first ? "succeeded (unexpected)" : "broke", held, second ? "succeeded" : "FAILED", size - held,
                100.0 * double(size - held) / double(size), bench.HeldIs(row, size, md5) ? "identical" : "DIFFERENT");

    const QString url = bench.Seed(size);
    const QString target = bench.Path("resume_down.bin");
    fake.Ask(QStringLiteral("next download cut %1 0").arg(size / 2));
    AppLog.TakeBuffer();
    const bool ok = bench.Api().HTTPGetFile2(url, target, QStringLiteral("\\r.bin"), size);
    const QString log = AppLog.TakeBuffer();
    const auto starts = QRegularExpression(QStringLiteral("GetFile2 start at:(\\d+)")).globalMatch(log);
    QList<qint64> positions;
    for (auto it = starts; it.hasNext();)
        positions.append(it.next().captured(1).toLongLong());
    const qint64 resumedAt = positions.value(1, -1);
    std::printf("  download: cut after %lld bytes, second attempt asked from %lld and received %lld bytes "
                "(remaining half %lld + dropped tail %lld), %s, content %s\n",
                size / 2, resumedAt, size - resumedAt, size - size / 2, size / 2 - resumedAt,
                ok ? "succeeded" : "FAILED", FileMd5(target) == md5 ? "identical" : "DIFFERENT");
}

}  // namespace

int main(int argc, char** argv)
{
    const qint64 sizeMiB = argc > 1 ? std::atoll(argv[1]) : 256;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    FakeProcess fake;  // forked before any thread of this process starts
    if (!fake.Start()) {
        std::fprintf(stderr, "the fake service did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    qputenv("TESSARON_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    Bench bench(fake, dir);
    if (!dir.isValid() || !bench.Setup()) {
        std::fprintf(stderr, "set-up failed\n");
        return 1;
    }
    const qint64 size = sizeMiB * MiB;
    Throughput(bench, size, rounds);
    Limited(bench);
    Resume(bench, fake, size);
    return 0;
}
