#include "shell/windows/FolderChooser.h"
#include "tests/shell/windows/ScriptedPrompter.h"

#include "foundation/Constants.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <deque>
#include <unistd.h>

namespace {

class FolderChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("data"))));
        ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("places/a"))));
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    FolderChooser MakeChooser()
    {
        return FolderChooser(prompter_, Path(QStringLiteral("data")),
                             [this](QWidget*, const QString& title, const QString& start) {
                                 titles_ << title;
                                 starts_ << start;
                                 if (choices_.empty())
                                     return QString();
                                 const QString choice = choices_.front();
                                 choices_.pop_front();
                                 return choice;
                             });
    }

    QTemporaryDir dir_;
    ScriptedPrompter prompter_;
    std::deque<QString> choices_;
    QStringList titles_;
    QStringList starts_;
};

TEST_F(FolderChooserTest, TheSyncFolderIsTheChosenPlacePlusTheProgramFolder)
{
    choices_ = {Path(QStringLiteral("places/a/"))};
    FolderChooser chooser = MakeChooser();
    QString out;
    ASSERT_TRUE(chooser.SelectNewSyncFolder(nullptr, QStringLiteral("/start"), out));
    EXPECT_EQ(out, Path(QStringLiteral("places/a/")) + ProgramName);
    EXPECT_EQ(titles_, QStringList{FormatText(Xi18n::Text(XText::_ML0701), {Xi18n::Text(XText::_APPName)})});
    EXPECT_EQ(starts_, QStringList{QStringLiteral("/start")});
    EXPECT_TRUE(prompter_.asked.isEmpty());
}

TEST_F(FolderChooserTest, CancelReturnsFalseAndKeepsTheStartFolder)
{
    FolderChooser chooser = MakeChooser();
    QString out = QStringLiteral("unchanged");
    EXPECT_FALSE(chooser.SelectSyncFolder(nullptr, QStringLiteral("/start"), QString(), out));
    EXPECT_EQ(out, QStringLiteral("/start"));
}

TEST_F(FolderChooserTest, TheInstallationFolderIsRefusedAndTheBrowserOpensAgain)
{
    const QString install = Path(QStringLiteral("places/") + ProgramName);
    ASSERT_TRUE(QDir().mkpath(install));
    choices_ = {Path(QStringLiteral("places")), Path(QStringLiteral("places/a"))};
    FolderChooser chooser = MakeChooser();
    QString out;
    ASSERT_TRUE(chooser.SelectSyncFolder(nullptr, QString(), install, out));
    EXPECT_EQ(prompter_.told, QStringList{Xi18n::Text(XText::_ML0705)});
    EXPECT_EQ(titles_.size(), 2);
    EXPECT_EQ(out, Path(QStringLiteral("places/a/")) + ProgramName);
}

TEST_F(FolderChooserTest, AnExistingSyncFolderIsTakenOnlyAfterYes)
{
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("places/a/")) + ProgramName));
    choices_ = {Path(QStringLiteral("places/a")), Path(QStringLiteral("places/a"))};
    prompter_.answers = {false, true};
    FolderChooser chooser = MakeChooser();
    QString out;
    ASSERT_TRUE(chooser.SelectSyncFolder(nullptr, QString(), QString(), out));
    EXPECT_EQ(prompter_.asked.size(), 2);
    EXPECT_EQ(prompter_.asked.front(), FormatText(Xi18n::Text(XText::_ML0703), {Xi18n::Text(XText::_APPName)}));
    EXPECT_EQ(titles_.size(), 2);
    EXPECT_EQ(out, Path(QStringLiteral("places/a/")) + ProgramName);
}

TEST_F(FolderChooserTest, PlacesThatCannotHoldTheSyncFolderAreRefusedWithAMessage)
{
    // Each refused choice shows a message and the browser again; the last
    // choice is a good one.
    choices_ = {Path(QStringLiteral("data")),            // the data folder
                Path(QStringLiteral("data/inner")),      // a folder inside it
                QStringLiteral("/"),                     // the root folder
                Path(QStringLiteral("unplugged/disk")),  // a place that is gone
                Path(QStringLiteral("places/a"))};
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("data/inner"))));
    FolderChooser chooser = MakeChooser();
    QString out;
    ASSERT_TRUE(chooser.SelectSyncFolder(nullptr, QString(), QString(), out));
    EXPECT_EQ(prompter_.told.size(), 4) << prompter_.told.join(u'\n').toStdString();
    EXPECT_EQ(out, Path(QStringLiteral("places/a/")) + ProgramName);
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("data/")) + ProgramName));
}

TEST_F(FolderChooserTest, AFolderThatHoldsTheDataFolderIsRefused)
{
    const QString data = Path(QStringLiteral("places/a/")) + ProgramName + QStringLiteral("/data");
    ASSERT_TRUE(QDir().mkpath(data));
    EXPECT_FALSE(FolderChooser::Refusal(Path(QStringLiteral("places/a/")) + ProgramName, QString(), data).isEmpty());
    EXPECT_TRUE(FolderChooser::Refusal(Path(QStringLiteral("places/a/")) + ProgramName, QString(),
                                       Path(QStringLiteral("data")))
                    .isEmpty());
}

// Refused for every user, the superuser included: the process file system
// takes no new folder and no new file, whatever its mode bits say.
TEST_F(FolderChooserTest, AFolderThatCannotBeWrittenIsRefused)
{
    const QString data = Path(QStringLiteral("data"));
    const QString refusal = QStringLiteral("無法寫入所選的目錄，請重新選取");
    EXPECT_EQ(FolderChooser::Refusal(QStringLiteral("/proc/") + ProgramName, QString(), data), refusal);
    EXPECT_EQ(FolderChooser::Refusal(QStringLiteral("/proc/sys"), QString(), data), refusal);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/") + ProgramName));

    // A folder the user may not write into (the superuser may, and is not
    // refused).
    const QString locked = Path(QStringLiteral("places/locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_EQ(FolderChooser::Refusal(locked + u'/' + ProgramName, QString(), data).isEmpty(), ::geteuid() == 0);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // A writable place is accepted and the probe leaves nothing behind.
    EXPECT_TRUE(FolderChooser::Refusal(Path(QStringLiteral("places/a/")) + ProgramName, QString(), data).isEmpty());
    EXPECT_TRUE(FolderChooser::Refusal(Path(QStringLiteral("places/a")), QString(), data).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Path(QStringLiteral("places/a/")) + ProgramName));
    EXPECT_EQ(QDir(Path(QStringLiteral("places/a"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

TEST_F(FolderChooserTest, AnExistingFolderIsReturnedAsItIsAndRemembered)
{
    choices_ = {Path(QStringLiteral("places/a"))};
    FolderChooser chooser = MakeChooser();
    QString out;
    ASSERT_TRUE(chooser.SelectFolder(nullptr, Path(QStringLiteral("places")), out, FolderChooser::ExistingFolderMode));
    EXPECT_EQ(out, Path(QStringLiteral("places/a")));
    EXPECT_EQ(titles_, QStringList{Xi18n::Text(XText::_ML0702)});
    EXPECT_EQ(chooser.InitialSelection(), Path(QStringLiteral("places")));
}

}  // namespace
