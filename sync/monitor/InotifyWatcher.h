#pragma once

// Watches a sync folder tree with inotify and turns what the kernel reports
// into folder events (PeltaFSQueue items with relative "\" paths), without a
// thread of its own: the owner polls Fd() and calls ReadOnce() when it is
// readable, ReleaseExpired() when NextDeadline() passes, and takes the events
// with TakeReady().
//
// - One watch per folder; the cache folder is never watched and nothing in
//   it is reported. Symbolic links, FIFOs, sockets and devices are never
//   items: never opened or followed, skipped with a log line; a symbolic link
//   to a folder is not watched.
// - Created -> added, deleted -> removed, written, closed after writing or
//   attributes changed -> modified (once per path per read).
// - A move is a MOVED_FROM and a MOVED_TO with the same cookie, within one
//   read or, for a MOVED_FROM at the end of a read, within the pairing grace.
//   An unpaired old name is a removal, an unpaired new name an addition; a
//   side in the cache folder or with a name that cannot be represented counts
//   as unpaired. Events leave in the order the kernel reported them: a
//   MOVED_FROM still waiting for its partner holds back what follows.
// - A new folder is watched first and then listed, so that what was created
//   in it before its watch is reported (once: the kernel's own report of an
//   item the listing found is left out).
// - Queue overflow, or a watch refused for lack of watches, queues a full
//   rescan command (XMOResyncLocal "\") in line with the events; the watch
//   table is rebuilt after an overflow. While watches are short the owner
//   calls Rewatch() periodically.
// - The sync folder itself removed, moved or unmounted sets RootGone().
//
// The engine's own changes (isOwnChange) are left out. Not thread-safe: one
// thread uses the object.

#include "foundation/PeltaFSQueue.h"
#include "foundation/ProcessState.h"
#include "sync/monitor/UniqueFd.h"
#include "sync/monitor/WatchTable.h"

#include <QHash>
#include <QString>

#include <sys/inotify.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class InotifyWatcher {
public:
    using OwnChangeTest = std::function<bool(const QString& path)>;
    // Stands in for inotify_add_watch (tests use it to run out of watches).
    using AddWatchCall = std::function<int(int fd, const char* path, std::uint32_t mask)>;

    static constexpr std::chrono::milliseconds DefaultPairGrace{100};
    static constexpr std::size_t DefaultReadBufferBytes = 64 * 1024;
    // Listed items whose own creation report never came are forgotten after this.
    static constexpr std::chrono::seconds ListedLifetime{5};
    // Folders deeper than this below the sync folder are not watched.
    static constexpr int MaxDepth = 128;

    struct Options {
        std::chrono::milliseconds pairGrace = DefaultPairGrace;
        OwnChangeTest isOwnChange;  // empty: nothing is left out
        AddWatchCall addWatch;      // empty: inotify_add_watch
        std::size_t readBufferBytes = DefaultReadBufferBytes;
    };

    explicit InotifyWatcher(QString root);
    InotifyWatcher(QString root, Options options);
    InotifyWatcher(const InotifyWatcher&) = delete;
    InotifyWatcher& operator=(const InotifyWatcher&) = delete;

    // Creates the inotify instance and watches every folder of the tree.
    // False (logged) when the sync folder itself cannot be watched.
    bool Open();

    int Fd() const { return fd_.Get(); }
    const QString& Root() const { return root_; }

    // One read of what the kernel has queued (the descriptor does not
    // block); false when nothing was there.
    bool ReadOnce(SteadyTime now);

    // Settles each MOVED_FROM whose grace ended by now as a removal.
    void ReleaseExpired(SteadyTime now);
    // When the next MOVED_FROM's grace ends, if one is waiting.
    std::optional<SteadyTime> NextDeadline() const;

    // The events ready to be queued, oldest first.
    std::vector<PeltaFSQueue> TakeReady();

    // The sync folder was removed, moved or unmounted; nothing more comes.
    bool RootGone() const { return rootGone_; }

    // Some folder could not be watched for lack of watches.
    bool WatchesShort() const { return watchesShort_; }
    // True once, the first time watches ran short.
    bool TakeLimitReached() { return std::exchange(limitNoticeDue_, false); }

    // Walks the tree again: watches the folders that lack a watch, forgets
    // the watches of folders no longer in it, and queues a full rescan.
    void Rewatch();

    int WatchCount() const { return table_.Count(); }

    // The system's limit of watches per user; 0 when it cannot be read.
    static int SystemWatchLimit();

private:
    enum class ItemType { Missing, File, Folder, Other };

    // One record as read, its path made relative.
    struct Record {
        QString path;
        bool usable = false;  // valid name, outside the cache folder
        bool isDir = false;
    };

    // Events in kernel order; a pending slot is a MOVED_FROM waiting for its
    // MOVED_TO and holds back the slots after it.
    struct Slot {
        std::vector<PeltaFSQueue> events;
        bool pending = false;
        std::uint32_t cookie = 0;
        QString oldPath;
        bool oldUsable = false;
        bool oldOwn = false;
        bool isDir = false;
        SteadyTime deadline{};
    };

    struct LastEvent {
        int kind = 0;
        bool isDir = false;
    };

    void HandleRecord(const inotify_event& header, const char* name, int nextOffset, SteadyTime now);
    Record MakeRecord(const QString& folder, const QByteArray& name, bool isDir);
    void OnSelfEvent(int wd, std::uint32_t mask);
    void OnWatchGone(int wd);
    void OnOverflow();
    void OnCreated(const Record& record, bool own);
    void OnDeleted(const Record& record);
    void OnModified(const Record& record);
    void OnMovedFrom(std::uint32_t cookie, const Record& record, int nextOffset, SteadyTime now);
    void OnMovedTo(std::uint32_t cookie, const Record& record, int nextOffset);
    bool SettleMovedOut(const QString& folder);
    void SettlePair(Slot& slot, const Record& arrived);
    void SettleGone(Slot& slot);
    void Arrived(const QString& path, bool isDir, std::vector<PeltaFSQueue>& into, bool own);

    // Watches the folder open as dirFd at path, then lists it: folders below
    // are watched in turn, and with into every item found is reported added.
    void WatchFolder(int dirFd, const QString& path, WatchTable& table, std::vector<PeltaFSQueue>* into,
                     int depth);
    void ListFolder(int dirFd, const QString& path, WatchTable& table, std::vector<PeltaFSQueue>* into,
                    int depth);
    int AddWatch(int dirFd, const QString& path);
    void WatchRefused(const QString& path, int error);
    UniqueFd OpenFolder(const QString& path) const;
    void UnwatchSubtree(const QString& path);
    ItemType Probe(const QString& path, QString& kindName) const;

    void Emit(int kind, const QString& path, const QString& path2, std::vector<PeltaFSQueue>& into);
    void QueueRescan();
    std::vector<PeltaFSQueue>& Tail();
    bool IsOwnChange(const QString& path) const;
    void Remember(const QString& path, int kind, bool isDir);
    std::optional<LastEvent> LastThisRead(const QString& path) const;

    void MarkListed(const QString& path, SteadyTime now);
    bool ConsumeListed(const QString& path);
    void ExpireListed(SteadyTime now);

    void LogRecord(int nextOffset, int action, const QString& path) const;
    static void Log(const QString& text);

    const QString root_;
    const Options options_;
    UniqueFd fd_;
    WatchTable table_;
    int rootWd_ = -1;
    std::vector<std::uint64_t> buffer_;  // 8-byte aligned read buffer

    std::deque<Slot> slots_;
    QHash<QString, LastEvent> lastThisRead_;  // per read: the last event of each path
    QHash<QString, SteadyTime> listed_;        // reported by a listing, own report not yet seen
    std::deque<std::pair<SteadyTime, QString>> listedOrder_;
    SteadyTime now_{};

    bool rootGone_ = false;
    bool watchesShort_ = false;
    bool limitReachedOnce_ = false;
    bool limitNoticeDue_ = false;
    bool limitLogged_ = false;  // the limit is logged once per walk or read
    bool rescanWanted_ = false;
    bool rewatchWanted_ = false;
};
