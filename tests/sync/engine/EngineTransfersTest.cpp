// The engine's transfers through the fake service: uploads from the row's
// snapshot by each method with resume, downloads through the cache folder
// with resume and the safe replace, and what happens when the file, the
// reply or the service changes underneath.

#include "tests/sync/EngineServiceFixture.h"

#include "foundation/Constants.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/ProcessState.h"
#include "sync/rules/FileInUse.h"
#include "sync/rules/UploadSnapshot.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/HalfRecordedChange.h"
#include "tests/sync/ScriptedService.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <thread>

namespace {

constexpr qint64 kMiB = 1048576;

class EngineTransfersTest : public EngineServiceFixture {
protected:
    void TearDown() override
    {
        FileInUse::Override({});
        EngineServiceFixture::TearDown();
    }

    // The conflict copies beside a file: the names in its folder that say so.
    QStringList ConflictCopies() const
    {
        return QDir(SyncRoot()).entryList({QStringLiteral("*(conflict *")}, QDir::Files, QDir::Name);
    }

    // A file the service holds, with the record a walk stores for it and a
    // download row.
    void QueueServiceFile(const QString& relative, const QByteArray& content, std::int64_t mtime,
                          const QString& storedVersion = QString(), std::int64_t storedMtime = 0,
                          std::int64_t storedSize = 0)
    {
        QString servicePath = relative;
        servicePath.replace(QLatin1Char('\\'), QLatin1Char('/'));
        ASSERT_TRUE(service_.State().SeedFile(UserId, servicePath, content, mtime));
        StoreFileRecord(relative, storedVersion, storedMtime, storedSize);
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = relative;
        ASSERT_TRUE(engine_->Db().RecGet(record));
        ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileGet, false));
    }

    std::size_t Calls(const char* method) const { return service_.CallCount(method); }

    // Notes in the table "written", at every write of the path's record,
    // its version and size and how many uploads of the path are open then.
    void NoteRecordWrites(const QString& path)
    {
        Run(QStringLiteral("create table written (version text, size integer, uploads integer)"));
        for (const QString& write : {QStringLiteral("insert"), QStringLiteral("update")}) {
            Run(QStringLiteral("create trigger written_on_%1 after %1 on vfs_sync_file when new.path=%2 begin "
                               "insert into written select new.version, new.size, count(*) from sync_request "
                               "where path=new.path and commit_time is null and status<10 and action in (%3, %4); "
                               "end")
                    .arg(write, PeltaRec::Literal(path))
                    .arg(XSYNCFileAdd)
                    .arg(XSYNCFileMod));
        }
    }
};

// ---- Uploads --------------------------------------------------------------------------

class UploadMethodTest : public EngineTransfersTest, public ::testing::WithParamInterface<int> {};

TEST_P(UploadMethodTest, AFileReachesTheServiceWhole)
{
    UploadMethod = GetParam();
    const QByteArray content = PatternData(2 * kMiB + kMiB / 2, 1);
    AddLocal(QStringLiteral("\\big.bin"), content, 1000);
    Drive();
    ASSERT_TRUE(ServiceItem(QStringLiteral("/big.bin")));
    EXPECT_TRUE(ServiceContent(QStringLiteral("/big.bin")) == content);
    EXPECT_EQ(Joined(RowStates()), "1|4|0");
    // The snapshot went with the commit.
    EXPECT_TRUE(QDir(engine_->CacheDir()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Methods, UploadMethodTest,
                         ::testing::Values(int(UploadMethodPutFile), int(UploadMethodPostFile),
                                           int(UploadMethodPostFile2)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(UploadMethodNames[std::size_t(info.param)]);
                         });

class ResumeTest : public EngineTransfersTest, public ::testing::WithParamInterface<int> {
protected:
    // Uploads a 2.5 MiB file whose second part or chunk breaks off.
    void CutUpload()
    {
        UploadMethod = GetParam();
        content_ = PatternData(2 * kMiB + kMiB / 2, 2);
        AddLocal(QStringLiteral("\\big.bin"), content_, 1000);
        const char* method = UploadMethodNames[std::size_t(GetParam())];
        service_.Faults().SetNext(method, Fault::Delay(std::chrono::milliseconds(0)));
        service_.Faults().SetNext(method, Fault::DropAfterRequestBytes(1000));
        Drive();
        ASSERT_EQ(Joined(RowStates()), "1|5|1");
        row_ = LoadRow(1);
        snapshot_ = engine_->SnapshotOf(row_);
        ASSERT_TRUE(QFileInfo::exists(snapshot_));
    }

    void Finish()
    {
        DriveWithRetries(3);
        ASSERT_TRUE(ServiceItem(QStringLiteral("/big.bin")));
        EXPECT_TRUE(ServiceContent(QStringLiteral("/big.bin")) == content_);
        EXPECT_EQ(Joined(Rows(QStringLiteral("select status from sync_request"))), "4");
    }

    QByteArray content_;
    PeltaRecSyncRequest row_;
    QString snapshot_;
};

TEST_P(ResumeTest, AnUnchangedSnapshotContinuesWhereTheServiceStopped)
{
    CutUpload();
    TakeLog();
    Finish();
    const QString log = TakeLog();
    EXPECT_TRUE(log.contains(QStringLiteral(":1048576"))) << log.toStdString();
    EXPECT_EQ(service_.State().SyncKeys(UserId).size(), 1u);
}

TEST_P(ResumeTest, ASnapshotChangedSinceTheFirstPartStartsAgainUnderAFreshKey)
{
    CutUpload();
    // Another copy of the same size: what the service holds is not its start.
    ASSERT_TRUE(QFile::remove(snapshot_));
    ASSERT_TRUE(WriteFileBytes(snapshot_, PatternData(content_.size(), 3)));
    Finish();
    EXPECT_EQ(service_.State().SyncKeys(UserId).size(), 2u);
}

TEST_P(ResumeTest, AServiceHoldingMoreThanTheSnapshotStartsAgainUnderAFreshKey)
{
    CutUpload();
    ASSERT_TRUE(service_.State().AppendUpload(UserId, row_.sync_journal_key, PatternData(2 * kMiB, 9)));
    Finish();
    EXPECT_EQ(service_.State().SyncKeys(UserId).size(), 2u);
}

TEST_P(ResumeTest, AServiceHoldingTheWholeSnapshotIsCommittedWithoutSendingAgain)
{
    CutUpload();
    ASSERT_TRUE(service_.State().AppendUpload(UserId, row_.sync_journal_key, content_.mid(kMiB)));
    const std::size_t transfers = Calls(UploadMethodNames[std::size_t(GetParam())]);
    Finish();
    // Only the size query.
    EXPECT_EQ(Calls(UploadMethodNames[std::size_t(GetParam())]), transfers + 1);
}

INSTANTIATE_TEST_SUITE_P(Methods, ResumeTest,
                         ::testing::Values(int(UploadMethodPutFile), int(UploadMethodPostFile2)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(UploadMethodNames[std::size_t(info.param)]);
                         });

// A later row of the same file takes a snapshot of its own, so the copy an
// earlier row registered is the one it sends.
TEST_F(EngineTransfersTest, ALaterRowNeverOverwritesTheSnapshotAnEarlierRowSends)
{
    service_.State().SetRefuseSizeMismatch(true);
    AddLocal(QStringLiteral("\\a.txt"), "first", 1000);
    PeltaRecSyncRequest first = LoadRow(1);
    steps_->SetSyncJournal(first);
    ASSERT_EQ(first.status, PeltaSync::RequestTransfer);

    MakeFile(QStringLiteral("\\a.txt"), "second, longer", 2000);
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\a.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    record.mtime = 2000;
    record.size = 14;
    ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileMod, false));
    PeltaRecSyncRequest second = LoadRow(2);
    steps_->SetSyncJournal(second);
    ASSERT_EQ(second.status, PeltaSync::RequestTransfer);

    RequestSteps::Tally tally;
    steps_->Drive(first, tally);
    EXPECT_EQ(first.status, PeltaSync::RequestCommitted) << TakeLog().toStdString();
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "first");
    // Registered before any version was known, the second row went as an
    // add; it is registered again as an edit of what the first one left.
    steps_->Drive(second, tally);
    EXPECT_EQ(second.status, PeltaSync::RequestRegister);
    steps_->Drive(second, tally);
    EXPECT_EQ(second.status, PeltaSync::RequestCommitted);
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "second, longer");
}

// The record takes the size and time of what was sent, so a change made
// during the upload is found and sent next.
TEST_F(EngineTransfersTest, AChangeMadeDuringTheUploadIsSentNext)
{
    AddLocal(QStringLiteral("\\a.txt"), "as registered", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    steps_->SetSyncJournal(row);
    MakeFile(QStringLiteral("\\a.txt"), "changed during the upload", 2000);
    RequestSteps::Tally tally;
    steps_->Drive(row, tally);
    ASSERT_EQ(row.status, PeltaSync::RequestCommitted);
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "as registered");
    EXPECT_EQ(FileRecord(QStringLiteral("\\a.txt")),
              (ServiceVersion(QStringLiteral("/a.txt")) + QStringLiteral("|1000|13")).toStdString());

    engine_->FileModify(QStringLiteral("\\a.txt"));
    Drive();
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "changed during the upload");
}

// Removing a file's records leaves the snapshot that an open row sends and
// takes those no open row owns.
TEST_F(EngineTransfersTest, RemovedRecordsTakeOnlySnapshotsNoOpenRowOwns)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    steps_->SetSyncJournal(row);
    const QString cache = engine_->CacheDir();
    const QString key = engine_->RecordKey(QStringLiteral("\\a.txt"));
    ASSERT_TRUE(WriteFileBytes(UploadSnapshot::PathOf(cache, key, 77), "of a finished row"));
    ASSERT_TRUE(WriteFileBytes(UploadSnapshot::PendingPathOf(cache, key), "copied while in use"));

    Remove(QStringLiteral("\\a.txt"));
    ASSERT_TRUE(engine_->FileRemove(QStringLiteral("\\a.txt")));
    EXPECT_EQ(QDir(cache).entryList(QDir::Files | QDir::Hidden), QStringList{UploadSnapshot::NameOf(key, 1)});
}

// The copy taken of a file in use waits for the row that registers the
// file; when that row is cancelled (the file went before its registration)
// and no other upload row of the file is open, the copy goes with it.
TEST_F(EngineTransfersTest, ACancelledRowLeavesNoCopyOfAFileInUseBehind)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    const QString pending =
        UploadSnapshot::PendingPathOf(engine_->CacheDir(), engine_->RecordKey(QStringLiteral("\\a.txt")));
    ASSERT_TRUE(engine_->EnsureCacheDir());
    ASSERT_TRUE(WriteFileBytes(pending, "copied while in use"));
    Remove(QStringLiteral("\\a.txt"));
    Drive();
    EXPECT_EQ(Joined(RowStates()), "1|12|0");
    EXPECT_FALSE(QFileInfo::exists(pending));
}

// A snapshot that is not what the registration described (cut short by a
// crash, say) is never sent: the row is registered again with a new one.
TEST_F(EngineTransfersTest, ASnapshotThatDiffersFromItsRegistrationIsTakenAgain)
{
    AddLocal(QStringLiteral("\\a.txt"), "the whole content", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    steps_->SetSyncJournal(row);
    ASSERT_TRUE(WriteFileBytes(engine_->SnapshotOf(row), ""));
    DriveWithRetries(2);
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "the whole content");
    EXPECT_EQ(Joined(RowStates()), "1|4|0");
}

TEST_F(EngineTransfersTest, AFileThatVanishesAfterItsRegistrationEndsItsRowAndLosesNothing)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    steps_->SetSyncJournal(row);
    Remove(QStringLiteral("\\a.txt"));
    RequestSteps::Tally tally;
    steps_->Drive(row, tally);
    EXPECT_EQ(Joined(RowStates()), "1|12|0");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:PostFile:\\a.txt:missing, cancel queue")));
    EXPECT_FALSE(QFileInfo::exists(engine_->SnapshotOf(row)));
}

TEST_F(EngineTransfersTest, AFileInUseWaitsForItsRegistration)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    FileInUse::Override([](const QString& full) { return full.endsWith(QStringLiteral("/a.txt")); });
    Drive();
    EXPECT_EQ(Joined(RowStates()), "1|1|1");
    EXPECT_EQ(status_->FileState(QStringLiteral("\\a.txt")), PeltaSync::FileStateInUse);
    FileInUse::Override({});
    RetriesDue();
    Drive();
    EXPECT_EQ(Joined(RowStates()), "1|4|1");
}

// ---- Downloads ------------------------------------------------------------------------------

TEST_F(EngineTransfersTest, ADownloadLandsWithTheServicesContentAndTimes)
{
    const QByteArray content = PatternData(3000, 3);
    QueueServiceFile(QStringLiteral("\\d.bin"), content, 12345);
    const RequestSteps::Tally tally = Drive();
    EXPECT_TRUE(ReadFileBytes(Local(QStringLiteral("\\d.bin"))) == content);
    EXPECT_EQ(QFileInfo(Local(QStringLiteral("\\d.bin"))).lastModified().toSecsSinceEpoch(), 12345);
    EXPECT_EQ(FileRecord(QStringLiteral("\\d.bin")),
              (ServiceVersion(QStringLiteral("/d.bin")) + QStringLiteral("|12345|3000")).toStdString());
    EXPECT_EQ(Joined(RowStates()), "5|8|0");
    EXPECT_EQ(tally.actionCounts[XSYNCFileGet], 1);
    EXPECT_EQ(tally.lastPath, QStringLiteral("\\d.bin"));
}

// Two downloads of the same new file: the second one's look at the record
// is older than the first one's placing. The test of the replace takes the
// record as it is when the file is placed, so the first download's file is
// replaced, not taken for a local change.
TEST_F(EngineTransfersTest, ASecondDownloadOfAFileJustPlacedReplacesIt)
{
    const QString path = QStringLiteral("\\d.txt");
    StoreFileRecord(path, QString(), 0, 0);
    PeltaRecVfsSyncFile before;
    before.kind = XFSFile;
    before.path = path;
    ASSERT_TRUE(engine_->Db().RecGet(before));
    ASSERT_TRUE(engine_->EnsureCacheDir());
    const QString cache = QDir(SyncRoot()).relativeFilePath(engine_->CacheDir());

    for (int download = 1; download <= 2; ++download) {
        const QString incoming = QLatin1Char('\\') + cache + QStringLiteral("\\incoming");
        MakeFile(incoming, "theirs", 2000);
        ASSERT_EQ(engine_->PlaceDownload(Local(incoming), path, before, QStringLiteral("1")),
                  SafeReplace::Outcome::Replaced)
            << "download " << download;
        // As the download writes the record once the file is in place.
        StoreFileRecord(path, QStringLiteral("1"), 2000, 6);
    }
    EXPECT_EQ(ReadFileBytes(Local(path)), "theirs");
    EXPECT_TRUE(ConflictCopies().isEmpty());
}

TEST_F(EngineTransfersTest, AnUnchangedFileIsNotDownloaded)
{
    MakeFile(QStringLiteral("\\d.txt"), "same", 500);
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/d.txt"), "same", 500));
    const QString version = ServiceVersion(QStringLiteral("/d.txt"));
    QueueServiceFile(QStringLiteral("\\e.txt"), "other", 600);  // the row's neighbour
    StoreFileRecord(QStringLiteral("\\d.txt"), version, 500, 4);
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\d.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileGet, false));
    // What an earlier, failed attempt of the row left in the cache folder.
    const QString part = SyncRoot() + QLatin1Char('/') + CacheFolderName + QStringLiteral("/.") + record.key;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(part).path()));
    ASSERT_TRUE(WriteFileBytes(part, "sa"));
    ASSERT_TRUE(WriteFileBytes(part + QStringLiteral("_v"), version.toUtf8()));
    Drive();
    EXPECT_EQ(Calls("download"), 1u);
    EXPECT_EQ(Joined(RowStates()), "5|8|0\n5|12|0");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("GetFile:\\d.txt:file not change, skip")));
    EXPECT_FALSE(QFileInfo::exists(part));
    EXPECT_FALSE(QFileInfo::exists(part + QStringLiteral("_v")));
}

// The local file changed since its record: it stays, the download is kept
// beside it as a conflict copy, and the local content goes to the service
// as an edit of the service's current version.
TEST_F(EngineTransfersTest, ADownloadNeverReplacesALocallyChangedFile)
{
    QueueServiceFile(QStringLiteral("\\r.txt"), "the service's", 700, QStringLiteral("1"), 500, 5);
    MakeFile(QStringLiteral("\\r.txt"), "changed here", 800);
    Drive();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\r.txt"))), "changed here");
    ASSERT_EQ(ConflictCopies().size(), 1) << Joined(ConflictCopies());
    EXPECT_EQ(ReadFileBytes(SyncRoot() + QLatin1Char('/') + ConflictCopies().value(0)), "the service's");

    // Sent as an edit of the version the service had: no conflict there.
    DriveWithRetries(2);
    EXPECT_EQ(ServiceContent(QStringLiteral("/r.txt")), "changed here");
    QString copy = QStringLiteral("/") + ConflictCopies().value(0);
    ASSERT_TRUE(ServiceItem(copy));
    EXPECT_EQ(ServiceContent(copy), "the service's");
    EXPECT_EQ(service_.State().Items(UserId).size(), 2u);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
}

// A change here is recorded in two writes: the record takes the file's new
// time and size, then the upload row opens. A download placed between the
// two would find the file like its record with nothing waiting to go up,
// and replace the change. It waits until the change is recorded, then keeps
// the file and puts the service's content beside it.
TEST_F(EngineTransfersTest, ADownloadWaitsForAChangeBeingRecordedHereAndKeepsIt)
{
    const QString path = QStringLiteral("\\r.txt");
    MakeFile(path, "old", 500);
    StoreFileRecord(path, QStringLiteral("1"), 500, 3);
    PeltaRecVfsSyncFile before;
    before.kind = XFSFile;
    before.path = path;
    ASSERT_TRUE(engine_->Db().RecGet(before));
    ASSERT_TRUE(engine_->EnsureCacheDir());
    const QString incoming =
        QLatin1Char('\\') + QDir(SyncRoot()).relativeFilePath(engine_->CacheDir()) + QStringLiteral("\\incoming");
    MakeFile(incoming, "theirs", 2000);

    // The recording of the change, as far as its record.
    HalfRecordedChange recording;
    const auto recorder = std::make_unique<PeltaSync>(reg_.get(), &settings_, *status_, conflicts_);
    MakeFile(path, "changed here", 800);
    PeltaRecVfsSyncFile changed = before;
    changed.mtime = changed.ctime = 800;
    changed.size = 12;
    ASSERT_TRUE(recorder->Db().RecUpdate(changed));

    SafeReplace::Outcome outcome = SafeReplace::Outcome::Failed;
    bool queued = false;
    const bool reached = recording.RaceWith([&] { outcome = engine_->PlaceDownload(Local(incoming), path, before, QStringLiteral("2")); },
                                            // The rest of the recording: the upload row.
                                            [&] { queued = recorder->Db().AddSyncRequest(changed, XSYNCFileMod, false); });

    ASSERT_TRUE(reached);
    ASSERT_TRUE(queued);
    EXPECT_EQ(outcome, SafeReplace::Outcome::KeptLocal);
    EXPECT_EQ(ReadFileBytes(Local(path)), "changed here");
    ASSERT_EQ(ConflictCopies().size(), 1) << Joined(ConflictCopies());
    EXPECT_EQ(ReadFileBytes(SyncRoot() + QLatin1Char('/') + ConflictCopies().value(0)), "theirs");
}

// The local change's upload was registered before the download came, against
// the version the record held then. Once the download kept the local file
// and moved the record on, the upload goes as an edit of the service's
// version: the service keeps the local content at the path and the
// download's conflict copy beside it, and no copy of its own.
struct RegisteredBeforeCase {
    const char* name;
    bool syncedBefore;  // false: a new local file where the service has one
};

void PrintTo(const RegisteredBeforeCase& c, std::ostream* os)
{
    *os << c.name;
}

class RegisteredBeforeDownloadTest : public EngineTransfersTest,
                                     public ::testing::WithParamInterface<RegisteredBeforeCase> {};

TEST_P(RegisteredBeforeDownloadTest, TheUploadEditsTheVersionTheRecordHoldsNow)
{
    const QString path = QStringLiteral("\\r.txt");
    if (GetParam().syncedBefore) {
        ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/r.txt"), "base", 500));
        MakeFile(path, "base", 500);
        StoreFileRecord(path, ServiceVersion(QStringLiteral("/r.txt")), 500, 4);
        OtherAgentEdits(QStringLiteral("/r.txt"), "the service's", 700);
        ModifyLocal(path, "changed here", 800);
    } else {
        ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/r.txt"), "the service's", 700));
        AddLocal(path, "changed here", 800);
    }
    service_.Faults().SetNext("postFile2", Fault::Http500());
    Drive();
    ASSERT_EQ(Number(QStringLiteral("select count(*) from sync_request where status=5")), 1)
        << "registered, not sent: " << Joined(RowStates());

    PeltaRecVfsSyncFile remote;
    remote.kind = XFSFile;
    remote.path = path;
    ASSERT_TRUE(engine_->GetRemoteObject(remote));
    engine_->GetFileDirect(remote, false);
    ASSERT_EQ(ConflictCopies().size(), 1) << Joined(ConflictCopies());
    DriveWithRetries(3);

    EXPECT_EQ(ServiceContent(QStringLiteral("/r.txt")), "changed here");
    EXPECT_EQ(ReadFileBytes(Local(path)), "changed here");
    const QString copy = QStringLiteral("/") + ConflictCopies().value(0);
    EXPECT_EQ(ServiceContent(copy), "the service's");
    EXPECT_EQ(service_.State().Items(UserId).size(), 2u);
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
}

INSTANTIATE_TEST_SUITE_P(Cases, RegisteredBeforeDownloadTest,
                         ::testing::Values(RegisteredBeforeCase{"AnEdit", true},
                                           RegisteredBeforeCase{"AnAddOverTheServicesFile", false}),
                         [](const ::testing::TestParamInfo<RegisteredBeforeCase>& info) {
                             return std::string(info.param.name);
                         });

// A download kept beside a locally changed file did not touch that file:
// the user's next change of it is the user's, not taken for the engine's own.
TEST_F(EngineTransfersTest, TheNextChangeOfAFileKeptBesideADownloadIsTheUsers)
{
    QueueServiceFile(QStringLiteral("\\k.txt"), "the service's", 700, QStringLiteral("1"), 500, 5);
    MakeFile(QStringLiteral("\\k.txt"), "changed here", 800);
    Drive();
    ASSERT_EQ(ConflictCopies().size(), 1) << Joined(ConflictCopies());
    EXPECT_FALSE(status_->IsFileMonitored(QStringLiteral("\\k.txt")));
    EXPECT_TRUE(status_->IsFileMonitored(QStringLiteral("\\") + ConflictCopies().value(0)));
}

// In the seconds after a download its path stays marked, yet only the
// download's own events are swallowed there: a file still as downloaded
// queues nothing, a file the user changed meanwhile is sent as an edit.
TEST_F(EngineTransfersTest, RightAfterADownloadOnlyTheUsersChangeIsSent)
{
    QueueServiceFile(QStringLiteral("\\own.txt"), "downloaded", 700);
    QueueServiceFile(QStringLiteral("\\edited.txt"), "downloaded", 700);
    Drive();
    ASSERT_EQ(ReadFileBytes(Local(QStringLiteral("\\edited.txt"))), "downloaded");
    ASSERT_TRUE(status_->IsFileMonitored(QStringLiteral("\\edited.txt")));
    const QStringList before = Requests();

    MakeFile(QStringLiteral("\\edited.txt"), "changed by the user", 900);
    engine_->FileModify(QStringLiteral("\\own.txt"));
    engine_->FileModify(QStringLiteral("\\edited.txt"));
    EXPECT_EQ(Joined(Requests().mid(before.size())), "2|\\edited.txt||1");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path, mtime, size from vfs_sync_file order by path"))),
              "\\edited.txt|900|19\n\\own.txt|700|10");
}

TEST_F(EngineTransfersTest, ADownloadNeverReplacesAFileWithAnOpenUpload)
{
    MakeFile(QStringLiteral("\\u.txt"), "local", 500);
    QueueServiceFile(QStringLiteral("\\u.txt"), "remote", 700, QStringLiteral("1"), 500, 5);
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\u.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileMod, true));  // taken after the download
    PeltaRecSyncRequest download = LoadRow(1);
    EXPECT_TRUE(engine_->GetFileCheck(download, true));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\u.txt"))), "local");
    EXPECT_EQ(ConflictCopies().size(), 1);
}

// A download kept beside a locally changed file moves the record on to the
// local file's facts and the service's version. From then on only the open
// upload tells another download of the same version that the file is not
// the service's: the record may never hold those facts without it, or a
// second download looking at the store in between replaces the local file.
// A trigger notes, at every write of the record, whether the upload is open.
TEST_F(EngineTransfersTest, AFileKeptBesideADownloadIsNeverRecordedWithoutItsUpload)
{
    const QString path = QStringLiteral("\\r.txt");
    StoreFileRecord(path, QStringLiteral("1"), 500, 4);
    MakeFile(path, "changed here", 800);
    PeltaRecVfsSyncFile before;
    before.kind = XFSFile;
    before.path = path;
    ASSERT_TRUE(engine_->Db().RecGet(before));
    NoteRecordWrites(path);
    ASSERT_TRUE(engine_->EnsureCacheDir());
    const QString incoming =
        QLatin1Char('\\') + QDir(SyncRoot()).relativeFilePath(engine_->CacheDir()) + QStringLiteral("\\incoming");

    for (int download = 1; download <= 2; ++download) {
        MakeFile(incoming, "theirs", 2000);
        EXPECT_EQ(engine_->PlaceDownload(Local(incoming), path, before, QStringLiteral("2")),
                  SafeReplace::Outcome::KeptLocal)
            << "download " << download;
    }
    EXPECT_EQ(ReadFileBytes(Local(path)), "changed here");
    EXPECT_EQ(ConflictCopies().size(), 2);
    EXPECT_GT(Number(QStringLiteral("select count(*) from written where version='2'")), 0);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select version, uploads from written where uploads=0"))), "");
}

// A new local file goes up while the service holds a file of that name;
// while its commit is under way the service's file arrives and is kept
// beside it. When the file changed again meanwhile (its own event comes
// only after the download moved the record on to the newest content), the
// open upload carries the older content and the newest still goes up after
// it; when it did not, the open upload carries it and nothing more goes up.
struct UploadUnderWayCase {
    const char* name;
    QByteArray newest;  // the local content when the download arrives
    int uploads;        // upload rows of the path in the end
};

void PrintTo(const UploadUnderWayCase& c, std::ostream* os)
{
    *os << c.name;
}

class UploadUnderWayTest : public EngineTransfersTest, public ::testing::WithParamInterface<UploadUnderWayCase> {
protected:
    bool ServiceHolds(const QByteArray& content)
    {
        for (const FakeItem& item : service_.State().Items(UserId)) {
            if (!item.recycled && !item.isFolder && item.content.Bytes() == content)
                return true;
        }
        return false;
    }
};

TEST_P(UploadUnderWayTest, TheNewestLocalContentReachesTheService)
{
    const QString path = QStringLiteral("\\r.txt");
    const QByteArray newest = GetParam().newest;
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/r.txt"), "the service's", 700));
    AddLocal(path, "mine", 800);
    service_.Faults().SetNext("commitSyncJournal", Fault::Delay(std::chrono::milliseconds(1500)));
    std::thread worker([&] { Drive(); });
    const bool committing = WaitUntil([&] { return Calls("commitSyncJournal") > 0; });
    if (committing) {
        if (newest != "mine")
            MakeFile(path, newest, 900);
        PeltaRecVfsSyncFile remote;
        remote.kind = XFSFile;
        remote.path = path;
        if (engine_->GetRemoteObject(remote))
            engine_->GetFileDirect(remote, false);
    }
    worker.join();
    ASSERT_TRUE(committing);
    engine_->FileModify(path);  // the change's own event, late
    DriveWithRetries(3);

    EXPECT_TRUE(ServiceHolds(newest));
    EXPECT_TRUE(ServiceHolds("the service's"));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where status in (1, 3, 5, 6, 7)")), 0)
        << Joined(RowStates());
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where path=") + PeltaRec::Literal(path) +
                     QStringLiteral(" and action in (1, 2) and status<10")),
              GetParam().uploads)
        << Joined(RowStates());
}

INSTANTIATE_TEST_SUITE_P(Cases, UploadUnderWayTest,
                         ::testing::Values(UploadUnderWayCase{"ChangedAgain", "mine, changed again", 2},
                                           UploadUnderWayCase{"Unchanged", "mine", 1}),
                         [](const ::testing::TestParamInfo<UploadUnderWayCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EngineTransfersTest, AnUnchangedLocalFileIsReplaced)
{
    MakeFile(QStringLiteral("\\r.txt"), "old", 500);
    QueueServiceFile(QStringLiteral("\\r.txt"), "newer content", 700, QStringLiteral("1"), 500, 3);
    Drive();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\r.txt"))), "newer content");
    EXPECT_TRUE(ConflictCopies().isEmpty());
}

// A partial download in the cache folder is continued only for the version
// it belongs to.
TEST_F(EngineTransfersTest, APartialDownloadOfAnotherVersionIsNotContinued)
{
    const qint64 size = 600 * 1024;
    QueueServiceFile(QStringLiteral("\\v.bin"), PatternData(size, 4), 700);
    service_.Faults().SetNext("download", Fault::DropAfterBytes(400000));
    service_.Faults().SetAlways("download", Fault::Http500());
    Drive();
    service_.Faults().ClearAll();
    ASSERT_EQ(Joined(RowStates()), "5|5|1");
    ASSERT_GT(QFileInfo(engine_->CacheDir() + QStringLiteral("/.") + engine_->RecordKey(QStringLiteral("\\v.bin")))
                  .size(),
              0);

    const QByteArray newer = PatternData(size, 5);
    OtherAgentEdits(QStringLiteral("/v.bin"), newer, 800);
    RetriesDue();
    Drive();
    EXPECT_TRUE(ReadFileBytes(Local(QStringLiteral("\\v.bin"))) == newer);
}

// The row ended while its transfer ran (the file moved or went on the
// service meanwhile): what the broken transfer left is resumed by nobody.
TEST_F(EngineTransfersTest, ADownloadWhoseRowEndedMeanwhileLeavesNoPartialFile)
{
    QueueServiceFile(QStringLiteral("\\g.bin"), PatternData(600 * 1024, 7), 700);
    PeltaRecSyncRequest download = LoadRow(1);
    ASSERT_TRUE(engine_->CancelRequest(download));
    service_.Faults().SetNext("download", Fault::DropAfterBytes(400000));
    service_.Faults().SetAlways("download", Fault::Http500());

    EXPECT_FALSE(engine_->GetFileCheck(download, true));
    service_.Faults().ClearAll();
    ASSERT_GT(Calls("download"), 0u);
    EXPECT_TRUE(QDir(engine_->CacheDir()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\g.bin"))));
}

TEST_F(EngineTransfersTest, AShortDownloadIsRetriedAndTouchesNothing)
{
    MakeFile(QStringLiteral("\\s.bin"), "old", 500);
    const QByteArray content = PatternData(500 * 1024, 6);
    QueueServiceFile(QStringLiteral("\\s.bin"), content, 700, QStringLiteral("1"), 500, 3);
    // Each attempt keeps all but the last 204800 bytes it got.
    service_.Faults().SetAlways("download", Fault::DropAfterBytes(250000));
    Drive();
    service_.Faults().ClearAll();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\s.bin"))), "old");
    EXPECT_EQ(Joined(RowStates()), "5|5|1");
    RetriesDue();
    Drive();
    EXPECT_TRUE(ReadFileBytes(Local(QStringLiteral("\\s.bin"))) == content);
}

TEST_F(EngineTransfersTest, ADownloadWaitsForALocalFileInUse)
{
    MakeFile(QStringLiteral("\\w.txt"), "old", 500);
    QueueServiceFile(QStringLiteral("\\w.txt"), "newer", 700, QStringLiteral("1"), 500, 3);
    // Taken by another program once the download has arrived.
    FileInUse::Override([this](const QString& full) {
        return full.endsWith(QStringLiteral("/w.txt")) && service_.CallCount("download") > 0;
    });
    Drive();
    EXPECT_EQ(Joined(RowStates()), "5|7|1");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\w.txt"))), "old");
    EXPECT_TRUE(conflicts_.Exists(QStringLiteral("\\w.txt")));
    EXPECT_EQ(status_->FileState(QStringLiteral("\\w.txt")), PeltaSync::FileStateDownloadWaits);

    FileInUse::Override({});
    RetriesDue();
    Drive();
    EXPECT_EQ(Joined(RowStates()), "5|8|1");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\w.txt"))), "newer");
    EXPECT_FALSE(conflicts_.Exists(QStringLiteral("\\w.txt")));
    EXPECT_EQ(status_->FileState(QStringLiteral("\\w.txt")), 0);
    EXPECT_EQ(Calls("download"), 1u);
}

TEST_F(EngineTransfersTest, AFolderRemovedBeforeTheMoveIsMadeAgainWhileTheStoreHasIt)
{
    MakeFolder(QStringLiteral("\\Docs"));
    engine_->FileAdd(QStringLiteral("\\Docs"), 0, false, false);
    Run(QStringLiteral("update sync_request set status=4, commit_time=CURRENT_TIMESTAMP"));
    MakeFile(QStringLiteral("\\Docs\\p.txt"), "old", 500);
    QueueServiceFile(QStringLiteral("\\Docs\\p.txt"), "newer", 700, QStringLiteral("1"), 500, 3);
    FileInUse::Override([this](const QString&) { return service_.CallCount("download") > 0; });
    Drive();
    ASSERT_EQ(Joined(RowStates()), "6|4|0\n5|7|1");

    FileInUse::Override({});
    Remove(QStringLiteral("\\Docs"));
    RetriesDue();
    Drive();
    EXPECT_TRUE(QFileInfo(Local(QStringLiteral("\\Docs"))).isDir());
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync:GetFileCheck:\\Docs\\p.txt:Cancel:err(2)")));
    RetriesDue();
    Drive();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\Docs\\p.txt"))), "newer");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select status from sync_request where action=5"))), "8");
}

TEST_F(EngineTransfersTest, GetFileDirectFetchesSmallFilesAndQueuesLargeOnes)
{
    const QByteArray small = PatternData(kMiB, 7);
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/small.bin"), small, 900));
    ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/large.bin"), PatternData(kMiB + 1, 8), 900));
    for (const char* name : {"\\small.bin", "\\large.bin"})
        StoreFileRecord(QString::fromLatin1(name), QString(), 0, 0);

    PeltaRecVfsSyncFile remote;
    remote.kind = XFSFile;
    remote.path = QStringLiteral("\\small.bin");
    ASSERT_TRUE(engine_->GetRemoteObject(remote));
    EXPECT_TRUE(engine_->GetFileDirect(remote, false));
    EXPECT_TRUE(ReadFileBytes(Local(QStringLiteral("\\small.bin"))) == small);
    EXPECT_EQ(FileRecord(QStringLiteral("\\small.bin")),
              (ServiceVersion(QStringLiteral("/small.bin")) + QStringLiteral("|900|1048576")).toStdString());
    EXPECT_TRUE(engine_->GetFileDirect(remote, false));  // current now: nothing fetched
    EXPECT_EQ(Calls("download"), 1u);

    remote.Clear();
    remote.kind = XFSFile;
    remote.path = QStringLiteral("\\large.bin");
    ASSERT_TRUE(engine_->GetRemoteObject(remote));
    TakeLog();
    EXPECT_FALSE(engine_->GetFileDirect(remote, false));
    EXPECT_FALSE(engine_->GetFileDirect(remote, false));
    const QString log = TakeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("Add queue success:XSYNCFileGet:\\large.bin")));
    EXPECT_TRUE(log.contains(QStringLiteral("Add queue fail:XSYNCFileGet:\\large.bin:already exists")));
    EXPECT_EQ(Joined(RowStates()), "5|5|0");
}

// ---- Conflicts at the commit -------------------------------------------------------------------

// The service kept the upload under another name because the file changed
// there meanwhile: the uploaded copy becomes that conflict copy locally, and
// the service's file comes down over the unchanged local one.
TEST_F(EngineTransfersTest, AnUploadKeptUnderAConflictNameBecomesTheLocalConflictCopy)
{
    AddLocal(QStringLiteral("\\c.txt"), "base", 1000);
    Drive();
    OtherAgentEdits(QStringLiteral("/c.txt"), "edited elsewhere", 1500);
    ModifyLocal(QStringLiteral("\\c.txt"), "edited here", 2000);
    Drive();

    ASSERT_TRUE(ServiceItem(QStringLiteral("/c (conflict 1).txt")));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\c (conflict 1).txt"))), "edited here");
    EXPECT_EQ(FileRecord(QStringLiteral("\\c (conflict 1).txt")).substr(0, 1),
              ServiceVersion(QStringLiteral("/c (conflict 1).txt")).toStdString());
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\c.txt"))), "edited elsewhere");
    EXPECT_EQ(FileRecord(QStringLiteral("\\c.txt")),
              (ServiceVersion(QStringLiteral("/c.txt")) + QStringLiteral("|1500|16")).toStdString());
    EXPECT_EQ(service_.State().Items(UserId).size(), 2u);
}

// The same while another program holds the local file: the conflict copy is
// placed at once (it comes from the snapshot), the service's file waits in a
// download row until the local one is free.
TEST_F(EngineTransfersTest, AConflictAtTheCommitWaitsForALocalFileInUse)
{
    AddLocal(QStringLiteral("\\c.txt"), "base", 1000);
    Drive();
    OtherAgentEdits(QStringLiteral("/c.txt"), "edited elsewhere", 1500);
    ModifyLocal(QStringLiteral("\\c.txt"), "edited here", 2000);
    FileInUse::Override([this](const QString& full) {
        return full.endsWith(QStringLiteral("/c.txt")) && service_.CallCount("commitSyncJournal") >= 2;
    });
    Drive();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\c (conflict 1).txt"))), "edited here");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\c.txt"))), "edited here");
    EXPECT_TRUE(conflicts_.Exists(QStringLiteral("\\c.txt")));
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where action=5 and status=5")), 1);

    FileInUse::Override({});
    DriveWithRetries(3);
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\c.txt"))), "edited elsewhere");
    EXPECT_FALSE(conflicts_.Exists(QStringLiteral("\\c.txt")));
    EXPECT_EQ(service_.State().Items(UserId).size(), 2u);
}

// ---- Replies without the fields the engine reads ------------------------------------------------

}  // namespace

namespace {

// Replies of a service that says "status 1" but leaves out what the engine
// reads, or names a path outside the sync folder.
class IncompleteReplyTest : public EngineTransfersTest {
protected:
    void UseScript() { ServiceUrl = scripted_.BaseUrl(); }
    void UseFake() { ServiceUrl = QString::fromStdString(service_.BaseUrl()); }

    ScriptedService scripted_;
};

TEST_F(IncompleteReplyTest, ARegistrationWithoutItsJournalKeyFailsTheRow)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    UseScript();
    scripted_.Push(R"({"status":"1"})");
    scripted_.Push(R"({"status":"1","sync_journal":{"key":{"a":1},"checksum":"c","expire":"5"}})");
    scripted_.Push(R"({"status":"1","sync_journal":{"key":"k","checksum":"c","expire":"soon"}})");
    for (int attempt = 0; attempt < 3; ++attempt) {
        RetriesDue();
        Drive();
    }
    EXPECT_EQ(scripted_.Answered(), 3);
    EXPECT_EQ(Joined(Rows(QStringLiteral("select status, err_count, ifnull(sync_journal_key, '') from sync_request"))),
              "1|3|");
    UseFake();
    RetriesDue();
    Drive();
    EXPECT_EQ(ServiceContent(QStringLiteral("/a.txt")), "content");
}

TEST_F(IncompleteReplyTest, ACommitWithoutAVersionFailsTheRow)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    ASSERT_FALSE(steps_->SetSyncJournal(row));
    ASSERT_TRUE(engine_->PostFile(row));
    UseScript();
    scripted_.Push(R"({"status":"1","conflict":"0"})");
    steps_->CommitSyncJournal(row);
    EXPECT_EQ(Joined(RowStates()), "1|5|1");
    EXPECT_EQ(FileRecord(QStringLiteral("\\a.txt")), "|1000|7");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("[CommitSyncJournal]:reply without version:\\a.txt")));
}

TEST_F(IncompleteReplyTest, AFileCheckWithoutMetadataFailsTheDownload)
{
    QueueServiceFile(QStringLiteral("\\d.txt"), "remote", 700);
    UseScript();
    scripted_.Push(R"({"status":"1","get_url":"http://127.0.0.1:1/none"})");
    Drive();
    EXPECT_EQ(Joined(RowStates()), "5|5|1");
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\d.txt"))));
}

TEST_F(IncompleteReplyTest, AConflictNameOutsideTheSyncFolderIsRefused)
{
    AddLocal(QStringLiteral("\\a.txt"), "content", 1000);
    PeltaRecSyncRequest row = LoadRow(1);
    ASSERT_FALSE(steps_->SetSyncJournal(row));
    ASSERT_TRUE(engine_->PostFile(row));
    UseScript();
    // "/../escape.txt"
    scripted_.Push(R"({"status":"1","version":"7","conflict":"1","my_base64_full_path_name":"Ly4uL2VzY2FwZS50eHQ="})");
    steps_->CommitSyncJournal(row);
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(SyncRoot()).path() + QStringLiteral("/escape.txt")));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\a.txt"))), "content");
    EXPECT_EQ(Joined(RowStates()), "1|4|0");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral(":refused:/../escape.txt")));
    EXPECT_FALSE(QFileInfo::exists(engine_->SnapshotOf(row)));
}

// ---- Small services ------------------------------------------------------------------------------

TEST_F(EngineTransfersTest, TheStopMarkerComesAndGoes)
{
    const QString marker = engine_->CacheDir() + QStringLiteral("/.stop");
    engine_->ToggleStopMarker();
    EXPECT_EQ(ReadFileBytes(marker), "1\n");
    engine_->ToggleStopMarker();
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(EngineTransfersTest, TheEndOfABatchIsToldByWhatItDid)
{
    struct Case {
        std::vector<std::pair<int, int>> counts;
        const char* lastPath;
        int notices;
        const char* titleStart;
    };
    const Case cases[] = {
        {{{XSYNCFolderAdd, 3}}, "\\F", 0, ""},
        {{{XSYNCFileAdd, 1}}, "\\Docs\\a.txt", 1, "a.txt "},
        {{{XSYNCFileDel, 1}}, "\\a.txt", 1, "a.txt "},
        {{{XSYNCFileMod, 1}, {XSYNCFileGet, 1}}, "\\a.txt", 1, ""},
    };
    for (const Case& c : cases) {
        EngineNotices::Install(notices_ = std::make_shared<RecordingNotices>());
        PeltaSync::ActionCounts counts{};
        for (const auto& [action, count] : c.counts)
            counts[std::size_t(action)] = count;
        engine_->NotifySyncResult(counts, QString::fromLatin1(c.lastPath));
        ASSERT_EQ(notices_->Shown().size(), c.notices) << c.lastPath;
        if (c.notices > 0) {
            EXPECT_TRUE(notices_->Shown().value(0).startsWith(QString::fromLatin1(c.titleStart)))
                << notices_->Shown().value(0).toStdString();
        }
    }
}

}  // namespace
