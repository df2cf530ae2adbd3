#include "fakeservice/ContentFile.h"

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

using Lock = std::lock_guard<std::mutex>;

const std::string& Folder()
{
    static const std::string folder = QDir::tempPath().toStdString();
    return folder;
}

// Repeats a read or write of the bytes from done on until all length of them
// are through; false when one fails or moves nothing.
bool Whole(qint64 length, const std::function<ssize_t(qint64 done)>& step)
{
    for (qint64 done = 0; done < length;) {
        const ssize_t moved = step(done);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0)
            return false;
        done += moved;
    }
    return true;
}

}  // namespace

ContentFile::~ContentFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ContentFile::AppendAt(qint64 at, const char* data, qint64 length)
{
    Lock lock(mutex_);
    if (at != length_)
        return false;
    if (fd_ < 0 && memory_.size() + length > MemoryLimit && MoveToFile(data, length)) {
        length_ += length;
        return true;
    }
    if (fd_ >= 0) {
        if (!WriteAt(fd_, length_, data, length)) {
            std::fprintf(stderr, "fake content: cannot write %lld bytes: %s\n", length, std::strerror(errno));
            return false;
        }
        length_ += length;
        return true;
    }
    memory_.append(data, qsizetype(length));
    length_ += length;
    return true;
}

bool ContentFile::Read(qint64 offset, char* data, qint64 length) const
{
    int fd = -1;
    {
        Lock lock(mutex_);
        if (offset < 0 || offset + length > length_)
            return false;
        if (fd_ < 0) {
            std::memcpy(data, memory_.constData() + offset, std::size_t(length));
            return true;
        }
        fd = fd_;
    }
    return Whole(length, [&](qint64 done) {
        return ::pread(fd, data + done, std::size_t(length - done), off_t(offset + done));
    });
}

bool ContentFile::MoveToFile(const char* data, qint64 length)
{
    const int fd = CreateFile();
    if (fd < 0)
        return false;
    if (!WriteAt(fd, 0, memory_.constData(), memory_.size()) || !WriteAt(fd, memory_.size(), data, length)) {
        std::fprintf(stderr, "fake content: cannot write %lld bytes: %s\n", length_ + length, std::strerror(errno));
        ::close(fd);
        return false;
    }
    fd_ = fd;
    memory_ = QByteArray();
    return true;
}

int ContentFile::CreateFile()
{
    const std::string& folder = Folder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = folder + "/tessaron-fake-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.c_str());
    }
    if (fd < 0)
        std::fprintf(stderr, "fake content: cannot make a file in %s: %s\n", folder.c_str(), std::strerror(errno));
    return fd;
}

bool ContentFile::WriteAt(int fd, qint64 offset, const char* data, qint64 length)
{
    return Whole(length, [&](qint64 done) {
        return ::pwrite(fd, data + done, std::size_t(length - done), off_t(offset + done));
    });
}
