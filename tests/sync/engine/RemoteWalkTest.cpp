// The remote walk against the fake service: the service's tree brought into
// the folder and the store, what other agents commit followed, stored items
// the service no longer lists removed or sent again - and nothing local lost
// to a failed or malformed listing, an unmounted folder, a local change or an
// open request.

#include "tests/sync/EngineServiceFixture.h"

#include "foundation/Constants.h"
#include "foundation/db/PeltaDb.h"
#include "sync/rules/MountedFolder.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/ScriptedService.h"
#include "tests/sync/TreeListing.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr qint64 kMiB = 1048576;
const QString kOtherAgent = QStringLiteral("another-agent");
const TreeListing::Form kTreeForm{QLatin1Char('/'), true};

constexpr auto ServicePathOf = &TreeListing::ServicePathOf;
constexpr auto RelativeOf = &TreeListing::RelativeOf;

class RemoteWalkTest : public EngineServiceFixture {
protected:
    void SetUp() override
    {
        EngineServiceFixture::SetUp();
        ASSERT_TRUE(MountedFolder(SyncRoot()).WriteMarker());
        TakeLog();
    }

    bool Walk(bool deleteMissing, QString* stamp = nullptr, const QString& path = QStringLiteral("\\"))
    {
        QString timestamp = stamp != nullptr ? *stamp : QString();
        const bool complete = engine_->ResyncRemote(path, true, deleteMissing, true, timestamp, 1);
        if (stamp != nullptr)
            *stamp = timestamp;
        return complete;
    }

    void SeedFile(const QString& relative, const QByteArray& content, std::int64_t mtime)
    {
        ASSERT_TRUE(service_.State().SeedFile(UserId, ServicePathOf(relative), content, mtime));
    }
    void SeedFolder(const QString& relative)
    {
        ASSERT_TRUE(service_.State().SeedFolder(UserId, ServicePathOf(relative), 500));
    }

    // A change committed as another agent of the account would.
    void OtherAgent(FakeObjType type, FakeAction action, const QString& relative, const QByteArray& content = {},
                    std::int64_t mtime = 0, const QString& destination = {})
    {
        FakeChange change;
        change.objType = type;
        change.action = action;
        change.path = ServicePathOf(relative);
        change.origPath = ServicePathOf(relative);
        change.destPath = ServicePathOf(destination);
        change.localMtime = mtime;
        change.size = content.size();
        const FakeCommitResult result = service_.State().CommitChange(UserId, kOtherAgent, change, content);
        ASSERT_TRUE(result.message.isEmpty()) << result.message.toStdString();
    }

    // "path/" for folders, "path|content|mtime" for files; the cache folder
    // left out.
    QStringList LocalTree() const { return TreeListing::Local(SyncRoot(), kTreeForm); }
    QStringList ServiceTree() { return TreeListing::Service(service_.State(), UserId, kTreeForm); }

    // The folder, the store and the service hold the same items; every file
    // record has the service's version and the local file's size and time.
    void ExpectAgreement()
    {
        EXPECT_EQ(Joined(LocalTree()), Joined(ServiceTree()));
        QStringList files;
        QStringList folders;
        for (const FakeItem& item : service_.State().Items(UserId)) {
            if (item.recycled || item.path == QLatin1String("/"))
                continue;
            if (item.isFolder)
                folders << RelativeOf(item.path);
            else
                files << RelativeOf(item.path) + QLatin1Char('|') + QString::number(item.version) +
                             QLatin1Char('|') + QString::number(item.localMtime) + QLatin1Char('|') +
                             QString::number(item.size);
        }
        files.sort();
        folders.sort();
        EXPECT_EQ(Joined(Rows(QStringLiteral("select path, version, mtime, size from vfs_sync_file order by path"))),
                  Joined(files));
        EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder order by path"))), Joined(folders));
    }

    // A file the walk fetched earlier: on the service, here and in the store.
    void Synced(const QString& relative, const QByteArray& content, std::int64_t mtime)
    {
        SeedFile(relative, content, mtime);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Local(relative)).path()));
        MakeFile(relative, content, mtime);
        StoreFileRecord(relative, ServiceVersion(ServicePathOf(relative)), mtime, content.size());
    }

    void StoreFolderRecord(const QString& relative)
    {
        PeltaRecVfsSyncFile record;
        record.kind = XFSFolder;
        record.path = relative;
        engine_->FillRecordKeys(record);
        ASSERT_TRUE(engine_->Db().RecAdd(record, true));
    }

    QStringList ConflictCopies(const QString& folder = QString()) const
    {
        return QDir(SyncRoot() + folder).entryList({QStringLiteral("*(conflict *")}, QDir::Files, QDir::Name);
    }

    std::size_t Calls(const char* method) const { return service_.CallCount(method); }
};

// ---- The service's tree into the folder ------------------------------------------------

TEST_F(RemoteWalkTest, AWalkBringsTheServiceTreeAndFollowsAnotherAgent)
{
    SeedFile(QStringLiteral("\\top.txt"), "top", 1000);
    SeedFile(QStringLiteral("\\Docs\\a.txt"), "alpha", 1100);
    SeedFile(QStringLiteral("\\Docs\\Deep\\b.txt"), "beta", 1200);
    SeedFolder(QStringLiteral("\\Empty"));
    SeedFile(QStringLiteral("\\it's 50%_off.txt"), "quoted", 1300);
    const QByteArray big = PatternData(kMiB + 1, 3);
    SeedFile(QStringLiteral("\\Docs\\big.bin"), big, 1400);

    QString stamp;
    ASSERT_TRUE(Walk(false, &stamp)) << TakeLog().toStdString();
    EXPECT_FALSE(stamp.isEmpty());
    // The large file waits for the worker; its record holds nothing of the
    // service's until it is in place.
    EXPECT_EQ(FileRecord(QStringLiteral("\\Docs\\big.bin")), "|0|0");
    EXPECT_EQ(Joined(Requests()), "5|\\Docs\\big.bin||5");
    Drive();
    ExpectAgreement();

    // Another agent adds, edits, moves and removes; a walk that removes what
    // the service lacks follows it.
    const std::size_t checks = Calls("getFileCheck");
    OtherAgent(FakeObjType::File, FakeAction::Edit, QStringLiteral("\\Docs\\a.txt"), "alpha, edited", 2000);
    OtherAgent(FakeObjType::File, FakeAction::Add, QStringLiteral("\\Docs\\Deep\\c.txt"), "gamma", 2100);
    OtherAgent(FakeObjType::File, FakeAction::Recycle, QStringLiteral("\\top.txt"));
    OtherAgent(FakeObjType::Folder, FakeAction::Move, QStringLiteral("\\Empty"), {}, 2200,
               QStringLiteral("\\Moved"));
    ASSERT_TRUE(Walk(true, &stamp)) << TakeLog().toStdString();
    ExpectAgreement();
    EXPECT_EQ(Calls("getFileCheck") - checks, 2u);  // only the edited and the added file

    // Nothing changed: nothing is fetched again.
    ASSERT_TRUE(Walk(true));
    EXPECT_EQ(Calls("getFileCheck") - checks, 2u);
    ExpectAgreement();
}

TEST_F(RemoteWalkTest, AWalkOfOneFolderLeavesTheRestAlone)
{
    Synced(QStringLiteral("\\outside.txt"), "outside", 900);
    SeedFile(QStringLiteral("\\Docs\\a.txt"), "alpha", 1000);
    service_.State().SeedFile(UserId, QStringLiteral("/Other/b.txt"), "beta", 1000);
    ASSERT_TRUE(Walk(true, nullptr, QStringLiteral("\\Docs")));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\Docs\\a.txt"))), "alpha");
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\Other"))));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\outside.txt"))), "outside");
}

TEST_F(RemoteWalkTest, WithoutRemovalWhatTheServiceLacksIsSentAgain)
{
    MakeFolder(QStringLiteral("\\Kept"));
    StoreFolderRecord(QStringLiteral("\\Kept"));
    MakeFile(QStringLiteral("\\Kept\\k.txt"), "kept", 1000);
    StoreFileRecord(QStringLiteral("\\Kept\\k.txt"), QStringLiteral("3"), 1000, 4);
    MakeFile(QStringLiteral("\\loose.txt"), "loose", 1100);
    StoreFileRecord(QStringLiteral("\\loose.txt"), QStringLiteral("2"), 1100, 5);

    ASSERT_TRUE(Walk(false)) << TakeLog().toStdString();
    // The folder is registered at once, then walked; the files go through
    // request rows.
    ASSERT_TRUE(ServiceItem(QStringLiteral("/Kept")));
    Drive();
    EXPECT_EQ(ServiceContent(QStringLiteral("/Kept/k.txt")), "kept");
    EXPECT_EQ(ServiceContent(QStringLiteral("/loose.txt")), "loose");
    ASSERT_TRUE(Walk(false));
    ExpectAgreement();
}

TEST_F(RemoteWalkTest, AOneObjectWalkFetchesOrSendsTheFile)
{
    Synced(QStringLiteral("\\a.txt"), "old", 1000);
    OtherAgent(FakeObjType::File, FakeAction::Edit, QStringLiteral("\\a.txt"), "new content", 2000);
    QString stamp;
    ASSERT_TRUE(engine_->ResyncRemote(QStringLiteral("\\a.txt"), false, false, false, stamp, 0));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\a.txt"))), "new content");
    ExpectAgreement();

    // The service lost the file: the one-object walk sends it again.
    Synced(QStringLiteral("\\b.txt"), "bee", 1000);
    OtherAgent(FakeObjType::File, FakeAction::Recycle, QStringLiteral("\\b.txt"));
    ASSERT_TRUE(engine_->ResyncRemote(QStringLiteral("\\b.txt"), false, false, false, stamp, 0));
    Drive();
    EXPECT_EQ(ServiceContent(QStringLiteral("/b.txt")), "bee");
}

// ---- Failed and malformed listings --------------------------------------------------------

// A service base that answers with scripted bodies.
class ScriptedWalkTest : public RemoteWalkTest {
protected:
    void UseScript() { ServiceUrl = scripted_.BaseUrl(); }

    // A stored, synchronised file and folder that a listing would have to
    // name to keep them.
    void StoreSyncedItems()
    {
        MakeFile(QStringLiteral("\\a.txt"), "alpha", 1000);
        StoreFileRecord(QStringLiteral("\\a.txt"), QStringLiteral("1"), 1000, 5);
        MakeFolder(QStringLiteral("\\Docs"));
        StoreFolderRecord(QStringLiteral("\\Docs"));
        MakeFile(QStringLiteral("\\Docs\\b.txt"), "beta", 1000);
        StoreFileRecord(QStringLiteral("\\Docs\\b.txt"), QStringLiteral("1"), 1000, 4);
    }

    void ExpectSyncedItemsKept()
    {
        EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\a.txt"))), "alpha");
        EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\Docs\\b.txt"))), "beta");
        EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 2);
        EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 1);
        EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request")), 0) << Joined(Requests());
    }

    ScriptedService scripted_;
};

TEST_F(ScriptedWalkTest, AListingThatCannotBeReadRemovesNothing)
{
    const char* replies[] = {
        "<html>Service Unavailable</html>",
        R"({"status":"1","timestamp":"5","metadata":{"folder":[],"fi)",
        R"({"status":"1","timestamp":"5"})",
        R"({"status":"1","timestamp":"5","metadata":{"folder":[]}})",
        R"({"status":"1","timestamp":"5","metadata":{"file":[]}})",
        R"({"status":"1","timestamp":"5","metadata":{"folder":{},"file":[]}})",
        R"({"status":"1","timestamp":"5","metadata":[]})",
        R"({"status":"0","msg":"folder not found in metadata"})",
    };
    StoreSyncedItems();
    UseScript();
    for (const char* reply : replies) {
        scripted_.Push(reply);
        QString stamp;
        EXPECT_FALSE(Walk(true, &stamp)) << reply;
        EXPECT_TRUE(stamp.isEmpty()) << reply;
        ExpectSyncedItemsKept();
    }
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::ResyncRemote:failed:\\")));
}

TEST_F(ScriptedWalkTest, BadEntriesAreSkippedAndTheRestGoesOn)
{
    StoreSyncedItems();
    UseScript();
    const QByteArray longName(300, 'n');
    scripted_.Push(R"({"status":"1","timestamp":"7","metadata":{"folder":[)"
                   R"({"key":"k1","path":"/","name":"New","parent":"0","sn":"1","version":"1","local_mtime":"5"},)"
                   R"({"key":"k2","path":"/","name":"..","parent":"0","sn":"1","version":"1","local_mtime":"5"},)"
                   R"({"key":"k3","path":"/..","name":"escape","parent":"0","sn":"1","version":"1","local_mtime":"5"},)"
                   R"({"key":"k4","path":"/","name":"a/b","parent":"0","sn":"1","version":"1","local_mtime":"5"},)"
                   R"({"key":"k5","path":"/","name":"tab\there","parent":"0","sn":"1","version":"1",)"
                   R"("local_mtime":"5"},)"
                   R"({"key":"k6","path":"/","name":")" +
                   longName +
                   R"(","parent":"0","sn":"1","version":"1","local_mtime":"5"},)"
                   R"({"key":"k7","path":"/","name":"NoVersion","parent":"0","sn":"1","local_mtime":"5"},)"
                   R"({"key":"k8","path":"/","name":"BadTime","parent":"0","sn":"1","version":"1","local_mtime":"x"},)"
                   R"("not an object"],"file":[)"
                   R"({"key":"k9","path":"/","name":"nosize.txt","parent":"0","sn":"1","version":"1",)"
                   R"("local_mtime":"5"})"
                   R"(]}})");
    scripted_.Push(R"({"status":"1","timestamp":"8","metadata":{"folder":[],"file":[]}})");
    QString stamp;
    EXPECT_FALSE(Walk(true, &stamp));
    EXPECT_TRUE(stamp.isEmpty());
    // The good entry is made; nothing leaves the folder; nothing stored is
    // taken for gone, though the listing names neither a.txt nor Docs.
    EXPECT_TRUE(QFileInfo(Local(QStringLiteral("\\New"))).isDir());
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder where path='\\New'")), 1);
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(SyncRoot()).path() + QStringLiteral("/escape")));
    EXPECT_EQ(QDir(SyncRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u','),
              QStringLiteral("Docs,New"));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\a.txt"))), "alpha");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\Docs\\b.txt"))), "beta");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file")), 2);
    const QString log = TakeLog();
    for (const char* line : {":refused:/..:relative name", ":refused:/../escape:not an item of /",
                             ":refused:/a/b:separator in name", "name longer than 255 bytes",
                             ":refused:/NoVersion:without its key", ":refused:/BadTime:without its key",
                             ":refused:folder entry:without its name or path", ":refused:/nosize.txt:without its key",
                             "listing known only in part, nothing removed or registered again:\\"})
        EXPECT_TRUE(log.contains(QLatin1String(line))) << line;
}

// Items whose names the service holds but no item here can carry (longer
// than 255 bytes in UTF-8, a control character, a file of the cache
// folder's name at the top, a folder of a long name with a file in it) are
// left out without making the listing partial: the walk completes and gives
// its position, and acts on the rest of their folders (with removal, a
// stored file the service lacks goes). Were the walk failed for them, it
// would fail again at every retry for as long as they exist.
TEST_F(RemoteWalkTest, NamesThatCannotExistHereLeaveTheWalkWhole)
{
    Synced(QStringLiteral("\\a.txt"), "alpha", 1000);
    SeedFolder(QStringLiteral("\\Docs"));
    MakeFolder(QStringLiteral("\\Docs"));
    StoreFolderRecord(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\gone.txt"), "gone", 1000);
    StoreFileRecord(QStringLiteral("\\Docs\\gone.txt"), QStringLiteral("1"), 1000, 4);
    const QString longFolder = QLatin1Char('/') + QString(128, QChar(0xE9));
    ASSERT_TRUE(service_.State().SeedFolder(UserId, longFolder, 500));
    for (const QString& path : {QStringLiteral("/Docs/") + QString(130, QChar(0xFC)) + QStringLiteral(".txt"),
                                QStringLiteral("/tab\there.txt"), QLatin1Char('/') + CacheFolderName,
                                longFolder + QStringLiteral("/inside.txt")})
        ASSERT_TRUE(service_.State().SeedFile(UserId, path, "cannot be here", 1000)) << path.toStdString();

    QString stamp;
    EXPECT_TRUE(Walk(true, &stamp));
    EXPECT_FALSE(stamp.isEmpty());
    EXPECT_EQ(Joined(LocalTree()), Joined({QStringLiteral("\\Docs/"), QStringLiteral("\\a.txt|alpha|1000")}));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_file order by path"))), "\\a.txt");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request")), 0) << Joined(Requests());
    EXPECT_EQ(ServiceContent(longFolder + QStringLiteral("/inside.txt")), "cannot be here");
    const QString log = TakeLog();
    EXPECT_EQ(log.count(QStringLiteral("entry left out, its name cannot exist here")), 4) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("listing known only in part")));
}

TEST_F(RemoteWalkTest, AFailedSubfolderListingFailsThePassAndKeepsItsContent)
{
    Synced(QStringLiteral("\\a.txt"), "alpha", 1000);
    MakeFolder(QStringLiteral("\\Docs"));
    SeedFolder(QStringLiteral("\\Docs"));
    StoreFolderRecord(QStringLiteral("\\Docs"));
    Synced(QStringLiteral("\\Docs\\b.txt"), "beta", 1000);
    Synced(QStringLiteral("\\Later\\c.txt"), "gamma", 1000);
    // Gone from the service, so a complete walk would remove them here.
    OtherAgent(FakeObjType::File, FakeAction::Recycle, QStringLiteral("\\Docs\\b.txt"));
    OtherAgent(FakeObjType::File, FakeAction::Recycle, QStringLiteral("\\Later\\c.txt"));
    service_.Faults().SetNext("getMetadata", Fault::Delay(std::chrono::milliseconds(0)));
    service_.Faults().SetNext("getMetadata", Fault::Http500());

    QString stamp = QStringLiteral("given");
    EXPECT_FALSE(Walk(true, &stamp));
    EXPECT_EQ(stamp, "given");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\Docs\\b.txt"))), "beta");
    EXPECT_EQ(FileRecord(QStringLiteral("\\Docs\\b.txt")).empty(), false);
    // The failed folder's sibling is still walked.
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\Later\\c.txt"))));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("the listing failed, skipped:\\Docs")));

    EXPECT_TRUE(Walk(true));
    ExpectAgreement();
}

TEST_F(ScriptedWalkTest, AFolderGoneFromTheServiceDuringTheWalkKeepsItsContent)
{
    MakeFolder(QStringLiteral("\\Docs"));
    StoreFolderRecord(QStringLiteral("\\Docs"));
    MakeFile(QStringLiteral("\\Docs\\b.txt"), "beta", 1000);
    StoreFileRecord(QStringLiteral("\\Docs\\b.txt"), QStringLiteral("1"), 1000, 4);
    UseScript();
    // The root lists Docs; Docs then lists nothing, and the service no longer
    // has Docs itself.
    scripted_.Push(R"({"status":"1","timestamp":"7","metadata":{"file":[],"folder":[)"
                   R"({"key":"k","path":"/","name":"Docs","parent":"0","sn":"1","version":"1","local_mtime":"5"}]}})");
    scripted_.Push(R"({"status":"1","timestamp":"8","metadata":{"folder":[],"file":[]}})");
    scripted_.Push(R"({"status":"1","timestamp":"8","metadata":{"folder":[],"file":[]}})");
    EXPECT_FALSE(Walk(true));
    EXPECT_EQ(scripted_.Answered(), 3);
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\Docs\\b.txt"))), "beta");
    EXPECT_EQ(FileRecord(QStringLiteral("\\Docs\\b.txt")), "1|1000|4");
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("the service no longer has the folder, skipped:\\Docs")));
}

TEST_F(RemoteWalkTest, AnUnmountedFolderIsNeitherFilledNorEmptied)
{
    SeedFile(QStringLiteral("\\a.txt"), "alpha", 1000);
    StoreFileRecord(QStringLiteral("\\gone.txt"), QStringLiteral("4"), 1000, 4);
    ASSERT_TRUE(QFile::remove(MountedFolder(SyncRoot()).MarkerPath()));
    ASSERT_TRUE(QDir(engine_->CacheDir()).removeRecursively());
    for (const bool deleteMissing : {true, false}) {
        EXPECT_FALSE(Walk(deleteMissing));
        EXPECT_FALSE(engine_->ResyncRemoteDelete(QStringLiteral("\\gone.txt"), XFSFile));
    }
    EXPECT_EQ(Calls("getMetadata"), 0u);
    EXPECT_TRUE(LocalTree().isEmpty());
    EXPECT_EQ(FileRecord(QStringLiteral("\\gone.txt")), "4|1000|4");
}

// ---- What the user did here ---------------------------------------------------------------------

TEST_F(RemoteWalkTest, ADownloadIsSafeAgainstLocalChanges)
{
    // Changed here and by another agent.
    Synced(QStringLiteral("\\both.txt"), "base", 1000);
    MakeFile(QStringLiteral("\\both.txt"), "local edit", 1500);
    OtherAgent(FakeObjType::File, FakeAction::Edit, QStringLiteral("\\both.txt"), "remote edit", 2000);
    // Never sent, and unknown to the store.
    MakeFile(QStringLiteral("\\unsent.txt"), "mine", 1000);
    StoreFileRecord(QStringLiteral("\\unsent.txt"), QString(), 1000, 4);
    SeedFile(QStringLiteral("\\unsent.txt"), "theirs", 1100);
    MakeFile(QStringLiteral("\\unknown.txt"), "mine too", 1000);
    SeedFile(QStringLiteral("\\unknown.txt"), "theirs too", 1100);

    Walk(false);
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\both.txt"))), "local edit");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\unsent.txt"))), "mine");
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\unknown.txt"))), "mine too");
    const QStringList copies = ConflictCopies();
    ASSERT_EQ(copies.size(), 3) << Joined(copies);
    QStringList contents;
    for (const QString& copy : copies)
        contents << QString::fromUtf8(ReadFileBytes(SyncRoot() + QLatin1Char('/') + copy));
    contents.sort();
    EXPECT_EQ(contents.join(u','), QStringLiteral("remote edit,theirs,theirs too"));

    // The local files reach the service over its versions; the copies are
    // new files there.
    DriveWithRetries();
    EXPECT_EQ(ServiceContent(QStringLiteral("/both.txt")), "local edit");
    EXPECT_EQ(ServiceContent(QStringLiteral("/unsent.txt")), "mine");
    EXPECT_EQ(ServiceContent(QStringLiteral("/unknown.txt")), "mine too");
    ASSERT_TRUE(Walk(true)) << TakeLog().toStdString();
    ExpectAgreement();
}

TEST_F(RemoteWalkTest, WhatTheUserRemovedOrMovedOfflineIsNotUndone)
{
    MakeFolder(QStringLiteral("\\Gone"));
    StoreFolderRecord(QStringLiteral("\\Gone"));
    Synced(QStringLiteral("\\Gone\\g.txt"), "gone", 1000);
    MakeFolder(QStringLiteral("\\Old"));
    StoreFolderRecord(QStringLiteral("\\Old"));
    Synced(QStringLiteral("\\Old\\o.txt"), "old", 1000);
    Synced(QStringLiteral("\\deleted.txt"), "deleted", 1000);
    Remove(QStringLiteral("\\Gone"));
    engine_->FileRemove(QStringLiteral("\\Gone"));
    Remove(QStringLiteral("\\deleted.txt"));
    engine_->FileRemove(QStringLiteral("\\deleted.txt"));
    Move(QStringLiteral("\\Old"), QStringLiteral("\\New"));
    engine_->FileRename(QStringLiteral("\\Old"), QStringLiteral("\\New"));
    const QStringList rows = Requests();
    const QStringList before = LocalTree();

    EXPECT_TRUE(Walk(true)) << TakeLog().toStdString();
    EXPECT_EQ(Joined(LocalTree()), Joined(before));
    EXPECT_EQ(Joined(Requests()), Joined(rows));
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\New\\o.txt"))), "old");

    Drive();
    ASSERT_TRUE(Walk(true));
    ExpectAgreement();
}

// The walk lists a stored file that is missing here and fetches it; the user
// had deleted it, and that removal is taken in while the fetch is under way.
// The walk does not bring the file back, and the deletion takes it from the
// service: nothing here without a record, nothing left there.
TEST_F(RemoteWalkTest, AFileRemovedHereWhileTheWalkFetchesItIsNotBroughtBack)
{
    Synced(QStringLiteral("\\f.txt"), "content", 1000);
    Remove(QStringLiteral("\\f.txt"));
    // The check before the download is held until the removal is in.
    service_.Faults().SetNext("getFileCheck", Fault::Delay(std::chrono::seconds(2)));
    const std::unique_ptr<PeltaSync> finalQueue = NewEngine();
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        if (WaitUntil([&] { return service_.CallCount("getFileCheck") > 0; }))
            removed = finalQueue->FileRemove(QStringLiteral("\\f.txt"));
    });
    Walk(false);
    remover.join();
    ASSERT_TRUE(removed.load());
    EXPECT_FALSE(QFileInfo::exists(Local(QStringLiteral("\\f.txt"))));

    Drive();
    ASSERT_TRUE(Walk(true));
    ExpectAgreement();
    EXPECT_EQ(Joined(LocalTree()), "");
}

// ---- Removal of what the service no longer has ------------------------------------------------

TEST_F(RemoteWalkTest, OnlyTheServicesFormerContentIsRemoved)
{
    MakeFolder(QStringLiteral("\\Docs"));
    SeedFolder(QStringLiteral("\\Docs"));
    StoreFolderRecord(QStringLiteral("\\Docs"));
    Synced(QStringLiteral("\\Docs\\same.txt"), "same", 1000);
    Synced(QStringLiteral("\\Docs\\changed.txt"), "base", 1000);
    MakeFile(QStringLiteral("\\Docs\\changed.txt"), "changed here", 1000);
    MakeFolder(QStringLiteral("\\Docs\\Sub"));
    StoreFolderRecord(QStringLiteral("\\Docs\\Sub"));
    Synced(QStringLiteral("\\Docs\\Sub\\deep.txt"), "deep", 1000);
    MakeFile(QStringLiteral("\\Docs\\Sub\\new.txt"), "new here", 1000);
    MakeFile(QStringLiteral("\\Docs\\Sub\\unsent.txt"), "unsent", 1000);
    StoreFileRecord(QStringLiteral("\\Docs\\Sub\\unsent.txt"), QString(), 1000, 6);
    MakeFolder(QStringLiteral("\\Empty"));
    StoreFolderRecord(QStringLiteral("\\Empty"));
    Synced(QStringLiteral("\\Empty\\e.txt"), "empty soon", 1000);
    Synced(QStringLiteral("\\top.txt"), "top", 1000);
    Synced(QStringLiteral("\\touched.txt"), "top", 1000);
    SetMtime(QStringLiteral("\\touched.txt"), 1001);
    for (const char* path : {"\\Docs", "\\Empty", "\\top.txt", "\\touched.txt"})
        OtherAgent(QString::fromLatin1(path).contains(u'.') ? FakeObjType::File : FakeObjType::Folder,
                   FakeAction::Recycle, QString::fromLatin1(path));

    EXPECT_TRUE(Walk(true)) << TakeLog().toStdString();
    EXPECT_EQ(Joined(LocalTree()), "\\Docs/\n\\Docs\\Sub/\n\\Docs\\Sub\\new.txt|new here|1000\n"
                                   "\\Docs\\Sub\\unsent.txt|unsent|1000\n"
                                   "\\Docs\\changed.txt|changed here|1000\n\\touched.txt|top|1001");
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder order by path"))), "\\Docs\n\\Docs\\Sub");
    // What stays goes back to the service, the folders with it.
    DriveWithRetries();
    ASSERT_TRUE(Walk(true)) << TakeLog().toStdString();
    ExpectAgreement();
}

TEST_F(RemoteWalkTest, ARemovalLeavesItemsWithOpenWorkAndSiblingNamesAlone)
{
    // Rows with work to do at each status of a request's life.
    const int statuses[] = {1, 3, 5, 6, 7};
    for (const int status : statuses) {
        const QString path = QStringLiteral("\\open%1.txt").arg(status);
        Synced(path, "open", 1000);
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = path;
        ASSERT_TRUE(engine_->Db().RecGet(record));
        ASSERT_TRUE(engine_->Db().AddSyncRequest(record, status == 7 ? XSYNCFileGet : XSYNCFileMod, false));
        Run(QStringLiteral("update sync_request set status=%1 where path=%2").arg(status).arg(PeltaRec::Literal(path)));
        EXPECT_TRUE(engine_->HasOpenWork(path)) << status;
        EXPECT_TRUE(engine_->ResyncRemoteDelete(path, XFSFile));
        EXPECT_EQ(ReadFileBytes(Local(path)), "open") << status;
    }
    // Finished and cancelled rows hold nothing.
    for (const int status : {4, 8, 12}) {
        const QString path = QStringLiteral("\\done%1.txt").arg(status);
        Synced(path, "done", 1000);
        PeltaRecVfsSyncFile record;
        record.kind = XFSFile;
        record.path = path;
        ASSERT_TRUE(engine_->Db().RecGet(record));
        ASSERT_TRUE(engine_->Db().AddSyncRequest(record, XSYNCFileMod, false));
        Run(QStringLiteral("update sync_request set status=%1 where path=%2").arg(status).arg(PeltaRec::Literal(path)));
        EXPECT_FALSE(engine_->HasOpenWork(path)) << status;
    }
    // A move holds its source too.
    Run(QStringLiteral("insert into sync_request (key, path, path2, sn, agent_key, action, status) values "
                       "('k', '\\to.txt', '\\from.txt', '12345', 'a', 4, 1)"));
    EXPECT_TRUE(engine_->HasOpenWork(QStringLiteral("\\from.txt")));

    // A folder's name is no prefix of its siblings', whatever its letters.
    for (const char* name : {"\\Doc", "\\Docs", "\\a_b", "\\axb", "\\a%b", "\\a%bc"}) {
        MakeFolder(QString::fromLatin1(name));
        StoreFolderRecord(QString::fromLatin1(name));
        Synced(QString::fromLatin1(name) + QStringLiteral("\\f.txt"), "f", 1000);
    }
    EXPECT_TRUE(engine_->ResyncRemoteDelete(QStringLiteral("\\Doc"), XFSFolder));
    EXPECT_TRUE(engine_->ResyncRemoteDelete(QStringLiteral("\\a_b"), XFSFolder));
    EXPECT_TRUE(engine_->ResyncRemoteDelete(QStringLiteral("\\a%b"), XFSFolder));
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder order by path"))), "\\Docs\n\\a%bc\n\\axb");
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_file where path like '%f.txt'")), 3);
    EXPECT_FALSE(engine_->ResyncRemoteDelete(QStringLiteral("\\"), XFSFolder));
    EXPECT_FALSE(engine_->ResyncRemoteDelete(QString(), XFSFolder));
}

TEST_F(RemoteWalkTest, RowsOfItemsGoneOnBothSidesGo)
{
    StoreFileRecord(QStringLiteral("\\stale.txt"), QStringLiteral("3"), 1000, 4);
    StoreFolderRecord(QStringLiteral("\\StaleFolder"));
    StoreFileRecord(QStringLiteral("\\StaleFolder\\s.txt"), QStringLiteral("3"), 1000, 4);
    // Waiting for its download: kept with its row.
    StoreFileRecord(QStringLiteral("\\waiting.txt"), QString(), 0, 0);
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\waiting.txt");
    ASSERT_TRUE(engine_->Db().RecGet(record));
    ASSERT_TRUE(engine_->QueueFileGet(record));
    for (const bool deleteMissing : {false, true}) {
        EXPECT_TRUE(Walk(deleteMissing));
        EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_file"))), "\\waiting.txt");
        EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 0);
        EXPECT_EQ(Number(QStringLiteral("select count(*) from sync_request where action<>5")), 0);
    }
}

TEST_F(RemoteWalkTest, AFolderMovedOnlyByLetterCaseLeavesNoStaleRow)
{
    MakeFolder(QStringLiteral("\\Docs"));
    SeedFolder(QStringLiteral("\\Docs"));
    StoreFolderRecord(QStringLiteral("\\Docs"));
    Synced(QStringLiteral("\\Docs\\a.txt"), "alpha", 1000);
    OtherAgent(FakeObjType::Folder, FakeAction::Move, QStringLiteral("\\Docs"), {}, 2000, QStringLiteral("\\docs"));
    ASSERT_TRUE(Walk(true)) << TakeLog().toStdString();
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder"))), "\\docs");
    ExpectAgreement();
}

// ---- Fetches that do not end in place ---------------------------------------------------------------

TEST_F(RemoteWalkTest, AFailedFetchLeavesADownloadRowSoARescanRemovesNothing)
{
    SeedFile(QStringLiteral("\\a.txt"), "alpha", 1000);
    Synced(QStringLiteral("\\b.txt"), "old", 1000);
    OtherAgent(FakeObjType::File, FakeAction::Edit, QStringLiteral("\\b.txt"), "new", 2000);
    service_.Faults().SetAlways("getFileCheck", Fault::Http500());
    Walk(true);
    // a.txt: a record that says nothing of the service's yet, and a row.
    EXPECT_EQ(FileRecord(QStringLiteral("\\a.txt")), "|0|0");
    EXPECT_EQ(FileRecord(QStringLiteral("\\b.txt")), "1|1000|3");
    EXPECT_EQ(Joined(Requests()), "5|\\a.txt||5\n5|\\b.txt||5");

    // A rescan that removes what is missing takes neither for a deletion.
    EXPECT_EQ(engine_->ResyncLocal(QStringLiteral("\\"), false, true), PassResult::Complete);
    EXPECT_TRUE(ServiceItem(QStringLiteral("/a.txt")));
    service_.Faults().ClearAll();
    DriveWithRetries();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\b.txt"))), "new");
    EXPECT_TRUE(ConflictCopies().isEmpty()) << Joined(ConflictCopies());
    ASSERT_TRUE(Walk(true));
    ExpectAgreement();
}

TEST_F(RemoteWalkTest, ADirectFetchWhoseCheckFailsLeavesADownloadRow)
{
    SeedFile(QStringLiteral("\\a.txt"), "alpha", 1000);
    StoreFileRecord(QStringLiteral("\\a.txt"), QString(), 0, 0);
    // Always: a check that only reads is sent once more when its kept
    // connection closes before the reply.
    service_.Faults().SetAlways("getFileCheck", Fault::DropBeforeReply());
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\a.txt");
    ASSERT_TRUE(engine_->GetRemoteObject(record));
    EXPECT_FALSE(engine_->GetFileDirect(record, false));
    EXPECT_EQ(Joined(Requests()), "5|\\a.txt||5");
    service_.Faults().ClearAll();
    Drive();
    EXPECT_EQ(ReadFileBytes(Local(QStringLiteral("\\a.txt"))), "alpha");
}

TEST_F(RemoteWalkTest, AQueuedDownloadOfAChangedFileReplacesItWithoutAConflictCopy)
{
    const QByteArray small = "small";
    Synced(QStringLiteral("\\big.bin"), small, 1000);
    const QByteArray big = PatternData(kMiB + 10, 7);
    OtherAgent(FakeObjType::File, FakeAction::Edit, QStringLiteral("\\big.bin"), big, 2000);
    ASSERT_TRUE(Walk(false));
    // Until the file is in place its record describes the local file.
    EXPECT_EQ(FileRecord(QStringLiteral("\\big.bin")), "1|1000|5");
    Drive();
    EXPECT_TRUE(ReadFileBytes(Local(QStringLiteral("\\big.bin"))) == big);
    EXPECT_TRUE(ConflictCopies().isEmpty()) << Joined(ConflictCopies());
    ExpectAgreement();
}

TEST_F(RemoteWalkTest, AFolderThatCannotBeMadeHereGetsNoRecord)
{
    SeedFolder(QStringLiteral("\\A\\B"));
    MakeFile(QStringLiteral("\\C"), "a file", 1000);
    SeedFolder(QStringLiteral("\\C"));
    for (const char* path : {"\\A\\B", "\\C"}) {
        PeltaRecVfsSyncFile folder;
        folder.path = QString::fromLatin1(path);
        EXPECT_FALSE(engine_->CheckRemoteObject(folder)) << path;
    }
    EXPECT_EQ(Number(QStringLiteral("select count(*) from vfs_sync_folder")), 0);
    PeltaRecVfsSyncFile folder;
    folder.path = QStringLiteral("\\A");
    EXPECT_TRUE(engine_->CheckRemoteObject(folder));
    EXPECT_TRUE(QFileInfo(Local(QStringLiteral("\\A"))).isDir());
    EXPECT_EQ(Joined(Rows(QStringLiteral("select path from vfs_sync_folder"))), "\\A");
}

// ---- Registration at once -------------------------------------------------------------------------------

TEST_F(ScriptedWalkTest, AnImmediateRegistrationIsDoneOnlyWhenTheServiceHasTheFolder)
{
    MakeFolder(QStringLiteral("\\F"));
    StoreFolderRecord(QStringLiteral("\\F"));
    EXPECT_FALSE(engine_->SyncObjectNow(QStringLiteral("\\NotStored"), XSYNCFolderAdd));
    EXPECT_FALSE(engine_->SyncObjectNow(QStringLiteral("\\F"), XSYNCFileAdd));
    EXPECT_EQ(Calls("setSyncJournal"), 0u);

    UseScript();
    scripted_.Push(R"({"status":"0","msg":"sync_journal is expired or commited or fail"})");
    EXPECT_FALSE(engine_->SyncObjectNow(QStringLiteral("\\F"), XSYNCFolderAdd));
    scripted_.Push(R"({"status":"0","msg":"folder already exist"})");
    EXPECT_TRUE(engine_->SyncObjectNow(QStringLiteral("\\F"), XSYNCFolderAdd));
    scripted_.Push(R"({"status":"1","sync_journal":{"key":"k","checksum":"c","expire":"9"}})");
    scripted_.Push(R"({"status":"0","msg":"sync_journal is expired or commited or fail"})");
    EXPECT_FALSE(engine_->SyncObjectNow(QStringLiteral("\\F"), XSYNCFolderAdd));
    EXPECT_EQ(scripted_.Answered(), 4);
}

TEST_F(ScriptedWalkTest, ALookUpWithoutItsListsIsNoAnswer)
{
    Synced(QStringLiteral("\\a.txt"), "alpha", 1000);
    Remove(QStringLiteral("\\a.txt"));
    engine_->FileRemove(QStringLiteral("\\a.txt"));
    PeltaRecSyncRequest row = LoadRow(1);
    ASSERT_TRUE(steps_->SetSyncJournal(row));
    UseScript();
    // The commit may have happened: only a listing that says the file is
    // gone settles it, and this one says nothing.
    scripted_.Push(R"({"status":"0","msg":"sync_journal is expired or commited or fail"})");
    scripted_.Push(R"({"status":"1","timestamp":"5"})");
    steps_->CommitSyncJournal(row);
    EXPECT_EQ(scripted_.Answered(), 2);
    EXPECT_EQ(Joined(RowStates()), "3|1|1");

    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = QStringLiteral("\\b.txt");
    scripted_.Push(R"({"status":"1","metadata":{"file":[]}})");
    EXPECT_FALSE(engine_->GetRemoteObject(record));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::GetRemoteObject:reply not usable:\\b.txt")));
}

}  // namespace
