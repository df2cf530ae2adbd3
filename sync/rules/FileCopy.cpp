#include "sync/rules/FileCopy.h"

#include "sync/rules/LocalItem.h"

#include <cerrno>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kBlock = 1024 * 1024;

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

int CopyByReading(int from, int to)
{
    std::vector<char> block(256 * 1024);
    for (;;) {
        const ssize_t got = ::read(from, block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        if (!WriteAll(to, block.data(), static_cast<std::size_t>(got)))
            return errno;
    }
}

}  // namespace

QString FileCopy::TemporaryOf(const QString& destination)
{
    return destination + QStringLiteral(".partial");
}

int FileCopy::Content(int from, int to)
{
    // The kernel copies without passing the bytes through this process.
    bool copiedAny = false;
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, kBlock, 0);
        if (copied > 0) {
            copiedAny = true;
            continue;
        }
        if (copied == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (!copiedAny && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            return CopyByReading(from, to);
        return errno;
    }
}

bool FileCopy::ToTemporary(const QString& root, const QString& source, const QString& temporary, std::int64_t& size,
                           std::int64_t& mtime, int& error)
{
    const FileDescriptor from = LocalItem::OpenFile(root, source, error);
    if (!from.IsOpen())
        return false;
    const LocalFacts facts = LocalItem::FactsOf(from.Get());
    if (facts.kind != LocalKind::File) {
        error = facts.kind == LocalKind::Unknown ? facts.error : EINVAL;
        return false;
    }
    int ignored = 0;
    LocalItem::RemoveFile(root, temporary, ignored);  // left over from an interrupted copy
    FileDescriptor to = LocalItem::CreateFile(root, temporary, error);
    if (!to.IsOpen())
        return false;
    error = Content(from.Get(), to.Get());
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(facts.mtime), 0}};
    if (error == 0 && ::futimens(to.Get(), times) != 0)
        error = errno;
    if (error == 0 && ::fsync(to.Get()) != 0)
        error = errno;
    if (error == 0) {
        const LocalFacts copy = LocalItem::FactsOf(to.Get());
        size = copy.size;
        mtime = copy.mtime;
    }
    to.Reset();
    if (error != 0) {
        LocalItem::RemoveFile(root, temporary, ignored);
        return false;
    }
    return true;
}

bool FileCopy::Replacing(const QString& root, const QString& source, const QString& destination,
                         std::int64_t& size, std::int64_t& mtime, int& error)
{
    const QString temporary = TemporaryOf(destination);
    if (!ToTemporary(root, source, temporary, size, mtime, error))
        return false;
    int ignored = 0;
    if (!LocalItem::Rename(root, temporary, destination, error)) {
        LocalItem::RemoveFile(root, temporary, ignored);
        return false;
    }
    LocalItem::SyncParent(root, destination, ignored);
    return true;
}

bool FileCopy::NoReplace(const QString& root, const QString& source, const QString& destination, int& error)
{
    const QString temporary = TemporaryOf(destination);
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    if (!ToTemporary(root, source, temporary, size, mtime, error))
        return false;
    int ignored = 0;
    if (!LocalItem::RenameNoReplace(root, temporary, destination, error)) {
        LocalItem::RemoveFile(root, temporary, ignored);
        return false;
    }
    LocalItem::SyncParent(root, destination, ignored);
    return true;
}
