// Deterministic runs of the whole engine for the failures a sync agent meets
// in the field, each ending with the same four checks as the seeded runs.

#include "tests/convergence/ConvergenceFixture.h"

#include "foundation/Constants.h"
#include "foundation/text/TimeHelpers.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFileInfo>

#include <sys/inotify.h>

#include <cerrno>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kLong{60000};

class ConvergenceScenario : public ConvergenceFixture {
protected:
    // A few files and folders on both sides, synced. The user acts on them
    // only some seconds after the engine came to rest: the engine takes
    // changes of a path in the first seconds after it wrote there for its
    // own (the seeded runs meet that; these scenarios are about other
    // failures).
    void FillBothSides()
    {
        Trace(QStringLiteral("make /Docs/a.txt here: ") + LocalWrite(QStringLiteral("/Docs/a.txt"), "a here", 1));
        Trace(QStringLiteral("make /top.txt there: ") + RemoteWrite(QStringLiteral("/top.txt"), "top there", 1));
        ASSERT_TRUE(WaitQuiet(kLong, 3500ms)) << Unquiet().toStdString();
        ASSERT_TRUE(QFileInfo(Full(QStringLiteral("/top.txt"))).isFile());
        ASSERT_TRUE(ServiceItem(QStringLiteral("/Docs/a.txt")).has_value());
    }
};

// The sync folder's disk goes away while the agent runs (the folder and its
// parent vanish): nothing is deleted on either side, and once it is back
// both sides end equal with the change made elsewhere meanwhile.
TEST_F(ConvergenceScenario, AnUnmountedSyncFolderDeletesNothingAnywhere)
{
    const QString disk = dir_.filePath(QStringLiteral("disk"));
    ASSERT_NO_FATAL_FAILURE(UseSyncFolder(disk + QStringLiteral("/sync")));
    ASSERT_TRUE(QDir().mkpath(Full(QStringLiteral("/Docs"))));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(FillBothSides());

    const QString away = dir_.filePath(QStringLiteral("away"));
    ASSERT_TRUE(QDir().rename(disk, away));
    ASSERT_TRUE(WaitUntil([&] { return threadNotices_->Count(QStringLiteral("SyncFolderUnavailable")) >= 1; }, kLong));
    Trace(QStringLiteral("edit /top.txt there while the disk is away: ") +
          RemoteWrite(QStringLiteral("/top.txt"), "top edited there", 2));
    WaitQuiet(3s);  // gives the engine its chance to do harm; quiet or not
    EXPECT_TRUE(ServiceItem(QStringLiteral("/Docs/a.txt")).has_value()) << "deleted on the service";
    EXPECT_FALSE(QFileInfo::exists(disk)) << "the folder was made again where the disk was";

    ASSERT_TRUE(QDir().rename(away, disk));
    SettleAndCheck(QStringLiteral("unmounted"));
    EXPECT_EQ(ReadFileBytes(Full(QStringLiteral("/top.txt"))), "top edited there");
}

// The user empties the sync folder: the deletions reach the service.
TEST_F(ConvergenceScenario, ASyncFolderEmptiedByTheUserEmptiesTheService)
{
    ASSERT_TRUE(QDir().mkpath(Full(QStringLiteral("/Docs"))));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(FillBothSides());

    for (const QString& name : QDir(Root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (name != CacheFolderName)
            Trace(QStringLiteral("delete /") + name + QStringLiteral(" here: ") + LocalDelete(QLatin1Char('/') + name));
    }
    SettleAndCheck(QStringLiteral("emptied"));
    EXPECT_TRUE(ServiceTree().Entries().empty());
}

// The same file edited on both sides while the engine was stopped: both
// contents are kept on both sides, and both sides end equal. The start-up
// rescan's upload may be registered before the download beside it moves the
// record on: it still goes as an edit of the service's version.
TEST_F(ConvergenceScenario, AConflictOnBothSidesKeepsBothContents)
{
    ASSERT_TRUE(QDir().mkpath(Full(QStringLiteral("/Docs"))));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(FillBothSides());
    StopEngine();
    Trace(QStringLiteral("edit /Docs/a.txt here: ") + LocalWrite(QStringLiteral("/Docs/a.txt"), "a edited here", 2));
    Trace(QStringLiteral("edit /Docs/a.txt there: ") +
          RemoteWrite(QStringLiteral("/Docs/a.txt"), "a edited there, longer", 2));
    Trace(QStringLiteral("edit /top.txt here: ") + LocalWrite(QStringLiteral("/top.txt"), "top edited here", 2));
    Trace(QStringLiteral("edit /top.txt there: ") + RemoteWrite(QStringLiteral("/top.txt"), "top there again", 2));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    SettleAndCheck(QStringLiteral("conflict"));
    const std::set<QByteArray> contents = LocalTree().Contents();
    for (const char* content : {"a edited here", "a edited there, longer", "top edited here", "top there again"})
        EXPECT_TRUE(contents.count(content)) << content;
}

// The system has no inotify watches left for the subfolders: what is
// written there still reaches the service.
TEST_F(ConvergenceScenario, ExhaustedInotifyWatchesStillSyncEverything)
{
    options_.monitor.shortWatchRescan = 300ms;
    auto counting = options_.monitor.watcher.addWatch;
    options_.monitor.watcher.addWatch = [this, counting](int fd, const char* path, std::uint32_t mask) {
        if (QFileInfo(QString::fromUtf8(path)).canonicalFilePath() != QFileInfo(Root()).canonicalFilePath()) {
            errno = ENOSPC;
            return -1;
        }
        return counting(fd, path, mask);
    };
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_TRUE(QDir().mkpath(Full(QStringLiteral("/Deep/Er"))));
    Trace(QStringLiteral("write /Deep/Er/x.txt here: ") + LocalWrite(QStringLiteral("/Deep/Er/x.txt"), "deep x", 1));
    Trace(QStringLiteral("write /Deep/y.txt here: ") + LocalWrite(QStringLiteral("/Deep/y.txt"), "deep y", 1));
    ASSERT_TRUE(WaitQuiet(kLong)) << Unquiet().toStdString();
    Trace(QStringLiteral("edit /Deep/y.txt here: ") + LocalWrite(QStringLiteral("/Deep/y.txt"), "deep y, edited", 2));
    SettleAndCheck(QStringLiteral("watches exhausted"));
    EXPECT_EQ(ServiceContent(QStringLiteral("/Deep/y.txt")), "deep y, edited");
}

// The wall clock is stepped back an hour while files go up and down: files
// written afterwards carry times an hour older than those written before
// (and than their records). Nothing is lost and both sides end equal.
TEST_F(ConvergenceScenario, AWallClockSteppedBackAnHourLosesNothing)
{
    localMtime_ = UnixTimeNow();
    ASSERT_TRUE(QDir().mkpath(Full(QStringLiteral("/Docs"))));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(FillBothSides());
    Trace(QStringLiteral("write /big.bin here: ") + LocalWrite(QStringLiteral("/big.bin"), QByteArray(300000, 'b'), 2));
    Trace(QStringLiteral("write /down.bin there: ") +
          RemoteWrite(QStringLiteral("/down.bin"), QByteArray(300000, 'd'), 2));
    localMtime_ -= 3600;
    Trace(QStringLiteral("the clock steps back an hour"));
    Trace(QStringLiteral("edit /Docs/a.txt here: ") + LocalWrite(QStringLiteral("/Docs/a.txt"), "a after the step", 3));
    Trace(QStringLiteral("write /big.bin here: ") + LocalWrite(QStringLiteral("/big.bin"), QByteArray(300000, 'c'), 3));
    SettleAndCheck(QStringLiteral("clock stepped back"));
    EXPECT_EQ(ServiceContent(QStringLiteral("/Docs/a.txt")), "a after the step");
    EXPECT_EQ(ServiceContent(QStringLiteral("/big.bin")), QByteArray(300000, 'c'));
}

}  // namespace
