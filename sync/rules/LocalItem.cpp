#include "sync/rules/LocalItem.h"

#include "sync/rules/FileKind.h"
#include "sync/rules/PathGuard.h"

#include <QByteArrayList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_BTIME;

LocalFacts FactsOfStatx(const struct statx& info)
{
    LocalFacts facts;
    const mode_t mode = info.stx_mode;
    if (S_ISREG(mode)) {
        facts.kind = LocalKind::File;
        facts.size = static_cast<std::int64_t>(info.stx_size);
    } else if (S_ISDIR(mode)) {
        facts.kind = LocalKind::Folder;
    } else {
        facts.kind = LocalKind::Other;
        facts.what = FileKind::Name(mode);
        return facts;
    }
    facts.mtime = info.stx_mtime.tv_sec;
    const bool hasBirth = (info.stx_mask & STATX_BTIME) != 0 && info.stx_btime.tv_sec != 0;
    facts.ctime = hasBirth ? info.stx_btime.tv_sec : facts.mtime;
    return facts;
}

LocalFacts Failed(int error)
{
    LocalFacts facts;
    if (error == ENOENT || error == ENOTDIR) {
        facts.kind = LocalKind::Missing;
    } else if (error == ELOOP) {
        facts.kind = LocalKind::Other;
        facts.what = QStringLiteral("below a symbolic link");
    } else {
        facts.kind = LocalKind::Unknown;
        facts.error = error;
    }
    return facts;
}

// full without a trailing "/" (the folder itself may be written with one).
QString Trimmed(const QString& full)
{
    return full.size() > 1 && full.endsWith(QLatin1Char('/')) ? full.chopped(1) : full;
}

// The names of full below root; false for a path outside root or with an
// empty, "." or ".." name.
bool NamesBelow(const QString& root, const QString& full, QByteArrayList& names)
{
    const QString path = Trimmed(full);
    if (!PathGuard::IsInside(root, path))
        return false;
    const QString rest = path.mid(root.size());
    if (rest.isEmpty())
        return true;
    const QByteArrayList parts = rest.mid(1).toUtf8().split('/');
    for (const QByteArray& name : parts) {
        if (name.isEmpty() || name == "." || name == "..")
            return false;
        names.append(name);
    }
    return true;
}

bool IsRoot(const QString& root, const QString& full)
{
    return Trimmed(full) == root;
}

}  // namespace

LocalFacts LocalItem::FactsOf(int fd)
{
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, kStatxMask, &info) != 0)
        return Failed(errno);
    return FactsOfStatx(info);
}

LocalFacts LocalItem::Stat(const QString& root, const QString& full)
{
    struct statx info {};
    if (IsRoot(root, full)) {
        if (::statx(AT_FDCWD, root.toUtf8().constData(), 0, kStatxMask, &info) != 0)
            return Failed(errno);
        return FactsOfStatx(info);
    }
    QByteArray name;
    int error = 0;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return Failed(error);
    if (::statx(parent.Get(), name.constData(), AT_SYMLINK_NOFOLLOW, kStatxMask, &info) != 0)
        return Failed(errno);
    return FactsOfStatx(info);
}

FileDescriptor LocalItem::OpenParent(const QString& root, const QString& full, QByteArray& name, int& error)
{
    QByteArrayList names;
    if (!NamesBelow(root, full, names) || names.isEmpty()) {
        error = EPERM;
        return FileDescriptor();
    }
    FileDescriptor folder(::open(root.toUtf8().constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) {
        error = errno;
        return FileDescriptor();
    }
    name = names.takeLast();
    for (const QByteArray& step : names) {
        FileDescriptor next(::openat(folder.Get(), step.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.IsOpen()) {
            error = errno;
            // A link on the way reads as "not a folder"; tell it apart.
            struct stat info {};
            if (error == ENOTDIR && ::fstatat(folder.Get(), step.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode))
                error = ELOOP;
            return FileDescriptor();
        }
        folder = std::move(next);
    }
    return folder;
}

FileDescriptor LocalItem::OpenFile(const QString& root, const QString& full, int& error)
{
    QByteArray name;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return FileDescriptor();
    // Looked at before it is opened: a FIFO or device is never opened.
    struct stat info {};
    if (::fstatat(parent.Get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
        return FileDescriptor();
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISLNK(info.st_mode) ? ELOOP : (S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        return FileDescriptor();
    }
    FileDescriptor file(::openat(parent.Get(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) {
        error = errno;
        return FileDescriptor();
    }
    // Replaced between the look and the open.
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = EINVAL;
        return FileDescriptor();
    }
    return file;
}

FileDescriptor LocalItem::OpenFolder(const QString& root, const QString& full, int& error)
{
    if (IsRoot(root, full)) {
        FileDescriptor folder(::open(root.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.IsOpen())
            error = errno;
        return folder;
    }
    QByteArray name;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return FileDescriptor();
    FileDescriptor folder(::openat(parent.Get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.IsOpen())
        error = errno;
    return folder;
}

FileDescriptor LocalItem::CreateFile(const QString& root, const QString& full, int& error)
{
    QByteArray name;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return FileDescriptor();
    FileDescriptor file(
        ::openat(parent.Get(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.IsOpen())
        error = errno;
    return file;
}

bool LocalItem::MakeFolder(const QString& root, const QString& full, int& error)
{
    QByteArray name;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return false;
    if (::mkdirat(parent.Get(), name.constData(), 0777) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool LocalItem::RemoveFile(const QString& root, const QString& full, int& error)
{
    QByteArray name;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return false;
    if (::unlinkat(parent.Get(), name.constData(), 0) != 0) {
        error = errno;
        return false;
    }
    return true;
}

namespace {

// The two folders a rename works in, each opened without following a link.
struct RenameEnds {
    QByteArray fromName;
    QByteArray toName;
    FileDescriptor fromParent;
    FileDescriptor toParent;

    bool Open(const QString& root, const QString& from, const QString& to, int& error)
    {
        fromParent = LocalItem::OpenParent(root, from, fromName, error);
        if (!fromParent.IsOpen())
            return false;
        toParent = LocalItem::OpenParent(root, to, toName, error);
        return toParent.IsOpen();
    }
};

}  // namespace

bool LocalItem::Rename(const QString& root, const QString& from, const QString& to, int& error)
{
    RenameEnds ends;
    if (!ends.Open(root, from, to, error))
        return false;
    if (::renameat(ends.fromParent.Get(), ends.fromName.constData(), ends.toParent.Get(), ends.toName.constData()) !=
        0) {
        error = errno;
        return false;
    }
    return true;
}

bool LocalItem::RenameNoReplace(const QString& root, const QString& from, const QString& to, int& error)
{
    RenameEnds ends;
    if (!ends.Open(root, from, to, error))
        return false;
    const int fromDir = ends.fromParent.Get();
    const int toDir = ends.toParent.Get();
    const char* fromName = ends.fromName.constData();
    const char* toName = ends.toName.constData();
    if (::renameat2(fromDir, fromName, toDir, toName, RENAME_NOREPLACE) == 0)
        return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS)
        return false;
    // A file system without the flag: a hard link never replaces anything.
    if (::linkat(fromDir, fromName, toDir, toName, 0) != 0) {
        error = errno;
        return false;
    }
    if (::unlinkat(fromDir, fromName, 0) != 0) {
        error = errno;
        ::unlinkat(toDir, toName, 0);
        return false;
    }
    return true;
}

bool LocalItem::SyncParent(const QString& root, const QString& full, int& error)
{
    QByteArray name;
    const FileDescriptor parent = OpenParent(root, full, name, error);
    if (!parent.IsOpen())
        return false;
    // An O_PATH descriptor cannot be flushed; open the folder itself.
    const FileDescriptor folder(::openat(parent.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen() || ::fsync(folder.Get()) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool LocalItem::SetModificationTime(const QString& root, const QString& full, std::int64_t mtime, int& error)
{
    const FileDescriptor file = OpenFile(root, full, error);
    if (!file.IsOpen())
        return false;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
    if (::futimens(file.Get(), times) != 0) {
        error = errno;
        return false;
    }
    return true;
}

QString LocalItem::ErrorText(int error)
{
    char buffer[256] = {};
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}
