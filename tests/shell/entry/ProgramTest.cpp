// The programs tessaron and tessaron-bind as a user starts them: one agent
// per data folder, the updater's start, stop signals, an unusable data
// folder, and a binding without the wizard against the fake service.

#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"
#include "shell/settings/DebugFile.h"
#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

// One started program with what it wrote to standard error so far.
class Program {
public:
    Program(const QString& name, const QStringList& arguments, const QProcessEnvironment& environment)
    {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(QStringLiteral(TESSARON_PROGRAM_DIR "/") + name, arguments);
        process_.waitForStarted(10000);
    }

    ~Program()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    // Waits until standard error holds the text.
    bool Says(const QString& text, std::chrono::milliseconds timeout = 60s)
    {
        return WaitUntil(
            [this, &text] {
                process_.waitForReadyRead(20);
                errors_ += QString::fromUtf8(process_.readAllStandardError());
                return errors_.contains(text);
            },
            timeout);
    }

    bool Ends(std::chrono::milliseconds timeout = 60s)
    {
        const bool ended = process_.waitForFinished(static_cast<int>(timeout.count()));
        errors_ += QString::fromUtf8(process_.readAllStandardError());
        return ended;
    }

    void Signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    bool Running() const { return process_.state() == QProcess::Running; }
    int ExitCode() const { return process_.exitCode(); }
    bool Crashed() const { return process_.exitStatus() == QProcess::CrashExit; }
    const QString& Errors() const { return errors_; }
    QString Output() { return QString::fromUtf8(process_.readAllStandardOutput()); }

private:
    QProcess process_;
    QString errors_;
};

}  // namespace

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("home"))));
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("TESSARON_HOME"), dir_.filePath(QStringLiteral("data")));
        environment_.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("home")));
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    std::unique_ptr<Program> Start(const QStringList& arguments = {})
    {
        return std::make_unique<Program>(QStringLiteral("tessaron"), arguments, environment_);
    }

    QString DataPath(const QString& name) const { return dir_.filePath(QStringLiteral("data/") + name); }

    QTemporaryDir dir_;
    QProcessEnvironment environment_;
};

TEST_F(ProgramTest, SecondStartEndsAtOnceAndTheFirstKeepsRunning)
{
    auto first = Start();
    ASSERT_TRUE(first->Says(QStringLiteral("GotoStep::XGOLogin"))) << first->Errors().toStdString();

    for (const QStringList& arguments : {QStringList(), QStringList{QStringLiteral("/home")}}) {
        auto second = Start(arguments);
        ASSERT_TRUE(second->Ends());
        EXPECT_EQ(second->ExitCode(), 0);
        EXPECT_TRUE(second->Errors().contains(QStringLiteral("runs already"))) << second->Errors().toStdString();
    }
    EXPECT_TRUE(first->Running());

    first->Signal(SIGINT);
    ASSERT_TRUE(first->Ends(10s));
    EXPECT_FALSE(first->Crashed());
    EXPECT_EQ(first->ExitCode(), 0);
}

TEST_F(ProgramTest, UpdaterStartWaitsForTheRunningAgentAndThenHoldsTheLock)
{
    auto old = Start();
    ASSERT_TRUE(old->Says(QStringLiteral("GotoStep::XGOLogin")));
    auto updated = Start({QStringLiteral("/update")});
    ASSERT_TRUE(updated->Running());
    EXPECT_FALSE(updated->Errors().contains(QStringLiteral("From Create Success")));

    old->Signal(SIGTERM);
    ASSERT_TRUE(old->Ends(10s));
    ASSERT_TRUE(updated->Says(QStringLiteral("GotoStep::XGOLogin"))) << updated->Errors().toStdString();

    auto later = Start();
    ASSERT_TRUE(later->Ends());
    EXPECT_TRUE(later->Errors().contains(QStringLiteral("runs already")));

    updated->Signal(SIGTERM);
    ASSERT_TRUE(updated->Ends(10s));
    EXPECT_EQ(updated->ExitCode(), 0);
}

TEST_F(ProgramTest, DataFolderThatCannotBeMadeEndsTheStartWithAMessage)
{
    ASSERT_TRUE(WriteFileBytes(dir_.filePath(QStringLiteral("file")), "x"));
    environment_.insert(QStringLiteral("TESSARON_HOME"), dir_.filePath(QStringLiteral("file/data")));
    auto agent = Start();
    ASSERT_TRUE(agent->Ends());
    EXPECT_EQ(agent->ExitCode(), 1);
    EXPECT_TRUE(agent->Errors().contains(QStringLiteral("cannot be made or written"))) << agent->Errors().toStdString();
}

TEST_F(ProgramTest, UnreadableRegistryIsLeftAsItIs)
{
    ASSERT_TRUE(QDir().mkpath(DataPath(QStringLiteral("registry.json"))));
    auto agent = Start();
    ASSERT_TRUE(agent->Says(QStringLiteral("GotoStep::XGOLogin"))) << agent->Errors().toStdString();
    agent->Signal(SIGTERM);
    ASSERT_TRUE(agent->Ends(10s));
    EXPECT_EQ(agent->ExitCode(), 0);
    EXPECT_TRUE(QFileInfo(DataPath(QStringLiteral("registry.json"))).isDir());
}

TEST_F(ProgramTest, BoundWithoutTheWizardTheAgentSyncsAndStopsQuicklyWhateverTheServiceHolds)
{
    FakeService service;
    ASSERT_TRUE(service.IsRunning());
    ASSERT_TRUE(service.State().AddAccount(TestAccount::Spec()));
    ASSERT_TRUE(QDir().mkpath(DataPath(QString())));
    ASSERT_TRUE(WriteFileBytes(
        DataPath(DebugFile::FileName),
        QStringList{QString::fromStdString(service.BaseUrl()), QStringLiteral("-"),
                    QString::fromStdString(service.UploadUrl()), QString::fromStdString(service.PushUrl()),
                    QStringLiteral("DEV"),
                    QStringLiteral("account_server=") + QString::fromStdString(service.AccountUrl()),
                    QStringLiteral("signed_api=") + QString::fromStdString(service.ApiUrl())}
                .join(u'\n')
            .toUtf8()));
    const QString syncFolder = dir_.filePath(QStringLiteral("home/demo"));

    Program bind(QStringLiteral("tessaron-bind"),
                 {QStringLiteral("--login"), TestAccount::Login, QStringLiteral("--password"), TestAccount::Password,
                  QStringLiteral("--sync-folder"), syncFolder},
                 environment_);
    ASSERT_TRUE(bind.Ends(120s));
    ASSERT_EQ(bind.ExitCode(), 0) << bind.Errors().toStdString();
    ASSERT_EQ(service.State().Agents(TestAccount::UserId).size(), 1u);
    EXPECT_TRUE(QFileInfo(syncFolder).isDir());

    // The agent signs in with what was stored, verifies the agent, makes its
    // first full sync and marks itself running: a file dropped into the
    // folder reaches the service.
    auto agent = Start();
    ASSERT_TRUE(agent->Says(QStringLiteral("PeltaSyncThread Start"))) << agent->Errors().toStdString();
    ASSERT_TRUE(QFileInfo::exists(DataPath(QStringLiteral(".ShellCache/.tessaron"))));
    ASSERT_TRUE(WriteFileBytes(syncFolder + QStringLiteral("/dropped.txt"), "dropped into the folder"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::optional<FakeItem> item = service.State().LiveFile(TestAccount::UserId, QStringLiteral("/dropped.txt"));
            return item && item->content.Bytes() == "dropped into the folder";
        },
        60s))
        << agent->Errors().toStdString();
    agent->Signal(SIGINT);
    ASSERT_TRUE(agent->Ends(20s));
    EXPECT_FALSE(agent->Crashed());
    EXPECT_EQ(agent->ExitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(DataPath(QStringLiteral(".ShellCache/.tessaron"))));

    // Started again while the service holds an upload and the push channel's
    // long poll: every thread is told, woken and joined within 3 s; the
    // process itself then ends (slower under the sanitizers).
    service.Push().SetHoldTime(20s);
    service.Faults().SetAlways("postFile2", Fault::Delay(20000ms));
    const std::size_t uploadsBefore = service.CallCount("postFile2");
    agent = Start();
    ASSERT_TRUE(agent->Says(QStringLiteral("PeltaSyncThread Start"))) << agent->Errors().toStdString();
    ASSERT_TRUE(WriteFileBytes(syncFolder + QStringLiteral("/held.bin"), PatternData(300 * 1024)));
    ASSERT_TRUE(WaitUntil([&] { return service.CallCount("postFile2") > uploadsBefore; }, 60s))
        << agent->Errors().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return service.Push().HeldChecks() >= 1; }, 60s));
    QElapsedTimer stopping;
    stopping.start();
    agent->Signal(SIGTERM);
    ASSERT_TRUE(agent->Says(QStringLiteral("every thread has ended"), 10s)) << agent->Errors().toStdString();
    EXPECT_LT(stopping.elapsed(), 3000) << agent->Errors().toStdString();
    ASSERT_TRUE(agent->Ends(10s));
    EXPECT_FALSE(agent->Crashed());
    EXPECT_EQ(agent->ExitCode(), 0);
    EXPECT_TRUE(agent->Errors().contains(QStringLiteral("StopSignals: signal 15")));
}
