#include "tests/sync/SyncFixture.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QString>

namespace {

using PeltaSyncIconsTest = SyncFixture;

TEST_F(PeltaSyncIconsTest, MarkerFilesAreNamedAfterThePathsDigest)
{
    engine_->SetIcon(QStringLiteral("\\Docs"), XICOAdd);
    // Md5Hex of "\Docs", computed with md5sum.
    EXPECT_TRUE(QFileInfo::exists(reg_->MarkerFolder() + QStringLiteral(".3f4450aa9189bb8c2c581cc4b7c062bc.1")));
    EXPECT_EQ(reg_->MarkerFolder(), dir_.filePath(QStringLiteral(".ShellCache/")));

    engine_->SetIcon(QString(), XICOSync);
    EXPECT_TRUE(QFileInfo::exists(reg_->MarkerFolder() + QStringLiteral(".28d397e87306b8631f3ed80d858d35f0.9")));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("evtIcon:SetIcon:\\, XICOSync")));
}

// Whatever was there before, each state leaves at most one marker.
TEST_F(PeltaSyncIconsTest, EachStateLeavesAtMostOneMarker)
{
    const struct {
        int state;
        const char* after;
    } states[] = {
        {XICOAdd, "1"}, {XICOResync, "1"}, {XICOMod, "1"}, {XICOSync, "9"}, {XICODel, ""},
    };
    const QString path = QStringLiteral("\\a.txt");
    for (const char* before : {"", "1", "9"}) {
        for (const auto& s : states) {
            engine_->SetIcon(path, XICODel);
            if (*before)
                engine_->SetIcon(path, QString::fromLatin1(before) == QLatin1String("1") ? XICOAdd : XICOSync);
            engine_->SetIcon(path, s.state);
            EXPECT_EQ(Markers(path), QString::fromLatin1(s.after)) << "before " << before << " state " << s.state;
        }
    }
    // No operation and offline change nothing.
    engine_->SetIcon(path, XICOSync);
    engine_->SetIcon(path, XICONOP);
    engine_->SetIcon(path, XICOOffline);
    EXPECT_EQ(Markers(path), QStringLiteral("9"));
}

TEST_F(PeltaSyncIconsTest, AFolderIsMarkedOncePerBatchAndSyncedAtTheEnd)
{
    PeltaSync::ParentCounter counter;
    for (const char* file : {"\\Docs\\a.txt", "\\Docs\\b.txt", "\\Docs\\c.txt"})
        engine_->SetParentIcon(QString::fromLatin1(file), counter);
    engine_->SetParentIcon(QStringLiteral("\\top.txt"), counter);

    EXPECT_EQ(counter[QStringLiteral("\\Docs\\")], 3);
    EXPECT_EQ(counter[QStringLiteral("\\")], 1);
    EXPECT_EQ(Markers(QStringLiteral("\\Docs")), QStringLiteral("1"));
    EXPECT_EQ(Markers(QStringLiteral("\\")), QStringLiteral("1"));
    const QString log = TakeLog();
    EXPECT_EQ(log.count(QStringLiteral("evtIcon:SetIcon:\\Docs, XICOResync")), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("evtIcon:SetParentIcon:\\Docs\\c.txt(3)")));

    engine_->RefreshParentIcons(counter);
    EXPECT_TRUE(counter.empty());
    EXPECT_EQ(Markers(QStringLiteral("\\Docs")), QStringLiteral("9"));
    EXPECT_EQ(Markers(QStringLiteral("\\")), QStringLiteral("9"));
    EXPECT_EQ(TakeLog().count(QStringLiteral("evtIcon:SetIcon:\\Docs, XICOSync")), 1);
}

}  // namespace
