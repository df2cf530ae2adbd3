#include "sync/threads/PeltaSyncPreThread.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "tests/support/WaitUntil.h"
#include "tests/sync/FolderEvents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <thread>

namespace {

using namespace std::chrono_literals;

class PeltaSyncPreThreadTest : public testing::Test {
protected:
    void SetUp() override { ResetFolderEventQueues(); }
    void TearDown() override
    {
        if (thread_)
            thread_->StopAndJoin();
        ResetFolderEventQueues();
    }

    void Start(std::chrono::milliseconds hold, PeltaSyncPreThread::PathMapper mapper = {})
    {
        thread_ = std::make_unique<PeltaSyncPreThread>(std::move(mapper), hold);
        ASSERT_TRUE(thread_->Start());
    }

    static void Push(int kind, const QString& path, const QString& path2 = QString())
    {
        {
            std::lock_guard lock(csFSQueue);
            FSQueue.Push(std::make_unique<PeltaFSQueue>(kind, path, path2));
        }
        evtFSQueue.Set();
    }

    // Collects the final queue until it holds count events.
    bool WaitForPassedOn(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        return WaitUntil(
            [&] {
                for (const PeltaFSQueue& event : TakeAll(FSFinalQueue, csFSFinalQueue))
                    passedOn_.push_back(Describe(event));
                return passedOn_.size() >= count;
            },
            timeout);
    }

    std::unique_ptr<PeltaSyncPreThread> thread_;
    std::vector<std::string> passedOn_;
};

TEST_F(PeltaSyncPreThreadTest, PassesOnTheMergedEventOnceTheHoldTimeIsQuiet)
{
    Start(300ms);
    Push(XMOAdded, QStringLiteral("\\f"));
    Push(XMOModified, QStringLiteral("\\f"));
    const auto pushed = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForPassedOn(1));
    EXPECT_GE(std::chrono::steady_clock::now() - pushed, 300ms);
    EXPECT_EQ(passedOn_, (std::vector<std::string>{"added \\f"}));
    EXPECT_TRUE(evtFSFinalQueue.IsSignalled());
    EXPECT_TRUE(WaitUntil([&] { return !thread_->Holding(); }));
}

TEST_F(PeltaSyncPreThreadTest, PassesOnAtOnceWhatTheNextEventDoesNotMerge)
{
    Start(10s);
    Push(XMOAdded, QStringLiteral("\\a"));
    Push(XMOAdded, QStringLiteral("\\b"));
    ASSERT_TRUE(WaitForPassedOn(1, 5s));
    EXPECT_EQ(passedOn_, (std::vector<std::string>{"added \\a"}));
    EXPECT_TRUE(thread_->Holding());
}

TEST_F(PeltaSyncPreThreadTest, StopsWithinASecondWhetherHoldingOrIdle)
{
    for (const bool holding : {true, false}) {
        SCOPED_TRACE(holding ? "holding" : "idle");
        Start(PeltaSyncPreThread::DefaultHold);
        if (holding) {
            Push(XMOAdded, QStringLiteral("\\f"));
            ASSERT_TRUE(WaitUntil([&] { return thread_->Holding(); }));
        }
        const auto before = std::chrono::steady_clock::now();
        thread_->Terminate();
        thread_->Join();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        EXPECT_EQ(FSFinalQueue.Count(), 0);  // the held event goes with the thread
    }
}

// Events pushed while the thread resets the FS queue's event are still taken,
// also when nothing is held and the thread waits without a time-out: pairs
// that cancel out leave nothing held between the bursts.
TEST_F(PeltaSyncPreThreadTest, NoSignalIsLost)
{
    Start(20ms);
    constexpr int Pairs = 2000;
    std::thread producer([] {
        for (int i = 0; i < Pairs; ++i) {
            Push(XMOAdded, QStringLiteral("\\f%1").arg(i));
            Push(XMORemoved, QStringLiteral("\\f%1").arg(i));
            if (i % 3 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(i % 97));
        }
        Push(XMOAdded, QStringLiteral("\\last"));
    });
    producer.join();
    ASSERT_TRUE(WaitForPassedOn(1));
    EXPECT_EQ(passedOn_, (std::vector<std::string>{"added \\last"}));
    EXPECT_EQ(FSQueue.Count(), 0);
}

// The folder test reads the disk through the engine's path conversion, which
// the owner may replace while the thread runs.
TEST_F(PeltaSyncPreThreadTest, FolderTestGoesThroughThePathConversion)
{
    QTemporaryDir withFolder;
    QTemporaryDir withFile;
    ASSERT_TRUE(QDir(withFolder.path()).mkdir(QStringLiteral("e")));
    TestFolder(withFile.path()).Write("e");
    const auto under = [](const QString& root) {
        return [root](const QString& path) { return root + QString(path).replace('\\', '/'); };
    };
    Start(100ms, under(withFolder.path()));
    Push(XMOAdded, QStringLiteral("\\d"));
    Push(XMORenameOldName, QStringLiteral("\\d"), QStringLiteral("\\e"));
    ASSERT_TRUE(WaitForPassedOn(1));
    thread_->SetPathMapper(under(withFile.path()));
    Push(XMOAdded, QStringLiteral("\\d"));
    Push(XMORenameOldName, QStringLiteral("\\d"), QStringLiteral("\\e"));
    ASSERT_TRUE(WaitForPassedOn(2));
    EXPECT_EQ(passedOn_, (std::vector<std::string>{"added \\e", "modified \\e"}));
}

}  // namespace
