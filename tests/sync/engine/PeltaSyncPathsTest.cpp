#include "tests/sync/SyncFixture.h"

#include "foundation/db/PeltaDb.h"

#include <gtest/gtest.h>

#include <QString>

#include <atomic>
#include <thread>

namespace {

using PeltaSyncPathsTest = SyncFixture;

TEST_F(PeltaSyncPathsTest, FullPathsInsideTheFolderBecomeRelative)
{
    const QString root = SyncRoot();
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {root, QStringLiteral("\\")},
        {root + QStringLiteral("/"), QStringLiteral("\\")},
        {root + QStringLiteral("/Docs/"), QStringLiteral("\\Docs")},
        {root + QStringLiteral("/Docs/a.txt"), QStringLiteral("\\Docs\\a.txt")},
        {root + QStringLiteral("/O'Brien/報告.txt"), QStringLiteral("\\O'Brien\\報告.txt")},
        {QString(), QStringLiteral("\\")},
        {QStringLiteral("0"), QStringLiteral("\\")},
        {QStringLiteral("\\Docs\\"), QStringLiteral("\\Docs")},
        {QStringLiteral("\\Docs\\a.txt"), QStringLiteral("\\Docs\\a.txt")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(engine_->ToRelativePath(c.in), c.out) << c.in.toStdString();
}

// A bare prefix, another letter case, "..", an empty name, a "\" inside a
// disk name or a control character: the path is refused, never shortened.
TEST_F(PeltaSyncPathsTest, PathsThatWouldLeaveTheFolderAreRefusedWithALogLine)
{
    const QString root = SyncRoot();
    const QString refused[] = {
        root + QStringLiteral("base.txt"),
        root + QStringLiteral("-other/a.txt"),
        root.toUpper() + QStringLiteral("/a.txt"),
        root + QStringLiteral("/a/../../etc/passwd"),
        root + QStringLiteral("//a.txt"),
        root + QStringLiteral("/a\\b.txt"),
        QStringLiteral("/etc/passwd"),
        QStringLiteral("\\a\\..\\..\\etc"),
        QStringLiteral("\\a") + QChar(0) + QStringLiteral(".txt"),
        QStringLiteral("Docs\\a.txt"),
    };
    for (const QString& path : refused) {
        EXPECT_EQ(engine_->ToRelativePath(path), QString()) << path.toStdString();
        EXPECT_EQ(engine_->ToLocalPath(path), QString()) << path.toStdString();
        EXPECT_EQ(engine_->ParentPath(path), QString()) << path.toStdString();
    }
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("PeltaSync::ToLocalPath:refused:") + root +
                                   QStringLiteral("base.txt:")));
}

TEST_F(PeltaSyncPathsTest, RelativePathsBecomeFullPaths)
{
    const QString root = SyncRoot();
    EXPECT_EQ(engine_->ToLocalPath(QStringLiteral("\\")), root + QStringLiteral("/"));
    EXPECT_EQ(engine_->ToLocalPath(QString()), root + QStringLiteral("/"));
    EXPECT_EQ(engine_->ToLocalPath(QStringLiteral("0")), root + QStringLiteral("/"));
    EXPECT_EQ(engine_->ToLocalPath(QStringLiteral("\\Docs\\a.txt")), root + QStringLiteral("/Docs/a.txt"));
    EXPECT_EQ(engine_->ToLocalPath(root + QStringLiteral("/Docs/a.txt")), root + QStringLiteral("/Docs/a.txt"));

    EXPECT_EQ(engine_->ParentPath(QStringLiteral("\\a.txt")), QStringLiteral("\\"));
    EXPECT_EQ(engine_->ParentPath(QStringLiteral("\\Docs\\a.txt")), QStringLiteral("\\Docs"));
    EXPECT_EQ(engine_->ParentPath(root + QStringLiteral("/Docs/x/y")), QStringLiteral("\\Docs\\x"));
}

TEST_F(PeltaSyncPathsTest, RecordKeysFollowTheFormulaAndParentsComeFromTheStore)
{
    PeltaRecVfsSyncFile top;
    top.path = QStringLiteral("\\a.txt");
    EXPECT_FALSE(engine_->FillRecordKeys(top));
    EXPECT_EQ(top.parent, QStringLiteral("\\"));
    EXPECT_EQ(top.key, QStringLiteral("ef8ec84e850c0d37862887c89b88f44e"));
    EXPECT_EQ(top.name, QStringLiteral("a.txt"));
    EXPECT_EQ(top.sn, UserSn);

    PeltaRecVfsSyncFile below;
    below.path = QStringLiteral("\\Docs\\a.txt");
    EXPECT_TRUE(engine_->FillRecordKeys(below));
    EXPECT_EQ(below.parent, QString());
    EXPECT_EQ(below.key, QStringLiteral("c5fdd55a4fef28dfad882c9aa99e4be4"));

    PeltaRecVfsSyncFile docs;
    docs.path = QStringLiteral("\\Docs");
    docs.kind = XFSFolder;
    engine_->FillRecordKeys(docs);
    ASSERT_TRUE(engine_->Db().RecAdd(docs, false));
    EXPECT_TRUE(engine_->FillRecordKeys(below));
    EXPECT_EQ(below.parent, docs.key);

    PeltaRecVfsSyncFile quoted;
    quoted.path = QStringLiteral("\\O'Brien\\it's.txt");
    engine_->FillRecordKeys(quoted);
    EXPECT_EQ(quoted.key, QStringLiteral("444c734a8ca8dc844a7b76a6b4f41169"));
    EXPECT_EQ(quoted.name, QStringLiteral("it's.txt"));
}

TEST_F(PeltaSyncPathsTest, RebindingReadsTheFolderAgainAndRaisesTheAbortFlag)
{
    EXPECT_TRUE(engine_->IsRunning());
    PeltaSyncAgentSetting other;
    other.Set(QStringLiteral("sync_folder"), dir_.filePath(QStringLiteral("other")) + QStringLiteral("/"));
    other.Set(QStringLiteral("user_sn"), QStringLiteral("999"));
    engine_->SetAgentSetting(&other);

    EXPECT_EQ(engine_->SyncFolder(), dir_.filePath(QStringLiteral("other")));
    EXPECT_EQ(engine_->CacheDir(), dir_.filePath(QStringLiteral("other/.tessaron.cache")));
    EXPECT_EQ(engine_->UserSn(), UserSn);
    EXPECT_EQ(engine_->Settings(), &other);
    EXPECT_FALSE(engine_->IsRunning());
    engine_->ClearAbort();
    EXPECT_TRUE(engine_->IsRunning());
    AppState = XAPPExit;
    EXPECT_FALSE(engine_->IsRunning());
}

TEST_F(PeltaSyncPathsTest, AFolderThatIsNotAnAbsolutePathRefusesEveryPath)
{
    settings_.Set(QStringLiteral("sync_folder"), QStringLiteral("tessaron"));
    const auto engine = NewEngine();
    EXPECT_EQ(engine->ToLocalPath(QStringLiteral("\\a.txt")), QString());
    MakeFile(QStringLiteral("\\a.txt"));
    PeltaRecVfsSyncFile record;
    record.path = QStringLiteral("\\a.txt");
    EXPECT_EQ(engine->GetLocalInfo(record), PeltaSync::InfoMissing);
    EXPECT_FALSE(engine->FillRecordKeys(record));
    EXPECT_EQ(record.key, QString());
}

// Another thread converts paths while the folder is swapped: it sees one
// folder or the other, never a torn text.
TEST_F(PeltaSyncPathsTest, PathsConvertWhileTheFolderChanges)
{
    PeltaSyncAgentSetting first;
    PeltaSyncAgentSetting second;
    const QString a = dir_.filePath(QStringLiteral("first-folder-with-a-long-name-to-fill-the-text"));
    const QString b = dir_.filePath(QStringLiteral("second"));
    first.Set(QStringLiteral("sync_folder"), a);
    second.Set(QStringLiteral("sync_folder"), b);

    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
        while (!stop) {
            const QString full = engine_->ToLocalPath(QStringLiteral("\\x.txt"));
            if (full != a + QStringLiteral("/x.txt") && full != b + QStringLiteral("/x.txt") &&
                full != SyncRoot() + QStringLiteral("/x.txt"))
                ++wrong;
        }
    });
    for (int n = 0; n < 2000; ++n)
        engine_->SetAgentSetting(n % 2 ? &first : &second);
    stop = true;
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
