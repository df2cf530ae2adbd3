#include "shell/windows/TFrmLog.h"
#include "tests/shell/windows/WindowFixture.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>

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

}  // namespace
