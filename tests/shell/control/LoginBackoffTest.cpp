#include "shell/control/LoginBackoff.h"

#include <gtest/gtest.h>

TEST(LoginBackoffTest, EveryThirdNetworkFailureRaisesTheStep)
{
    LoginBackoff backoff;
    const int waits[] = {2, 2, 2, 2, 2, 4, 2, 2, 6};
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i + 1);
        const LoginBackoff::Retry retry = backoff.OnNetworkFailure();
        EXPECT_EQ(retry.seconds, waits[i]);
        EXPECT_EQ(retry.stepRaised, (i + 1) % 3 == 0);
    }
    EXPECT_EQ(backoff.OnAgentCheckFailure(), 8);
}

TEST(LoginBackoffTest, ArmedWait)
{
    const struct {
        int seconds;
        int milliseconds;
        int step;  // -1: unchanged
    } cases[] = {{0, 1000, 1}, {2, 2000, -1}, {5000, 5000, -1}, {300, 300000, -1}, {400, 300000, 150},
                 {900000, 300000, 150}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        LoginBackoff backoff;
        backoff.OnAgentCheckFailure();  // step 1
        EXPECT_EQ(backoff.ArmMilliseconds(c.seconds), c.milliseconds);
        EXPECT_EQ(backoff.Step(), c.step < 0 ? 1 : c.step);
    }
}

TEST(LoginBackoffTest, LongOutageWaitsAtMostTheTimersLimit)
{
    LoginBackoff backoff;
    for (int i = 0; i < 1000; ++i) {
        const LoginBackoff::Retry retry = backoff.OnNetworkFailure();
        ASSERT_LE(backoff.ArmMilliseconds(retry.seconds), LoginBackoff::MaxSeconds * 1000);
    }
    EXPECT_LE(backoff.Step(), 151);
}
