#include "shell/settings/Shortcuts.h"

#include "tests/support/FileContents.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        env_.Set("HOME", dir_.path().toStdString());
        env_.Set("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toStdString());
    }

    QString Bookmarks() const { return dir_.filePath(QStringLiteral("config/gtk-3.0/bookmarks")); }

    QTemporaryDir dir_;
    ScopedEnvironment env_;
};

TEST_F(ShortcutsTest, NothingIsMadeWhereTheDesktopAndTheBookmarksAreMissing)
{
    Shortcuts::Create(QStringLiteral("/opt/tessaron/tessaron"), QStringLiteral("/home/u/tessaron"));
    EXPECT_FALSE(QFileInfo::exists(Shortcuts::DesktopEntryPath()));
    EXPECT_FALSE(QFileInfo::exists(Bookmarks()));
}

TEST_F(ShortcutsTest, DesktopEntryRunsTheProgramWithHomeAndIsReplaced)
{
    ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("Desktop"))));
    Shortcuts::Create(QStringLiteral("/opt/tessaron/tessaron"), QStringLiteral("/old"));
    Shortcuts::Create(QStringLiteral("/opt/tes saron/tessaron"), QStringLiteral("/new folder"));
    const QString entry = QString::fromUtf8(ReadFileBytes(Shortcuts::DesktopEntryPath()));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nExec=\"/opt/tes saron/tessaron\" /home\n"))) << entry.toStdString();
    EXPECT_TRUE(entry.contains(QStringLiteral("\nPath=/new folder\n")));
    EXPECT_TRUE(QFileInfo(Shortcuts::DesktopEntryPath()).isExecutable());

    EXPECT_TRUE(Shortcuts::DesktopEntryText(QStringLiteral("relative/prog"), QStringLiteral("/f")).isEmpty());
    EXPECT_TRUE(Shortcuts::DesktopEntryText(QStringLiteral("/prog"), QStringLiteral("/f\nx")).isEmpty());
}

TEST_F(ShortcutsTest, BookmarkReplacesItsEarlierLineAndKeepsTheOthers)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Bookmarks()).absolutePath()));
    ASSERT_TRUE(WriteFileBytes(Bookmarks(), "file:///srv/a A\nfile:///old Tessaron\nsftp://host/ Host\n"));
    Shortcuts::Create(QStringLiteral("/prog"), QStringLiteral("/home/u/同步"));
    EXPECT_EQ(ReadFileBytes(Bookmarks()),
              "file:///srv/a A\nsftp://host/ Host\nfile:///home/u/%E5%90%8C%E6%AD%A5 Tessaron\n");
}
