#include "tests/convergence/ConvergenceFixture.h"

#include "fakeservice/TestAccount.h"
#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/OpenWork.h"
#include "sync/rules/JournalPosition.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/PathGuard.h"
#include "tests/convergence/SeedScript.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kStartLimit{30000};
constexpr std::chrono::milliseconds kSettleLimit{20000};
constexpr std::chrono::milliseconds kFinalLimit{120000};

QString WatchedPath(const char* path)
{
    const QString given = QString::fromUtf8(path);
    return given.startsWith(QLatin1String("/proc/self/fd/")) ? QFileInfo(given).symLinkTarget() : given;
}

QString Relative(const QString& servicePath)
{
    QString relative = servicePath;
    return relative.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QString ServicePathOf(const QString& relative)
{
    QString path = relative;
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

void DropQueue(std::mutex& lock, PeltaQueue& queue)
{
    std::lock_guard hold(lock);
    while (queue.Pop()) {
    }
}

}  // namespace

void ConvergenceFixture::SetUp()
{
    EngineThreadFixture::SetUp();
    root_ = SyncRoot();
    service_.Push().SetHoldTime(300ms);
    settings_.Set(QStringLiteral("last_sync_time"), QStringLiteral("1"));
    settings_.Set(QStringLiteral("first_sync_time"), QStringLiteral("1"));
    options_.monitor.watcher.addWatch = [this](int fd, const char* path, std::uint32_t mask) {
        const int watch = ::inotify_add_watch(fd, path, mask);
        if (watch >= 0 && WatchedPath(path) == root_)
            ++rootWatches_;
        return watch;
    };
    options_.eventHold = 100ms;
    options_.final.fullResyncPause = 0ms;
    options_.resyncLocal.firstRetry = 200ms;
    options_.resyncLocal.retryCap = 1s;
    options_.resyncLocal.mountCheck = 200ms;
    options_.queueSub.wait = 100ms;
    options_.journal.wait = 100ms;
    options_.journal.firstRetry = 200ms;
    options_.journal.retryCap = 1s;
    options_.journal.pushSilence = 1s;
    options_.journal.pullInterval = 1s;
    options_.push.readTimeout = 5s;
    options_.push.failurePeriod = 1s;
    options_.push.errorWait = 100ms;
    options_.push.minGap = 20ms;
    options_.push.sendInterval = 0s;
    options_.pushUrl = QString::fromStdString(service_.PushUrl());
    second_ = std::make_unique<SecondComputer>(service_, UserId, TestAccount::UserSn);
}

void ConvergenceFixture::TearDown()
{
    held_.clear();
    if (sync_)
        sync_->Stop();
    sync_.reset();
    service_.Faults().ClearAll();
    ForgetSelfChanges();
    EngineThreadFixture::TearDown();
}

// The engine's marks of its own changes outlive it (they belong to the
// process): a run that starts within seconds of one whose engine wrote or
// removed the same path would have the monitor take the user's change there
// for the engine's own. Every mark the engine set is in its log.
void ConvergenceFixture::ForgetSelfChanges()
{
    log_ += TakeLog();
    static const QRegularExpression mark(QStringLiteral("FileMon:(.*)\\(-?[0-9]+\\)$"),
                                         QRegularExpression::MultilineOption);
    QSet<QString> paths;
    for (auto found = mark.globalMatch(log_); found.hasNext();)
        paths.insert(found.next().captured(1));
    for (const QString& path : paths)
        RequestObject.FileMon(path, 0, true);
}

void ConvergenceFixture::UseSyncFolder(const QString& folder)
{
    ASSERT_TRUE(QDir().mkpath(folder));
    root_ = folder;
    settings_.Set(QStringLiteral("sync_folder"), folder);
    ASSERT_TRUE(MountedFolder(folder).WriteMarker());
}

void ConvergenceFixture::Trace(const QString& line)
{
    trace_ << line;
    log_ += TakeLog();
}

void ConvergenceFixture::StartEngine(SyncEngine::FirstCommand first, bool waitForJob)
{
    if (!sync_)
        sync_ = std::make_unique<SyncEngine>(*reg_, settings_, threadNotices_, options_);
    const int watches = rootWatches_.load();
    const int started = threadNotices_->Count(QStringLiteral("SetResyncMenu(1)"));
    sync_->Start(first);
    ASSERT_TRUE(sync_->Running());
    ASSERT_TRUE(WaitUntil(
        [&] {
            log_ += TakeLog();
            return rootWatches_.load() > watches;
        },
        kStartLimit))
        << "the monitor never watched";
    if (!waitForJob)
        return;
    ASSERT_TRUE(WaitUntil(
        [&] {
            log_ += TakeLog();
            return threadNotices_->Count(QStringLiteral("SetResyncMenu(1)")) > started;
        },
        kStartLimit))
        << "the start-up job never ended";
}

void ConvergenceFixture::StopEngine()
{
    if (sync_)
        sync_->Stop();
}

void ConvergenceFixture::RestartProgram()
{
    StopEngine();
    sync_.reset();
    DropQueue(csFSQueue, FSQueue);
    DropQueue(csFSFinalQueue, FSFinalQueue);
    StartEngine();
}

// ---- Quiet ----------------------------------------------------------------------------------

QString ConvergenceFixture::Unquiet()
{
    QStringList reasons;
    const QStringList open = Rows(QStringLiteral(
        "select action, path, ifnull(path2, ''), status, err_count from sync_request where commit_time is null and "
        "status in ") + OpenWork::Statuses + QStringLiteral(" order by rowid"));
    if (!open.isEmpty())
        reasons << QStringLiteral("open rows: ") + open.join(QStringLiteral("; "));
    if (FSQueue.Count() > 0)
        reasons << QStringLiteral("events queued: %1").arg(FSQueue.Count());
    if (FSFinalQueue.Count() > 0)
        reasons << QStringLiteral("final queue: %1").arg(FSFinalQueue.Count());
    if (ResyncRunning.load())
        reasons << QStringLiteral("a resync runs");
    const QString wanted = JournalPosition::After(JournalEnd());
    const QString position = settings_.Get(QStringLiteral("last_sync_time"));
    if (!service_.State().Journal(UserId).empty() && position != wanted)
        reasons << QStringLiteral("journal position ") + position + QStringLiteral(", the service's end ") + wanted;
    return reasons.join(QStringLiteral(" | "));
}

bool ConvergenceFixture::WaitQuiet(std::chrono::milliseconds limit, std::chrono::milliseconds quietFor)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto quietSince = std::chrono::steady_clock::now();
    bool quiet = false;
    TreeSnapshot local;
    TreeSnapshot remote;
    std::size_t calls = 0;
    auto lastNotice = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        log_ += TakeLog();
        RetriesDue();
        const auto now = std::chrono::steady_clock::now();
        const bool calm = Unquiet().isEmpty();
        TreeSnapshot localNow = LocalTree();
        TreeSnapshot remoteNow = ServiceTree();
        const std::size_t callsNow = WorkCalls();
        const bool same = calm && quiet && localNow == local && remoteNow == remote && callsNow == calls;
        if (!same)
            quietSince = now;
        quiet = calm;
        local = std::move(localNow);
        remote = std::move(remoteNow);
        calls = callsNow;
        if (same && now - quietSince >= quietFor)
            return true;
        if (!calm && now - lastNotice >= 1s) {
            // What the second computer's SEND would bring; a notice that a
            // fault swallowed is not waited for.
            second_->Notify();
            lastNotice = now;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

std::size_t ConvergenceFixture::WorkCalls() const
{
    std::size_t calls = 0;
    for (const char* method : {"getMetadata", "getFileCheck", "setSyncJournal", "commitSyncJournal", "postFile",
                               "postFile2", "putFile", "download"})
        calls += service_.CallCount(method);
    return calls;
}

// ---- Operations -----------------------------------------------------------------------------

QString ConvergenceFixture::LocalWrite(const QString& path, const QByteArray& content, int step)
{
    const QString full = Full(path);
    const QFileInfo parent(QFileInfo(full).path());
    if (!parent.isDir())
        return QStringLiteral("skipped: no parent folder here");
    const QFileInfo info(full);
    if (info.isDir())
        return QStringLiteral("skipped: a folder is there");
    if (info.exists())
        ledger_.GaveUp(ReadFileBytes(full));
    if (!WriteFileBytes(full, content))
        return QStringLiteral("skipped: cannot write");
    // Each write at a second of its own: the engine tells a change by size
    // and time in whole seconds, so a rewrite of the same size within the
    // second of the last sync is not one it can see.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(++localMtime_), 0}};
    ::utimensat(AT_FDCWD, full.toUtf8().constData(), times, 0);
    ledger_.Wrote(content, QStringLiteral("here"), step, path);
    return QStringLiteral("done");
}

QString ConvergenceFixture::LocalMakeFolder(const Operation& op, int step)
{
    const QString full = Full(op.path);
    if (QFileInfo::exists(full))
        return QStringLiteral("skipped: the name is taken here");
    if (!QDir().mkdir(full))
        return QStringLiteral("skipped: no parent folder here");
    QString result = QStringLiteral("done");
    for (const auto& [file, bytes] : op.files)
        result += QStringLiteral(", ") + LocalWrite(file, bytes, step);
    return result;
}

QString ConvergenceFixture::LocalMove(const QString& from, const QString& to)
{
    if (!QFileInfo::exists(Full(from)))
        return QStringLiteral("skipped: not here");
    if (QFileInfo::exists(Full(to)))
        return QStringLiteral("skipped: the target is taken here");
    if (!QFileInfo(QFileInfo(Full(to)).path()).isDir())
        return QStringLiteral("skipped: no target folder here");
    if (::rename(Full(from).toUtf8().constData(), Full(to).toUtf8().constData()) != 0)
        return QStringLiteral("skipped: rename failed");
    return QStringLiteral("done");
}

QString ConvergenceFixture::LocalDelete(const QString& path)
{
    const QString full = Full(path);
    const QFileInfo info(full);
    if (!info.exists())
        return QStringLiteral("skipped: not here");
    const TreeSnapshot local = LocalTree();
    for (const QString& item : local.Below(path))
        ledger_.GaveUp(local.Entries().at(item).content);
    const bool removed = info.isDir() ? QDir(full).removeRecursively() : QFile::remove(full);
    return removed ? QStringLiteral("done") : QStringLiteral("failed to remove");
}

QString ConvergenceFixture::RemoteWrite(const QString& path, const QByteArray& content, int step)
{
    const std::optional<FakeItem> existing = ServiceItem(path);
    const QByteArray before = existing && !existing->isFolder ? existing->content.Bytes() : QByteArray();
    const QString refused = second_->WriteFile(path, content);
    if (!refused.isEmpty())
        return QStringLiteral("refused: ") + refused;
    if (existing && !existing->isFolder)
        ledger_.GaveUp(before);
    ledger_.Wrote(content, QStringLiteral("there"), step, path);
    return QStringLiteral("done");
}

QString ConvergenceFixture::RemoteMakeFolder(const Operation& op, int step)
{
    const QString refused = second_->AddFolder(op.path);
    if (!refused.isEmpty())
        return QStringLiteral("refused: ") + refused;
    QString result = QStringLiteral("done");
    for (const auto& [file, bytes] : op.files)
        result += QStringLiteral(", ") + RemoteWrite(file, bytes, step);
    return result;
}

QString ConvergenceFixture::RemoteDelete(const QString& path)
{
    const TreeSnapshot remote = ServiceTree();
    const QStringList below = remote.Below(path);
    const QString refused = second_->Delete(path);
    if (!refused.isEmpty())
        return QStringLiteral("refused: ") + refused;
    for (const QString& item : below)
        ledger_.GaveUp(remote.Entries().at(item).content);
    return QStringLiteral("done");
}

QString ConvergenceFixture::RestartDuring(const std::string& method)
{
    const std::size_t calls = service_.CallCount(method);
    service_.Faults().SetNext(method, Fault::Delay(400ms));
    const bool seen = WaitUntil([&] { return service_.CallCount(method) > calls; }, 3s);
    StopEngine();
    service_.Faults().Clear(method);
    StartEngine();
    return seen ? QStringLiteral("stopped during the call") : QStringLiteral("no call came; stopped anyway");
}

QString ConvergenceFixture::HoldInUse(const QString& path, int until)
{
    for (const Held& held : held_) {
        if (held.path == path)
            return QStringLiteral("skipped: held already");
    }
    FileDescriptor file(::open(Full(path).toUtf8().constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen())
        return QStringLiteral("skipped: cannot open it here");
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(file.Get(), F_OFD_SETLK, &lock) != 0)
        return QStringLiteral("skipped: cannot lock it");
    held_.push_back(Held{path, until, std::move(file)});
    return QStringLiteral("held");
}

void ConvergenceFixture::ReleaseHeld(int step)
{
    for (auto held = held_.begin(); held != held_.end();) {
        if (step >= 0 && held->until > step) {
            ++held;
            continue;
        }
        Trace(QStringLiteral("let go of ") + held->path);
        held = held_.erase(held);
    }
}

QString ConvergenceFixture::RemoteOddName(const Operation& op)
{
    // Not in the ledger: it can never be here, and check 1 leaves it out.
    if (op.content.isEmpty()) {
        const QString refused = second_->AddFolder(op.path);
        if (!refused.isEmpty())
            return QStringLiteral("refused: ") + refused;
        QString result = QStringLiteral("done");
        for (const auto& [file, bytes] : op.files) {
            const QString inside = second_->WriteFile(file, bytes);
            result += QStringLiteral(", ") + (inside.isEmpty() ? QStringLiteral("done") : QStringLiteral("refused: ") + inside);
        }
        return result;
    }
    const QString refused = second_->WriteFile(op.path, op.content);
    return refused.isEmpty() ? QStringLiteral("done") : QStringLiteral("refused: ") + refused;
}

void ConvergenceFixture::SetPushSilent(bool silent)
{
    for (const char* method : {"CONNECT", "CHECK"}) {
        if (silent)
            service_.Faults().SetAlways(method, Fault::DropBeforeReply());
        else
            service_.Faults().Clear(method);
    }
}

QString ConvergenceFixture::Apply(const Operation& op, int step)
{
    using Kind = Operation::Kind;
    switch (op.kind) {
    case Kind::WriteFile:
        return op.local ? LocalWrite(op.path, op.content, step) : RemoteWrite(op.path, op.content, step);
    case Kind::MakeFolder:
        return op.local ? LocalMakeFolder(op, step) : RemoteMakeFolder(op, step);
    case Kind::Move:
        if (op.local)
            return LocalMove(op.path, op.path2);
        return [&] {
            const QString refused = second_->Move(op.path, op.path2);
            return refused.isEmpty() ? QStringLiteral("done") : QStringLiteral("refused: ") + refused;
        }();
    case Kind::Delete:
        return op.local ? LocalDelete(op.path) : RemoteDelete(op.path);
    case Kind::WriteBoth:
        return QStringLiteral("here ") + LocalWrite(op.path, op.content, step) + QStringLiteral(", there ") +
               RemoteWrite(op.path, op.content2, step);
    case Kind::DeleteVsEdit:
        return QStringLiteral("here ") + LocalDelete(op.path) + QStringLiteral(", there ") +
               RemoteWrite(op.path, op.content2, step);
    case Kind::Fault:
        service_.Faults().SetNext(op.method, op.fault);
        return QStringLiteral("set");
    case Kind::PushSilent:
    case Kind::PushBack:
        SetPushSilent(op.kind == Kind::PushSilent);
        return QStringLiteral("set");
    case Kind::Restart:
        StopEngine();
        StartEngine();
        return QStringLiteral("done");
    case Kind::RestartProgram:
        RestartProgram();
        return QStringLiteral("done");
    case Kind::RestartDuring:
        return RestartDuring(op.method);
    case Kind::Pause: {
        // In slices, so that the log's buffer never overflows.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(op.pauseMs);
        while (std::chrono::steady_clock::now() < until) {
            log_ += TakeLog();
            std::this_thread::sleep_for(20ms);
        }
        return QStringLiteral("done");
    }
    case Kind::Settle:
        return WaitQuiet(kSettleLimit) ? QStringLiteral("quiet") : QStringLiteral("still busy: ") + Unquiet();
    case Kind::HoldInUse:
        return HoldInUse(op.path, step + op.holdSteps);
    case Kind::OddNameThere:
        return RemoteOddName(op);
    }
    return QString();
}

void ConvergenceFixture::RunSeed(std::uint64_t seed)
{
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    SeedScript script(seed);
    for (int step = 1; step <= script.Steps(); ++step) {
        const Operation op = script.Next(step);
        const std::optional<Operation> extra = script.Extra(step, op);
        const QString line = QStringLiteral("#%1 ").arg(step) + op.Describe();
        const QString result = Apply(op, step);
        Trace(line + QStringLiteral(": ") + result);
        ASSERT_FALSE(HasFatalFailure()) << Report(QStringLiteral("seed %1").arg(seed),
                                                  {QStringLiteral("the engine did not start again")});
        ReleaseHeld(step);
        if (extra)
            Trace(QStringLiteral("#%1+ ").arg(step) + extra->Describe() + QStringLiteral(": ") + Apply(*extra, step));
    }
    ReleaseHeld(-1);
    SettleAndCheck(QStringLiteral("seed %1").arg(seed));
}

void ConvergenceFixture::SettleAndCheck(const QString& run)
{
    service_.Faults().ClearAll();
    second_->Notify();
    Trace(QStringLiteral("faults off; waiting until quiet"));
    const std::size_t callsBefore = WorkCalls();
    if (!WaitQuiet(kFinalLimit)) {
        const QString calls = QStringLiteral("; %1 calls of work to the service meanwhile").arg(WorkCalls() - callsBefore);
        ADD_FAILURE() << Report(run, {QStringLiteral("quiet: the engine never came to rest: ") + Unquiet() + calls});
        return;
    }
    const QStringList failures = Check();
    if (!failures.isEmpty())
        ADD_FAILURE() << Report(run, failures);
}

// ---- Checks ---------------------------------------------------------------------------------

QStringList ConvergenceFixture::Check()
{
    QStringList failures;
    const TreeSnapshot local = LocalTree();
    TreeSnapshot remote = ServiceTree();
    for (const QString& leftOut : remote.LeaveOutUnrepresentable()) {
        Trace(QStringLiteral("left out: ") + leftOut);
        std::printf("left out: %s\n", leftOut.toUtf8().constData());
    }
    std::fflush(stdout);
    for (const QString& difference : local.Differences(remote, QStringLiteral("here"), QStringLiteral("the service")))
        failures << QStringLiteral("1 same tree: ") + difference;
    for (const QString& lost : ledger_.Lost(local.Contents()))
        failures << QStringLiteral("2 nothing lost: missing here: ") + lost;
    for (const QString& lost : ledger_.Lost(remote.Contents()))
        failures << QStringLiteral("2 nothing lost: missing on the service: ") + lost;
    failures << CheckRows() << CheckCacheFolder() << CheckDuplicates() << CheckRecords();
    return failures;
}

QStringList ConvergenceFixture::CheckRows()
{
    QStringList failures;
    // A download ends at its own status (8) without a commit.
    for (const QString& row : Rows(QStringLiteral("select path, action, status, err_count from sync_request where "
                                                  "commit_time is null and status in ") +
                                   OpenWork::Statuses + QStringLiteral(" order by rowid")))
        failures << QStringLiteral("3 no open row: ") + row;
    return failures;
}

QStringList ConvergenceFixture::CheckCacheFolder()
{
    QStringList failures;
    const QString cache = root_ + QLatin1Char('/') + CacheFolderName;
    QDirIterator it(cache, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() != QLatin1String(".mounted") || QFileInfo(path).path() != cache)
            failures << QStringLiteral("3 cache folder holds only its marker: ") + path.mid(root_.size());
    }
    return failures;
}

QStringList ConvergenceFixture::CheckDuplicates()
{
    QStringList failures;
    for (const QString& table : {QStringLiteral("vfs_sync_file"), QStringLiteral("vfs_sync_folder")}) {
        for (const QString& row :
             Rows(QStringLiteral("select path, count(*) from ") + table + QStringLiteral(" group by path having count(*)>1")))
            failures << QStringLiteral("3 one record per path: ") + table + QStringLiteral(": ") + row;
    }
    for (const QString& row : Rows(QStringLiteral(
             "select path from vfs_sync_file where path in (select path from vfs_sync_folder)")))
        failures << QStringLiteral("3 one record per path: both a file and a folder record: ") + row;
    return failures;
}

QStringList ConvergenceFixture::CheckRecords()
{
    QStringList failures;
    for (const QString& row : Rows(QStringLiteral("select path, size, mtime from vfs_sync_file order by path"))) {
        const QStringList columns = row.split(QLatin1Char('|'));
        const QString path = ServicePathOf(columns.value(0));
        const QFileInfo info(Full(path));
        if (!info.isFile()) {
            failures << QStringLiteral("4 store agrees with disk: a file record without its file: ") + path;
            continue;
        }
        const QString facts = QStringLiteral("%1|%2").arg(info.size()).arg(info.lastModified().toSecsSinceEpoch());
        if (facts != columns.value(1) + QLatin1Char('|') + columns.value(2))
            failures << QStringLiteral("4 store agrees with disk: ") + path + QStringLiteral(": record size|mtime ") +
                            columns.value(1) + QLatin1Char('|') + columns.value(2) + QStringLiteral(", disk ") + facts;
    }
    for (const QString& row : Rows(QStringLiteral("select path from vfs_sync_folder order by path"))) {
        if (row == QLatin1String("\\"))
            continue;
        if (!QFileInfo(Full(ServicePathOf(row))).isDir())
            failures << QStringLiteral("4 store agrees with disk: a folder record without its folder: ") +
                            ServicePathOf(row);
    }
    // And the other way: every item on disk has its record.
    const TreeSnapshot local = LocalTree();
    for (const auto& [path, entry] : local.Entries()) {
        const QString table = entry.folder ? QStringLiteral("vfs_sync_folder") : QStringLiteral("vfs_sync_file");
        if (Rows(QStringLiteral("select 1 from ") + table + QStringLiteral(" where path=") +
                 PeltaRec::Literal(Relative(path)))
                .isEmpty())
            failures << QStringLiteral("4 store agrees with disk: no record for ") + path;
    }
    return failures;
}

std::string ConvergenceFixture::Report(const QString& run, const QStringList& failures)
{
    log_ += TakeLog();
    QString fileName = run;
    fileName.replace(QLatin1Char(' '), QLatin1Char('-'));
    const QString logPath = QDir::temp().filePath(QStringLiteral("convergence-") + fileName + QStringLiteral(".log"));
    QFile file(logPath);
    if (file.open(QIODevice::WriteOnly))
        file.write(log_.toUtf8());
    QString text = run + QStringLiteral(" failed\n");
    for (const QString& failure : failures)
        text += QStringLiteral("  ") + failure + QLatin1Char('\n');
    text += QStringLiteral("operations:\n");
    for (const QString& line : trace_)
        text += QStringLiteral("  ") + line + QLatin1Char('\n');
    text += QStringLiteral("here:\n");
    const TreeSnapshot local = LocalTree();
    for (const auto& [path, entry] : local.Entries())
        text += QStringLiteral("  ") + path + (entry.folder ? QStringLiteral("/") : QStringLiteral(" ") + QString::fromUtf8(entry.content.left(30)).replace(QLatin1Char('\n'), QLatin1Char(' '))) + QLatin1Char('\n');
    text += QStringLiteral("on the service:\n");
    const TreeSnapshot remote = ServiceTree();
    for (const auto& [path, entry] : remote.Entries())
        text += QStringLiteral("  ") + path + (entry.folder ? QStringLiteral("/") : QStringLiteral(" ") + QString::fromUtf8(entry.content.left(30)).replace(QLatin1Char('\n'), QLatin1Char(' '))) + QLatin1Char('\n');
    text += QStringLiteral("the engine's log: ") + logPath + QLatin1Char('\n');
    return text.toStdString();
}
