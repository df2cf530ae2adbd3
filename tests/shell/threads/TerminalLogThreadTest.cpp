#include "shell/threads/TerminalLogThread.h"

#include "foundation/log/PeltaLog.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {

QByteArray Contents(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, static_cast<qsizetype>(n));
    std::fseek(file, 0, SEEK_END);
    return bytes;
}

}  // namespace

TEST(TerminalLogThreadTest, LinesReachTheTerminalAsTheyComeAndAtTheEnd)
{
    Event logEvent(QStringLiteral("log"), Event::ResetKind::Manual);
    std::atomic<int> mask{0x2};
    PeltaLog log(logEvent, mask);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
    ASSERT_TRUE(out);
    {
        TerminalLogThread thread(log, logEvent, out.get());
        ASSERT_TRUE(thread.Start());
        log.Write(QStringLiteral("one"), 0x2);
        log.Write(QStringLiteral("hidden"), 0x8);
        ASSERT_TRUE(WaitUntil([&log] { return log.BufferSize() == 0; }));
        for (int i = 0; i < 100; ++i)
            log.Write(QStringLiteral("line %1").arg(i), 0x2);
        thread.Terminate();
        thread.Join();
    }
    const QByteArray written = Contents(out.get());
    EXPECT_TRUE(written.contains(" one\n"));
    EXPECT_FALSE(written.contains("hidden"));
    EXPECT_TRUE(written.contains(" line 99\n"));
    EXPECT_EQ(written.count('\n'), 101);
}
