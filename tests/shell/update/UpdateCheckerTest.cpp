#include "shell/update/UpdateChecker.h"
#include "tests/shell/update/UpdateServer.h"
#include "tests/shell/windows/WindowFixture.h"

#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QDir>
#include <QFile>

#include <mutex>

namespace {

class UpdateCheckerTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        ASSERT_TRUE(server_.Ready());
        MakeControl();
        UpdateChecker::Options options;
        options.listUrl = server_.PlainUrl("/checkVer.php?%d");
        options.caFile = server_.CaFile();
        options.starter = [this](const QString& program, const QStringList& arguments) {
            started_ << program + u' ' + arguments.join(u' ');
            return true;
        };
        checker_ = std::make_unique<UpdateChecker>(*control_, prompter_, options);
    }

    void TearDown() override
    {
        checker_.reset();
        WindowFixture::TearDown();
    }

    UpdateServer server_;
    std::unique_ptr<UpdateChecker> checker_;
    QStringList started_;
};

TEST_F(UpdateCheckerTest, OnlyOneCheckRunsAtATime)
{
    std::unique_lock<std::mutex> replacing(PeltaCheckVersionThread::ReplaceLock());
    server_.Serve("/checkVer.php", "{}");
    ASSERT_TRUE(checker_->Start(true));
    EXPECT_FALSE(checker_->Start(true));
    replacing.unlock();
    ASSERT_TRUE(Pump([&] { return !prompter_.told.isEmpty(); }));
    EXPECT_EQ(prompter_.told, QStringList{Xi18n::Text(XText::_ML0307)});
    EXPECT_EQ(server_.Requests("/checkVer.php"), 1);
    ASSERT_TRUE(Pump([&] { return !checker_->Running(); }));
    EXPECT_TRUE(checker_->Start(false));
}

TEST_F(UpdateCheckerTest, TheUpdaterStartsOnlyAfterTheUserAgreed)
{
    ASSERT_TRUE(QDir().mkpath(checker_->UpdateFolder()));
    QFile updater(checker_->UpdateFolder() + QStringLiteral("/Updater.exe"));
    ASSERT_TRUE(updater.open(QIODevice::WriteOnly));
    updater.close();

    prompter_.answers = {false};
    checker_->OnReported(QStringLiteral("Tessaron"), QStringLiteral("9.0.0"));
    EXPECT_TRUE(started_.isEmpty());
    EXPECT_EQ(prompter_.asked.front(), FormatText(Xi18n::Text(XText::_ML0305),
                                                  {Xi18n::Text(XText::_APPName), QStringLiteral("9.0.0")}));
    EXPECT_FALSE(control_->Closing());

    prompter_.answers = {true};
    checker_->OnReported(QStringLiteral("Tessaron"), QStringLiteral("9.0.0"));
    EXPECT_EQ(started_, QStringList{updater.fileName() + QStringLiteral(" /update")});
    EXPECT_TRUE(control_->Closing());
}

TEST_F(UpdateCheckerTest, TheListComesFromTheDebugFilesUpdateServer)
{
    EXPECT_EQ(UpdateChecker::ListUrl(QString()), CheckVersionUrl);
    const QString url = UpdateChecker::ListUrl(QStringLiteral("http://127.0.0.1:9000/"));
    EXPECT_TRUE(url.startsWith(QStringLiteral("http://127.0.0.1:9000/"))) << url.toStdString();
    EXPECT_TRUE(url.endsWith(QStringLiteral("checkVer.php?%d"))) << url.toStdString();
}

}  // namespace
