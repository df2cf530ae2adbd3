#pragma once

// The one log of the process. Every thread writes lines tagged with a
// category bit. Lines whose category is on in the mask go to an in-memory
// buffer that the log thread moves into the log window; when the debug log
// file is open, every line, whatever its category, also goes to the file.

#include "foundation/ProcessState.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

// The category bits of PeltaLog::Write's level; callers use one bit each.
enum LogCategory : int {
    LogGeneral = 0x2,
    LogSync = 0x4,
    LogDebug = 0x8,
    LogIcon = 0x10,
    LogHTTP = 0x20,
    LogDB = 0x40,
    LogMonitor = 0x80,
    LogAPE = 0x100,
    LogQueue = 0x200,
    LogEvent = 0x800,
};

class PeltaLog {
public:
    // Above this many bytes the buffer drops its oldest whole lines until at
    // most BufferKeepBytes remain (the newest line is always kept whole).
    // Outside debug mode nothing drains the buffer, so it must stay bounded.
    static constexpr qsizetype BufferLimitBytes = 1024 * 1024;
    static constexpr qsizetype BufferKeepBytes = BufferLimitBytes * 3 / 4;

    // Stores the two references only, so the process log can be a global
    // object: `signal` is set for every buffered line, `mask` selects the
    // categories that reach the buffer.
    explicit PeltaLog(Event& signal = evtLog, std::atomic<int>& mask = LogMask);
    ~PeltaLog();

    PeltaLog(const PeltaLog&) = delete;
    PeltaLog& operator=(const PeltaLog&) = delete;

    // Adds one line: "HHmmss:<level>:<text>" to the file when it is open (every
    // line feed written as CR LF), then "HHmmss <text>" to the buffer when
    // level & mask is non-zero. An empty text writes nothing. Never throws;
    // a failed file write loses the line for the file only.
    void Write(const QString& text, int level) noexcept;

    // Opens the debug log file, appending to it when it exists and creating
    // it otherwise. False when that fails; the log then goes on without a
    // file (or with the file it had).
    bool OpenFile(const QString& path);

    // The whole buffered text, the buffer emptied. Used by the log thread.
    QString TakeBuffer();

    // The number of UTF-8 bytes in the buffer.
    int BufferSize() const;

    // Signals the event when the buffer holds at least one byte.
    void SignalIfPending();

    // "<folder>/debug_<yyyyMMddHHmm>_d.log" for the local start time.
    static QString DebugFileName(const QString& folder, const QDateTime& startTime);

private:
    void WriteFileLine(const QString& stamp, const QString& text, int level);
    void WriteBufferLine(const QString& stamp, const QString& text);
    void FlushRuleLocked();
    void ForceToDiskLocked();
    void TrimBufferLocked();

    Event& signal_;
    std::atomic<int>& mask_;
    std::atomic<bool> enabled_{true};

    mutable std::mutex bufferLock_;
    QByteArray buffer_;  // UTF-8

    std::mutex fileLock_;
    std::unique_ptr<QFile> file_;  // the debug log file, when open
    SteadyTime lastFlush_{};       // last forced to disk (or opened)
    int writes_ = 0;               // file writes since the last forced flush
};

// The process log: lives from load to unload.
extern PeltaLog AppLog;
