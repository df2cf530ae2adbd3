#include "sync/monitor/InotifyWatcher.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "tests/sync/FolderEvents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <set>

namespace {

using namespace std::chrono_literals;

class InotifyWatcherTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp_.isValid());
        ASSERT_TRUE(QDir().mkpath(Root()));
        ASSERT_TRUE(QDir().mkpath(Outside()));
        LogMask = -1;
        AppLog.TakeBuffer();
    }
    void TearDown() override { LogMask = 0x3007; }

    QString Root() const { return temp_.path() + QStringLiteral("/sync"); }
    QString Outside() const { return temp_.path() + QStringLiteral("/outside"); }
    QByteArray OutsidePath(const char* name) const { return (Outside() + QStringLiteral("/") + name).toUtf8(); }

    void Open(InotifyWatcher::Options options = {})
    {
        watcher_ = std::make_unique<InotifyWatcher>(Root(), std::move(options));
        ASSERT_TRUE(watcher_->Open());
    }

    // Everything the kernel has queued, read; a MOVED_FROM still unpaired
    // then has no partner to wait for (both halves are queued by the time
    // rename returns).
    std::vector<std::string> Drain()
    {
        while (watcher_->ReadOnce(SteadyClock::now())) {
        }
        watcher_->ReleaseExpired(SteadyClock::now() + 1h);
        return Describe(watcher_->TakeReady());
    }

    QTemporaryDir temp_;
    TestFolder folder_{temp_.path() + QStringLiteral("/sync")};
    std::unique_ptr<InotifyWatcher> watcher_;
};

// ---- Ordinary changes -------------------------------------------------------

struct ChangeCase {
    const char* name;
    std::function<void(const TestFolder&)> before;  // done before watching starts
    std::function<void(const TestFolder&, const QString& outside)> change;
    std::vector<std::string> events;
};

void PrintTo(const ChangeCase& value, std::ostream* out) { *out << value.name; }

class InotifyChangeTest : public InotifyWatcherTest, public testing::WithParamInterface<ChangeCase> {};

TEST_P(InotifyChangeTest, ReportsWhatTheKernelSaw)
{
    const ChangeCase& change = GetParam();
    if (change.before)
        change.before(folder_);
    Open();
    change.change(folder_, Outside());
    EXPECT_EQ(Drain(), change.events);
}

const ChangeCase changeCases[] = {
    {"CreateAndWriteSeveralTimes",
     nullptr,
     [](const TestFolder& f, const QString&) { f.Write("f", {"one", "two", "three"}); },
     {"added \\f", "modified \\f"}},
    {"Rename",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString&) { f.Rename("a", "b"); },
     {"move \\a -> \\b"}},
    {"MoveAcrossFolders",
     [](const TestFolder& f) {
         f.MakeFolder("x");
         f.MakeFolder("y");
         f.Write("x/f");
     },
     [](const TestFolder& f, const QString&) { f.Rename("x/f", "y/f"); },
     {"move \\x\\f -> \\y\\f"}},
    {"Delete",
     [](const TestFolder& f) { f.Write("f"); },
     [](const TestFolder& f, const QString&) { f.Remove("f"); },
     {"removed \\f"}},
    // Neighbours are no move: only the kernel's cookie pairs one.
    {"RemovalAndOtherAdditionStayApart",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString&) {
         f.Remove("a");
         f.Write("b");
     },
     {"removed \\a", "added \\b", "modified \\b"}},
    // The unpaired old name leaves before what the kernel reported after it.
    {"MovedOutThenSameNameCreated",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString& outside) {
         TestFolder::RenameAbsolute(f.Full("a"), (outside + "/a").toUtf8());
         f.Write("a");
     },
     {"removed \\a", "added \\a", "modified \\a"}},
    {"MovedIn",
     nullptr,
     [](const TestFolder& f, const QString& outside) {
         TestFolder(outside).Write("in");
         TestFolder::RenameAbsolute((outside + "/in").toUtf8(), f.Full("in"));
     },
     {"added \\in"}},
    {"EditorSaveThroughBackupName",
     [](const TestFolder& f) { f.Write("a"); },
     [](const TestFolder& f, const QString&) {
         f.Write("a.tmp", {"new"});
         f.Rename("a", "a.bak");
         f.Rename("a.tmp", "a");
         f.Remove("a.bak");
     },
     {"added \\a.tmp", "modified \\a.tmp", "move \\a -> \\a.bak", "move \\a.tmp -> \\a", "removed \\a.bak"}},
    {"FolderRenamedThenChangedInside",
     [](const TestFolder& f) {
         f.MakeFolder("d");
         f.MakeFolder("d/sub");
     },
     [](const TestFolder& f, const QString&) {
         f.Rename("d", "e");
         f.Write("e/sub/g");
     },
     {"move \\d -> \\e", "added \\e\\sub\\g", "modified \\e\\sub\\g"}},
    {"FolderMovedOutIsNoLongerHeard",
     [](const TestFolder& f) { f.MakeFolder("d"); },
     [](const TestFolder& f, const QString& outside) {
         TestFolder::RenameAbsolute(f.Full("d"), (outside + "/d").toUtf8());
         TestFolder(outside).Write("d/late");
     },
     {"removed \\d"}},
    // The cache folder is never heard from, and a move into or out of it is
    // the removal or the addition it is for the rest of the folder.
    {"CacheFolderLeftOut",
     [](const TestFolder& f) {
         f.MakeFolder(".tessaron.cache");
         f.Write(".tessaron.cache/part");
         f.Write("f");
     },
     [](const TestFolder& f, const QString&) {
         f.Write(".tessaron.cache/upload");
         f.Rename("f", ".tessaron.cache/f");
         f.Rename(".tessaron.cache/part", "done");
     },
     {"removed \\f", "added \\done"}},
    {"RenamedToAndFromTheCacheFolderName",
     [](const TestFolder& f) {
         f.MakeFolder("old");
         f.MakeFolder("other");
     },
     [](const TestFolder& f, const QString&) {
         f.Rename("old", ".tessaron.cache");
         f.Write(".tessaron.cache/x");
         f.Rename(".tessaron.cache", "back");
         f.Rename("other", ".tessaron.cache");
     },
     {"removed \\old", "added \\back", "added \\back\\x", "removed \\other"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, InotifyChangeTest, testing::ValuesIn(changeCases),
                         [](const testing::TestParamInfo<ChangeCase>& info) { return info.param.name; });

TEST_F(InotifyWatcherTest, ModifiedOncePerPathPerRead)
{
    Open();
    folder_.Write("f", {"1", "2", "3"});
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\f", "modified \\f"}));
    folder_.Write("f", {"4"});
    folder_.Write("g");
    folder_.Write("f", {"5"});
    EXPECT_EQ(Drain(), (std::vector<std::string>{"modified \\f", "added \\g", "modified \\g"}));
    folder_.Write("f", {"6"});
    EXPECT_EQ(Drain(), (std::vector<std::string>{"modified \\f"}));
}

TEST_F(InotifyWatcherTest, OwnChangesAreLeftOut)
{
    InotifyWatcher::Options options;
    options.isOwnChange = [](const QString& path) { return path == QStringLiteral("\\mine"); };
    Open(std::move(options));
    folder_.Write("mine");
    folder_.Write("theirs");
    folder_.Rename("mine", "moved");
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\theirs", "modified \\theirs"}));
}

// A folder created and filled at once: watched first, then listed, so every
// item is reported once whether it came before or after the watch.
TEST_F(InotifyWatcherTest, NewFolderIsWatchedThenListed)
{
    Open();
    folder_.MakeFolder("d");
    folder_.Write("d/x");
    folder_.MakeFolder("d/e");
    folder_.Write("d/e/y");
    std::vector<std::string> events = Drain();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "added \\d");
    std::multiset<std::string> added;
    for (const std::string& event : events) {
        if (event.rfind("added ", 0) == 0)
            added.insert(event);
        else
            EXPECT_EQ(event.rfind("modified ", 0), 0u) << event;
    }
    EXPECT_EQ(added, (std::multiset<std::string>{"added \\d", "added \\d\\x", "added \\d\\e", "added \\d\\e\\y"}));
    const auto position = [&](const std::string& event) {
        return std::find(events.begin(), events.end(), event) - events.begin();
    };
    EXPECT_LT(position("added \\d\\e"), position("added \\d\\e\\y"));

    folder_.Write("d/e/z");
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\d\\e\\z", "modified \\d\\e\\z"}));
}

TEST_F(InotifyWatcherTest, TreeMovedInIsReportedWholeAndWatched)
{
    TestFolder outside(Outside());
    outside.MakeFolder("tree");
    outside.MakeFolder("tree/a");
    outside.MakeFolder("tree/a/b");
    outside.Write("tree/a/b/file");
    outside.Write("tree/top");
    Open();
    TestFolder::RenameAbsolute(OutsidePath("tree"), folder_.Full("tree"));
    const std::vector<std::string> events = Drain();
    EXPECT_EQ(std::multiset<std::string>(events.begin(), events.end()),
              (std::multiset<std::string>{"added \\tree", "added \\tree\\a", "added \\tree\\a\\b",
                                          "added \\tree\\a\\b\\file", "added \\tree\\top"}));
    EXPECT_EQ(events.front(), "added \\tree");
    EXPECT_EQ(watcher_->WatchCount(), 4);

    folder_.Write("tree/a/b/new");
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\tree\\a\\b\\new", "modified \\tree\\a\\b\\new"}));
}

// ---- Pairing across reads ------------------------------------------------------

// With a buffer that holds one long-named record, the two halves of a rename
// arrive in two reads.
TEST_F(InotifyWatcherTest, MoveSplitAcrossReadsIsPairedWithinTheGrace)
{
    const QString oldName(200, QLatin1Char('o'));
    const QString newName(200, QLatin1Char('n'));
    folder_.Write(oldName);
    InotifyWatcher::Options options;
    options.readBufferBytes = 1;
    Open(std::move(options));

    folder_.Rename(oldName, newName);
    ASSERT_TRUE(watcher_->ReadOnce(SteadyClock::now()));
    EXPECT_TRUE(watcher_->TakeReady().empty());
    ASSERT_TRUE(watcher_->NextDeadline().has_value());
    ASSERT_TRUE(watcher_->ReadOnce(SteadyClock::now()));
    EXPECT_EQ(Describe(watcher_->TakeReady()),
              (std::vector<std::string>{"move \\" + oldName.toStdString() + " -> \\" + newName.toStdString()}));
    EXPECT_FALSE(watcher_->NextDeadline().has_value());
}

TEST_F(InotifyWatcherTest, UnpairedOldNameBecomesRemovalWhenTheGraceEnds)
{
    const QString name(200, QLatin1Char('o'));
    folder_.Write(name);
    InotifyWatcher::Options options;
    options.readBufferBytes = 1;
    options.pairGrace = 50ms;
    Open(std::move(options));

    TestFolder::RenameAbsolute(folder_.Full(name), OutsidePath("gone"));
    const SteadyTime readAt = SteadyClock::now();
    ASSERT_TRUE(watcher_->ReadOnce(readAt));
    EXPECT_FALSE(watcher_->ReadOnce(readAt));
    watcher_->ReleaseExpired(readAt + 49ms);
    EXPECT_TRUE(watcher_->TakeReady().empty());
    watcher_->ReleaseExpired(readAt + 50ms);
    EXPECT_EQ(Describe(watcher_->TakeReady()), (std::vector<std::string>{"removed \\" + name.toStdString()}));
}

// ---- Bad input -------------------------------------------------------------------

TEST_F(InotifyWatcherTest, SpecialItemsAreNeverItems)
{
    folder_.MakeFolder("target");
    ASSERT_EQ(::symlink(folder_.Full("target").constData(), folder_.Full("early-link").constData()), 0);
    Open();
    EXPECT_EQ(watcher_->WatchCount(), 2);  // the sync folder and target, not the link

    ASSERT_EQ(::mkfifo(folder_.Full("fifo").constData(), 0644), 0);
    ASSERT_EQ(::symlink("/etc/hostname", folder_.Full("link").constData()), 0);
    ASSERT_EQ(::symlink(Outside().toUtf8().constData(), folder_.Full("folder-link").constData()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = folder_.Full("sock");
    ASSERT_LT(static_cast<std::size_t>(socketPath.size()), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
    const int fifo = ::open(folder_.Full("fifo").constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    ASSERT_EQ(::write(fifo, "x", 1), 1);
    ::close(fifo);
    TestFolder(Outside()).Write("behind-link");
    folder_.Write("plain");
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\plain", "modified \\plain"}));
    folder_.Rename("link", "link2");
    EXPECT_EQ(Drain(), std::vector<std::string>{});
    const QString log = AppLog.TakeBuffer();
    for (const char* line : {"Monitor: skipped FIFO: \\fifo", "Monitor: skipped symbolic link: \\link",
                             "Monitor: skipped symbolic link: \\folder-link", "Monitor: skipped socket: \\sock",
                             "Monitor: skipped symbolic link: \\link2"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line;
}

TEST_F(InotifyWatcherTest, NamesTheSystemCannotHoldAreIgnoredWithALogLine)
{
    Open();
    const QByteArray invalid = folder_.Full("") + "bad\xff";
    const int fd = ::open(invalid.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::mkdir((folder_.Full("") + "dir\xfe").constData(), 0755), 0);
    TestFolder::RenameAbsolute(invalid, (folder_.Full("") + "dir\xfe/inside"));
    folder_.Write("back\\slash");
    folder_.Write("fine");
    folder_.Rename("fine", "back\\slash2");

    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\fine", "modified \\fine", "removed \\fine"}));
    const QString log = AppLog.TakeBuffer();
    EXPECT_TRUE(log.contains(QStringLiteral("Monitor: skipped, name is not valid UTF-8")));
    EXPECT_TRUE(log.contains(QStringLiteral("Monitor: skipped, name holds a backslash: \\back\\slash")));
    EXPECT_EQ(watcher_->WatchCount(), 1);
    // Names that Qt cannot carry: removed here, not by the temporary folder.
    ::unlink((folder_.Full("") + "dir\xfe/inside").constData());
    ::rmdir((folder_.Full("") + "dir\xfe").constData());
}

TEST_F(InotifyWatcherTest, FolderReplacedByFileOfTheSameName)
{
    folder_.MakeFolder("d");
    Open();
    folder_.RemoveFolder("d");
    folder_.Write("d");
    EXPECT_EQ(Drain(), (std::vector<std::string>{"removed \\d", "added \\d", "modified \\d"}));
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: folder replaced by a file: \\d")));
    EXPECT_EQ(watcher_->WatchCount(), 1);
    folder_.Write("d", {"again"});
    EXPECT_EQ(Drain(), (std::vector<std::string>{"modified \\d"}));
}

// Folders of a new tree vanish while it is listed: what was reported is
// reported gone too, nothing hangs, and the rest is still watched.
TEST_F(InotifyWatcherTest, TreeDeletedWhileListed)
{
    TestFolder outside(Outside());
    outside.MakeFolder("t");
    for (const QString sub : {"a", "b", "c"}) {
        outside.MakeFolder("t/" + sub);
        outside.Write("t/" + sub + "/file");
    }
    // When the first subfolder of t is watched, the other two go.
    bool deleted = false;
    InotifyWatcher::Options options;
    options.addWatch = [&](int fd, const char* path, std::uint32_t mask) {
        char target[4096] = {};
        const ssize_t length = ::readlink(path, target, sizeof target - 1);
        const QString real = QString::fromUtf8(target, length > 0 ? length : 0);
        if (!deleted && real.contains(QStringLiteral("/sync/t/"))) {
            deleted = true;
            for (const QString sub : {"a", "b", "c"}) {
                if (real.endsWith("/t/" + sub))
                    continue;
                folder_.Remove("t/" + sub + "/file");
                folder_.RemoveFolder("t/" + sub);
            }
        }
        return inotify_add_watch(fd, path, mask);
    };
    Open(std::move(options));
    TestFolder::RenameAbsolute(OutsidePath("t"), folder_.Full("t"));

    const std::vector<std::string> events = Drain();
    ASSERT_TRUE(deleted);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "added \\t");
    std::map<std::string, int> present;  // path -> additions minus removals
    for (const std::string& event : events) {
        if (event.rfind("added ", 0) == 0)
            ++present[event.substr(6)];
        else if (event.rfind("removed ", 0) == 0)
            --present[event.substr(8)];
    }
    int kept = 0;
    for (const auto& [path, count] : present) {
        QString relative = QString::fromStdString(path).mid(1);
        const bool exists = ::access(folder_.Full(relative.replace('\\', '/')).constData(), F_OK) == 0;
        EXPECT_EQ(count, exists ? 1 : std::min(count, 0)) << path;
        kept += exists ? 1 : 0;
    }
    EXPECT_EQ(kept, 3);  // t, the surviving subfolder and its file
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: item vanished while listed: \\t\\")));

    folder_.Write("after");
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\after", "modified \\after"}));
}

// ---- Lost events and short watches ---------------------------------------------

TEST_F(InotifyWatcherTest, QueueOverflowQueuesAFullRescanAndWatchingGoesOn)
{
    folder_.Write("a");
    folder_.Write("b");
    Open();
    int queued = 16384;
    QFile limit(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    if (limit.open(QIODevice::ReadOnly))
        queued = limit.readAll().trimmed().toInt();
    // Alternating names: the kernel folds only identical neighbours.
    for (int i = 0; i <= queued + 10; ++i)
        ASSERT_EQ(::utimensat(AT_FDCWD, folder_.Full(i % 2 ? "a" : "b").constData(), nullptr, 0), 0);
    folder_.MakeFolder("lost");  // its report is lost in the overflow

    const std::vector<std::string> events = Drain();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "command 8 \\");
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: event queue overflow")));

    folder_.Write("lost/found");  // the rebuilt watches include the folder
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\lost\\found", "modified \\lost\\found"}));
}

TEST_F(InotifyWatcherTest, ShortWatchesQueueRescansUntilEveryFolderIsWatched)
{
    folder_.MakeFolder("a");
    folder_.MakeFolder("b");
    folder_.MakeFolder("c");
    int allowed = 2;
    InotifyWatcher::Options options;
    options.addWatch = [&](int fd, const char* path, std::uint32_t mask) {
        const int wd = inotify_add_watch(fd, path, mask);
        if (wd >= 0 && wd > allowed) {
            inotify_rm_watch(fd, wd);
            errno = ENOSPC;
            return -1;
        }
        return wd;
    };
    Open(std::move(options));
    EXPECT_TRUE(watcher_->WatchesShort());
    EXPECT_EQ(watcher_->WatchCount(), 2);
    EXPECT_TRUE(watcher_->TakeLimitReached());
    EXPECT_FALSE(watcher_->TakeLimitReached());
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: watch limit reached (limit ")));

    folder_.MakeFolder("d");  // reported, listed, but not watched: a rescan follows
    EXPECT_EQ(Drain(), (std::vector<std::string>{"added \\d", "command 8 \\"}));

    watcher_->Rewatch();
    EXPECT_TRUE(watcher_->WatchesShort());
    EXPECT_EQ(Drain(), (std::vector<std::string>{"command 8 \\"}));

    allowed = 1000;
    watcher_->Rewatch();
    EXPECT_FALSE(watcher_->WatchesShort());
    EXPECT_EQ(watcher_->WatchCount(), 5);
    EXPECT_EQ(Drain(), (std::vector<std::string>{"command 8 \\"}));
    EXPECT_FALSE(watcher_->TakeLimitReached());
}

// ---- The sync folder itself ------------------------------------------------------

TEST_F(InotifyWatcherTest, SyncFolderRemovedOrMovedEndsWatching)
{
    for (const bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "moved" : "removed");
        ASSERT_TRUE(QDir().mkpath(Root()));
        folder_.Write("f");
        Open();
        if (moved) {
            TestFolder::RenameAbsolute(Root().toUtf8(), OutsidePath("moved-root"));
        } else {
            folder_.Remove("f");
            folder_.RemoveFolder("");
        }
        Drain();
        EXPECT_TRUE(watcher_->RootGone());
        EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: the sync folder")));
    }
}

TEST_F(InotifyWatcherTest, MissingSyncFolderCannotBeOpened)
{
    InotifyWatcher watcher(Root() + QStringLiteral("/missing"));
    EXPECT_FALSE(watcher.Open());
    EXPECT_TRUE(AppLog.TakeBuffer().contains(QStringLiteral("Monitor: cannot open the sync folder")));
}

}  // namespace
