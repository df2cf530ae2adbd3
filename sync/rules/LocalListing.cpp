#include "sync/rules/LocalListing.h"

#include "foundation/log/PeltaLog.h"
#include "sync/rules/FileKind.h"
#include "sync/rules/PathGuard.h"

#include <QByteArray>

#include <cerrno>
#include <memory>
#include <mutex>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex faultMutex;
LocalListing::Fault fault;

int FaultFor(const QString& full)
{
    LocalListing::Fault test;
    {
        std::lock_guard lock(faultMutex);
        test = fault;
    }
    return test ? test(full) : 0;
}

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

void Log(const QString& where, const QString& text, const QString& path)
{
    AppLog.Write(where + QLatin1Char(':') + text + QLatin1Char(':') + path, LogGeneral);
}

// A second descriptor of the folder for readdir, which takes it over.
Dir OpenStream(int folderFd, int& error)
{
    const int copy = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        error = errno;
        return Dir();
    }
    Dir dir(::fdopendir(copy));
    if (!dir) {
        error = errno;
        ::close(copy);
    }
    return dir;
}

}  // namespace

LocalListing LocalListing::Read(const QString& root, const QString& full, const QString& where)
{
    LocalListing listing;
    const int injected = FaultFor(full);
    int error = injected;
    FileDescriptor folder;
    if (injected == 0)
        folder = LocalItem::OpenFolder(root, full, error);
    if (!folder.IsOpen()) {
        listing.error_ = error;
        // Gone only when nothing at all is there: a link or a file in the
        // folder's place cannot be listed, but it is not nothing.
        if ((error == ENOENT || error == ENOTDIR) && injected == 0 &&
            LocalItem::Stat(root, full).kind == LocalKind::Missing)
            listing.outcome_ = Outcome::Missing;
        return listing;
    }
    const LocalFacts facts = LocalItem::FactsOf(folder.Get());
    if (facts.kind != LocalKind::Folder) {
        listing.error_ = facts.kind == LocalKind::Unknown ? facts.error : ENOTDIR;
        return listing;
    }
    listing.folderMtime_ = facts.mtime;
    listing.ReadEntries(folder.Get(), full, where);
    return listing;
}

void LocalListing::ReadEntries(int folderFd, const QString& full, const QString& where)
{
    int error = 0;
    const Dir dir = OpenStream(folderFd, error);
    if (!dir) {
        error_ = error;
        return;
    }
    const QString prefix = full.endsWith(QLatin1Char('/')) ? full : full + QLatin1Char('/');
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                error_ = errno;
                return;
            }
            break;
        }
        const QByteArray bytes(entry->d_name);
        if (bytes == "." || bytes == "..")
            continue;
        const QString reason = PathGuard::CheckDiskName(bytes);
        if (!reason.isEmpty()) {
            PathGuard::LogRefused(where, prefix + QString::fromUtf8(bytes), reason);
            continue;
        }
        const QString name = QString::fromUtf8(bytes);
        present_.insert(name);
        struct statx info {};
        if (::statx(folderFd, entry->d_name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MTIME | STATX_SIZE, &info) != 0) {
            Log(where, QStringLiteral("cannot look at ") + LocalItem::ErrorText(errno), prefix + name);
            unreadable_.append(name);
            continue;
        }
        LocalEntry item;
        item.name = name;
        item.mtime = info.stx_mtime.tv_sec;
        if (S_ISREG(info.stx_mode)) {
            item.kind = LocalKind::File;
            item.size = static_cast<std::int64_t>(info.stx_size);
        } else if (S_ISDIR(info.stx_mode)) {
            item.kind = LocalKind::Folder;
        } else {
            Log(where, QStringLiteral("skipped ") + FileKind::Name(info.stx_mode), prefix + name);
            continue;
        }
        items_.push_back(std::move(item));
    }
    outcome_ = Outcome::Complete;
}

bool LocalListing::HasEntries(const QString& folder, const QString& except, int& error)
{
    FileDescriptor opened(::open(folder.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened.IsOpen()) {
        error = errno;
        return false;
    }
    const Dir dir = OpenStream(opened.Get(), error);
    if (!dir)
        return false;
    const QByteArray skipped = except.toUtf8();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
            error = errno;
            return false;
        }
        const QByteArray name(entry->d_name);
        if (name != "." && name != ".." && name != skipped)
            return true;
    }
}

void LocalListing::Override(Fault test)
{
    std::lock_guard lock(faultMutex);
    fault = std::move(test);
}
