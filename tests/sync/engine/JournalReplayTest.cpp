// The journal replay through the fake service: what another agent committed
// arrives in the folder and the store, the own entries are left out, the
// position moves to just after what was replayed, and nothing local is lost
// on the way - changed files keep their content with the service's beside
// them, a recycled folder keeps what changed here, moves never go over
// anything, an unmounted folder and bad replies change nothing.

#include "tests/sync/EngineServiceFixture.h"

#include "foundation/PeltaFSQueue.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaDb.h"
#include "sync/rules/JournalPosition.h"
#include "sync/rules/MountedFolder.h"
#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/HalfRecordedChange.h"
#include "tests/sync/JournalStandIn.h"
#include "tests/sync/ScriptedService.h"
#include "tests/sync/TreeListing.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <functional>
#include <ostream>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

const QString kOtherAgent = QStringLiteral("another-agent");
const TreeListing::Form kTreeForm{QLatin1Char('\\'), false};

constexpr auto ServicePathOf = &TreeListing::ServicePathOf;
constexpr auto RelativeOf = &TreeListing::RelativeOf;

// Records what the replay tells the application: the tray's busy state and
// the settings it stores. onBusy runs when the tray is told "busy".
class ReplayNotices : public RecordingNotices {
public:
    void SetSyncStatus(bool busy, bool, int) override
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex_);
            tray_ << (busy ? QStringLiteral("busy") : QStringLiteral("idle"));
            if (busy)
                hook = onBusy;
        }
        if (hook)
            hook();
    }

    void SetSetting(const QString& name, const QString& value) override
    {
        std::lock_guard lock(mutex_);
        settings_[name] = value;
    }

    QString Setting(const QString& name) const
    {
        std::lock_guard lock(mutex_);
        const auto found = settings_.find(name);
        return found == settings_.end() ? QStringLiteral("(unset)") : found->second;
    }

    QStringList Tray() const
    {
        std::lock_guard lock(mutex_);
        return tray_;
    }

    std::function<void()> onBusy;

private:
    mutable std::mutex mutex_;
    QStringList tray_;
    std::map<QString, QString> settings_;
};

class JournalReplayTest : public EngineServiceFixture {
protected:
    void SetUp() override
    {
        EngineServiceFixture::SetUp();
        EngineNotices::Install(notices_);
        service_.State().SetClock(1000);
        ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
        TakeFinalQueue();
    }

    void TearDown() override
    {
        TakeFinalQueue();
        evtFSFinalQueue.Reset();
        EngineServiceFixture::TearDown();
    }

    static std::vector<PeltaFSQueue> TakeFinalQueue()
    {
        std::vector<PeltaFSQueue> items;
        std::lock_guard lock(csFSFinalQueue);
        while (std::unique_ptr<PeltaFSQueue> item = FSFinalQueue.Pop())
            items.push_back(*item);
        return items;
    }

    void Commit(FakeObjType type, FakeAction action, const QString& relative, const QByteArray& content = {},
                const QString& dest = {}, const QString& agent = kOtherAgent)
    {
        FakeChange change;
        change.objType = type;
        change.action = action;
        if (action == FakeAction::Move) {
            change.origPath = ServicePathOf(relative);
            change.destPath = ServicePathOf(dest);
        } else {
            change.path = ServicePathOf(relative);
        }
        change.localMtime = 2000;
        change.size = content.size();
        const FakeCommitResult result = service_.State().CommitChange(UserId, agent, change, content);
        ASSERT_TRUE(result.message.isEmpty()) << result.message.toStdString();
    }
    void OtherAddsFile(const QString& relative, const QByteArray& content)
    {
        Commit(FakeObjType::File, FakeAction::Add, relative, content);
    }
    void OtherAddsFolder(const QString& relative) { Commit(FakeObjType::Folder, FakeAction::Add, relative); }
    void OtherRecycles(const QString& relative, bool folder = false)
    {
        Commit(folder ? FakeObjType::Folder : FakeObjType::File, FakeAction::Recycle, relative);
    }
    void OtherMoves(const QString& from, const QString& to, bool folder = false)
    {
        Commit(folder ? FakeObjType::Folder : FakeObjType::File, FakeAction::Move, from, {}, to);
    }

    // Items synchronised before: alike on the service, on disk and in the
    // store.
    void SyncedFolder(const QString& relative)
    {
        ASSERT_TRUE(service_.State().SeedFolder(UserId, ServicePathOf(relative), 1500));
        MakeFolder(relative);
        PeltaRecVfsSyncFile record;
        record.kind = XFSFolder;
        record.path = relative;
        engine_->FillRecordKeys(record);
        record.version = ServiceVersion(ServicePathOf(relative));
        record.mtime = record.ctime = 1500;
        ASSERT_TRUE(engine_->Db().RecAdd(record, true));
    }
    void SyncedFile(const QString& relative, const QByteArray& content)
    {
        ASSERT_TRUE(service_.State().SeedFile(UserId, ServicePathOf(relative), content, 1500));
        MakeFile(relative, content, 1500);
        StoreFileRecord(relative, ServiceVersion(ServicePathOf(relative)), 1500, content.size());
    }

    int Replay(const QString& position = QStringLiteral("0"))
    {
        return engine_->ResyncJournal(position, 1, true);
    }
    int CountJournal(const QString& position = QStringLiteral("0"))
    {
        return engine_->ResyncJournal(position, 2, true);
    }
    QString Position() const { return notices_->Setting(QStringLiteral("last_sync_time")); }
    QString LastCommitTime() { return service_.State().Journal(UserId).back().commitTime; }

    QByteArray LocalContent(const QString& relative) const
    {
        return QFileInfo(Local(relative)).isFile() ? ReadFileBytes(Local(relative)) : QByteArray("(none)");
    }
    bool LocalFolder(const QString& relative) const { return QFileInfo(Local(relative)).isDir(); }

    // "\path|content" of every local file and "\path\" of every folder, the
    // cache folder aside.
    QStringList LocalTree() const { return TreeListing::Local(SyncRoot(), kTreeForm); }
    QStringList ServiceTree() { return TreeListing::Service(service_.State(), UserId, kTreeForm); }
    // The distinct contents of the service's files, sorted.
    QStringList ServiceContents()
    {
        QStringList contents;
        for (const QString& entry : ServiceTree()) {
            if (entry.contains(QLatin1Char('|')))
                contents << entry.section(QLatin1Char('|'), 1);
        }
        contents.sort();
        contents.removeDuplicates();
        return contents;
    }
    // "\path|version" of every stored file and "\path\" of every folder; the
    // same of the service's live items.
    QStringList StoredTree()
    {
        QStringList tree = Rows(QStringLiteral("select path || '|' || version from vfs_sync_file"));
        for (const QString& folder : Rows(QStringLiteral("select path from vfs_sync_folder")))
            tree << folder + QLatin1Char('\\');
        tree.sort();
        return tree;
    }
    QStringList ServiceVersions()
    {
        QStringList tree;
        for (const FakeItem& item : service_.State().Items(UserId)) {
            if (item.recycled)
                continue;
            tree << (item.isFolder ? RelativeOf(item.path) + QLatin1Char('\\')
                                   : RelativeOf(item.path) + QLatin1Char('|') + QString::number(item.version));
        }
        tree.sort();
        return tree;
    }
    QStringList ConflictCopies(const QString& folder = QString()) const
    {
        return QDir(Local(folder)).entryList({QStringLiteral("*(conflict *")}, QDir::Files, QDir::Name);
    }
    double RowOf(const QString& path)
    {
        return Number(QStringLiteral("select rowid from sync_request where path=") + PeltaRec::Literal(path));
    }
    // Rows still to be carried out.
    QStringList OpenRequests()
    {
        return Rows(QStringLiteral("select action, path from sync_request where status in (0, 1, 3, 5, 6, 7)"));
    }
    QStringList RequestsFor(int action)
    {
        return Rows(QStringLiteral("select path from sync_request where action=") + QString::number(action) +
                    QStringLiteral(" order by rowid"));
    }

    std::shared_ptr<ReplayNotices> notices_ = std::make_shared<ReplayNotices>();
};

// ---- Entries of another agent ------------------------------------------------------------

TEST_F(JournalReplayTest, AnotherAgentsChangesArriveAndTheFolderTheStoreAndTheServiceAgree)
{
    SyncedFolder(QStringLiteral("\\Old"));
    SyncedFile(QStringLiteral("\\Old\\keep.txt"), "keep");
    SyncedFile(QStringLiteral("\\gone.txt"), "gone");
    SyncedFile(QStringLiteral("\\edit.txt"), "v1");
    SyncedFile(QStringLiteral("\\moveme.txt"), "moving");
    OtherAddsFolder(QStringLiteral("\\Docs"));
    OtherAddsFile(QStringLiteral("\\Docs\\a.txt"), "alpha");
    OtherAgentEdits(QStringLiteral("/edit.txt"), "v2, longer", 2100);
    OtherMoves(QStringLiteral("\\moveme.txt"), QStringLiteral("\\Docs\\moved.txt"));
    OtherRecycles(QStringLiteral("\\gone.txt"));
    OtherMoves(QStringLiteral("\\Old"), QStringLiteral("\\Docs\\Old"), true);
    OtherAddsFolder(QStringLiteral("\\Docs\\Empty"));
    OtherAddsFile(QStringLiteral("\\Docs\\Empty\\b.txt"), "beta");
    OtherRecycles(QStringLiteral("\\Docs\\Empty\\b.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
    EXPECT_EQ(Joined(StoredTree()), Joined(ServiceVersions()));
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Position(), JournalPosition::After(LastCommitTime()));
    EXPECT_EQ(Joined(notices_->Tray()), "busy\nidle");
    // Nothing is read twice from there.
    EXPECT_EQ(Replay(Position()), PeltaSync::JournalNothingNew);
}

// ---- Entries of this agent ---------------------------------------------------------------

// What this agent's own calls did is left out while it is known here. A file
// that one of its calls left on the service unknown here - the service kept
// a commit under a conflict name and its reply never came - arrives like
// another agent's file.
struct OwnEntryCase {
    const char* name;
    // Runs after this agent committed \mine.txt.
    std::function<void(JournalReplayTest&)> prepare;
    bool fetched;
};

void PrintTo(const OwnEntryCase& c, std::ostream* os)
{
    *os << c.name;
}

class OwnEntryTest : public JournalReplayTest, public ::testing::WithParamInterface<OwnEntryCase> {
public:
    void OwnCommit(FakeAction action) { Commit(FakeObjType::File, action, Mine(), "mine", {}, AgentKey); }
    void StoredWithServiceVersion() { StoreFileRecord(Mine(), ServiceVersion(QStringLiteral("/mine.txt")), 2000, 4); }
    // A local change of \mine.txt still to be carried out: its deletion, or
    // its move to \moved.txt.
    void OpenRow(int action)
    {
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = action == XSYNCFileMove ? QStringLiteral("\\moved.txt") : Mine();
        record.mtime = 2000;
        engine_->FillRecordKeys(record);
        PeltaRecVfsSyncFile old;
        old.kind = XFSFile;
        old.path = Mine();
        engine_->FillRecordKeys(old);
        XMap none;
        ASSERT_TRUE(engine_->Db().AddSyncRequestTo(record, action, false, action == XSYNCFileMove ? &old : nullptr,
                                                   none));
    }
    static QString Mine() { return QStringLiteral("\\mine.txt"); }
};

TEST_P(OwnEntryTest, OnlyAFileNotKnownHereArrives)
{
    OwnCommit(FakeAction::Add);
    GetParam().prepare(*this);
    OtherAddsFolder(QStringLiteral("\\Theirs"));
    Commit(FakeObjType::Folder, FakeAction::Add, QStringLiteral("\\MineToo"), {}, {}, AgentKey);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_TRUE(LocalFolder(QStringLiteral("\\Theirs")));
    EXPECT_FALSE(LocalFolder(QStringLiteral("\\MineToo")));
    EXPECT_EQ(LocalContent(Mine()), GetParam().fetched ? "mine" : "(none)");
    if (GetParam().fetched) {
        EXPECT_TRUE(QString::fromStdString(FileRecord(Mine()))
                        .startsWith(ServiceVersion(QStringLiteral("/mine.txt")) + QLatin1Char('|')));
    }
    EXPECT_EQ(Joined(ConflictCopies()), "");
    EXPECT_EQ(Position(), JournalPosition::After(LastCommitTime()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OwnEntryTest,
    ::testing::Values(
        OwnEntryCase{"NotKnownHere", [](JournalReplayTest&) {}, true},
        OwnEntryCase{"StoredWithItsVersion",
                     [](JournalReplayTest& t) { static_cast<OwnEntryTest&>(t).StoredWithServiceVersion(); }, false},
        OwnEntryCase{"ItsDeletionHereStillOpen",
                     [](JournalReplayTest& t) { static_cast<OwnEntryTest&>(t).OpenRow(XSYNCFileDel); }, false},
        OwnEntryCase{"ItsMoveHereStillOpen",
                     [](JournalReplayTest& t) { static_cast<OwnEntryTest&>(t).OpenRow(XSYNCFileMove); }, false},
        OwnEntryCase{"RecycledLaterByThisAgent",
                     [](JournalReplayTest& t) { static_cast<OwnEntryTest&>(t).OwnCommit(FakeAction::Recycle); },
                     false}),
    [](const ::testing::TestParamInfo<OwnEntryCase>& info) { return info.param.name; });

// A file added here over a name where the service holds another computer's
// file: the service keeps the upload under a conflict name, but the reply of
// that commit is lost. Whatever the service ends up holding of it reaches
// this folder too.
TEST_F(JournalReplayTest, AConflictCopyWhoseCommitReplyWasLostArrivesHere)
{
    OtherAddsFile(QStringLiteral("\\c.txt"), "theirs");
    AddLocal(QStringLiteral("\\c.txt"), "mine", 1800);
    service_.Faults().SetNext("commitSyncJournal", Fault::DropBeforeReply());

    DriveWithRetries(4);
    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    DriveWithRetries(4);
    Replay(Position());

    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
    EXPECT_TRUE(LocalTree().contains(QStringLiteral("\\c (conflict 1).txt|mine"))) << Joined(LocalTree());
    EXPECT_EQ(Joined(OpenRequests()), "");
}

TEST_F(JournalReplayTest, CountModeAnswersOneFromFiftyEntriesAndChangesNothing)
{
    for (int n = 0; n < 49; ++n)
        OtherAddsFolder(QStringLiteral("\\F") + QString::number(n));
    EXPECT_EQ(CountJournal(), PeltaSync::JournalNothingNew);
    OtherAddsFolder(QStringLiteral("\\F49"));
    EXPECT_EQ(CountJournal(), PeltaSync::JournalLong);
    EXPECT_EQ(CountJournal(JournalPosition::After(LastCommitTime())), PeltaSync::JournalNothingNew);
    EXPECT_FALSE(LocalFolder(QStringLiteral("\\F0")));
    EXPECT_EQ(Position(), "(unset)");
}

// ---- The position ------------------------------------------------------------------------

struct PositionCase {
    const char* name;
    int digits;
    int fraction;
    const char* commitTime;
    const char* position;
};

void PrintTo(const PositionCase& c, std::ostream* os)
{
    *os << c.name;
}

class JournalPositionReplayTest : public JournalReplayTest, public ::testing::WithParamInterface<PositionCase> {};

// The next commit is read from the stored position, and nothing before it.
TEST_P(JournalPositionReplayTest, TheNextReplayReadsTheNextCommitAndNothingAgain)
{
    service_.State().SetCommitFractionDigits(GetParam().digits);
    service_.State().SetNextCommitFraction(GetParam().fraction);
    OtherAddsFolder(QStringLiteral("\\A"));
    ASSERT_EQ(LastCommitTime(), QString::fromLatin1(GetParam().commitTime));
    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    ASSERT_EQ(Position(), QString::fromLatin1(GetParam().position));

    OtherAddsFolder(QStringLiteral("\\B"));
    ASSERT_EQ(Replay(Position()), PeltaSync::JournalReplayed);
    EXPECT_TRUE(LocalFolder(QStringLiteral("\\B")));
    EXPECT_EQ(Replay(Position()), PeltaSync::JournalNothingNew);
}

INSTANTIATE_TEST_SUITE_P(Fractions, JournalPositionReplayTest,
                         ::testing::Values(PositionCase{"LeadingZero", 2, 5, "1000.05", "1000.06"},
                                           PositionCase{"AllNines", 2, 99, "1000.99", "1001.00"},
                                           PositionCase{"OneDigit", 1, 9, "1000.9", "1001.0"},
                                           PositionCase{"ThreeDigits", 3, 123, "1000.123", "1000.124"}),
                         [](const ::testing::TestParamInfo<PositionCase>& info) { return info.param.name; });

TEST_F(JournalReplayTest, ALastCommitTimeThatIsNoNumberLeavesThePositionAsItWas)
{
    OtherAddsFolder(QStringLiteral("\\A"));
    FakeJournalEntry entry;
    entry.agentKey = kOtherAgent;
    entry.commitTime = QStringLiteral("soon");
    entry.objType = QStringLiteral("folder");
    entry.action = QStringLiteral("add");
    entry.version = QStringLiteral("1");
    entry.path = QStringLiteral("/B");
    service_.State().AppendJournalEntry(UserId, entry);
    TakeLog();

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_TRUE(LocalFolder(QStringLiteral("\\B")));
    EXPECT_EQ(Position(), "(unset)");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("commit time is not a decimal number, position unchanged:soon")));
}

TEST_F(JournalReplayTest, AFailedExchangeIsNeitherNothingNewNorAPosition)
{
    OtherAddsFolder(QStringLiteral("\\A"));
    const Fault faults[] = {Fault::Http500(), Fault::NonJson(), Fault::DropAfterBytes(20),
                            Fault::Message(QStringLiteral("caching data expired or not set"))};
    for (const Fault& fault : faults) {
        service_.Faults().SetNext("getSyncJournal", fault);
        EXPECT_EQ(Replay(), PeltaSync::JournalExchangeFailed) << int(fault.kind);
        service_.Faults().SetNext("getSyncJournal", fault);
        EXPECT_EQ(CountJournal(), PeltaSync::JournalExchangeFailed) << int(fault.kind);
    }
    EXPECT_FALSE(LocalFolder(QStringLiteral("\\A")));
    EXPECT_EQ(Position(), "(unset)");
    EXPECT_EQ(Replay(), PeltaSync::JournalReplayed);
}

// Stopped between the tray's busy notice and the first entry.
TEST_F(JournalReplayTest, AStoppedReplayKeepsThePositionAndGivesTheTrayBack)
{
    OtherAddsFolder(QStringLiteral("\\A"));
    notices_->onBusy = [this] { engine_->SetAgentSetting(&settings_); };
    EXPECT_EQ(Replay(), PeltaSync::JournalStopped);
    EXPECT_EQ(Joined(notices_->Tray()), "busy\nidle");
    EXPECT_FALSE(LocalFolder(QStringLiteral("\\A")));
    EXPECT_EQ(Position(), "(unset)");

    notices_->onBusy = nullptr;
    engine_->ClearAbort();
    EXPECT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_TRUE(LocalFolder(QStringLiteral("\\A")));
}

// ---- The safe replace ---------------------------------------------------------------------

TEST_F(JournalReplayTest, ARemoteEditOfAFileChangedHereLandsBesideIt)
{
    SyncedFile(QStringLiteral("\\r.txt"), "base");
    MakeFile(QStringLiteral("\\r.txt"), "mine, changed", 1600);
    OtherAgentEdits(QStringLiteral("/r.txt"), "theirs", 2000);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\r.txt")), "mine, changed");
    const QStringList copies = ConflictCopies();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(LocalContent(QLatin1Char('\\') + copies.first()), "theirs");
    EXPECT_EQ(Joined(RequestsFor(XSYNCFileMod)), "\\r.txt");
}

// The service's new file could not be fetched yet when a file of the same
// name was written here: the local content is no edit of the service's, so
// neither replaces the other, whichever goes first.
TEST_F(JournalReplayTest, AFileWrittenHereBeforeTheServicesNewFileArrivesKeepsBoth)
{
    OtherAddsFile(QStringLiteral("\\a.txt"), "theirs");
    service_.Faults().SetAlways("getFileCheck", Fault::Http500());
    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    ModifyLocal(QStringLiteral("\\a.txt"), "mine here", 1700);
    service_.Faults().Clear("getFileCheck");

    // The upload goes before the waiting download.
    const int upload = static_cast<int>(Number(QStringLiteral("select rowid from sync_request where action in (") +
                                               QString::number(XSYNCFileAdd) + QStringLiteral(", ") +
                                               QString::number(XSYNCFileMod) + QStringLiteral(")")));
    ASSERT_GT(upload, 0);
    PeltaRecSyncRequest row = LoadRow(upload);
    RequestSteps::Tally tally;
    steps_->Drive(row, tally);
    DriveWithRetries();

    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Joined(ServiceContents()), "mine here\ntheirs");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

// A file made here, never sent, is deleted here; before the engine takes in
// the deletion, another agent adds a file of that name and its download
// starts. The deletion is taken in while the download runs: the file the
// download then puts in place is the service's and keeps a record, so
// neither the waiting upload nor the deletion after it removes the
// service's file.
TEST_F(JournalReplayTest, ADeletionTakenInWhileTheServicesFileComesLeavesItOnBothSides)
{
    const QString path = QStringLiteral("\\c.bin");
    AddLocal(path, "made here, never sent", 1700);
    Remove(path);
    OtherAddsFile(path, "theirs");
    service_.Faults().SetNext("download", Fault::Delay(std::chrono::milliseconds(1500)));
    const std::size_t downloads = service_.CallCount("download");
    int replayed = 0;
    std::thread replay([&] { replayed = Replay(); });
    const bool held = WaitUntil([&] { return service_.CallCount("download") > downloads; });
    if (held)
        engine_->FileRemove(path);
    replay.join();
    ASSERT_TRUE(held);
    ASSERT_EQ(replayed, PeltaSync::JournalReplayed);
    ASSERT_EQ(LocalContent(path), "theirs");
    EXPECT_NE(FileRecord(path), "");

    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(ServiceContent(QStringLiteral("/c.bin")), "theirs");
    EXPECT_EQ(LocalContent(path), "theirs");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

// A file renamed here whose move has not gone up yet holds content the
// service does not have under the new name: the service's new file of that
// name lands beside it.
TEST_F(JournalReplayTest, AServiceFileArrivingAtTheNameOfAMoveHereLandsBesideIt)
{
    SyncedFile(QStringLiteral("\\e.txt"), "mine");
    ASSERT_TRUE(QDir().rename(Local(QStringLiteral("\\e.txt")), Local(QStringLiteral("\\c.bin"))));
    ASSERT_TRUE(engine_->FileRename(QStringLiteral("\\e.txt"), QStringLiteral("\\c.bin")));
    OtherAddsFile(QStringLiteral("\\c.bin"), "first");
    OtherAgentEdits(QStringLiteral("/c.bin"), "theirs", 2100);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\c.bin")), "mine");
    const QStringList copies = ConflictCopies();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(LocalContent(QLatin1Char('\\') + copies.first()), "theirs");

    DriveWithRetries();
    EXPECT_EQ(Joined(ServiceContents()), "mine\ntheirs");
}

struct RecycleCase {
    const char* name;
    // Makes \r.txt as the case has it; the service has it synchronised.
    std::function<void(JournalReplayTest&)> prepare;
    bool removed;
};

void PrintTo(const RecycleCase& c, std::ostream* os)
{
    *os << c.name;
}

class RecycleFileTest : public JournalReplayTest, public ::testing::WithParamInterface<RecycleCase> {
public:
    void Synced(const QByteArray& content) { SyncedFile(QStringLiteral("\\r.txt"), content); }
    void ChangeHere(const QByteArray& content, std::int64_t mtime)
    {
        MakeFile(QStringLiteral("\\r.txt"), content, mtime);
    }
    void UploadRow()
    {
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = QStringLiteral("\\r.txt");
        ASSERT_TRUE(engine_->Db().RecGet(record));
        ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileMod, false));
    }
    // A file renamed here onto the name, its move not gone up yet.
    void MovedHereRow()
    {
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = QStringLiteral("\\r.txt");
        ASSERT_TRUE(engine_->Db().RecGet(record));
        PeltaRecVfsSyncFile old = record;
        old.path = QStringLiteral("\\q.txt");
        XMap extra;
        ASSERT_TRUE(engine_->Db().AddSyncRequestTo(record, XSYNCFileMove, false, &old, extra));
    }
    void Unversioned() { Run(QStringLiteral("update vfs_sync_file set version=''")); }
    void Unknown() { Run(QStringLiteral("delete from vfs_sync_file")); }
};

// Only a file that still is what the store says goes with the service's
// recycle; anything else stays and goes up again as a new file.
TEST_P(RecycleFileTest, OnlyAFileThatMatchesItsRecordIsDeleted)
{
    GetParam().prepare(*this);
    const QByteArray before = LocalContent(QStringLiteral("\\r.txt"));
    OtherRecycles(QStringLiteral("\\r.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    if (GetParam().removed) {
        EXPECT_EQ(LocalContent(QStringLiteral("\\r.txt")), "(none)");
        EXPECT_EQ(FileRecord(QStringLiteral("\\r.txt")), "");
        return;
    }
    EXPECT_EQ(LocalContent(QStringLiteral("\\r.txt")), before);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where path='\\r.txt' and action in (1, 2)")),
              1);
    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/r.txt")), before);
}

INSTANTIATE_TEST_SUITE_P(
    States, RecycleFileTest,
    ::testing::Values(
        RecycleCase{"Unchanged", [](JournalReplayTest& t) { static_cast<RecycleFileTest&>(t).Synced("same"); },
                    true},
        RecycleCase{"ChangedHere",
                    [](JournalReplayTest& t) {
                        auto& test = static_cast<RecycleFileTest&>(t);
                        test.Synced("old");
                        test.ChangeHere("new content", 1700);
                    },
                    false},
        RecycleCase{"UploadRowOpen",
                    [](JournalReplayTest& t) {
                        auto& test = static_cast<RecycleFileTest&>(t);
                        test.Synced("same");
                        test.UploadRow();
                    },
                    false},
        RecycleCase{"MovedHereRowOpen",
                    [](JournalReplayTest& t) {
                        auto& test = static_cast<RecycleFileTest&>(t);
                        test.Synced("same");
                        test.MovedHereRow();
                    },
                    false},
        RecycleCase{"StoredWithoutVersion",
                    [](JournalReplayTest& t) {
                        auto& test = static_cast<RecycleFileTest&>(t);
                        test.Synced("same");
                        test.Unversioned();
                    },
                    false},
        RecycleCase{"NotStored",
                    [](JournalReplayTest& t) {
                        auto& test = static_cast<RecycleFileTest&>(t);
                        test.Synced("same");
                        test.Unknown();
                    },
                    false}),
    [](const ::testing::TestParamInfo<RecycleCase>& info) { return info.param.name; });

TEST_F(JournalReplayTest, ARecycledFolderLosesOnlyWhatStillMatchesItsRecords)
{
    SyncedFolder(QStringLiteral("\\F"));
    SyncedFile(QStringLiteral("\\F\\same.txt"), "same");
    SyncedFile(QStringLiteral("\\F\\changed.txt"), "old");
    MakeFile(QStringLiteral("\\F\\changed.txt"), "changed here", 1700);
    SyncedFolder(QStringLiteral("\\F\\Sub"));
    SyncedFile(QStringLiteral("\\F\\Sub\\same.txt"), "same");
    SyncedFolder(QStringLiteral("\\F\\Keep"));
    MakeFile(QStringLiteral("\\F\\Keep\\new.txt"), "new here", 1800);
    OtherRecycles(QStringLiteral("\\F"), true);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(Joined(LocalTree()), "\\F\\\n\\F\\Keep\\\n\\F\\Keep\\new.txt|new here\n\\F\\changed.txt|changed here");
    EXPECT_EQ(Joined(StoredTree()), "\\F\\\n\\F\\Keep\\\n\\F\\Keep\\new.txt|\n\\F\\changed.txt|");
    // A folder goes up before what it holds.
    EXPECT_EQ(Joined(RequestsFor(XSYNCFolderAdd)), "\\F\n\\F\\Keep");
    EXPECT_EQ(RequestsFor(XSYNCFileAdd).size(), 2);
    EXPECT_EQ(RowOf(QStringLiteral("\\F")), 1);
    EXPECT_LT(RowOf(QStringLiteral("\\F\\Keep")), RowOf(QStringLiteral("\\F\\Keep\\new.txt")));

    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/F/changed.txt")), "changed here");
    EXPECT_EQ(ServiceContent(QStringLiteral("/F/Keep/new.txt")), "new here");
    EXPECT_FALSE(ServiceItem(QStringLiteral("/F/same.txt")));
}

TEST_F(JournalReplayTest, AnUnmountedSyncFolderReplaysNothing)
{
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/a.txt"), "data", 1500));
    StoreFileRecord(QStringLiteral("\\a.txt"), ServiceVersion(QStringLiteral("/a.txt")), 1500, 4);
    OtherRecycles(QStringLiteral("\\a.txt"));
    OtherAddsFolder(QStringLiteral("\\New"));
    // An empty mount point: the disk with the files is not there.
    ASSERT_TRUE(QFile::remove(MountedFolder(SyncRoot()).MarkerPath()));

    EXPECT_EQ(Replay(), PeltaSync::JournalStopped);
    EXPECT_NE(FileRecord(QStringLiteral("\\a.txt")), "");
    EXPECT_FALSE(LocalFolder(QStringLiteral("\\New")));
    EXPECT_EQ(Position(), "(unset)");
}

// The disk goes away after the replay started: the recycle deletes nothing.
TEST_F(JournalReplayTest, ASyncFolderGoneDuringTheReplayLosesNothing)
{
    SyncedFile(QStringLiteral("\\a.txt"), "data");
    OtherRecycles(QStringLiteral("\\a.txt"));
    const QString away = SyncRoot() + QStringLiteral(".away");
    notices_->onBusy = [&] { ASSERT_TRUE(QDir().rename(SyncRoot(), away)); };

    EXPECT_EQ(Replay(), PeltaSync::JournalStopped);
    ASSERT_TRUE(QDir().rename(away, SyncRoot()));
    EXPECT_EQ(LocalContent(QStringLiteral("\\a.txt")), "data");
    EXPECT_NE(FileRecord(QStringLiteral("\\a.txt")), "");
    EXPECT_EQ(Position(), "(unset)");
}

// ---- Moves ---------------------------------------------------------------------------------

TEST_F(JournalReplayTest, AFileChangedHereMovesWithItsContentAndTheChangeGoesUp)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    MakeFile(QStringLiteral("\\m.txt"), "changed here", 1700);
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\m.txt")), "(none)");
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "changed here");
    EXPECT_EQ(FileRecord(QStringLiteral("\\m.txt")), "");
    // The record moved, took the service's new version, and then the local
    // content's time and size with the modification queued.
    EXPECT_EQ(FileRecord(QStringLiteral("\\n.txt")),
              ServiceVersion(QStringLiteral("/n.txt")).toStdString() + "|1700|12");
    EXPECT_EQ(Joined(RequestsFor(XSYNCFileMod)), "\\n.txt");
    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/n.txt")), "changed here");
    EXPECT_TRUE(ConflictCopies().isEmpty());
}

// The change was seen and queued under the old name before the move came:
// its row finds nothing at the old name, so the content must go up under the
// new one, and the service's next edit must not replace it.
TEST_F(JournalReplayTest, AChangeQueuedBeforeAMoveGoesUpUnderTheNewName)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    ModifyLocal(QStringLiteral("\\m.txt"), "changed here", 1700);
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));
    OtherAgentEdits(QStringLiteral("/n.txt"), "theirs", 2100);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "changed here");
    const QStringList copies = ConflictCopies();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(LocalContent(QLatin1Char('\\') + copies.first()), "theirs");

    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(LocalContent(QStringLiteral("\\m.txt")), "(none)");
    EXPECT_EQ(Joined(ServiceContents()), "changed here\ntheirs");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

// A change here is being recorded - its record holds the new time and
// size, its upload row is not open yet - when another agent's move or
// recycle of the file comes. Taken then, the entry would find the file like
// its record with nothing waiting to go up: the move would leave the change
// to a row that finds no file at the old name, the recycle would delete it.
// The entry waits for the recording, and the change goes up.
struct ChangeBeingRecordedCase {
    const char* name;
    // Commits the other agent's entry for \m.txt.
    std::function<void(JournalReplayTest&)> commit;
    const char* endsAt;  // where the change is at the end, here and there
};

void PrintTo(const ChangeBeingRecordedCase& c, std::ostream* os)
{
    *os << c.name;
}

class ChangeBeingRecordedTest : public JournalReplayTest,
                                public ::testing::WithParamInterface<ChangeBeingRecordedCase> {
public:
    void Moves() { OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt")); }
    void Recycles() { OtherRecycles(QStringLiteral("\\m.txt")); }
};

TEST_P(ChangeBeingRecordedTest, TheEntryWaitsAndTheChangeGoesUp)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    GetParam().commit(*this);

    // The recording of the change, as far as its record.
    HalfRecordedChange recording;
    const auto recorder = std::make_unique<PeltaSync>(reg_.get(), &settings_, *status_, conflicts_);
    MakeFile(QStringLiteral("\\m.txt"), "changed here", 1700);
    PeltaRecVfsSyncFile changed;
    changed.kind = XFSFile;
    changed.path = QStringLiteral("\\m.txt");
    ASSERT_TRUE(recorder->Db().RecGet(changed));
    changed.mtime = changed.ctime = 1700;
    changed.size = 12;
    ASSERT_TRUE(recorder->Db().RecUpdate(changed));

    int result = 0;
    bool queued = false;
    const bool reached = recording.RaceWith([&] { result = Replay(); },
                                            // The rest of the recording: the upload row.
                                            [&] { queued = recorder->Db().AddSyncRequest(changed, XSYNCFileMod, false); });

    ASSERT_TRUE(reached);
    ASSERT_TRUE(queued);
    ASSERT_EQ(result, PeltaSync::JournalReplayed);
    const QString endsAt = QString::fromLatin1(GetParam().endsAt);
    EXPECT_EQ(LocalContent(endsAt), "changed here");
    DriveWithRetries();
    EXPECT_EQ(ServiceContent(ServicePathOf(endsAt)), "changed here");
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ChangeBeingRecordedTest,
    ::testing::Values(
        ChangeBeingRecordedCase{"Move", [](JournalReplayTest& t) { static_cast<ChangeBeingRecordedTest&>(t).Moves(); },
                                "\\n.txt"},
        ChangeBeingRecordedCase{"Recycle",
                                [](JournalReplayTest& t) { static_cast<ChangeBeingRecordedTest&>(t).Recycles(); },
                                "\\m.txt"}),
    [](const ::testing::TestParamInfo<ChangeBeingRecordedCase>& info) { return info.param.name; });

// The service's edit before the move never came here (its download found
// the old name gone): the moved file here is older than the service's and
// is fetched at the new name rather than taken for the moved version.
TEST_F(JournalReplayTest, AMovedFileWhoseEditNeverCameIsFetchedAtTheNewName)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    // The edit, without the journal entry this agent has passed already.
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/m.txt"), "theirs", 2100));
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\m.txt")), "(none)");
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "theirs");
    EXPECT_TRUE(ConflictCopies().isEmpty());
    EXPECT_EQ(Joined(OpenRequests()), "");
}

// Another agent's edit that never came here (its download ended without
// it), then its move: the file here is older than the one moved, so the
// service's content comes to the new name and a change made here later is
// an edit of the version this side knew, never of the service's newer one.
TEST_F(JournalReplayTest, AFileMovedAfterAChangeNotSeenHereComesWithTheServicesContent)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    OtherAgentEdits(QStringLiteral("/m.txt"), "edited there", 2100);
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));

    ASSERT_EQ(Replay(LastCommitTime()), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\m.txt")), "(none)");
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "edited there");
    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

// Another agent edits a file whose change here still waits to go up, then
// moves it; the download of its edit meets the old name gone before the
// move is replayed here. The change here goes up based on the version it was
// made from, never as an edit of the moved one: both contents survive.
TEST_F(JournalReplayTest, AnEditWhoseDownloadFoundTheFileMovedIsNotReplacedByTheChangeHere)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    ModifyLocal(QStringLiteral("\\m.txt"), "changed here", 1700);
    OtherAgentEdits(QStringLiteral("/m.txt"), "edited there", 2100);
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));
    const QString moveEntry = LastCommitTime();

    // What the edit's replay left: a download of the old name.
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\m.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    ASSERT_TRUE(engine_->QueueFileGet(record));
    PeltaRecSyncRequest download = LoadRow(static_cast<int>(
        Number(QStringLiteral("select rowid from sync_request where action=") + QString::number(XSYNCFileGet))));
    ASSERT_NE(download.rowid, 0);
    {
        JournalStandIn journal([&] { EXPECT_EQ(Replay(moveEntry), PeltaSync::JournalReplayed); });
        EXPECT_FALSE(engine_->GetFileCheck(download, true));
    }
    // The move's replay comes in any case, at the latest with the next pull.
    if (LocalContent(QStringLiteral("\\m.txt")) != "(none)")
        ASSERT_EQ(Replay(moveEntry), PeltaSync::JournalReplayed);

    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Joined(ServiceContents()), "changed here\nedited there");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

// Another agent's change committed before an own move of its folder names
// the folder's old path; it arrives where the move put the folder here.
TEST_F(JournalReplayTest, AChangeBeforeAnOwnFolderMoveArrivesInTheMovedFolder)
{
    SyncedFolder(QStringLiteral("\\Docs"));
    SyncedFolder(QStringLiteral("\\Docs\\B"));
    SyncedFile(QStringLiteral("\\Docs\\B\\b.txt"), "old");
    Commit(FakeObjType::File, FakeAction::Edit, QStringLiteral("\\Docs\\B\\b.txt"), "theirs");
    OtherAddsFile(QStringLiteral("\\Docs\\new.txt"), "added there");
    Move(QStringLiteral("\\Docs"), QStringLiteral("\\B"));
    ASSERT_TRUE(engine_->FileRename(QStringLiteral("\\Docs"), QStringLiteral("\\B")));
    Drive();
    ASSERT_TRUE(ServiceItem(QStringLiteral("/B/B/b.txt")));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    DriveWithRetries();
    EXPECT_EQ(LocalContent(QStringLiteral("\\B\\B\\b.txt")), "theirs");
    EXPECT_EQ(LocalContent(QStringLiteral("\\B\\new.txt")), "added there");
    EXPECT_FALSE(LocalFolder(QStringLiteral("\\Docs")));
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
    EXPECT_EQ(Joined(StoredTree()), Joined(ServiceVersions()));
}

// An upload sent but not yet committed when the replay moves its file (and
// its record) here: the commit makes the old name again on the service,
// where this side has nothing under it any more; that name goes again.
TEST_F(JournalReplayTest, AnUploadCommittedAfterItsFileMovedLeavesNoOldNameOnTheService)
{
    SyncedFile(QStringLiteral("\\m.txt"), "old");
    ModifyLocal(QStringLiteral("\\m.txt"), "changed here", 1700);
    PeltaRecSyncRequest upload = LoadRow(int(RowOf(QStringLiteral("\\m.txt"))));
    RequestSteps::Tally tally;
    ASSERT_TRUE(steps_->Handle(upload, tally));  // registered
    ASSERT_TRUE(steps_->Handle(upload, tally));  // sent, the commit is next
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));
    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    ASSERT_EQ(LocalContent(QStringLiteral("\\n.txt")), "changed here");

    steps_->Handle(upload, tally);
    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/m.txt")), "(none)");
    EXPECT_EQ(LocalContent(QStringLiteral("\\m.txt")), "(none)");
    EXPECT_TRUE(ServiceItem(QStringLiteral("/n.txt")));
    EXPECT_EQ(FileRecord(QStringLiteral("\\m.txt")), "");
    EXPECT_EQ(Joined(OpenRequests()), "") << Joined(RowStates());
}

// A move onto a name taken here by a new local file: the local file stays
// as it is, the service's file comes beside it, and the source goes here as
// it went there - unless it changed here, then it stays and goes up anew.
struct MoveOntoLocalCase {
    const char* name;
    bool sourceChangedHere;
    const char* sourceAfter;
};

std::ostream& operator<<(std::ostream& out, const MoveOntoLocalCase& item)
{
    return out << item.name;
}

class MoveOntoLocalFileTest : public JournalReplayTest, public ::testing::WithParamInterface<MoveOntoLocalCase> {
};

TEST_P(MoveOntoLocalFileTest, TheLocalFileStaysAndTheSourceFollowsTheService)
{
    const MoveOntoLocalCase& item = GetParam();
    SyncedFile(QStringLiteral("\\m.txt"), "moved");
    if (item.sourceChangedHere)
        MakeFile(QStringLiteral("\\m.txt"), "changed here", 1700);
    AddLocal(QStringLiteral("\\n.txt"), "mine here", 1800);
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "mine here");
    EXPECT_EQ(LocalContent(QStringLiteral("\\m.txt")), item.sourceAfter);
    const QStringList copies = ConflictCopies();
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(LocalContent(QLatin1Char('\\') + copies.first()), "moved");

    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    // Both sides hold the same names with the same content.
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
    EXPECT_EQ(ServiceContent(QStringLiteral("/m.txt")), item.sourceChangedHere ? "changed here" : "(none)");
}

INSTANTIATE_TEST_SUITE_P(Cases, MoveOntoLocalFileTest,
                         ::testing::Values(MoveOntoLocalCase{"SourceUnchanged", false, "(none)"},
                                           MoveOntoLocalCase{"SourceChangedHere", true, "changed here"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JournalReplayTest, AFileMoveWhoseSourceIsGoneHereFetchesTheDestination)
{
    SyncedFile(QStringLiteral("\\m.txt"), "moved");
    Remove(QStringLiteral("\\m.txt"));
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "moved");
    EXPECT_EQ(FileRecord(QStringLiteral("\\m.txt")), "");
    EXPECT_TRUE(QString::fromStdString(FileRecord(QStringLiteral("\\n.txt")))
                    .startsWith(ServiceVersion(QStringLiteral("/n.txt")) + QLatin1Char('|')));
}

// A file here under the moved name that was never the service's - written
// here before the service's file of that name arrived, or not recorded at
// all - is not the file that moved: it stays and goes up as new, and the
// service's content comes to the new name. Neither replaces the other.
class MoveOfAFileNeverHereTest : public JournalReplayTest,
                                 public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(MoveOfAFileNeverHereTest, TheLocalFileStaysAndTheMovedOneArrives)
{
    const bool recorded = GetParam().second;
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/f.dat"), "theirs", 1500));
    if (recorded)
        AddLocal(QStringLiteral("\\f.dat"), "mine here", 1700);
    else
        MakeFile(QStringLiteral("\\f.dat"), "mine here", 1700);
    OtherMoves(QStringLiteral("\\f.dat"), QStringLiteral("\\e.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\f.dat")), "mine here");
    EXPECT_EQ(LocalContent(QStringLiteral("\\e.txt")), "theirs");

    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Joined(ServiceContents()), "mine here\ntheirs");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

INSTANTIATE_TEST_SUITE_P(Cases, MoveOfAFileNeverHereTest,
                         ::testing::Values(std::pair{"RecordedWithoutVersion", true}, std::pair{"NotRecorded", false}),
                         [](const auto& info) { return std::string(info.param.first); });

// A file that cannot be fetched now is left to a download row, so that a
// rescan does not take the missing copy for a deletion made here.
TEST_F(JournalReplayTest, AFileThatCannotBeFetchedNowIsLeftToADownloadRow)
{
    SyncedFile(QStringLiteral("\\m.txt"), "moved");
    Remove(QStringLiteral("\\m.txt"));
    OtherMoves(QStringLiteral("\\m.txt"), QStringLiteral("\\n.txt"));
    OtherAddsFile(QStringLiteral("\\a.txt"), "added");
    service_.Faults().SetAlways("getFileCheck", Fault::Http500());

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(Joined(RequestsFor(XSYNCFileGet)), "\\n.txt\n\\a.txt");
    engine_->ResyncLocal(QStringLiteral("\\"), false, true);
    EXPECT_EQ(Joined(RequestsFor(XSYNCFileDel)), "");

    service_.Faults().Clear("getFileCheck");
    DriveWithRetries();
    EXPECT_EQ(LocalContent(QStringLiteral("\\n.txt")), "moved");
    EXPECT_EQ(LocalContent(QStringLiteral("\\a.txt")), "added");
}

// A file renamed here whose move has not reached the service yet, while
// another agent adds a file of its own under the new name and then moves
// that one on: neither entry is about the file here. It keeps its name and
// content, the other agent's file arrives where it went, and once the move
// lands both sides hold both.
TEST_F(JournalReplayTest, EntriesOfAnotherFileUnderTheNameOfAMoveStillToGoLeaveTheMovedFile)
{
    SyncedFile(QStringLiteral("\\b.txt"), "mine");
    Move(QStringLiteral("\\b.txt"), QStringLiteral("\\a.txt"));
    ASSERT_TRUE(engine_->FileRename(QStringLiteral("\\b.txt"), QStringLiteral("\\a.txt")));
    OtherAddsFile(QStringLiteral("\\a.txt"), "theirs");
    OtherMoves(QStringLiteral("\\a.txt"), QStringLiteral("\\notes.md"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\a.txt")), "mine");
    EXPECT_EQ(LocalContent(QStringLiteral("\\notes.md")), "theirs");

    DriveWithRetries();
    EXPECT_FALSE(ServiceItem(QStringLiteral("/b.txt")));
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "mine");
    EXPECT_EQ(ServiceContent(QStringLiteral("/notes.md")), "theirs");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
    EXPECT_EQ(Joined(OpenRequests()), "");
}

// A download of the file was waiting, with part of it fetched into the
// cache folder, when another agent moved or recycled the file: the row and
// its partial file both go, and the cache folder keeps nothing of it.
struct GoneOnTheServiceCase {
    const char* name;
    bool recycled;  // else moved to \\n.txt
};

void PrintTo(const GoneOnTheServiceCase& c, std::ostream* os)
{
    *os << c.name;
}

class DownloadOfAFileGoneOnTheServiceTest : public JournalReplayTest,
                                            public ::testing::WithParamInterface<GoneOnTheServiceCase> {};

TEST_P(DownloadOfAFileGoneOnTheServiceTest, LeavesNoPartialFileInTheCacheFolder)
{
    const QString path = QStringLiteral("\\m.txt");
    SyncedFile(path, "old");
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = path;
    ASSERT_TRUE(engine_->Db().RecGet(record));
    ASSERT_TRUE(engine_->QueueFileGet(record));
    ASSERT_TRUE(engine_->EnsureCacheDir());
    const QString partial = engine_->CacheDir() + QStringLiteral("/.") + engine_->RecordKey(path);
    ASSERT_TRUE(WriteFileBytes(partial, "part of a newer version"));
    ASSERT_TRUE(WriteFileBytes(partial + QStringLiteral("_v"), "2\n300"));
    if (GetParam().recycled)
        OtherRecycles(path);
    else
        OtherMoves(path, QStringLiteral("\\n.txt"));

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(Joined(QDir(engine_->CacheDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name)), ".mounted");
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

INSTANTIATE_TEST_SUITE_P(Entries, DownloadOfAFileGoneOnTheServiceTest,
                         ::testing::Values(GoneOnTheServiceCase{"Moved", false},
                                           GoneOnTheServiceCase{"Recycled", true}),
                         [](const ::testing::TestParamInfo<GoneOnTheServiceCase>& info) {
                             return std::string(info.param.name);
                         });

class FolderMoveTest : public JournalReplayTest, public ::testing::WithParamInterface<const char*> {};

// Names compare exactly: a move that changes only letter case is a move.
TEST_P(FolderMoveTest, TheFolderIsRenamedHereAndItsRowsFollow)
{
    const QString from = QStringLiteral("\\docs");
    const QString to = QString::fromLatin1(GetParam());
    SyncedFolder(from);
    SyncedFile(from + QStringLiteral("\\x.txt"), "x");
    SyncedFolder(from + QStringLiteral("\\B"));
    SyncedFile(from + QStringLiteral("\\B\\y.txt"), "y");
    OtherMoves(from, to, true);
    TakeLog();

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
    EXPECT_EQ(Joined(StoredTree()), Joined(ServiceVersions()));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, parent from vfs_sync_file order by path"))),
              Joined({to + QStringLiteral("\\B\\y.txt|") + engine_->RecordKey(to + QStringLiteral("\\B")),
                      to + QStringLiteral("\\x.txt|") + engine_->RecordKey(to)}));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::ResyncRemote(1) Start ") + to));
    EXPECT_TRUE(TakeFinalQueue().empty());
}

INSTANTIATE_TEST_SUITE_P(Names, FolderMoveTest, ::testing::Values("\\Archive", "\\Docs"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param + 1);
                         });

// Changes recorded here below the folder, a modification and a new file,
// have not gone up when the service's move comes: they go up at the new
// paths, and nothing comes back at the old one.
TEST_F(JournalReplayTest, ChangesNotSentBelowAMovedFolderGoUpUnderItsNewName)
{
    SyncedFolder(QStringLiteral("\\docs"));
    SyncedFile(QStringLiteral("\\docs\\x.txt"), "base");
    ModifyLocal(QStringLiteral("\\docs\\x.txt"), "changed here", 1700);
    AddLocal(QStringLiteral("\\docs\\new.txt"), "new here", 1800);
    OtherMoves(QStringLiteral("\\docs"), QStringLiteral("\\Archive"), true);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\Archive\\x.txt")), "changed here");
    DriveWithRetries();
    EXPECT_EQ(Joined(OpenRequests()), "");
    EXPECT_EQ(ServiceContent(QStringLiteral("/Archive/x.txt")), "changed here");
    EXPECT_EQ(ServiceContent(QStringLiteral("/Archive/new.txt")), "new here");
    EXPECT_FALSE(ServiceItem(QStringLiteral("/docs")));
    EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
}

TEST_F(JournalReplayTest, AFolderMoveOntoAFolderHereKeepsTheSource)
{
    SyncedFolder(QStringLiteral("\\A"));
    SyncedFile(QStringLiteral("\\A\\x.txt"), "x");
    MakeFolder(QStringLiteral("\\C"));
    MakeFile(QStringLiteral("\\C\\mine.txt"), "mine", 1800);
    OtherMoves(QStringLiteral("\\A"), QStringLiteral("\\C"), true);

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(LocalContent(QStringLiteral("\\A\\x.txt")), "x");
    EXPECT_EQ(LocalContent(QStringLiteral("\\C\\mine.txt")), "mine");
    EXPECT_NE(FileRecord(QStringLiteral("\\A\\x.txt")), "");
}

// The rows move before the content arrives: the rescan queued for the
// folder restores what is missing instead of deleting it.
TEST_F(JournalReplayTest, AFolderMovedWhileMissingHereQueuesARescanThatRestores)
{
    SyncedFolder(QStringLiteral("\\A"));
    SyncedFile(QStringLiteral("\\A\\x.txt"), "x");
    Remove(QStringLiteral("\\A"));
    OtherMoves(QStringLiteral("\\A"), QStringLiteral("\\C"), true);
    evtFSFinalQueue.Reset();

    ASSERT_EQ(Replay(), PeltaSync::JournalReplayed);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder union all "
                                         "select path from vfs_sync_file order by path"))),
              "\\C\n\\C\\x.txt");
    EXPECT_TRUE(LocalFolder(QStringLiteral("\\C")));
    const std::vector<PeltaFSQueue> items = TakeFinalQueue();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].status, XMOResyncLocalNoRemoval);
    EXPECT_EQ(items[0].path, QStringLiteral("\\C"));
    EXPECT_EQ(evtFSFinalQueue.Wait(0), Event::WaitResult::Signalled);

    // The rescan the item asks for removes nothing; the walk of the moved
    // folder has brought its file back.
    engine_->ResyncLocal(items[0].path, true, false);
    EXPECT_EQ(Joined(RequestsFor(XSYNCFileDel)) + Joined(RequestsFor(XSYNCFolderDel)), "");
    EXPECT_EQ(LocalContent(QStringLiteral("\\C\\x.txt")), "x");
}

// ---- Replies the fake never gives ------------------------------------------------------------

QString Entry(const char* commitTime, const char* objType, const char* action, const QString& commitDesc,
              const QString& reqDesc = QStringLiteral("{\"local_mtime\":\"2000\",\"size\":\"4\"}"))
{
    return QStringLiteral("{\"agent_key\":\"another-agent\",\"commit_time\":\"%1\",\"obj_type\":\"%2\","
                          "\"action\":\"%3\",\"commit_desc\":%4,\"req_desc\":%5}")
        .arg(QString::fromLatin1(commitTime), QString::fromLatin1(objType), QString::fromLatin1(action),
             commitDesc, reqDesc);
}

QString Desc(const QString& servicePath)
{
    return QStringLiteral("{\"status\":\"1\",\"version\":\"3\",\"my_base64_full_path_name\":\"%1\"}")
        .arg(Base64UrlEncodeText(servicePath));
}

QString Reply(const QStringList& entries, const char* count = nullptr)
{
    const QString counted = count ? QString::fromLatin1(count) : QString::number(entries.size());
    return QStringLiteral("{\"status\":\"1\",\"commit_journal_count\":\"%1\",\"commit_journal\":[%2]}")
        .arg(counted, entries.join(QLatin1Char(',')));
}

struct BadReplyCase {
    const char* name;
    QString body;
    int result;
    const char* position;  // "(unset)": none stored
    const char* logged;
    QStringList made;      // folders the replay made
};

void PrintTo(const BadReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadReplyTest : public JournalReplayTest, public ::testing::WithParamInterface<BadReplyCase> {};

// Each gets a log line, nothing here is lost, and the position never passes
// an entry that was not applied.
TEST_P(BadReplyTest, NothingIsLostAndThePositionStaysBeforeWhatWasNotApplied)
{
    SyncedFile(QStringLiteral("\\keep.txt"), "keep");
    const std::string record = FileRecord(QStringLiteral("\\keep.txt"));
    ScriptedService scripted;
    scripted.Push(GetParam().body.toUtf8());
    ServiceUrl = scripted.BaseUrl();
    TakeLog();

    EXPECT_EQ(Replay(), GetParam().result);
    EXPECT_EQ(Position(), QString::fromLatin1(GetParam().position));
    EXPECT_TRUE(TakeLog().contains(QString::fromUtf8(GetParam().logged))) << GetParam().logged;
    EXPECT_EQ(LocalContent(QStringLiteral("\\keep.txt")), "keep");
    EXPECT_EQ(FileRecord(QStringLiteral("\\keep.txt")), record);
    QStringList made;
    for (const QString& line : LocalTree()) {
        if (line.endsWith(QLatin1Char('\\')))
            made << line.chopped(1);
    }
    EXPECT_EQ(Joined(made), Joined(GetParam().made));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(SyncRoot()).path() + QStringLiteral("/outside")));
    EXPECT_FALSE(QFileInfo::exists(engine_->CacheDir() + QStringLiteral("/x")));
}

const QString kFolderA = Entry("1000.001", "folder", "add", Desc(QStringLiteral("/A")));
const QString kFolderB = Entry("1000.003", "folder", "add", Desc(QStringLiteral("/B")));

INSTANTIATE_TEST_SUITE_P(
    Replies, BadReplyTest,
    ::testing::Values(
        BadReplyCase{"NotJson", QStringLiteral("<html>busy</html>"), PeltaSync::JournalExchangeFailed, "(unset)",
                     "getSyncJournal failed", {}},
        BadReplyCase{"Truncated", Reply({kFolderA, kFolderB}).left(120), PeltaSync::JournalExchangeFailed,
                     "(unset)", "getSyncJournal failed", {}},
        BadReplyCase{"JournalNotAnArray",
                     QStringLiteral("{\"status\":\"1\",\"commit_journal_count\":\"1\",\"commit_journal\":{}}"),
                     PeltaSync::JournalExchangeFailed, "(unset)", "reply without its commit_journal array", {}},
        BadReplyCase{"JournalMissing", QStringLiteral("{\"status\":\"1\",\"commit_journal_count\":\"2\"}"),
                     PeltaSync::JournalExchangeFailed, "(unset)", "reply without its commit_journal array", {}},
        BadReplyCase{"NegativeCount", Reply({kFolderA}, "-1"), PeltaSync::JournalExchangeFailed, "(unset)",
                     "negative commit_journal_count", {}},
        BadReplyCase{"CountNotANumber", Reply({kFolderA}, "many"), PeltaSync::JournalReplayed, "1000.002",
                     "commit_journal_count is not an integer", {QStringLiteral("\\A")}},
        BadReplyCase{"DescriptionOfTheWrongType",
                     Reply({kFolderA, Entry("1000.002", "folder", "add", QStringLiteral("7")), kFolderB}),
                     PeltaSync::JournalReplayed, "1000.002", "entry not readable (no commit_desc object):1000.002",
                     {QStringLiteral("\\A"), QStringLiteral("\\B")}},
        BadReplyCase{"EntryNotAnObject", Reply({QStringLiteral("\"text\""), kFolderB}), PeltaSync::JournalReplayed,
                     "(unset)", "entry not readable (not an object)", {QStringLiteral("\\B")}},
        BadReplyCase{"FileWithoutRequestDescription",
                     Reply({kFolderA, Entry("1000.002", "file", "add", Desc(QStringLiteral("/f.txt")),
                                            QStringLiteral("{}"))}),
                     PeltaSync::JournalReplayed, "1000.002", "entry not readable (no req_desc",
                     {QStringLiteral("\\A")}},
        BadReplyCase{"PathNotBase64",
                     Reply({Entry("1000.001", "folder", "add",
                                  QStringLiteral("{\"status\":\"1\",\"my_base64_full_path_name\":\"%%%\"}")),
                            kFolderB}),
                     PeltaSync::JournalReplayed, "(unset)", "missing or not Base64url", {QStringLiteral("\\B")}},
        // Nothing of these could ever exist here: they are passed.
        BadReplyCase{"PathsOutsideTheFolder",
                     Reply({Entry("1000.001", "folder", "add", Desc(QStringLiteral("/../outside"))),
                            Entry("1000.002", "file", "recycle", Desc(QStringLiteral("/a/../../keep.txt"))),
                            Entry("1000.003", "folder", "add", Desc(QStringLiteral("/.tessaron.cache/x")))}),
                     PeltaSync::JournalReplayed, "1000.004", "refused", {}},
        // A move has a side that could exist here: it holds the position.
        BadReplyCase{"MoveToAPathOutside",
                     Reply({kFolderA,
                            Entry("1000.002", "file", "move",
                                  QStringLiteral("{\"status\":\"1\",\"version\":\"2\","
                                                 "\"my_base64_orig_full_path_name\":\"%1\","
                                                 "\"my_base64_dest_full_path_name\":\"%2\"}")
                                      .arg(Base64UrlEncodeText(QStringLiteral("/keep.txt")),
                                           Base64UrlEncodeText(QStringLiteral("/../outside"))))}),
                     PeltaSync::JournalReplayed, "1000.002", "refused", {QStringLiteral("\\A")}},
        BadReplyCase{"UnknownKind",
                     Reply({kFolderA, Entry("1000.002", "file", "restore", Desc(QStringLiteral("/keep.txt"))),
                            kFolderB}),
                     PeltaSync::JournalReplayed, "1000.002", "entry not readable (unknown kind)",
                     {QStringLiteral("\\A"), QStringLiteral("\\B")}},
        BadReplyCase{"FailedCommitIsPassed",
                     Reply({kFolderA, Entry("1000.002", "file", "recycle",
                                            QStringLiteral("{\"status\":\"0\",\"my_base64_full_path_name\":\"%1\"}")
                                                .arg(Base64UrlEncodeText(QStringLiteral("/keep.txt"))))}),
                     PeltaSync::JournalReplayed, "1000.003", "last_sync_time=1000.003", {QStringLiteral("\\A")}}),
    [](const ::testing::TestParamInfo<BadReplyCase>& info) { return info.param.name; });

}  // namespace
