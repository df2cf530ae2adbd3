#include "sync/rules/RetryDelay.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

struct GrowthCase {
    const char* name;
    Ms first;
    Ms cap;
    std::vector<Ms> delays;  // of failures in a row
};

void PrintTo(const GrowthCase& value, std::ostream* out) { *out << value.name; }

class RetryDelayGrowth : public testing::TestWithParam<GrowthCase> {};

TEST_P(RetryDelayGrowth, DoublesUpToTheCap)
{
    const GrowthCase& growth = GetParam();
    RetryDelay delay(growth.first, growth.cap);
    std::vector<Ms> seen;
    for (std::size_t n = 0; n < growth.delays.size(); ++n)
        seen.push_back(delay.Failed());
    EXPECT_EQ(seen, growth.delays);
    EXPECT_EQ(delay.Failures(), static_cast<int>(growth.delays.size()));
}

const GrowthCase growthCases[] = {
    {"TenSecondsToTenMinutes", 10s, 10min, {10s, 20s, 40s, 80s, 160s, 320s, 600s, 600s, 600s}},
    {"CapNotAPowerOfTwo", 3ms, 10ms, {3ms, 6ms, 10ms, 10ms}},
    {"CapBelowFirst", 50ms, 20ms, {50ms, 50ms}},
    {"HugeCapNeverOverflows", Ms::max() / 3, Ms::max(), {Ms::max() / 3, Ms::max() / 3 * 2, Ms::max(), Ms::max()}},
};

INSTANTIATE_TEST_SUITE_P(Cases, RetryDelayGrowth, testing::ValuesIn(growthCases),
                         [](const testing::TestParamInfo<GrowthCase>& info) { return info.param.name; });

// The next attempt is due the delay after the failure, on the clock given;
// a success makes it due at once and starts the growth again.
TEST(RetryDelayTest, DueAfterTheDelayAndResetBySuccess)
{
    SteadyTime now = SteadyTime{} + 1000h;
    RetryDelay delay(10s, 10min, [&] { return now; });
    EXPECT_TRUE(delay.IsDue());
    EXPECT_EQ(delay.Next(), 10s);

    EXPECT_EQ(delay.Failed(), 10s);
    EXPECT_EQ(delay.Due(), now + 10s);
    EXPECT_EQ(delay.Next(), 20s);
    now += 9999ms;
    EXPECT_FALSE(delay.IsDue());
    now += 1ms;
    EXPECT_TRUE(delay.IsDue());

    EXPECT_EQ(delay.Failed(), 20s);
    EXPECT_FALSE(delay.IsDue());
    delay.Succeeded();
    EXPECT_TRUE(delay.IsDue());
    EXPECT_EQ(delay.Failures(), 0);
    EXPECT_EQ(delay.Failed(), 10s);
}

}  // namespace
