#include "foundation/log/PeltaLog.h"

#include <QTime>

#include <unistd.h>

#include <utility>

PeltaLog AppLog;

namespace {

constexpr int FlushCheckEvery = 100;
constexpr int FlushAfterWrites = 1000;
constexpr auto FlushAfterTime = std::chrono::seconds(60);

}  // namespace

PeltaLog::PeltaLog(Event& signal, std::atomic<int>& mask) : signal_(signal), mask_(mask) {}

PeltaLog::~PeltaLog()
{
    enabled_ = false;
    {
        std::lock_guard lock(bufferLock_);
        buffer_.clear();
    }
    std::lock_guard lock(fileLock_);
    if (file_)
        ForceToDiskLocked();
}

void PeltaLog::Write(const QString& text, int level) noexcept
{
    if (text.isEmpty() || !enabled_)
        return;
    try {
        const QString stamp = QTime::currentTime().toString(QStringLiteral("HHmmss"));
        WriteFileLine(stamp, text, level);
        if ((level & mask_.load(std::memory_order_relaxed)) != 0)
            WriteBufferLine(stamp, text);
    } catch (...) {
        // A line that cannot be formatted (out of memory) is lost; the
        // caller never sees the log fail.
    }
}

void PeltaLog::WriteFileLine(const QString& stamp, const QString& text, int level)
{
    std::lock_guard lock(fileLock_);
    if (!file_)
        return;
    QByteArray line = (stamp + QLatin1Char(':') + QString::number(level) + QLatin1Char(':') + text
                       + QLatin1Char('\n'))
                          .toUtf8();
    line.replace("\n", "\r\n");
    file_->write(line);
    FlushRuleLocked();
}

void PeltaLog::FlushRuleLocked()
{
    ++writes_;
    if (writes_ % FlushCheckEvery == 0) {
        if (SteadyClock::now() - lastFlush_ > FlushAfterTime)
            ForceToDiskLocked();
        return;
    }
    if (writes_ > FlushAfterWrites)
        ForceToDiskLocked();
}

void PeltaLog::ForceToDiskLocked()
{
    file_->flush();
    ::fsync(file_->handle());
    lastFlush_ = SteadyClock::now();
    writes_ = 0;
}

void PeltaLog::WriteBufferLine(const QString& stamp, const QString& text)
{
    const QByteArray line = (stamp + QLatin1Char(' ') + text + QLatin1Char('\n')).toUtf8();
    std::lock_guard lock(bufferLock_);
    buffer_.append(line);
    TrimBufferLocked();
    signal_.Set();
}

void PeltaLog::TrimBufferLocked()
{
    if (buffer_.size() <= BufferLimitBytes)
        return;
    // Cut after the line end that leaves at most BufferKeepBytes, but never
    // drop the newest line.
    const qsizetype excess = buffer_.size() - BufferKeepBytes;
    qsizetype cut = buffer_.indexOf('\n', excess - 1);
    if (cut < 0 || cut + 1 >= buffer_.size())
        cut = buffer_.lastIndexOf('\n', buffer_.size() - 2);
    if (cut >= 0)
        buffer_.remove(0, cut + 1);
}

bool PeltaLog::OpenFile(const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    const auto mode = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered;
    if (!file->open(mode, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    std::lock_guard lock(fileLock_);
    if (file_)
        ForceToDiskLocked();
    file_ = std::move(file);
    lastFlush_ = SteadyClock::now();
    writes_ = 0;
    return true;
}

QString PeltaLog::TakeBuffer()
{
    QByteArray taken;
    {
        std::lock_guard lock(bufferLock_);
        if (!enabled_)
            return {};
        taken.swap(buffer_);
    }
    return QString::fromUtf8(taken);
}

int PeltaLog::BufferSize() const
{
    std::lock_guard lock(bufferLock_);
    return static_cast<int>(buffer_.size());
}

void PeltaLog::SignalIfPending()
{
    if (!enabled_ || BufferSize() == 0)
        return;
    signal_.Set();
}

QString PeltaLog::DebugFileName(const QString& folder, const QDateTime& startTime)
{
    return QStringLiteral("%1/debug_%2_d.log").arg(folder, startTime.toString(QStringLiteral("yyyyMMddHHmm")));
}
