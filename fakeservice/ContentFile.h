#pragma once

// Bytes that the fake's contents share (see FakeContent): held in memory
// while they are few, and in an unnamed file once they grow, so that large
// uploads cost no process memory (whose fresh pages are far dearer than the
// file cache's). The file is made with O_TMPFILE in the system's temporary
// folder (TMPDIR), or named and unlinked at once where that is not
// supported; it has no name, so nothing is left behind when the process
// ends, however it ends, and a file dropped soon seldom reaches the disk.
// When no file can be made or written, the bytes stay in memory.
//
// Bytes are only ever added at the end and never changed, so a content that
// uses the first n bytes reads the same bytes whatever others append later.
// Safe to use from any thread.

#include <QByteArray>

#include <mutex>

class ContentFile {
public:
    // Bytes beyond this many go to a file.
    static constexpr qint64 MemoryLimit = qint64(64) << 10;

    ContentFile() = default;
    ~ContentFile();

    ContentFile(const ContentFile&) = delete;
    ContentFile& operator=(const ContentFile&) = delete;

    // Appends when the file holds exactly `at` bytes; false when others have
    // appended since.
    bool AppendAt(qint64 at, const char* data, qint64 length);

    // Copies length bytes from offset into data; they must have been
    // appended. False when the file could not be read.
    bool Read(qint64 offset, char* data, qint64 length) const;

private:
    // Moves the bytes in memory and the new ones to a new file; false (and
    // no file) when that failed.
    bool MoveToFile(const char* data, qint64 length);
    static int CreateFile();
    static bool WriteAt(int fd, qint64 offset, const char* data, qint64 length);

    mutable std::mutex mutex_;
    QByteArray memory_;
    int fd_ = -1;  // set once, by MoveToFile
    qint64 length_ = 0;
};
