#include "sync/rules/MountedFolder.h"

#include "foundation/Constants.h"
#include "sync/rules/SyncFolderNotice.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace {

class RecordingNotice : public SyncFolderNotice {
public:
    void SyncFolderUnavailable(const QString& folder, const QString& reason) override
    {
        notices << QStringLiteral("unavailable:") + folder + QLatin1Char(':') + reason;
    }
    void SyncFolderAvailable(const QString& folder) override { notices << QStringLiteral("available:") + folder; }

    QStringList notices;
};

class MountedFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        disk_ = dir_.filePath(QStringLiteral("disk"));
        folder_ = disk_ + QStringLiteral("/sync");
    }

    QString Marker() const { return folder_ + QLatin1Char('/') + CacheFolderName + QStringLiteral("/.mounted"); }

    QTemporaryDir dir_;
    QString disk_;
    QString folder_;
};

TEST_F(MountedFolderTest, TheFolderAndItsMarkerTellAMountedFolderFromAMissingOne)
{
    const struct {
        const char* what;
        std::function<void(const QString& folder)> make;
        MountedFolder::State state;
        bool markerAfter;
    } cases[] = {
        {"folder and parent missing", [](const QString&) {}, MountedFolder::State::NotMounted, false},
        {"folder missing, parent there",
         [](const QString& folder) { QDir().mkpath(QFileInfo(folder).path()); }, MountedFolder::State::Removed, false},
        {"empty, no marker", [](const QString& folder) { QDir().mkpath(folder); }, MountedFolder::State::NotMounted,
         false},
        {"only a cache folder, no marker",
         [](const QString& folder) { QDir().mkpath(folder + QLatin1Char('/') + CacheFolderName); },
         MountedFolder::State::NotMounted, false},
        {"content, no marker",
         [](const QString& folder) {
             QDir().mkpath(folder);
             WriteFileBytes(folder + QStringLiteral("/a.txt"), "a");
         },
         MountedFolder::State::Mounted, true},
        {"a file in the folder's place",
         [](const QString& folder) {
             QDir().mkpath(QFileInfo(folder).path());
             WriteFileBytes(folder, "a");
         },
         MountedFolder::State::NotMounted, false},
    };
    for (const auto& test : cases) {
        QDir(disk_).removeRecursively();
        test.make(folder_);
        MountedFolder mounted(folder_);
        EXPECT_EQ(mounted.Check(), test.state) << test.what;
        EXPECT_EQ(QFileInfo(Marker()).isFile(), test.markerAfter) << test.what;
    }

    // An empty folder with its marker is a sync folder that is simply empty.
    QDir(disk_).removeRecursively();
    QDir().mkpath(folder_);
    MountedFolder mounted(folder_);
    ASSERT_TRUE(mounted.WriteMarker());
    EXPECT_TRUE(mounted.IsMounted());
}

TEST_F(MountedFolderTest, SyncingPausesOnceAndResumesWhenFolderAndMarkerAreBack)
{
    RecordingNotice notice;
    MountedFolder mounted(folder_, &notice);
    EXPECT_EQ(mounted.Check(), MountedFolder::State::NotMounted);
    EXPECT_EQ(mounted.Check(), MountedFolder::State::NotMounted);
    EXPECT_TRUE(mounted.Paused());
    // The disk comes back, first as an empty mount point.
    QDir().mkpath(folder_);
    EXPECT_EQ(mounted.Check(), MountedFolder::State::NotMounted);
    ASSERT_TRUE(MountedFolder(folder_).WriteMarker());
    EXPECT_EQ(mounted.Check(), MountedFolder::State::Mounted);
    EXPECT_FALSE(mounted.Paused());

    EXPECT_EQ(notice.notices, (QStringList{QStringLiteral("unavailable:") + folder_ +
                                               QStringLiteral(":folder and its parent are missing"),
                                           QStringLiteral("available:") + folder_}));
}

TEST_F(MountedFolderTest, ARemovedFolderIsMadeAgainWithItsMarker)
{
    QDir().mkpath(disk_);
    MountedFolder mounted(folder_);
    ASSERT_EQ(mounted.Check(), MountedFolder::State::Removed);
    ASSERT_TRUE(mounted.Recreate());
    EXPECT_TRUE(QFileInfo(folder_).isDir());
    EXPECT_EQ(mounted.Check(), MountedFolder::State::Mounted);

    // Without its parent nothing is made.
    MountedFolder lost(dir_.filePath(QStringLiteral("gone/sync")));
    EXPECT_FALSE(lost.Recreate());
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath(QStringLiteral("gone"))));
}

}  // namespace
