#include "shell/threads/PeltaTransferStatusThread.h"

#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <mutex>

namespace {

// The status text and what the thread showed, guarded for the two threads.
struct Tray {
    std::mutex mutex;
    QString status = QStringLiteral("first");
    QStringList shown;
    std::function<void()> duringPass;

    QString Status()
    {
        std::lock_guard lock(mutex);
        return status;
    }

    void Show(const QString& text)
    {
        std::function<void()> during;
        {
            std::lock_guard lock(mutex);
            shown << text;
            during = std::exchange(duringPass, nullptr);
        }
        if (during)
            during();
    }

    QStringList Shown()
    {
        std::lock_guard lock(mutex);
        return shown;
    }
};

}  // namespace

TEST(PeltaTransferStatusThreadTest, ChangeSignalledDuringAPassLeadsToOneMorePass)
{
    Event trayEvent(QStringLiteral("tray"), Event::ResetKind::Automatic);
    Tray tray;
    // While the first text is being shown, the status changes and signals.
    tray.duringPass = [&] {
        {
            std::lock_guard lock(tray.mutex);
            tray.status = QStringLiteral("second");
        }
        trayEvent.Set();
    };
    PeltaTransferStatusThread thread(
        trayEvent, [&tray] { return tray.Status(); }, [&tray](const QString& text) { tray.Show(text); });
    ASSERT_TRUE(thread.Start());
    trayEvent.Set();

    ASSERT_TRUE(WaitUntil([&tray] { return tray.Shown().size() == 2; }));
    EXPECT_EQ(tray.Shown(), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    thread.Terminate();
    thread.Join();
}

TEST(PeltaTransferStatusThreadTest, TerminateWakesTheWaitAndNothingMoreIsShown)
{
    Event trayEvent(QStringLiteral("tray"), Event::ResetKind::Automatic);
    Tray tray;
    PeltaTransferStatusThread thread(
        trayEvent, [&tray] { return tray.Status(); }, [&tray](const QString& text) { tray.Show(text); });
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(WaitUntil([&thread] { return thread.Running(); }));
    thread.Terminate();
    thread.Join();
    EXPECT_FALSE(thread.Running());
    EXPECT_TRUE(tray.Shown().isEmpty());
}
