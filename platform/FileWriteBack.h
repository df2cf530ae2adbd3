#pragma once

#include <QFile>

#include <cstdint>

// Sends a file that is written front to back out to disk while it is still
// being written. Each finished window is handed to the disk at once, and the
// writer waits only for data more than Lag behind its position, so the disk
// works alongside the network, the data waiting in memory stays bounded and
// the final flush finds less left to do.
class FileWriteBack {
public:
    static constexpr std::int64_t Window = std::int64_t(8) << 20;
    static constexpr std::int64_t Lag = std::int64_t(64) << 20;

    // The file is written from `from` on.
    explicit FileWriteBack(std::int64_t from = 0);

    // Called after each write: once a window is complete the file's buffer
    // is flushed and the window goes out. Failures here only cost speed; the
    // final FlushToDisk reports them.
    void Wrote(QFile& file);

    // Writes the file's buffer and waits until its data is on the disk.
    static bool FlushToDisk(QFile& file);

private:
    std::int64_t sent_;    // data before this has been handed to the disk
    std::int64_t waited_;  // data before this is on the disk
};
