// Throughput, memory and rate limit of the agent's uploads and downloads
// against the fake service on loopback, next to the curl command-line tool
// moving the same bytes to and from the same fake, and next to curl against
// a trivial server (a sink that discards uploads, a source that sends from
// memory), which shows what the fake itself costs.
//
// The fake runs in a child process (forked before anything else starts), so
// that the peak memory measured here is the agent's alone; the child holds
// the uploaded and seeded content, in memory (/dev/shm) so that it never
// competes with the disk writes measured here. Commands go to it over a
// pipe, one line each, and it answers with one line.
//
// The agent's resumable upload is measured from the part size it starts
// with (one chunk) and from the largest, which it keeps once reached; curl
// sends the same parts (one POST each, over one connection).
//
// Every way of moving the bytes runs once a round, the rounds interleaving
// them; each prints the minimum, median and maximum of its rounds. Rates are
// of the body bytes on the wire, as the server counted them. curl is timed by
// its own total time (-w %{time_total}), which leaves the start of its
// process out.
//
//   transfer_bench [size in MiB, default 256] [rounds, default 5] [part]
//
// part: "uploads" or "downloads" runs only those ways of the throughput
// part; without it everything runs.

#include "bench/support/FakeProcess.h"
#include "bench/support/PatternFile.h"
#include "bench/support/ResidentMemory.h"
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
#include "fakeservice/BodyReader.h"
#include "fakeservice/FakeService.h"
#include "fakeservice/HttpListener.h"
#include "fakeservice/RequestTweaks.h"
#include "fakeservice/TestAccount.h"

#include <httplib.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr qint64 MiB = 1048576;
const QString& UserId = TestAccount::UserId;
const QString& AccessKey = TestAccount::AccessKey;
const QString& AccessChecksum = TestAccount::AccessChecksum;
const QString AgentKey = QStringLiteral("5f2b9c0e7d1a43b8a6c4e2f0d9b7a531");

FakeContent PatternContent(qint64 size)
{
    FakeContent content;
    QByteArray block(MiB, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += MiB) {
        const qint64 n = std::min(MiB, size - at);
        PatternFile::Fill(block.data(), at, n);
        content.Append(block.constData(), n);
    }
    return content;
}

// The file cut into the parts that the agent's resumable upload sends from
// the given part size on: files "<prefix>1", "<prefix>2", ...
std::vector<QString> WritePartFiles(const QString& file, const QString& prefix, qint64 size, std::int64_t partSize)
{
    QFile in(file);
    std::vector<QString> parts;
    if (!in.open(QIODevice::ReadOnly))
        return parts;
    for (qint64 at = 0; at < size;) {
        const qint64 n = std::min<qint64>(size - at, PeltaAPI::ChunksPerPart(partSize) * PeltaAPI::TransferChunk);
        QFile out(prefix + QString::number(parts.size() + 1));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(in.read(n)) != n)
            return {};
        parts.push_back(out.fileName());
        partSize = PeltaAPI::GrownPartSize(partSize);
        at += n;
    }
    return parts;
}

// ---- The fake's process ----------------------------------------------------

// A trivial server beside the fake: a POST's body is read as the fake reads
// it and thrown away, a GET of "/<n>" sends n bytes from memory. What curl
// reaches against it is what the loopback, curl and the HTTP library allow;
// the fake should come close to it.
class TrivialServer {
public:
    TrivialServer() : listener_(0, std::chrono::seconds(10), 0, [this](httplib::Server& server) { Route(server); })
    {
        listener_.Start();
        listener_.WaitStarted();
    }

    std::string Url() const { return listener_.BaseUrl(); }
    std::int64_t Received() const { return received_; }
    std::int64_t Sent() const { return sent_; }

private:
    // Counts the bytes of a body and forgets them.
    class Discard : public BodyReader::Sink {
    public:
        explicit Discard(std::atomic<std::int64_t>& count) : count_(count) {}
        void Append(const char*, std::size_t length) override { count_ += std::int64_t(length); }
        std::pair<char*, std::size_t> Room() override
        {
            thread_local std::vector<char> buffer(std::size_t(256) << 10);
            return {buffer.data(), buffer.size()};
        }
        void Filled(std::size_t length) override { count_ += std::int64_t(length); }

    private:
        std::atomic<std::int64_t>& count_;
    };

    void Route(httplib::Server& server)
    {
        server.Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                                 const httplib::ContentReader& reader) {
            RequestTweaks::TakeBodyAsPlainBytes(request);  // read as bytes, as the fake reads it
            BodyReader body(request, std::numeric_limits<std::size_t>::max(), std::chrono::seconds(10));
            Discard discard(received_);
            body.Read(reader, discard);
            response.status = 200;  // the library marks a body it did not read to the end as refused
            response.set_content(R"({"status":"1"})", "application/json");
        });
        server.Get(R"(/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
            const std::size_t size = std::stoull(request.matches[1].str());
            const auto provide = [this, size](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                const std::size_t n = std::min(std::size_t(block_.size()), size - offset);
                if (!sink.write(block_.constData(), n))
                    return false;
                sent_ += std::int64_t(n);
                return true;
            };
            response.set_content_provider(size, "application/octet-stream", provide);
        });
    }

    const QByteArray block_ = QByteArray(MiB, 'x');
    std::atomic<std::int64_t> received_{0};
    std::atomic<std::int64_t> sent_{0};
    HttpListener listener_;  // last: its threads use the members above
};

// The child's side: answers one command line.
class FakeSide {
public:
    FakeSide(FakeService& service, const TrivialServer& trivial) : service_(service), trivial_(trivial) {}

    std::string Reply(const QStringList& words)
    {
        const QString command = words.value(0);
        if (command == u"key")
            return Key(words.value(1));
        if (command == u"held")
            return Held(words.value(1));
        if (command == u"drop") {
            service_.State().DropSyncKey(UserId, words.value(1));
            return "ok";
        }
        if (command == u"seed")
            return Seed(words.value(1).toLongLong());
        if (command == u"next")
            return Next(words);
        if (command == u"clear") {
            service_.Faults().ClearAll();
            return "ok";
        }
        if (command == u"wire")
            return Wire();
        return "unknown";
    }

private:
    std::string Key(const QString& size)
    {
        const QString path = QStringLiteral("\\bench%1.bin").arg(++serial_);
        const QJsonObject desc{
            {"my_base64_full_path_name", PathToBase64Url(path)}, {"size", size}, {"local_mtime", "100"}};
        const auto registration = service_.State().RegisterSyncKey(
            UserId, AgentKey, QStringLiteral("add"), QStringLiteral("file"),
            QString::fromUtf8(QJsonDocument(desc).toJson(QJsonDocument::Compact)));
        return (registration.key.key + u' ' + registration.key.checksum).toStdString();
    }

    std::string Held(const QString& syncKey)
    {
        for (const FakeSyncKey& key : service_.State().SyncKeys(UserId)) {
            if (key.key != syncKey)
                continue;
            return std::to_string(key.upload.Size()) + ' ' + key.upload.Md5Hex().toStdString();
        }
        return "-1 none";
    }

    std::string Seed(qint64 size)
    {
        const QString path = QStringLiteral("\\seed%1.bin").arg(++serial_);
        if (!service_.State().SeedFile(UserId, path, PatternContent(size)))
            return "error";
        return service_.DownloadUrl() + DownloadHost::PathFor(UserId, *service_.State().LiveFile(UserId, path));
    }

    // next <method> <cut|cutreq> <bytes> <calls to let through first>
    std::string Next(const QStringList& words)
    {
        const std::string method = words.value(1).toStdString();
        for (int i = 0; i < words.value(4).toInt(); ++i)
            service_.Faults().SetNext(method, Fault::Delay(std::chrono::milliseconds(0)));
        const auto bytes = static_cast<std::size_t>(words.value(3).toLongLong());
        Fault fault = words.value(2) == u"cutreq" ? Fault::DropAfterRequestBytes(bytes) : Fault::DropAfterBytes(bytes);
        fault.processed = false;
        service_.Faults().SetNext(method, fault);
        return "ok";
    }

    // The body bytes received and sent since the last call, by the fake's
    // upload and download hosts and the trivial server together.
    std::string Wire()
    {
        const std::vector<FakeCall> calls = service_.Calls();
        std::int64_t received = trivial_.Received();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (i >= countedCalls_ && calls[i].host == "upload")
                received += std::int64_t(calls[i].bodySize);
        }
        countedCalls_ = calls.size();
        const std::int64_t sent = service_.DownloadedBytes() + trivial_.Sent();
        const std::int64_t newlyReceived = received - receivedBefore_;
        const std::int64_t newlySent = sent - sentBefore_;
        receivedBefore_ = trivial_.Received();
        sentBefore_ = sent;
        return std::to_string(newlyReceived) + ' ' + std::to_string(newlySent);
    }

    FakeService& service_;
    const TrivialServer& trivial_;
    int serial_ = 0;
    std::size_t countedCalls_ = 0;
    std::int64_t receivedBefore_ = 0;  // the trivial server's part of it
    std::int64_t sentBefore_ = 0;
};

int RunFake(int commands, int replies)
{
    // The fake's store in memory, where it never competes with the disk
    // writes being measured (this process only).
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    FakeServiceOptions options;
    options.ioTimeout = std::chrono::seconds(10);
    FakeService service(options);
    FakeAccountSpec account = TestAccount::Spec();
    account.quotaTotalBytes = std::int64_t(1) << 40;
    account.maxFileSizeBytes = std::int64_t(1) << 40;
    if (!service.IsRunning() || !service.State().AddAccount(account))
        return 1;
    service.State().RegisterAgent(UserId, FakeAgent{AgentKey, QStringLiteral("YmVuY2g"), QString(), QString()});
    TrivialServer trivial;
    FakeSide side(service, trivial);
    FakeProcess::Serve(commands, replies, {service.BaseUrl(), service.UploadUrl(), trivial.Url()},
                       [&side](const QStringList& words) { return side.Reply(words); });
    service.Stop();
    return 0;
}

// ---- Measuring ---------------------------------------------------------------

struct Run {
    bool ok = false;
    double seconds = 0;
    qint64 wireBytes = 0;    // body bytes on the wire, as the server counted them
    qint64 growthKb = -1;    // how far this process's peak memory rose; -1 for curl
};

double Rate(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / MiB / seconds : 0;
}

// An agent's transfer in this process: its wall time and memory.
template <typename F>
Run MeasureAgent(F&& transfer)
{
    Run run;
    ResidentMemory::ResetPeak();
    const qint64 before = ResidentMemory::NowKb();
    const auto start = std::chrono::steady_clock::now();
    run.ok = transfer();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.growthKb = ResidentMemory::PeakKb() - before;
    return run;
}

// A curl command, timed by curl's own total time of each transfer (from the
// connection on), summed: the start of the process is left out. Every
// transfer of the command (sections split by --next) is timed.
Run MeasureCurl(const QStringList& transfers)
{
    const QStringList timing{QStringLiteral("-sS"), QStringLiteral("-f"), QStringLiteral("-w"),
                             QStringLiteral("%{time_total}\n")};
    QStringList arguments;
    int count = 1;
    for (const QString& argument : transfers) {
        if (argument == u"--next") {
            arguments << timing;
            ++count;
        }
        arguments << argument;
    }
    arguments << timing;
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    curl.start(QStringLiteral("curl"), arguments);
    Run run;
    const bool finished = curl.waitForFinished(-1) && curl.exitStatus() == QProcess::NormalExit;
    const QStringList times = QString::fromUtf8(curl.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    bool numbers = times.size() == count;
    for (const QString& time : times) {
        bool number = false;
        run.seconds += time.toDouble(&number);
        numbers = numbers && number;
    }
    run.ok = finished && curl.exitCode() == 0 && numbers;
    return run;
}

QStringList CurlGetArguments(const QString& url, const QString& target)
{
    return {QStringLiteral("-o"), target, url};
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
        fake_.AimProcessHere();
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

    // Frees what the fake holds for the key.
    void Drop(const PeltaRecSyncRequest& row) { fake_.Ask(QStringLiteral("drop ") + row.sync_journal_key); }

    // The body bytes received and sent by the servers since the last call.
    std::pair<qint64, qint64> Wire()
    {
        const QStringList words = fake_.Ask(QStringLiteral("wire")).split(u' ');
        return {words.value(0).toLongLong(), words.value(1).toLongLong()};
    }

    // Runs one transfer with the wire counted.
    Run Counted(const std::function<Run()>& transfer)
    {
        Wire();
        Run run = transfer();
        const auto [received, sent] = Wire();
        run.wireBytes = received + sent;
        return run;
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

    // The one-shot upload as the agent sends it, by the curl tool; url
    // empty: to the postFile address.
    QStringList CurlPostArguments(const PeltaRecSyncRequest& row, const QString& file, const QString& url = QString())
    {
        XMap fields;
        const QString postFile = api_->BuildPostFile(row, fields);
        QStringList arguments{QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-H"),
                              QStringLiteral("Expect:")};
        for (const auto& [key, value] : fields)
            arguments << QStringLiteral("-F") << key + u'=' + value;
        arguments << QStringLiteral("-F") << QStringLiteral("upload_file=@%1;type=application/octet-stream").arg(file)
                  << (url.isEmpty() ? postFile : url);
        return arguments;
    }

    // The resumable upload as the agent sends it, by one curl process: a
    // POST per part file, each with its p_size, over one connection.
    QStringList CurlPartsArguments(const PeltaRecSyncRequest& row, const std::vector<QString>& parts)
    {
        XMap fields;
        const QString url = api_->BuildPostFile2(row, 0, fields);
        QStringList arguments;
        for (const QString& part : parts) {
            if (!arguments.isEmpty())
                arguments << QStringLiteral("--next");
            arguments << QStringLiteral("-o") << QStringLiteral("/dev/null") << QStringLiteral("-H")
                      << QStringLiteral("Expect:");
            for (const auto& [key, value] : fields)
                arguments << QStringLiteral("-F") << key + u'=' + value;
            arguments << QStringLiteral("-F") << QStringLiteral("p_size=%1").arg(QFileInfo(part).size())
                      << QStringLiteral("-F") << QStringLiteral("p_checksum=") << QStringLiteral("-F")
                      << QStringLiteral("upload_file=@%1;type=application/octet-stream;filename=upload_file").arg(part)
                      << url;
        }
        return arguments;
    }

    QString Seed(qint64 size) { return fake_.Ask(QStringLiteral("seed %1").arg(size)); }
    QString TrivialUrl() const { return fake_.Address(2); }

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
class Series {
public:
    Series(const char* what, std::function<Run()> run) : what_(what), run_(std::move(run)) {}

    void RunOnce() { runs_.push_back(run_()); }

    bool Ok() const
    {
        return !runs_.empty() && std::all_of(runs_.begin(), runs_.end(), [](const Run& run) { return run.ok; });
    }

    // The rates of the rounds, slowest first.
    std::vector<double> Rates() const
    {
        std::vector<double> rates;
        for (const Run& run : runs_)
            rates.push_back(Rate(run.wireBytes, run.seconds));
        std::sort(rates.begin(), rates.end());
        return rates;
    }

    double MedianRate() const
    {
        const std::vector<double> rates = Rates();
        return rates.empty() ? 0 : rates[rates.size() / 2];
    }

    void Print() const
    {
        if (runs_.empty())
            return;
        const std::vector<double> rates = Rates();
        std::vector<double> seconds;
        std::vector<qint64> wire;
        qint64 growthKb = -1;
        for (const Run& run : runs_) {
            seconds.push_back(run.seconds);
            wire.push_back(run.wireBytes);
            growthKb = std::max(growthKb, run.growthKb);
        }
        std::sort(seconds.begin(), seconds.end());
        std::sort(wire.begin(), wire.end());
        std::printf("  %-42s %s MiB/s min %7.1f  median %7.1f  max %7.1f   median %6.3f s of %zu, wire %lld B",
                    what_, Ok() ? "ok  " : "FAIL", rates.front(), MedianRate(), rates.back(),
                    seconds[seconds.size() / 2], runs_.size(), wire.front());
        if (wire.back() != wire.front())
            std::printf(" .. %lld B", wire.back());
        if (growthKb >= 0)
            std::printf(", peak RSS growth %.1f MiB", growthKb / 1024.0);
        std::printf("\n");
    }

private:
    const char* what_;
    std::function<Run()> run_;
    std::vector<Run> runs_;
};

double Ratio(const Series& agent, const Series& other)
{
    return other.MedianRate() > 0 ? agent.MedianRate() / other.MedianRate() : 0;
}

// Nothing of a previous run (its file's removal, its data) may still be on
// its way to the disk when a download starts.
void Settle(const QString& target)
{
    QFile::remove(target);
    ::sync();
}

enum class Part { All, Uploads, Downloads };

void Throughput(Bench& bench, qint64 size, int rounds, Part part)
{
    const QString file = bench.Path("up.bin");
    if (!PatternFile::Write(file, size)) {
        std::printf("cannot write %s\n", qPrintable(file));
        return;
    }
    const QByteArray md5 = PatternFile::Md5(size);
    // The part size starts at one chunk when the program starts, grows by one
    // chunk with every part sent up to its largest, and stays there.
    const std::int64_t largestPart = PeltaAPI::MaxChunksPerPart * PeltaAPI::TransferChunk;
    const std::vector<QString> growingParts = WritePartFiles(file, bench.Path("growing"), size, MiB);
    const std::vector<QString> largestParts = WritePartFiles(file, bench.Path("largest"), size, largestPart);
    const QString url = bench.Seed(size);
    const QString trivialUpload = bench.TrivialUrl() + QStringLiteral("/upload");
    const QString trivialDownload = bench.TrivialUrl() + QStringLiteral("/%1").arg(size);
    // Downloads go to the disk, or to memory (tmpfs, where the flush costs
    // nothing) to compare the clients without the disk.
    QTemporaryDir memory(QStringLiteral("/dev/shm/transfer_bench-XXXXXX"));
    const QString onDisk = bench.Path("down.bin");
    const QString inMemory = memory.isValid() ? memory.filePath(QStringLiteral("down.bin")) : onDisk;
    std::printf("Throughput, %lld MiB on loopback, %d rounds:\n", size / MiB, rounds);

    const auto upload = [&](const std::function<Run(const PeltaRecSyncRequest&)>& send) {
        return [&bench, &md5, size, send] {
            const PeltaRecSyncRequest row = bench.NewKey(size);
            Run run = bench.Counted([&] { return send(row); });
            run.ok = run.ok && bench.HeldIs(row, size, md5);
            bench.Drop(row);
            return run;
        };
    };
    const auto download = [&](const QString& target, const std::function<Run()>& get) {
        return [&bench, &md5, target, get] {
            Settle(target);
            Run run = bench.Counted(get);
            run.ok = run.ok && PatternFile::FileMd5(target) == md5;
            QFile::remove(target);
            return run;
        };
    };
    const auto agentGet = [&](const QString& target) {
        return [&bench, &url, size, target] {
            return MeasureAgent(
                [&] { return bench.Api().HTTPGetFile2(url, target, QStringLiteral("\\down.bin"), size); });
        };
    };
    const auto curlGet = [&](const QString& from, const QString& target, bool flush) {
        return [from, target, flush] {
            Run run = MeasureCurl(CurlGetArguments(from, target));
            if (flush) {
                const auto start = std::chrono::steady_clock::now();
                run.ok = run.ok && FlushFile(target);
                run.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
            return run;
        };
    };

    const auto agentParts = [&](std::int64_t partSize) {
        return upload([&bench, &file, partSize](const PeltaRecSyncRequest& row) {
            UploadPartSize = partSize;
            return MeasureAgent([&] { return bench.PostFile2(row, file, 0); });
        });
    };
    const auto curlParts = [&](const std::vector<QString>& parts) {
        return upload([&bench, &parts](const PeltaRecSyncRequest& row) {
            return MeasureCurl(bench.CurlPartsArguments(row, parts));
        });
    };
    Series agentGrowing("upload, agent postFile2, parts from 1 MiB", agentParts(MiB));
    Series agentLargest("upload, agent postFile2, parts of 16 MiB", agentParts(largestPart));
    Series agentPost("upload, agent postFile (one POST)", upload([&](const PeltaRecSyncRequest& row) {
                         return MeasureAgent([&] { return bench.HTTPPost(row, file); });
                     }));
    Series curlPost("upload, curl -F (one POST)", upload([&](const PeltaRecSyncRequest& row) {
                        return MeasureCurl(bench.CurlPostArguments(row, file));
                    }));
    Series curlGrowing("upload, curl -F, parts from 1 MiB", curlParts(growingParts));
    Series curlLargest("upload, curl -F, parts of 16 MiB", curlParts(largestParts));
    Series trivialPost("upload, curl -F to the trivial sink", [&] {
        const PeltaRecSyncRequest row = bench.NewKey(size);
        Run run = bench.Counted([&] { return MeasureCurl(bench.CurlPostArguments(row, file, trivialUpload)); });
        bench.Drop(row);
        return run;
    });
    Series agentDisk("download, agent ranged GET", download(onDisk, agentGet(onDisk)));
    Series curlDiskFlushed("download, curl -o, file flushed", download(onDisk, curlGet(url, onDisk, true)));
    Series curlDisk("download, curl -o", download(onDisk, curlGet(url, onDisk, false)));
    Series agentMemory("download to memory, agent", download(inMemory, agentGet(inMemory)));
    Series curlMemory("download to memory, curl -o", download(inMemory, curlGet(url, inMemory, false)));
    Series trivialMemory("download to memory, curl -o, trivial", [&] {
        Settle(inMemory);
        Run run = bench.Counted(curlGet(trivialDownload, inMemory, false));
        run.ok = run.ok && QFileInfo(inMemory).size() == size;
        QFile::remove(inMemory);
        return run;
    });

    std::vector<Series*> uploads{&agentGrowing, &agentLargest, &agentPost,  &curlPost,
                                 &curlGrowing,  &curlLargest,  &trivialPost};
    std::vector<Series*> downloads{&agentDisk, &curlDiskFlushed, &curlDisk, &agentMemory, &curlMemory, &trivialMemory};
    if (part == Part::Downloads)
        uploads.clear();
    if (part == Part::Uploads)
        downloads.clear();
    // The rounds interleave the ways, and each round starts them at another
    // one, so that none always meets the caches that another warmed.
    for (int round = 0; round < rounds; ++round) {
        for (std::vector<Series*>* group : {&uploads, &downloads}) {
            for (std::size_t turn = 0; turn < group->size(); ++turn)
                (*group)[(std::size_t(round) + turn) % group->size()]->RunOnce();
        }
    }
    for (const std::vector<Series*>* group : {&uploads, &downloads}) {
        for (const Series* series : *group)
            series->Print();
    }
    if (!uploads.empty()) {
        std::printf("  ratio agent/curl, upload, the same requests (goal >= 0.90): one POST %.2f, parts from 1 MiB "
                    "%.2f, parts of 16 MiB %.2f\n",
                    Ratio(agentPost, curlPost), Ratio(agentGrowing, curlGrowing), Ratio(agentLargest, curlLargest));
        std::printf("  ratio agent postFile2 / curl one POST: parts from 1 MiB %.2f, parts of 16 MiB %.2f (the cost "
                    "of a request and its answer per part)\n",
                    Ratio(agentGrowing, curlPost), Ratio(agentLargest, curlPost));
        std::printf("  the fake against the trivial sink, curl both: upload %.2f\n", Ratio(curlPost, trivialPost));
    }
    if (!downloads.empty()) {
        std::printf("  ratio agent/curl, download to the disk: %.2f against curl -o with its file flushed (goal >= "
                    "0.90), %.2f against plain curl -o\n",
                    Ratio(agentDisk, curlDiskFlushed), Ratio(agentDisk, curlDisk));
        std::printf("  ratio agent/curl, download to memory: %.2f\n", Ratio(agentMemory, curlMemory));
        std::printf("  the fake against the trivial source, curl both: download to memory %.2f\n",
                    Ratio(curlMemory, trivialMemory));
    }
    std::printf("  the agent's download is on the disk when it returns; plain curl's may still be in memory\n");
    std::printf("  the child process holds the fake's store; the memory growth above is the agent's process alone\n");
}

void PrintOne(const char* what, qint64 bytes, const Run& run)
{
    std::printf("  %-42s %s %8.2f MiB/s  %6.2f s, wire %lld B, peak RSS growth %.1f MiB\n", what,
                run.ok ? "ok  " : "FAIL", Rate(bytes, run.seconds), run.seconds, run.wireBytes, run.growthKb / 1024.0);
}

void Limited(Bench& bench)
{
    constexpr qint64 size = 8 * MiB;
    const QString file = bench.Path("limited.bin");
    PatternFile::Write(file, size);
    const QByteArray md5 = PatternFile::Md5(size);
    UploadBitRate = 8 * MiB;  // 1 MiB/s, in bits per second
    DownloadBitRate = 8 * MiB;
    std::printf("Bandwidth limit of 1 MiB/s, %lld MiB:\n", size / MiB);

    UploadPartSize = MiB;
    const PeltaRecSyncRequest row = bench.NewKey(size);
    Run up = bench.Counted([&] { return MeasureAgent([&] { return bench.PostFile2(row, file, 0); }); });
    up.ok = up.ok && bench.HeldIs(row, size, md5);
    bench.Drop(row);
    PrintOne("upload, agent postFile2", up.wireBytes, up);

    const QString url = bench.Seed(size);
    const QString target = bench.Path("limited_down.bin");
    Run down = bench.Counted([&] {
        return MeasureAgent([&] { return bench.Api().HTTPGetFile2(url, target, QStringLiteral("\\l.bin"), size); });
    });
    down.ok = down.ok && PatternFile::FileMd5(target) == md5;
    PrintOne("download, agent ranged GET", down.wireBytes, down);
    std::printf("  achieved / limit: upload %.3f, download %.3f (goal within 0.90 .. 1.10)\n",
                Rate(up.wireBytes, up.seconds), Rate(down.wireBytes, down.seconds));
    UploadBitRate = 0;
    DownloadBitRate = 0;
}

void Resume(Bench& bench, FakeProcess& fake, qint64 size)
{
    const QString file = bench.Path("up.bin");
    const QByteArray md5 = PatternFile::Md5(size);
    std::printf("Resume after a cut at half of %lld MiB:\n", size / MiB);

    // Parts of 16 MiB: the part that starts at half the file is cut midway.
    UploadPartSize = 16 * MiB;
    const PeltaRecSyncRequest row = bench.NewKey(size);
    fake.Ask(QStringLiteral("next postFile2 cutreq %1 %2").arg(8 * MiB).arg(size / 2 / (16 * MiB)));
    bench.Wire();
    const bool first = bench.PostFile2(row, file, 0);
    const qint64 firstWire = bench.Wire().first;
    const qint64 held = bench.Held(row);
    const bool second = bench.PostFile2(row, file, held);
    const qint64 secondWire = bench.Wire().first;
    std::printf("  upload: first call %s after %lld bytes on the wire, the service held %lld; second call %s, "
                "%lld bytes on the wire (%.1f%% of the file), content %s\n",
                first ? "succeeded (unexpected)" : "broke", firstWire, held, second ? "succeeded" : "FAILED",
                secondWire, 100.0 * double(secondWire) / double(size),
                bench.HeldIs(row, size, md5) ? "identical" : "DIFFERENT");
    bench.Drop(row);

    const QString url = bench.Seed(size);
    const QString target = bench.Path("resume_down.bin");
    fake.Ask(QStringLiteral("next download cut %1 0").arg(size / 2));
    AppLog.TakeBuffer();
    bench.Wire();
    const bool ok = bench.Api().HTTPGetFile2(url, target, QStringLiteral("\\r.bin"), size);
    const qint64 sent = bench.Wire().second;
    const QString log = AppLog.TakeBuffer();
    const auto starts = QRegularExpression(QStringLiteral("GetFile2 start at:(\\d+)")).globalMatch(log);
    QList<qint64> positions;
    for (auto it = starts; it.hasNext();)
        positions.append(it.next().captured(1).toLongLong());
    const qint64 resumedAt = positions.value(1, -1);
    std::printf("  download: cut after %lld bytes, second attempt asked from %lld; %lld bytes on the wire in all "
                "(%lld beyond the file: the dropped tail of the cut attempt), %s, content %s\n",
                size / 2, resumedAt, sent, sent - size, ok ? "succeeded" : "FAILED",
                PatternFile::FileMd5(target) == md5 ? "identical" : "DIFFERENT");
}

}  // namespace

int main(int argc, char** argv)
{
    const qint64 sizeMiB = argc > 1 ? std::atoll(argv[1]) : 256;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    FakeProcess fake;  // forked before any thread of this process starts
    if (!fake.Start(&RunFake, 3)) {
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
    const QString only = argc > 3 ? QString::fromUtf8(argv[3]) : QString();
    const Part part = only == u"uploads" ? Part::Uploads : only == u"downloads" ? Part::Downloads : Part::All;
    const qint64 size = sizeMiB * MiB;
    Throughput(bench, size, rounds, part);
    if (part != Part::All)
        return 0;
    Limited(bench);
    Resume(bench, fake, size);
    return 0;
}
