// Deterministic runs of the whole engine for the failures a sync agent meets
// in the field, each ending with the same four checks as the seeded runs.

#include "tests/convergence/ConvergenceFixture.h"

#include "foundation/Constants.h"
#include "foundation/text/TimeHelpers.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/LocalListing.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <QDir>
#include <QFileInfo>

#include <sys/inotify.h>

#include <cerrno>
#include <cstring>
#include <ostream>

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

    // Three folders on both sides, /B with a subfolder, files in each,
    // synced; the engine runs. The files are there before the engine starts,
    // so its start-up rescan brings them all to the service.
    void FillThreeFolders()
    {
        static const char* const files[] = {"/A/a.txt", "/A/gone.txt", "/B/b.txt", "/B/Sub/s.txt", "/C/c.txt"};
        for (const char* folder : {"/A", "/B/Sub", "/C"})
            ASSERT_TRUE(QDir().mkpath(Full(QString::fromLatin1(folder))));
        for (const char* file : files) {
            const QString path = QString::fromLatin1(file);
            Trace(QStringLiteral("make ") + path + QStringLiteral(" here: ") +
                  LocalWrite(path, QByteArray(file) + " here", 1));
        }
        ASSERT_NO_FATAL_FAILURE(StartEngine());
        Trace(QStringLiteral("make /top.txt there: ") + RemoteWrite(QStringLiteral("/top.txt"), "top there", 1));
        ASSERT_TRUE(WaitQuiet(kLong, 3500ms)) << Unquiet().toStdString();
        ASSERT_TRUE(QFileInfo(Full(QStringLiteral("/top.txt"))).isFile());
        for (const char* file : files)
            ASSERT_TRUE(ServiceItem(QString::fromLatin1(file)).has_value()) << file << " never reached the service";
    }

    // Waits until the log has shown the line at least twice (a pass and its
    // retry).
    bool WaitForTwice(const QString& line)
    {
        return WaitUntil(
            [&] {
                log_ += TakeLog();
                return log_.count(line) >= 2;
            },
            kLong);
    }
};

// Each item that one side held at or below the folders and no longer holds
// as it was, as "no deletion from a failed read: <side>: <path>".
QStringList NotKept(const TreeSnapshot& before, const TreeSnapshot& now, const QStringList& folders,
                    const QString& side)
{
    QStringList failures;
    for (const QString& folder : folders) {
        for (const QString& path : before.Below(folder)) {
            const auto found = now.Entries().find(path);
            if (found == now.Entries().end() || !(found->second == before.Entries().at(path)))
                failures << QStringLiteral("no deletion from a failed read: ") + side + QStringLiteral(": ") + path +
                                (found == now.Entries().end() ? QStringLiteral(" is gone") : QStringLiteral(" changed"));
        }
    }
    return failures;
}

// The service's listing fails from its third call on: the sync folder and
// /A are read, /B and /C are not. The agent starts with a long journal
// behind it, so its start-up job walks the whole folder and removes here
// what the service no longer lists. Nothing of the folders it could not
// read is removed on either side, the part it read is acted on, and once
// the fault stops both sides end equal.
struct ListingFault {
    const char* name;
    Fault fault;
};

void PrintTo(const ListingFault& fault, std::ostream* out)
{
    *out << fault.name;
}

class ARemoteScanFailingHalfway : public ConvergenceScenario, public testing::WithParamInterface<ListingFault> {
};

TEST_P(ARemoteScanFailingHalfway, RemovesNothingItDidNotRead)
{
    ASSERT_NO_FATAL_FAILURE(FillThreeFolders());
    StopEngine();
    const QString deleted = RemoteDelete(QStringLiteral("/A/gone.txt"));
    Trace(QStringLiteral("delete /A/gone.txt there: ") + deleted);
    ASSERT_EQ(deleted, QStringLiteral("done"));
    for (int edit = 1; edit <= PeltaSync::JournalLongCount; ++edit)
        RemoteWrite(QStringLiteral("/top.txt"), "top there, edit " + QByteArray::number(edit), 2);
    Trace(QStringLiteral("edit /top.txt there %1 times").arg(PeltaSync::JournalLongCount));
    const TreeSnapshot localBefore = LocalTree();
    const TreeSnapshot remoteBefore = ServiceTree();

    for (int answered = 0; answered < 2; ++answered)
        service_.Faults().SetNext("getMetadata", Fault::Delay(0ms));
    service_.Faults().SetAlways("getMetadata", GetParam().fault);
    Trace(QStringLiteral("getMetadata fails from its third call on: ") + QString::fromLatin1(GetParam().name));
    ASSERT_NO_FATAL_FAILURE(StartEngine(SyncEngine::FirstCommand::AppStart, false));
    const QString failedWalk = QStringLiteral("PeltaSync::ResyncRemote:failed:\\");
    ASSERT_TRUE(WaitForTwice(failedWalk)) << Report(QStringLiteral("remote scan failing halfway"),
                                                    {QStringLiteral("the whole-folder walk never failed twice")});
    ASSERT_TRUE(log_.contains(QStringLiteral("XMOResyncAppStart:ResyncJournal Check")))
        << "the start-up job did not walk the whole folder";
    ASSERT_TRUE(log_.contains(QStringLiteral("skipped:\\C"))) << "the walk did not get past the sync folder";
    const QStringList failures = NotKept(localBefore, LocalTree(), {QStringLiteral("/B"), QStringLiteral("/C")},
                                         QStringLiteral("here")) +
                                 NotKept(remoteBefore, ServiceTree(), {QStringLiteral("/B"), QStringLiteral("/C")},
                                         QStringLiteral("on the service"));
    EXPECT_TRUE(failures.isEmpty()) << Report(QStringLiteral("remote scan failing halfway"), failures);

    SettleAndCheck(QStringLiteral("remote scan failing halfway"));
    EXPECT_FALSE(QFileInfo::exists(Full(QStringLiteral("/A/gone.txt"))))
        << Report(QStringLiteral("remote scan failing halfway"),
                  {QStringLiteral("a deletion on the service undone: /A/gone.txt is back")});
    EXPECT_EQ(ReadFileBytes(Full(QStringLiteral("/top.txt"))),
              "top there, edit " + QByteArray::number(PeltaSync::JournalLongCount));
}

INSTANTIATE_TEST_SUITE_P(Faults, ARemoteScanFailingHalfway,
                         testing::Values(ListingFault{"DroppedConnection", Fault::DropBeforeReply()},
                                         ListingFault{"HtmlPage", Fault::NonJson()}),
                         [](const testing::TestParamInfo<ListingFault>& info) { return std::string(info.param.name); });

// The local side's answer for one folder's listing, in place while it lives.
class FailingListing {
public:
    FailingListing(const QString& full, int error)
    {
        const QString folder = QDir::cleanPath(full);
        LocalListing::Override([folder, error](const QString& listed) {
            return QDir::cleanPath(listed) == folder ? error : 0;
        });
    }
    ~FailingListing() { LocalListing::Override({}); }
    FailingListing(const FailingListing&) = delete;
    FailingListing& operator=(const FailingListing&) = delete;
};

// A folder cannot be read during the start-up rescan, after a file of
// another folder was deleted while the agent was stopped. Nothing of the
// folder is deleted on the service (or here), the deletion that was seen
// reaches the service, and once the folder reads again both sides end equal.
class ALocalScanFailingHalfway : public ConvergenceScenario, public testing::WithParamInterface<int> {
};

TEST_P(ALocalScanFailingHalfway, DeletesNothingOfTheUnreadFolder)
{
    ASSERT_NO_FATAL_FAILURE(FillThreeFolders());
    StopEngine();
    const QString deleted = LocalDelete(QStringLiteral("/A/gone.txt"));
    Trace(QStringLiteral("delete /A/gone.txt here: ") + deleted);
    ASSERT_EQ(deleted, QStringLiteral("done"));
    const TreeSnapshot localBefore = LocalTree();
    const TreeSnapshot remoteBefore = ServiceTree();
    {
        const FailingListing unreadable(Full(QStringLiteral("/B")), GetParam());
        Trace(QStringLiteral("/B cannot be listed: ") + QString::fromLatin1(std::strerror(GetParam())));
        ASSERT_NO_FATAL_FAILURE(StartEngine(SyncEngine::FirstCommand::AppStart, false));
        ASSERT_TRUE(WaitForTwice(QStringLiteral("PeltaSync::ResyncLocal:failed:\\")))
            << Report(QStringLiteral("local scan failing halfway"), {QStringLiteral("the rescan never failed twice")});
        const QStringList failures =
            NotKept(remoteBefore, ServiceTree(), {QStringLiteral("/B")}, QStringLiteral("on the service")) +
            NotKept(localBefore, LocalTree(), {QStringLiteral("/B")}, QStringLiteral("here"));
        EXPECT_TRUE(failures.isEmpty()) << Report(QStringLiteral("local scan failing halfway"), failures);
    }
    Trace(QStringLiteral("/B can be listed again"));
    SettleAndCheck(QStringLiteral("local scan failing halfway"));
    EXPECT_FALSE(ServiceItem(QStringLiteral("/A/gone.txt")).has_value())
        << Report(QStringLiteral("local scan failing halfway"),
                  {QStringLiteral("a deletion here never reached the service: /A/gone.txt")});
}

INSTANTIATE_TEST_SUITE_P(Errors, ALocalScanFailingHalfway, testing::Values(EACCES, EIO),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == EACCES ? "PermissionDenied" : "InputOutputError");
                         });

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

// The other computer gives items names that cannot exist in a Linux folder:
// longer than 255 bytes in UTF-8 (though not in characters), holding a
// control character, and a folder of such a name with a file in it. They
// stay on the service as they are and nothing of them appears here; the
// rest syncs, and a walk of the whole folder comes to rest instead of
// trying them again and again.
TEST_F(ConvergenceScenario, NamesThatCannotExistHereStayOnTheServiceAlone)
{
    ASSERT_TRUE(QDir().mkpath(Full(QStringLiteral("/Docs"))));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_NO_FATAL_FAILURE(FillBothSides());
    const QString folder = QLatin1Char('/') + QString(128, QChar(0xE9));
    const std::pair<QString, QByteArray> odd[] = {
        {QStringLiteral("/Docs/") + QString(130, QChar(0xFC)) + QStringLiteral(".txt"), "long name"},
        {QStringLiteral("/tab\there.txt"), "control character"},
        {folder + QStringLiteral("/inside.txt"), "inside a folder of a long name"},
    };
    ASSERT_EQ(second_->AddFolder(folder), QString());
    for (const auto& [path, content] : odd)
        ASSERT_EQ(second_->WriteFile(path, content), QString());
    Trace(QStringLiteral("three items there whose names cannot exist here"));
    Trace(QStringLiteral("write /Docs/plain.txt there: ") +
          RemoteWrite(QStringLiteral("/Docs/plain.txt"), "plain there", 2));
    ASSERT_TRUE(WaitQuiet(kLong)) << Unquiet().toStdString();

    sync_->QueueResync(XMOResyncRemote);
    Trace(QStringLiteral("a walk of the whole folder"));
    SettleAndCheck(QStringLiteral("names that cannot exist here"));
    EXPECT_TRUE(log_.contains(QStringLiteral("PeltaResyncLocalThread:ResyncRemote"))) << "no walk ran";
    for (const auto& [path, content] : odd)
        EXPECT_EQ(ServiceContent(path), content);
    EXPECT_EQ(ReadFileBytes(Full(QStringLiteral("/Docs/plain.txt"))), "plain there");
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
