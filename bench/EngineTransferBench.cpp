// Uploads and downloads of one large file through the sync engine's whole
// path against the fake service - for an upload the row's snapshot,
// registration, transfer and commit; for a download the file check, the
// ranged download into the cache folder and the move into place - next to
// the service client moving the same bytes alone and to the curl tool.
//
// The engine may cost one read of the file more than the client (the
// snapshot copy); that copy is also timed on its own. Every prepare of a
// statement is counted (the link wraps sqlite3_prepare16_v2), since each is
// followed by the statements' pause. The fake runs in a child process forked
// before anything else starts, so the peak memory measured is the engine's
// alone.
//
//   engine_transfer_bench [size in MiB, default 256] [rounds, default 5]
//                         [pause after each prepare in ms, default the agent's]

#include "bench/support/BenchHome.h"
#include "bench/support/FakeProcess.h"
#include "bench/support/PatternFile.h"
#include "bench/support/PreparedStatementCount.h"
#include "bench/support/ResidentMemory.h"
#include "client/PeltaAPI.h"
#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TimeHelpers.h"
#include "platform/RegistryStore.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/UploadSnapshot.h"
#include "sync/threads/RequestSteps.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr qint64 MiB = 1048576;
const QString& UserId = TestAccount::UserId;
const QString AgentKey = QStringLiteral("5f2b9c0e7d1a43b8a6c4e2f0d9b7a531");

// ---- The fake's process ----------------------------------------------------------

std::string Reply(FakeService& service, const QStringList& words)
{
    const QString command = words.value(0);
    if (command == u"seed") {  // seed <service path> <size>
        const qint64 size = words.value(2).toLongLong();
        QByteArray content(size, Qt::Uninitialized);
        PatternFile::Fill(content.data(), 0, size);
        return service.State().SeedFile(UserId, words.value(1), content, 100) ? "ok" : "error";
    }
    if (command == u"url") {  // url <service path>
        const std::optional<FakeItem> item = service.State().LiveFile(UserId, words.value(1));
        return item ? service.DownloadUrl() + DownloadHost::PathFor(UserId, *item) : "none";
    }
    if (command == u"item") {  // item <service path>: size md5
        const std::optional<FakeItem> item = service.State().LiveFile(UserId, words.value(1));
        if (!item)
            return "-1 none";
        return std::to_string(item->content.Size()) + ' ' + item->content.Md5Hex().toStdString();
    }
    if (command == u"key") {  // key <size>: a journal key for a client-level upload
        static int serial = 0;
        const QString path = QStringLiteral("\\client%1.bin").arg(++serial);
        const QJsonObject desc{{"my_base64_full_path_name", PathToBase64Url(path)},
                               {"size", words.value(1)},
                               {"local_mtime", "100"}};
        const auto registration = service.State().RegisterSyncKey(
            UserId, AgentKey, QStringLiteral("add"), QStringLiteral("file"),
            QString::fromUtf8(QJsonDocument(desc).toJson(QJsonDocument::Compact)));
        return (registration.key.key + u' ' + registration.key.checksum).toStdString();
    }
    if (command == u"held") {  // held <key>: size md5 of its upload buffer
        for (const FakeSyncKey& key : service.State().SyncKeys(UserId)) {
            if (key.key == words.value(1))
                return std::to_string(key.upload.Size()) + ' ' + key.upload.Md5Hex().toStdString();
        }
        return "-1 none";
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
    FakeProcess::Serve(commands, replies, {service.BaseUrl(), service.UploadUrl()},
                       [&service](const QStringList& words) { return Reply(service, words); });
    service.Stop();
    return 0;
}

// ---- Measuring ---------------------------------------------------------------------

struct Run {
    bool ok = false;
    double seconds = 0;
    qint64 peakKb = 0;
    qint64 baseKb = 0;
    long prepares = 0;
};

Run Measure(const std::function<bool()>& transfer)
{
    Run run;
    ResidentMemory::ResetPeak();
    run.baseKb = ResidentMemory::NowKb();
    const long before = PreparedStatementCount::Now();
    const auto start = std::chrono::steady_clock::now();
    run.ok = transfer();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.prepares = PreparedStatementCount::Now() - before;
    run.peakKb = ResidentMemory::PeakKb();
    return run;
}

double Rate(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / MiB / seconds : 0;
}

struct Series {
    const char* what;
    std::vector<Run> runs;

    bool Ok() const
    {
        return !runs.empty() && std::all_of(runs.begin(), runs.end(), [](const Run& run) { return run.ok; });
    }
    std::vector<double> Sorted() const
    {
        std::vector<double> seconds;
        for (const Run& run : runs)
            seconds.push_back(run.seconds);
        std::sort(seconds.begin(), seconds.end());
        return seconds;
    }
    double Median() const
    {
        const std::vector<double> seconds = Sorted();
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
    long Prepares() const { return runs.empty() ? 0 : runs.back().prepares; }

    void Print(qint64 bytes) const
    {
        const std::vector<double> seconds = Sorted();
        if (seconds.empty())
            return;
        std::printf("  %-40s %s min %6.2f  median %6.2f  max %6.2f s (%7.1f MiB/s)  peak RSS %6.1f MiB, growth %5.1f "
                    "MiB",
                    what, Ok() ? "ok  " : "FAIL", seconds.front(), Median(), seconds.back(), Rate(bytes, Median()),
                    PeakKb() / 1024.0, PeakGrowthKb() / 1024.0);
        if (Prepares() > 0)
            std::printf(", %ld statements", Prepares());
        std::printf("\n");
    }
};

bool Curl(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("curl"), arguments) == 0;
}

// ---- The engine and the client -------------------------------------------------------

class Bench {
public:
    Bench(FakeProcess& fake, QTemporaryDir& dir) : fake_(fake), dir_(dir) {}

    bool Setup()
    {
        fake_.AimProcessHere();
        syncFolder_ = dir_.filePath(QStringLiteral("sync"));
        if (!QDir().mkpath(syncFolder_))
            return false;
        reg_ = std::make_unique<PeltaReg>(*store_);
        if (!reg_->SetAccessKey(TestAccount::AccessKey, UnixTimeNow() + 36000, TestAccount::AccessChecksum))
            return false;
        settings_.Set(QStringLiteral("user_id"), UserId);
        settings_.Set(QStringLiteral("user_sn"), TestAccount::UserSn);
        settings_.Set(QStringLiteral("agent_key"), AgentKey);
        settings_.Set(QStringLiteral("sync_folder"), syncFolder_);
        engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_);
        steps_ = std::make_unique<RequestSteps>(*engine_);
        api_ = std::make_unique<PeltaAPI>(reg_.get(), &settings_);
        return true;
    }

    QString Local(const QString& name) const { return syncFolder_ + QLatin1Char('/') + name; }

    // The engine's upload of a local file: its change recorded (not timed),
    // then the row's registration with its snapshot, transfer and commit.
    Run EngineUpload(const QString& name, int method)
    {
        UploadMethod = method;
        UploadPartSize = MiB;
        engine_->FileAdd(QLatin1Char('\\') + name, 1, false, false);
        PeltaRecSyncRequest row;
        if (!engine_->GetNextRequest(row))
            return Run{};
        return Measure([&] {
            RequestSteps::Tally tally;
            steps_->Drive(row, tally);
            return row.status == PeltaSync::RequestCommitted;
        });
    }

    // The snapshot copy alone, of the same file.
    Run SnapshotCopy(const QString& name)
    {
        PeltaRecSyncRequest row;
        row.path = QLatin1Char('\\') + name;
        row.key = engine_->RecordKey(row.path);
        row.rowid = 999999;
        engine_->EnsureCacheDir();
        Run run = Measure([&] {
            PeltaRecVfsSyncFile copy;
            return engine_->TakeUploadSnapshot(row, copy);
        });
        engine_->RemoveUploadSnapshot(row);
        return run;
    }

    // The engine's download of a file the service holds: a download row,
    // then its file check, ranged download and move into place.
    Run EngineDownload(const QString& name)
    {
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = QLatin1Char('\\') + name;
        engine_->FillRecordKeys(record);
        engine_->Db().RecAdd(record, true);
        engine_->Db().AddSyncRequest(record, XSYNCFileGet, false);
        PeltaRecSyncRequest row;
        if (!engine_->GetNextRequest(row))
            return Run{};
        return Measure([&] {
            RequestSteps::Tally tally;
            steps_->Drive(row, tally);
            return row.status == PeltaSync::RequestFetchDone;
        });
    }

    PeltaRecSyncRequest NewKey(qint64 size)
    {
        const QStringList words = fake_.Ask(QStringLiteral("key %1").arg(size)).split(u' ');
        PeltaRecSyncRequest row;
        row.path = QStringLiteral("\\client.bin");
        row.sync_journal_key = words.value(0);
        row.sync_journal_key_checksum = words.value(1);
        return row;
    }

    bool Held(const PeltaRecSyncRequest& row, qint64 size, const QByteArray& md5)
    {
        return fake_.Ask(QStringLiteral("held ") + row.sync_journal_key) ==
               QStringLiteral("%1 %2").arg(size).arg(QString::fromLatin1(md5));
    }

    bool ServiceHas(const QString& servicePath, qint64 size, const QByteArray& md5)
    {
        return fake_.Ask(QStringLiteral("item ") + servicePath) ==
               QStringLiteral("%1 %2").arg(size).arg(QString::fromLatin1(md5));
    }

    Run ClientPostFile2(const QString& file, qint64 size, const QByteArray& md5)
    {
        UploadPartSize = MiB;
        const PeltaRecSyncRequest row = NewKey(size);
        XMap fields;
        const QString url = api_->BuildPostFile2(row, TransferActionTransfer, fields);
        Run run = Measure([&] {
            QString reply;
            return api_->PostFile2(url, file, row.path, reply, 0, fields);
        });
        run.ok = run.ok && Held(row, size, md5);
        return run;
    }

    Run ClientPost(const QString& file, qint64 size, const QByteArray& md5)
    {
        const PeltaRecSyncRequest row = NewKey(size);
        XMap fields;
        const QString url = api_->BuildPostFile(row, fields);
        Run run = Measure([&] {
            QString reply;
            return api_->HTTPPost(url, file, reply, fields);
        });
        run.ok = run.ok && Held(row, size, md5);
        return run;
    }

    Run CurlPost(const QString& file, qint64 size, const QByteArray& md5)
    {
        const PeltaRecSyncRequest row = NewKey(size);
        XMap fields;
        const QString url = api_->BuildPostFile(row, fields);
        QStringList arguments{QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                              QStringLiteral("/dev/null"), QStringLiteral("-H"), QStringLiteral("Expect:")};
        for (const auto& [key, value] : fields)
            arguments << QStringLiteral("-F") << key + u'=' + value;
        arguments << QStringLiteral("-F") << QStringLiteral("upload_file=@%1;type=application/octet-stream").arg(file)
                  << url;
        Run run = Measure([&] { return Curl(arguments); });
        run.ok = run.ok && Held(row, size, md5);
        return run;
    }

    Run ClientDownload(const QString& servicePath, const QString& target, qint64 size)
    {
        const QString url = fake_.Ask(QStringLiteral("url ") + servicePath);
        return Measure([&] { return api_->HTTPGetFile2(url, target, QStringLiteral("\\client.bin"), size); });
    }

    Run CurlDownload(const QString& servicePath, const QString& target)
    {
        const QString url = fake_.Ask(QStringLiteral("url ") + servicePath);
        return Measure(
            [&] { return Curl({QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), target, url}); });
    }

    QString Path(const char* name) const { return dir_.filePath(QLatin1String(name)); }

private:
    FakeProcess& fake_;
    QTemporaryDir& dir_;
    QString syncFolder_;
    std::unique_ptr<RegistryStore> store_ = RegistryStore::InMemory();
    std::unique_ptr<PeltaReg> reg_;
    PeltaSyncAgentSetting settings_;
    std::unique_ptr<PeltaSync> engine_;
    std::unique_ptr<RequestSteps> steps_;
    std::unique_ptr<PeltaAPI> api_;
};

void RunBench(Bench& bench, FakeProcess& fake, qint64 size, int rounds)
{
    const QString pattern = bench.Path("pattern.bin");
    if (!PatternFile::Write(pattern, size)) {
        std::printf("cannot write %s\n", qPrintable(pattern));
        return;
    }
    const QByteArray md5 = PatternFile::Md5(size);
    std::printf("Engine path against the client alone and curl, %lld MiB on loopback, %d rounds, pause after each "
                "prepare %lld ms:\n",
                size / MiB, rounds, static_cast<long long>(Lithos::SQLiteStatement::PauseDuration().count()));

    Series snapshot{"snapshot copy alone", {}};
    Series engineParts{"upload, engine postFile2", {}};
    Series engineOne{"upload, engine postFile", {}};
    Series clientParts{"upload, client postFile2", {}};
    Series clientOne{"upload, client postFile (one POST)", {}};
    Series curlOne{"upload, curl -F (one POST)", {}};
    Series engineDown{"download, engine (row, cache, move)", {}};
    Series clientDown{"download, client ranged GET", {}};
    Series curlDown{"download, curl -o", {}};

    for (int round = 0; round < rounds; ++round) {
        // Each engine upload is a new file of the sync folder: a hard link
        // to the bench content, so making it writes nothing.
        for (const auto& [series, method] :
             {std::pair{&engineParts, int(UploadMethodPostFile2)}, std::pair{&engineOne, int(UploadMethodPostFile)}}) {
            const QString name = QStringLiteral("up%1-%2.bin").arg(round).arg(method);
            if (::link(pattern.toUtf8().constData(), bench.Local(name).toUtf8().constData()) != 0) {
                std::printf("cannot link %s\n", qPrintable(name));
                return;
            }
            if (series == &engineParts)
                snapshot.runs.push_back(bench.SnapshotCopy(name));
            Run run = bench.EngineUpload(name, method);
            run.ok = run.ok && bench.ServiceHas(QLatin1Char('/') + name, size, md5);
            series->runs.push_back(run);
        }
        clientParts.runs.push_back(bench.ClientPostFile2(pattern, size, md5));
        clientOne.runs.push_back(bench.ClientPost(pattern, size, md5));
        curlOne.runs.push_back(bench.CurlPost(pattern, size, md5));

        const QString name = QStringLiteral("down%1.bin").arg(round);
        if (fake.Ask(QStringLiteral("seed /%1 %2").arg(name).arg(size)) != u"ok") {
            std::printf("cannot seed %s\n", qPrintable(name));
            return;
        }
        ::sync();
        Run run = bench.EngineDownload(name);
        run.ok = run.ok && PatternFile::FileMd5(bench.Local(name)) == md5;
        engineDown.runs.push_back(run);
        QFile::remove(bench.Local(name));

        const QString target = bench.Path("down.bin");
        QFile::remove(target);
        ::sync();
        run = bench.ClientDownload(QLatin1Char('/') + name, target, size);
        run.ok = run.ok && PatternFile::FileMd5(target) == md5;
        clientDown.runs.push_back(run);
        QFile::remove(target);
        ::sync();
        run = bench.CurlDownload(QLatin1Char('/') + name, target);
        run.ok = run.ok && PatternFile::FileMd5(target) == md5;
        curlDown.runs.push_back(run);
        QFile::remove(target);
        AppLog.TakeBuffer();
    }
    for (const Series* series : {&snapshot, &engineParts, &clientParts, &engineOne, &clientOne, &curlOne, &engineDown,
                                 &clientDown, &curlDown})
        series->Print(size);

    const double pause = Lithos::SQLiteStatement::PauseDuration().count() / 1000.0;
    std::printf("  engine postFile2 - client postFile2 = %.2f s; snapshot copy %.2f s; statement pauses %.2f s\n",
                engineParts.Median() - clientParts.Median(), snapshot.Median(), engineParts.Prepares() * pause);
    std::printf("  engine postFile - client postFile = %.2f s; snapshot copy %.2f s; statement pauses %.2f s\n",
                engineOne.Median() - clientOne.Median(), snapshot.Median(), engineOne.Prepares() * pause);
    std::printf("  engine download - client download = %.2f s; statement pauses %.2f s\n",
                engineDown.Median() - clientDown.Median(), engineDown.Prepares() * pause);
    std::printf("  the child process holds the fake's buffers; the peaks above are the engine's process alone\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const qint64 sizeMiB = argc > 1 ? std::atoll(argv[1]) : 256;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (argc > 3)
        Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(std::max(0, std::atoi(argv[3]))));
    FakeProcess fake;  // forked before any thread of this process starts
    if (!fake.Start(&RunFake, 2)) {
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
    RunBench(bench, fake, sizeMiB * MiB, rounds);
    return 0;
}
