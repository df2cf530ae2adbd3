#include "shell/entry/InstanceLock.h"

#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent.lock"));
    auto first = std::make_unique<InstanceLock>(path);
    ASSERT_TRUE(first->TryAcquire());
    InstanceLock second(path);
    EXPECT_FALSE(second.TryAcquire());
    first.reset();
    EXPECT_TRUE(second.TryAcquire());
    EXPECT_TRUE(second.Held());
}

TEST(InstanceLockTest, LockOfAProcessThatEndedIsTakenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent.lock"));
    QProcess ended;
    ended.start(QStringLiteral("/bin/true"), {});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 pid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    ASSERT_TRUE(WriteFileBytes(path, QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() +
                                         '\n' + QSysInfo::machineHostName().toUtf8() + '\n'));

    InstanceLock lock(path);
    EXPECT_TRUE(lock.TryAcquire());
}

TEST(InstanceLockTest, UpdaterStartWaitsForTheOldInstanceAndThenHoldsTheLock)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("agent.lock"));
    auto old = std::make_unique<InstanceLock>(path);
    ASSERT_TRUE(old->TryAcquire());

    std::atomic<bool> waiting{false};
    std::atomic<bool> acquired{false};
    InstanceLock update(path);
    std::thread starter([&] {
        waiting = true;
        acquired = update.WaitAndAcquire(20s);
    });
    ASSERT_TRUE(WaitUntil([&waiting] { return waiting.load(); }));
    EXPECT_FALSE(acquired.load());
    old.reset();  // the old instance ends
    starter.join();
    EXPECT_TRUE(acquired.load());

    InstanceLock later(path);  // an ordinary start now finds the lock held
    EXPECT_FALSE(later.TryAcquire());

    InstanceLock tooLate(path);
    EXPECT_FALSE(tooLate.WaitAndAcquire(50ms));
}
