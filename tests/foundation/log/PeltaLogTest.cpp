#include "foundation/log/PeltaLog.h"

#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <thread>
#include <vector>

namespace {

const QString Stamp = QStringLiteral("([01][0-9]|2[0-3])[0-5][0-9][0-5][0-9]");

class PeltaLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("debug.log");
    }

    // A log with its own event and mask, its file open.
    std::unique_ptr<PeltaLog> OpenLog()
    {
        auto log = std::make_unique<PeltaLog>(event_, mask_);
        EXPECT_TRUE(log->OpenFile(path_));
        return log;
    }

    QByteArray FileBytes() const { return ReadFileBytes(path_); }

    static void ExpectMatches(const QString& text, const QString& pattern)
    {
        const QRegularExpression re("\\A" + pattern + "\\z");
        EXPECT_TRUE(re.match(text).hasMatch()) << "text: " << text.toStdString() << "\npattern: " << pattern.toStdString();
    }

    QTemporaryDir dir_;
    QString path_;
    Event event_{QStringLiteral("TestLog"), Event::ResetKind::Manual};
    std::atomic<int> mask_{0x3007};
};

TEST_F(PeltaLogTest, MaskDecidesTheBufferTheFileTakesEveryLevel)
{
    const struct {
        int level;
        bool buffered;
    } cases[] = {
        {LogEvent, false},  // 2048 is off in the default mask
        {LogGeneral, true},
        {LogSync, true},
        {LogDebug, false},
        {0, false},
        {LogGeneral | LogEvent, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        QFile::remove(path_);
        event_.Reset();
        auto log = OpenLog();

        log->Write(QStringLiteral("line"), c.level);

        ExpectMatches(QString::fromUtf8(FileBytes()), Stamp + ":" + QString::number(c.level) + ":line\r\n");
        EXPECT_EQ(log->BufferSize() > 0, c.buffered);
        EXPECT_EQ(event_.IsSignalled(), c.buffered);
    }
}

TEST_F(PeltaLogTest, LineFormats)
{
    const struct {
        QString text;
        QString fileTail;
        QString bufferTail;
    } cases[] = {
        {"hello world", "hello world\r\n", "hello world\n"},
        {"a\nb", "a\r\nb\r\n", "a\nb\n"},
        {"a\r\nb", "a\r\r\nb\r\n", "a\r\nb\n"},
        {QString::fromUtf8("Grüße 同步 ✓"), QString::fromUtf8("Grüße 同步 ✓\r\n"), QString::fromUtf8("Grüße 同步 ✓\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QFile::remove(path_);
        auto log = OpenLog();

        log->Write(c.text, LogGeneral);

        ExpectMatches(QString::fromUtf8(FileBytes()), Stamp + ":2:" + QRegularExpression::escape(c.fileTail));
        const int size = log->BufferSize();
        const QString buffered = log->TakeBuffer();
        EXPECT_EQ(size, buffered.toUtf8().size());
        ExpectMatches(buffered, Stamp + " " + QRegularExpression::escape(c.bufferTail));
        EXPECT_EQ(log->BufferSize(), 0);
        EXPECT_TRUE(log->TakeBuffer().isEmpty());
    }
}

TEST_F(PeltaLogTest, EmptyTextWritesNothing)
{
    auto log = OpenLog();
    log->Write(QString(), LogGeneral);
    EXPECT_EQ(log->BufferSize(), 0);
    EXPECT_TRUE(FileBytes().isEmpty());
    EXPECT_FALSE(event_.IsSignalled());
}

TEST_F(PeltaLogTest, ReopeningAppendsToTheFile)
{
    OpenLog()->Write(QStringLiteral("first"), LogGeneral);
    OpenLog()->Write(QStringLiteral("second"), LogGeneral);

    ExpectMatches(QString::fromUtf8(FileBytes()), Stamp + ":2:first\r\n" + Stamp + ":2:second\r\n");
}

TEST_F(PeltaLogTest, FailedOpenKeepsBuffering)
{
    const QString missing = dir_.filePath("missing/debug.log");
    PeltaLog log(event_, mask_);

    EXPECT_FALSE(log.OpenFile(missing));
    log.Write(QStringLiteral("still here"), LogGeneral);

    ExpectMatches(log.TakeBuffer(), Stamp + " still here\n");
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(PeltaLogTest, SignalIfPending)
{
    PeltaLog log(event_, mask_);
    log.SignalIfPending();
    EXPECT_FALSE(event_.IsSignalled());

    log.Write(QStringLiteral("pending"), LogGeneral);
    event_.Reset();
    log.SignalIfPending();
    EXPECT_TRUE(event_.IsSignalled());

    log.TakeBuffer();
    event_.Reset();
    log.SignalIfPending();
    EXPECT_FALSE(event_.IsSignalled());
}

TEST_F(PeltaLogTest, BoundedBufferDropsOldestWholeLines)
{
    PeltaLog log(event_, mask_);
    const QString padding(200, QChar(u'x'));
    const int lines = 2 * PeltaLog::BufferLimitBytes / 200;
    for (int i = 0; i < lines; ++i)
        log.Write(QString::number(i) + " " + padding, LogGeneral);

    EXPECT_LE(log.BufferSize(), PeltaLog::BufferLimitBytes);
    const QStringList kept = log.TakeBuffer().split('\n', Qt::SkipEmptyParts);
    ASSERT_GT(kept.size(), 1000);
    // Every kept line is whole, and they are the newest ones in order.
    const int first = lines - static_cast<int>(kept.size());
    ExpectMatches(kept.first().left(7), Stamp + " ");
    for (int i = 0; i < kept.size(); ++i)
        ASSERT_EQ(kept.at(i).mid(7), QString::number(first + i) + " " + padding) << "kept line " << i;
}

TEST_F(PeltaLogTest, OneOversizedLineIsKeptWhole)
{
    PeltaLog log(event_, mask_);
    log.Write(QStringLiteral("older"), LogGeneral);
    const QString huge(PeltaLog::BufferLimitBytes + 10, QChar(u'y'));
    log.Write(huge, LogGeneral);

    const QString taken = log.TakeBuffer();
    EXPECT_EQ(taken.size(), 6 + 1 + huge.size() + 1);
    EXPECT_TRUE(taken.endsWith(" " + huge + "\n"));
}

TEST_F(PeltaLogTest, ConcurrentWritersLoseNoLine)
{
    auto log = OpenLog();
    constexpr int Threads = 8;
    constexpr int PerThread = 1000;
    std::atomic<int> running{Threads};
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&log, &running, t] {
            for (int i = 0; i < PerThread; ++i)
                log->Write(QStringLiteral("writer %1 line %2").arg(t).arg(i), LogGeneral);
            --running;
        });
    }
    QString taken;
    while (running > 0)
        taken += log->TakeBuffer();  // the log thread drains while they write
    for (auto& writer : writers)
        writer.join();
    taken += log->TakeBuffer();

    EXPECT_EQ(taken.count('\n'), Threads * PerThread);
    const QStringList fileLines = QString::fromUtf8(FileBytes()).split("\r\n", Qt::SkipEmptyParts);
    EXPECT_EQ(fileLines.size(), Threads * PerThread);
    const QRegularExpression fileLine("\\A" + Stamp + ":2:writer [0-7] line [0-9]+\\z");
    for (const QString& l : fileLines)
        ASSERT_TRUE(fileLine.match(l).hasMatch()) << l.toStdString();
    const QRegularExpression line("\\A" + Stamp + " writer [0-7] line [0-9]+\\z");
    for (const QString& l : taken.split('\n', Qt::SkipEmptyParts))
        ASSERT_TRUE(line.match(l).hasMatch()) << l.toStdString();
}

TEST(PeltaLogNameTest, DebugFileName)
{
    const QDateTime start(QDate(2024, 3, 7), QTime(9, 5, 59));
    EXPECT_EQ(PeltaLog::DebugFileName("/data/folder", start), QStringLiteral("/data/folder/debug_202403070905_d.log"));
}

}  // namespace
