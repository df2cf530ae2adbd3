#include "sync/monitor/InotifyWatcher.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "sync/monitor/MonitorPath.h"
#include "sync/rules/FileKind.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The folder events the monitor asks for on every watched folder.
constexpr std::uint32_t WatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                    IN_EXCL_UNLINK;

// The directory-change action codes the log lines print.
constexpr int ActionAdded = 1;
constexpr int ActionRemoved = 2;
constexpr int ActionModified = 3;
constexpr int ActionOldName = 4;
constexpr int ActionNewName = 5;

const QString RootPath = QStringLiteral("\\");

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

InotifyWatcher::InotifyWatcher(QString root) : InotifyWatcher(std::move(root), Options()) {}

InotifyWatcher::InotifyWatcher(QString root, Options options) : root_(std::move(root)), options_(std::move(options))
{
    const std::size_t least = sizeof(inotify_event) + NAME_MAX + 1;
    const std::size_t bytes = std::max(options_.readBufferBytes, least);
    buffer_.resize((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
}

int InotifyWatcher::SystemWatchLimit()
{
    QFile file(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().trimmed().toInt();
}

// ---- Opening and walking ----------------------------------------------------

bool InotifyWatcher::Open()
{
    fd_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd_.IsValid()) {
        Log(QStringLiteral("Monitor: cannot create the inotify instance: ") + ErrorText(errno));
        return false;
    }
    const UniqueFd rootFd(::open(root_.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd.IsValid()) {
        Log(QStringLiteral("Monitor: cannot open the sync folder ") + root_ + QStringLiteral(": ") +
            ErrorText(errno));
        return false;
    }
    now_ = SteadyClock::now();
    limitLogged_ = false;
    WatchFolder(rootFd.Get(), RootPath, table_, nullptr, 0);
    const auto rootWd = table_.WatchOf(RootPath);
    if (!rootWd) {
        Log(QStringLiteral("Monitor: cannot watch the sync folder ") + root_);
        return false;
    }
    rootWd_ = *rootWd;
    Log(QStringLiteral("Monitor: watching ") + root_ + QStringLiteral(" with ") +
        QString::number(table_.Count()) + QStringLiteral(" watches"));
    return true;
}

void InotifyWatcher::WatchFolder(int dirFd, const QString& path, WatchTable& table,
                                 std::vector<PeltaFSQueue>* into, int depth)
{
    const int wd = AddWatch(dirFd, path);
    if (wd < 0) {
        WatchRefused(path, errno);
    } else if (!table.Add(wd, path)) {
        Log(QStringLiteral("Monitor: folder already watched elsewhere, not listed: ") + path);
        return;
    }
    ListFolder(dirFd, path, table, into, depth);
}

void InotifyWatcher::ListFolder(int dirFd, const QString& path, WatchTable& table,
                                std::vector<PeltaFSQueue>* into, int depth)
{
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (dir == nullptr) {
        Log(QStringLiteral("Monitor: cannot list ") + path + QStringLiteral(": ") + ErrorText(errno));
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0)
                Log(QStringLiteral("Monitor: listing ") + path + QStringLiteral(" failed: ") + ErrorText(errno));
            break;
        }
        const QByteArray bytes(entry->d_name);
        if (bytes == "." || bytes == "..")
            continue;
        QString name;
        QString reason;
        if (!MonitorPath::DecodeName(bytes, name, reason)) {
            Log(QStringLiteral("Monitor: skipped, ") + reason + QStringLiteral(": ") +
                MonitorPath::Join(path, QString::fromUtf8(bytes)));
            continue;
        }
        const QString child = MonitorPath::Join(path, name);
        if (MonitorPath::IsCacheFolder(child))
            continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            Log(QStringLiteral("Monitor: item vanished while listed: ") + child);
            continue;
        }
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            Log(QStringLiteral("Monitor: skipped ") + FileKind::Name(info.st_mode) + QStringLiteral(": ") + child);
            continue;
        }
        if (into != nullptr && !IsOwnChange(child)) {
            Emit(XMOAdded, child, QString(), *into);
            MarkListed(child, now_);
        }
        if (!S_ISDIR(info.st_mode))
            continue;
        if (depth + 1 > MaxDepth) {
            Log(QStringLiteral("Monitor: folder too deep, not watched: ") + child);
            continue;
        }
        const UniqueFd childFd(::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!childFd.IsValid()) {
            Log(QStringLiteral("Monitor: cannot open folder ") + child + QStringLiteral(": ") + ErrorText(errno));
            continue;
        }
        WatchFolder(childFd.Get(), child, table, into, depth + 1);
    }
    ::closedir(dir);
}

int InotifyWatcher::AddWatch(int dirFd, const QString& path)
{
    // Through the open descriptor, so that the watch lands on the folder that
    // was opened without following links, whatever happened to its path.
    const QByteArray viaFd = "/proc/self/fd/" + QByteArray::number(dirFd);
    const auto add = [&](const char* target, std::uint32_t mask) {
        return options_.addWatch ? options_.addWatch(fd_.Get(), target, mask)
                                 : inotify_add_watch(fd_.Get(), target, mask);
    };
    const int wd = add(viaFd.constData(), WatchMask);
    if (wd >= 0 || errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return wd;
    return add(MonitorPath::ToFileSystemBytes(root_, path).constData(), WatchMask | IN_DONT_FOLLOW);
}

void InotifyWatcher::WatchRefused(const QString& path, int error)
{
    if (error != ENOSPC) {
        Log(QStringLiteral("Monitor: cannot watch ") + path + QStringLiteral(": ") + ErrorText(error));
        return;
    }
    if (!limitReachedOnce_)
        limitNoticeDue_ = true;
    limitReachedOnce_ = true;
    watchesShort_ = true;
    rescanWanted_ = true;
    if (limitLogged_)
        return;
    limitLogged_ = true;
    Log(QStringLiteral("Monitor: watch limit reached (limit ") + QString::number(SystemWatchLimit()) +
        QStringLiteral(", in use ") + QString::number(table_.Count()) +
        QStringLiteral("), folders left to periodic rescans, first: ") + path);
}

UniqueFd InotifyWatcher::OpenFolder(const QString& path) const
{
    UniqueFd current(::open(root_.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (!current.IsValid())
            break;
        current.Reset(::openat(current.Get(), part.toUtf8().constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return current;
}

void InotifyWatcher::UnwatchSubtree(const QString& path)
{
    for (const int wd : table_.RemoveSubtree(path))
        inotify_rm_watch(fd_.Get(), wd);
}

InotifyWatcher::ItemType InotifyWatcher::Probe(const QString& path, QString& kindName) const
{
    struct stat info {};
    if (::lstat(MonitorPath::ToFileSystemBytes(root_, path).constData(), &info) != 0)
        return ItemType::Missing;
    if (S_ISREG(info.st_mode))
        return ItemType::File;
    if (S_ISDIR(info.st_mode))
        return ItemType::Folder;
    kindName = FileKind::Name(info.st_mode);
    return ItemType::Other;
}

void InotifyWatcher::Rewatch()
{
    now_ = SteadyClock::now();
    WatchTable fresh;
    const bool wasShort = watchesShort_;
    watchesShort_ = false;
    limitLogged_ = false;
    const UniqueFd rootFd(::open(root_.toUtf8().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.IsValid())
        WatchFolder(rootFd.Get(), RootPath, fresh, nullptr, 0);
    for (const int wd : table_.Watches()) {
        if (!fresh.PathOf(wd))
            inotify_rm_watch(fd_.Get(), wd);
    }
    table_ = std::move(fresh);
    listed_.clear();
    listedOrder_.clear();
    rescanWanted_ = false;  // the one below covers it
    if (wasShort && !watchesShort_)
        Log(QStringLiteral("Monitor: every folder is watched again (") + QString::number(table_.Count()) +
            QStringLiteral(" watches)"));
    QueueRescan();
}

// ---- Reading ----------------------------------------------------------------

bool InotifyWatcher::ReadOnce(SteadyTime now)
{
    if (!fd_.IsValid() || rootGone_)
        return false;
    char* bytes = reinterpret_cast<char*>(buffer_.data());
    const ssize_t got = ::read(fd_.Get(), bytes, buffer_.size() * sizeof(std::uint64_t));
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR)
            Log(QStringLiteral("Monitor: read failed: ") + ErrorText(errno));
        return false;
    }
    if (got == 0)
        return false;
    now_ = now;
    limitLogged_ = false;
    lastThisRead_.clear();
    ExpireListed(now);
    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= got && !rootGone_;) {
        inotify_event header{};
        std::memcpy(&header, bytes + offset, sizeof header);
        const ssize_t next = offset + static_cast<ssize_t>(sizeof header + header.len);
        const int nextOffset = next < got ? static_cast<int>(next) : 0;
        HandleRecord(header, bytes + offset + sizeof header, nextOffset, now);
        offset = next;
    }
    if (rootGone_) {
        slots_.clear();  // the folder is gone; what it reported last is not acted on
        return true;
    }
    if (std::exchange(rewatchWanted_, false)) {
        Rewatch();
    } else if (std::exchange(rescanWanted_, false)) {
        QueueRescan();
    }
    return true;
}

void InotifyWatcher::HandleRecord(const inotify_event& header, const char* name, int nextOffset, SteadyTime now)
{
    if (header.mask & IN_Q_OVERFLOW) {
        OnOverflow();
        return;
    }
    if (header.mask & IN_IGNORED) {
        OnWatchGone(header.wd);
        return;
    }
    const auto folder = table_.PathOf(header.wd);
    if (!folder)
        return;  // a watch already given up
    if (SettleMovedOut(*folder))
        return;
    const QByteArray nameBytes(name, static_cast<qsizetype>(header.len ? ::strnlen(name, header.len) : 0));
    if (nameBytes.isEmpty()) {
        OnSelfEvent(header.wd, header.mask);
        return;
    }
    const Record record = MakeRecord(*folder, nameBytes, (header.mask & IN_ISDIR) != 0);
    if (header.mask & IN_MOVED_FROM) {
        OnMovedFrom(header.cookie, record, nextOffset, now);
        return;
    }
    if (header.mask & IN_MOVED_TO) {
        OnMovedTo(header.cookie, record, nextOffset);
        return;
    }
    if (!record.usable)
        return;
    if (header.mask & IN_CREATE) {
        const bool own = IsOwnChange(record.path);
        if (!own)
            LogRecord(nextOffset, ActionAdded, record.path);
        OnCreated(record, own);
    } else if (header.mask & IN_DELETE) {
        if (IsOwnChange(record.path))
            return;
        LogRecord(nextOffset, ActionRemoved, record.path);
        OnDeleted(record);
    } else if (header.mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB)) {
        const auto last = LastThisRead(record.path);
        if ((last && last->kind == XMOModified) || IsOwnChange(record.path))
            return;
        LogRecord(nextOffset, ActionModified, record.path);
        OnModified(record);
    }
}

InotifyWatcher::Record InotifyWatcher::MakeRecord(const QString& folder, const QByteArray& name, bool isDir)
{
    Record record;
    record.isDir = isDir;
    QString decoded;
    QString reason;
    if (!MonitorPath::DecodeName(name, decoded, reason)) {
        record.path = MonitorPath::Join(folder, QString::fromUtf8(name));
        Log(QStringLiteral("Monitor: skipped, ") + reason + QStringLiteral(": ") + record.path);
        return record;
    }
    record.path = MonitorPath::Join(folder, decoded);
    record.usable = !MonitorPath::IsCacheFolder(record.path);
    return record;
}

void InotifyWatcher::OnSelfEvent(int wd, std::uint32_t mask)
{
    if (wd != rootWd_ || !(mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)))
        return;  // a subfolder's own report; its parent reports the change
    rootGone_ = true;
    Log(QStringLiteral("Monitor: the sync folder was removed, moved or unmounted, monitoring ends: ") + root_);
}

void InotifyWatcher::OnWatchGone(int wd)
{
    table_.Remove(wd);
    if (wd != rootWd_ || rootGone_)
        return;
    rootGone_ = true;
    Log(QStringLiteral("Monitor: the sync folder is no longer watched, monitoring ends: ") + root_);
}

void InotifyWatcher::OnOverflow()
{
    Log(QStringLiteral("Monitor: event queue overflow, events were lost; full rescan"));
    for (Slot& slot : slots_) {
        if (slot.pending)
            SettleGone(slot);
    }
    rewatchWanted_ = true;
}

void InotifyWatcher::OnCreated(const Record& record, bool own)
{
    if (ConsumeListed(record.path))
        return;  // the listing of its new folder reported it already
    const auto last = LastThisRead(record.path);
    Arrived(record.path, record.isDir, Tail(), own);
    if (last && last->kind == XMORemoved && last->isDir != record.isDir) {
        const QString what = last->isDir ? QStringLiteral("folder replaced by a file: ")
                                         : QStringLiteral("file replaced by a folder: ");
        Log(QStringLiteral("Monitor: ") + what + record.path);
    }
}

void InotifyWatcher::OnDeleted(const Record& record)
{
    ConsumeListed(record.path);
    if (record.isDir)
        table_.RemoveSubtree(record.path);  // the kernel drops those watches itself
    Emit(XMORemoved, record.path, QString(), Tail());
    Remember(record.path, XMORemoved, record.isDir);
}

void InotifyWatcher::OnModified(const Record& record)
{
    ConsumeListed(record.path);
    QString kindName;
    if (Probe(record.path, kindName) == ItemType::Other) {
        Log(QStringLiteral("Monitor: skipped ") + kindName + QStringLiteral(": ") + record.path);
        Remember(record.path, XMOModified, false);
        return;
    }
    Emit(XMOModified, record.path, QString(), Tail());
}

void InotifyWatcher::OnMovedFrom(std::uint32_t cookie, const Record& record, int nextOffset, SteadyTime now)
{
    Slot slot;
    slot.pending = true;
    slot.cookie = cookie;
    slot.oldPath = record.path;
    slot.oldUsable = record.usable;
    slot.isDir = record.isDir;
    slot.deadline = now + options_.pairGrace;
    if (record.usable) {
        ConsumeListed(record.path);
        slot.oldOwn = IsOwnChange(record.path);
        if (!slot.oldOwn)
            LogRecord(nextOffset, ActionOldName, record.path);
    }
    slots_.push_back(std::move(slot));
}

void InotifyWatcher::OnMovedTo(std::uint32_t cookie, const Record& record, int nextOffset)
{
    if (record.usable)
        LogRecord(nextOffset, ActionNewName, record.path);
    const auto partner = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& slot) {
        return slot.pending && slot.cookie == cookie;
    });
    if (partner != slots_.end()) {
        SettlePair(*partner, record);
        return;
    }
    if (!record.usable || ConsumeListed(record.path))
        return;
    Arrived(record.path, record.isDir, Tail(), IsOwnChange(record.path));
}

bool InotifyWatcher::SettleMovedOut(const QString& folder)
{
    // The halves of a move are queued together and the moved folder's own
    // reports only after them: a report from inside a folder whose old name
    // still waits means it left the tree.
    for (Slot& slot : slots_) {
        if (slot.pending && slot.isDir && slot.oldUsable && MonitorPath::IsWithin(folder, slot.oldPath)) {
            SettleGone(slot);
            return true;
        }
    }
    return false;
}

void InotifyWatcher::SettlePair(Slot& slot, const Record& arrived)
{
    slot.pending = false;
    if (!slot.oldUsable && !arrived.usable)
        return;
    if (!arrived.usable) {
        SettleGone(slot);  // moved into the cache folder or to a name the system cannot hold
        return;
    }
    if (!slot.oldUsable) {
        Arrived(arrived.path, arrived.isDir, slot.events, IsOwnChange(arrived.path));
        return;
    }
    if (slot.isDir)
        table_.MoveSubtree(slot.oldPath, arrived.path);
    if (slot.oldOwn)
        return;
    QString kindName;
    if (Probe(arrived.path, kindName) == ItemType::Other) {
        Log(QStringLiteral("Monitor: skipped ") + kindName + QStringLiteral(": ") + arrived.path);
        return;
    }
    if (slot.oldPath == arrived.path) {
        Emit(XMOModified, arrived.path, QString(), slot.events);
        return;
    }
    Emit(XMORenameOldName, slot.oldPath, arrived.path, slot.events);
}

void InotifyWatcher::SettleGone(Slot& slot)
{
    slot.pending = false;
    if (!slot.oldUsable)
        return;
    if (slot.isDir)
        UnwatchSubtree(slot.oldPath);  // it still exists elsewhere: stop hearing from it
    if (!slot.oldOwn)
        Emit(XMORemoved, slot.oldPath, QString(), slot.events);
    Remember(slot.oldPath, XMORemoved, slot.isDir);
}

void InotifyWatcher::Arrived(const QString& path, bool isDir, std::vector<PeltaFSQueue>& into, bool own)
{
    QString kindName;
    const ItemType type = Probe(path, kindName);
    if (type == ItemType::Other) {
        Log(QStringLiteral("Monitor: skipped ") + kindName + QStringLiteral(": ") + path);
        return;
    }
    if (!own) {
        Emit(XMOAdded, path, QString(), into);
        Remember(path, XMOAdded, type == ItemType::Missing ? isDir : type == ItemType::Folder);
    }
    if (type != ItemType::Folder)
        return;
    const UniqueFd folderFd = OpenFolder(path);
    if (!folderFd.IsValid()) {
        Log(QStringLiteral("Monitor: new folder vanished before it was watched: ") + path);
        return;
    }
    const int depth = static_cast<int>(path.count(QLatin1Char('\\')));
    if (depth > MaxDepth) {
        Log(QStringLiteral("Monitor: folder too deep, not watched: ") + path);
        return;
    }
    // A folder the engine made itself is watched, but what is in it is its own.
    WatchFolder(folderFd.Get(), path, table_, own ? nullptr : &into, depth);
}

void InotifyWatcher::ReleaseExpired(SteadyTime now)
{
    for (Slot& slot : slots_) {
        if (slot.pending && slot.deadline <= now)
            SettleGone(slot);
    }
}

std::optional<SteadyTime> InotifyWatcher::NextDeadline() const
{
    std::optional<SteadyTime> next;
    for (const Slot& slot : slots_) {
        if (slot.pending && (!next || slot.deadline < *next))
            next = slot.deadline;
    }
    return next;
}

std::vector<PeltaFSQueue> InotifyWatcher::TakeReady()
{
    std::vector<PeltaFSQueue> ready;
    while (!slots_.empty() && !slots_.front().pending) {
        for (PeltaFSQueue& event : slots_.front().events)
            ready.push_back(std::move(event));
        slots_.pop_front();
    }
    return ready;
}

// ---- Events -----------------------------------------------------------------

void InotifyWatcher::Emit(int kind, const QString& path, const QString& path2, std::vector<PeltaFSQueue>& into)
{
    if (kind == XMOAdded)
        AppLog.Write(QStringLiteral("DirMon:Added   :") + path.mid(1), LogMonitor);
    else if (kind == XMOModified)
        AppLog.Write(QStringLiteral("DirMon:Modified:") + path.mid(1), LogMonitor);
    into.emplace_back(kind, path, path2);
    Remember(path, kind, false);
}

void InotifyWatcher::QueueRescan()
{
    Log(QStringLiteral("Monitor: full rescan of \\ queued"));
    Tail().emplace_back(XMOResyncLocal, RootPath);
}

std::vector<PeltaFSQueue>& InotifyWatcher::Tail()
{
    if (slots_.empty() || slots_.back().pending)
        slots_.emplace_back();
    return slots_.back().events;
}

bool InotifyWatcher::IsOwnChange(const QString& path) const
{
    return options_.isOwnChange && options_.isOwnChange(path);
}

void InotifyWatcher::Remember(const QString& path, int kind, bool isDir)
{
    lastThisRead_.insert(path, LastEvent{kind, isDir});
}

std::optional<InotifyWatcher::LastEvent> InotifyWatcher::LastThisRead(const QString& path) const
{
    const auto found = lastThisRead_.constFind(path);
    if (found == lastThisRead_.constEnd())
        return std::nullopt;
    return found.value();
}

// ---- Items reported by a listing ----------------------------------------------

void InotifyWatcher::MarkListed(const QString& path, SteadyTime now)
{
    listed_.insert(path, now);
    listedOrder_.emplace_back(now, path);
}

bool InotifyWatcher::ConsumeListed(const QString& path)
{
    return listed_.remove(path) > 0;
}

void InotifyWatcher::ExpireListed(SteadyTime now)
{
    while (!listedOrder_.empty() && now - listedOrder_.front().first > ListedLifetime) {
        const auto& [stamp, path] = listedOrder_.front();
        const auto found = listed_.constFind(path);
        if (found != listed_.constEnd() && found.value() == stamp)
            listed_.remove(path);
        listedOrder_.pop_front();
    }
}

// ---- Logging ------------------------------------------------------------------

void InotifyWatcher::LogRecord(int nextOffset, int action, const QString& path) const
{
    AppLog.Write(QStringLiteral("Monitor: get=") + QString::number(nextOffset) + QStringLiteral(",") +
                     XMOName(MapFileAction(action)) + QStringLiteral(":") + path.mid(1),
                 LogMonitor);
}

void InotifyWatcher::Log(const QString& text)
{
    AppLog.Write(text, LogMonitor);
}
