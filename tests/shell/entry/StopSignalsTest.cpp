#include "shell/entry/StopSignals.h"

#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <csignal>

TEST(StopSignalsTest, TermAndIntAskForTheExitOnTheEventLoop)
{
    StopSignals stop;
    ASSERT_TRUE(stop.Installed());
    QList<int> received;
    QObject::connect(&stop, &StopSignals::stopRequested, [&received](int signal) { received << signal; });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_TRUE(received.isEmpty());  // nothing runs inside the handler
    ASSERT_TRUE(WaitUntil([&received] {
        QCoreApplication::processEvents();
        return received.size() == 2;
    }));
    EXPECT_EQ(received, (QList<int>{SIGTERM, SIGINT}));
}
