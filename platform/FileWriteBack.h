#pragma once

#include <QFile>

#include <cstdint>
#include <functional>

// Sends a file that is written front to back out to disk while it is still
// being written. Each finished window is handed to the disk at once, and the
// writer waits only for data more than Lag behind its position, so the disk
// works alongside the network, the data waiting in memory stays bounded and
// the final flush finds less left to do.
class FileWriteBack {
public:
    static constexpr std::int64_t Window = std::int64_t(8) << 20;
    static constexpr std::int64_t Lag = std::int64_t(64) << 20;

    // Hands a range of the file to the disk, with the arguments of
    // sync_file_range. SyncRange makes that call; tests watch instead.
    using RangeSync = std::function<void(int fd, std::int64_t offset, std::int64_t length, unsigned flags)>;

    // The file is written from `from` on.
    explicit FileWriteBack(std::int64_t from = 0, RangeSync sync = SyncRange);

    // Called after each write: once a window is complete the file's buffer
    // is flushed and the window goes out. Failures here only cost speed; the
    // final FlushToDisk reports them.
    void Wrote(QFile& file);

    // Writes the file's buffer and waits until its data is on the disk.
    static bool FlushToDisk(QFile& file);

    static void SyncRange(int fd, std::int64_t offset, std::int64_t length, unsigned flags);

private:
    RangeSync sync_;
    std::int64_t sent_;    // data before this has been handed to the disk
    std::int64_t waited_;  // data before this is on the disk
};
