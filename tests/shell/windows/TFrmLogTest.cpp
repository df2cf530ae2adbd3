#include "shell/windows/TFrmLog.h"
#include "tests/shell/windows/WindowFixture.h"

#include "shell/engine/SyncEngineControl.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "sync/SyncEngineOptions.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

class TFrmLogTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        MakeControl();
        log_ = std::make_unique<TFrmLog>(*control_, DataPath(QStringLiteral("debug_window.log")));
        log_->SetFileOpener([this](const QString& path) { opened_ << path; });
    }

    void TearDown() override
    {
        log_.reset();
        WindowFixture::TearDown();
    }

    QString FileText() const
    {
        QFile file(log_->LogFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    std::unique_ptr<TFrmLog> log_;
    QStringList opened_;
};

struct AddCase {
    const char* text;
    QStringList lines;
};

TEST_F(TFrmLogTest, EachTextBecomesItsNonEmptyLines)
{
    const AddCase cases[] = {
        {"a\nb\n\n", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral(" ")}},
        {"\n\n\n", {}},
        {"x \t\r\n", {QStringLiteral("x")}},
        {"one\r\n\r\ntwo", {QStringLiteral("one"), QStringLiteral("two")}},
    };
    int calls = 0;
    for (const AddCase& c : cases) {
        log_->ClearLog();
        log_->AddLog(QString::fromLatin1(c.text));
        EXPECT_EQ(log_->Lines(), c.lines) << c.text;
        EXPECT_EQ(log_->Calls(), ++calls);
    }
}

TEST_F(TFrmLogTest, WhileFrozenTextsAreDroppedForGood)
{
    log_->AddLog(QStringLiteral("before"));
    log_->Button(QStringLiteral("btnFreeze"))->click();
    EXPECT_EQ(log_->Button(QStringLiteral("btnFreeze"))->text(), QStringLiteral("Log Resume"));
    log_->AddLog(QStringLiteral("while frozen"));
    log_->Button(QStringLiteral("btnFreeze"))->click();
    log_->AddLog(QStringLiteral("after"));
    EXPECT_EQ(log_->Lines(), (QStringList{QStringLiteral("before"), QStringLiteral("after")}));
    EXPECT_EQ(log_->Button(QStringLiteral("btnFreeze"))->text(), QStringLiteral("Log Freeze"));
}

TEST_F(TFrmLogTest, TheCallAfterTheLimitSavesAndClearsTheDisplayInDebugMode)
{
    DebugMode = true;
    for (int i = 0; i < TFrmLog::MaxCalls; ++i)
        log_->AddLog(QStringLiteral("line %1").arg(i));
    EXPECT_EQ(log_->Lines().size(), TFrmLog::MaxCalls);
    log_->AddLog(QStringLiteral("next"));
    EXPECT_EQ(log_->Lines(), QStringList{QStringLiteral("next")});
    EXPECT_EQ(log_->Calls(), 0);
    const QStringList saved = FileText().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(saved.size(), TFrmLog::MaxCalls);
    EXPECT_EQ(saved.back(), QStringLiteral("line 999"));
    EXPECT_TRUE(opened_.isEmpty());
}

TEST_F(TFrmLogTest, TheDisplayNeverGrowsWithoutBound)
{
    QStringList many;
    for (int i = 0; i < TFrmLog::MaxLines + 50; ++i)
        many << QStringLiteral("l%1").arg(i);
    log_->AddLog(many.join(u'\n'));
    const QStringList lines = log_->Lines();
    ASSERT_EQ(lines.size(), TFrmLog::MaxLines);
    EXPECT_EQ(lines.back(), many.back());
}

TEST_F(TFrmLogTest, SavingAppendsTheDisplayClearsItAndOpensTheFileWhenAsked)
{
    log_->AddLog(QStringLiteral("first"));
    ASSERT_TRUE(log_->SaveLog(false));
    log_->AddLog(QStringLiteral("second"));
    ASSERT_TRUE(log_->SaveLog(true));
    EXPECT_EQ(FileText(), QStringLiteral("first\nsecond\n"));
    EXPECT_TRUE(log_->Lines().isEmpty());
    EXPECT_EQ(opened_, QStringList{log_->LogFile()});

    TFrmLog noFile(*control_, QString());
    EXPECT_FALSE(noFile.SaveLog(false));
}

TEST_F(TFrmLogTest, ACategoryBoxSetsAndClearsItsBitAtOnce)
{
    LogMask = 0;
    log_ = std::make_unique<TFrmLog>(*control_, QString());
    EXPECT_FALSE(log_->CategoryBox(QStringLiteral("cbLogHTTP"))->isChecked());
    QCheckBox* http = log_->CategoryBox(QStringLiteral("cbLogHTTP"));
    ASSERT_NE(http, nullptr);
    http->click();
    EXPECT_EQ(LogMask.load(), LogHTTP);
    log_->CategoryBox(QStringLiteral("cbLogAPE"))->click();
    EXPECT_EQ(LogMask.load(), LogHTTP | LogAPE);
    http->click();
    EXPECT_EQ(LogMask.load(), LogAPE);
}

TEST_F(TFrmLogTest, TheRequestCountWorksWithoutTheEngine)
{
    ASSERT_EQ(control_->Engine(), nullptr);
    log_->Button(QStringLiteral("btnQueueCount"))->click();
    EXPECT_EQ(log_->Button(QStringLiteral("btnQueueCount"))->text(), QStringLiteral("Queue(0)"));
}

// The debug actions that reach the service or the engine, on a computer
// bound to the fake's test account and signed in.
class TFrmLogActionsTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        ASSERT_TRUE(service_.State().SeedFile(UserId, QStringLiteral("/t39/a.txt"), "a"));
        ASSERT_TRUE(service_.State().SeedFolder(UserId, QStringLiteral("/t39/sub")));
        BindAndRestart();
    }

    void TearDown() override
    {
        log_.reset();
        WindowFixture::TearDown();
    }

    void MakeLog()
    {
        log_ = std::make_unique<TFrmLog>(*control_, QString());
        log_->SetFolderBrowser([this](QWidget*, const QString& title, const QString&) {
            titles_ << title;
            if (choices_.empty())
                return QString();
            const QString choice = choices_.front();
            choices_.pop_front();
            return choice;
        });
    }

    bool Shows(const QString& line) const { return log_->Lines().contains(line); }
    QPushButton* Button(const char* name) const { return log_->Button(QString::fromLatin1(name)); }

    std::unique_ptr<TFrmLog> log_;
    QStringList titles_;
};

TEST_F(TFrmLogActionsTest, TestShowsTheAnswerForTheTestFolder)
{
    StartToMain();
    MakeLog();
    ASSERT_TRUE(Button("btnTest")->isEnabled());
    Button("btnTest")->click();
    ASSERT_TRUE(Pump([&] { return log_->Lines().join(u'\n').contains(QStringLiteral("a.txt")); }))
        << TakeLog().toStdString();
    const QString shown = log_->Lines().join(u'\n');
    EXPECT_TRUE(shown.contains(QStringLiteral("\"sub\""))) << shown.toStdString();
    EXPECT_EQ(service_.CallCount("getMetadata"), 1u);
}

TEST_F(TFrmLogActionsTest, GetMetadataListsAFolderOfTheSyncFolderAndRefusesOthers)
{
    StartToMain();
    MakeLog();
    const QString syncFolder = control_->Reg().GetSyncFolder();
    ASSERT_TRUE(QDir().mkpath(syncFolder + QStringLiteral("/t39")));
    choices_ = {HomePath(QStringLiteral("elsewhere")), syncFolder + QStringLiteral("/t39")};

    Button("btnGetMetadata")->click();
    EXPECT_EQ(log_->Lines(), QStringList{QStringLiteral("getMetadata: not a folder of the sync folder: ") +
                                         HomePath(QStringLiteral("elsewhere"))});
    EXPECT_EQ(service_.CallCount("getMetadata"), 0u);

    Button("btnGetMetadata")->click();
    EXPECT_TRUE(Shows(QStringLiteral("Path=\\t39")));
    ASSERT_TRUE(Pump([&] { return Shows(QStringLiteral("F:/t39/a.txt")); })) << TakeLog().toStdString();
    EXPECT_TRUE(Shows(QStringLiteral("D:/t39/sub")));
    EXPECT_EQ(titles_, QStringList(2, QStringLiteral("請選擇查詢Metadata目錄")));
}

TEST_F(TFrmLogActionsTest, ResyncRemoteQueuesARemoteWalkOfTheWholeFolder)
{
    StartToMain();
    MakeLog();
    engine_->calls.clear();
    Button("btnResyncRemote")->click();
    EXPECT_EQ(engine_->calls, QStringList{QStringLiteral("QueueResync:%1:\\").arg(XMOResyncRemote)});
}

// Once stopped, the push channel stays off: an engine made later is told
// before it starts.
TEST_F(TFrmLogActionsTest, StopApeBeforeTheMainStepKeepsThePushChannelOff)
{
    MakeLog();
    ASSERT_TRUE(Button("btnStopApe")->isEnabled());
    Button("btnStopApe")->click();
    EXPECT_FALSE(Button("btnStopApe")->isEnabled());
    StartToMain();
    EXPECT_EQ(engine_->calls, (QStringList{QStringLiteral("StopPushChannel"), QStringLiteral("Start:FullSync")}));
    EXPECT_FALSE(TFrmLog(*control_, QString()).Button(QStringLiteral("btnStopApe"))->isEnabled());
}

// With the real engine: the held long poll ends at once and the engine goes
// on without it.
TEST_F(TFrmLogActionsTest, StopApeEndsThePushChannelsHeldPoll)
{
    service_.Push().SetHoldTime(20s);
    TFrmControl::Options options;
    options.engineFactory = [this](PeltaReg& reg, PeltaSyncAgentSetting& settings,
                                   std::shared_ptr<EngineNotices> notices) {
        SyncEngineOptions tuning;
        tuning.pushUrl = QString::fromStdString(service_.PushUrl());
        tuning.push.minGap = 20ms;
        return std::make_unique<SyncEngineControl>(reg, settings, std::move(notices), tuning);
    };
    MakeControl(std::move(options));
    control_->GotoStep(XGOSplash);
    ASSERT_TRUE(Pump([&] { return service_.Push().HeldChecks() >= 1; })) << TakeLog().right(4000).toStdString();

    MakeLog();
    Button("btnStopApe")->click();
    EXPECT_FALSE(Button("btnStopApe")->isEnabled());
    EXPECT_TRUE(Pump([&] { return service_.Push().HeldChecks() == 0; }, 5s));
    ASSERT_NE(control_->Engine(), nullptr);
    EXPECT_TRUE(control_->Engine()->Running());
}

}  // namespace
