// The directory monitor and the event merging thread on real folders in a
// temporary folder of their own:
//  (a) latency from closing a small written file to its event leaving the
//      merging thread (which holds each event back 2000 ms for merging),
//      20 files one after another;
//  (c) a tree of 10,000 folders: watches, memory and start-up time of the
//      monitor, five starts.
// Each figure is printed as min / median / max.

#include "foundation/ProcessState.h"
#include "sync/monitor/PeltaDirectoryMonitorThread.h"
#include "sync/threads/PeltaSyncPreThread.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

constexpr int LatencyFiles = 20;
constexpr int TopFolders = 100;
constexpr int SubFoldersEach = 99;  // 100 + 100 x 99 = 10,000 folders
constexpr int TreeStarts = 5;

void PrintSpread(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    const double median = values.size() % 2 ? values[values.size() / 2]
                                            : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    std::printf("  %-44s min %9.1f  median %9.1f  max %9.1f %s  (n=%zu)\n", what, values.front(), median,
                values.back(), unit, values.size());
}

// Resident memory of this process in KiB.
long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Kernel memory of inotify watch marks in KiB, when the slab table is readable.
long WatchMarkSlabKiB()
{
    QFile slabs(QStringLiteral("/proc/slabinfo"));
    if (!slabs.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : slabs.readAll().split('\n')) {
        if (!line.startsWith("inotify_inode_mark"))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3)
            return fields[1].toLong() * fields[3].toLong() / 1024;  // active objects x object size
    }
    return -1;
}

bool WaitForFinal(const QString& path, std::chrono::seconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (evtFSFinalQueue.Wait(5) == Event::WaitResult::Signalled) {
            evtFSFinalQueue.Reset();
            std::lock_guard lock(csFSFinalQueue);
            while (auto item = FSFinalQueue.Pop()) {
                if (item->path == path)
                    return true;
            }
        }
    }
    return false;
}

void WriteSmallFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char text[] = "a small file of a few bytes\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, text, sizeof text - 1);
    ::close(fd);
}

bool WaitWatching(const PeltaDirectoryMonitorThread& monitor, const QString& root)
{
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (monitor.WatchedFolder() != root) {
        if (Clock::now() > deadline || !monitor.Running())
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

int MeasureLatency(const QString& root)
{
    std::printf("(a) closed file -> event out of the merging thread (hold %lld ms)\n",
                static_cast<long long>(PeltaSyncPreThread::DefaultHold.count()));
    PeltaSyncPreThread syncPre([root](const QString& path) { return root + QString(path).replace('\\', '/'); });
    PeltaDirectoryMonitorThread monitor(root);
    syncPre.Start();
    monitor.Start();
    if (!WaitWatching(monitor, root)) {
        std::printf("  the monitor did not start\n");
        return 1;
    }
    std::vector<double> latencies;
    for (int i = 0; i < LatencyFiles; ++i) {
        const QString name = QStringLiteral("file-%1.txt").arg(i);
        WriteSmallFile((root + QStringLiteral("/") + name).toUtf8());
        const auto closed = Clock::now();
        if (!WaitForFinal(QStringLiteral("\\") + name, std::chrono::seconds(30))) {
            std::printf("  no event for %s\n", qPrintable(name));
            return 1;
        }
        latencies.push_back(Millis(Clock::now() - closed).count());
    }
    PrintSpread("latency", latencies, "ms");
    std::vector<double> beyondHold;
    for (const double latency : latencies)
        beyondHold.push_back(latency - static_cast<double>(PeltaSyncPreThread::DefaultHold.count()));
    PrintSpread("latency beyond the hold", beyondHold, "ms");
    return 0;
}

bool MakeTree(const QString& root)
{
    for (int top = 0; top < TopFolders; ++top) {
        const QByteArray topPath = (root + QStringLiteral("/d%1").arg(top)).toUtf8();
        if (::mkdir(topPath.constData(), 0755) != 0)
            return false;
        for (int sub = 0; sub < SubFoldersEach; ++sub) {
            const QByteArray subPath = topPath + "/s" + QByteArray::number(sub);
            if (::mkdir(subPath.constData(), 0755) != 0)
                return false;
        }
    }
    return true;
}

int MeasureTree(const QString& root)
{
    std::printf("(c) tree of %d folders below the sync folder\n", TopFolders * (SubFoldersEach + 1));
    if (!MakeTree(root)) {
        std::printf("  cannot build the tree\n");
        return 1;
    }
    std::vector<double> startMs;
    std::vector<double> watches;
    std::vector<double> residentKiB;
    std::vector<double> kernelKiB;
    for (int run = 0; run < TreeStarts; ++run) {
        const long residentBefore = ResidentKiB();
        const long slabBefore = WatchMarkSlabKiB();
        PeltaDirectoryMonitorThread monitor(root);
        const auto started = Clock::now();
        monitor.Start();
        if (!WaitWatching(monitor, root)) {
            std::printf("  the monitor did not start\n");
            return 1;
        }
        startMs.push_back(Millis(Clock::now() - started).count());
        watches.push_back(monitor.WatchCount());
        residentKiB.push_back(static_cast<double>(ResidentKiB() - residentBefore));
        const long slabAfter = WatchMarkSlabKiB();
        if (slabBefore >= 0 && slabAfter >= 0)
            kernelKiB.push_back(static_cast<double>(slabAfter - slabBefore));
        monitor.StopAndJoin();
    }
    PrintSpread("start-up (thread start to every folder watched)", startMs, "ms");
    PrintSpread("inotify watches", watches, "");
    PrintSpread("resident memory added", residentKiB, "KiB");
    if (kernelKiB.empty())
        std::printf("  kernel watch marks: /proc/slabinfo not readable\n");
    else
        PrintSpread("kernel inotify watch marks added", kernelKiB, "KiB");
    std::printf("  system limit of watches per user: %d\n", InotifyWatcher::SystemWatchLimit());
    return 0;
}

}  // namespace

int main()
{
    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    const QString latencyRoot = temp.path() + QStringLiteral("/latency");
    const QString treeRoot = temp.path() + QStringLiteral("/tree");
    QDir().mkpath(latencyRoot);
    QDir().mkpath(treeRoot);
    InitProcessState();
    if (MeasureLatency(latencyRoot) != 0)
        return 1;
    return MeasureTree(treeRoot);
}
