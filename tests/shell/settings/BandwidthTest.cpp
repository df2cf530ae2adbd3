#include "shell/settings/Bandwidth.h"

#include <gtest/gtest.h>

#include <limits>

TEST(BandwidthTest, RateOfTheStoredLimit)
{
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* limit;
        const char* value;
        std::int64_t rate;
    } cases[] = {
        {"1", "10", 81960},
        {"0", "10", 0},
        {"", "10", 0},
        {"1", "abc", 0},
        {"1", "", 0},
        {"1", "-5", 0},
        {"1", " 12 ", 12 * 8196},
        // Beyond 32 bits the rate stays positive.
        {"1", "300000", std::int64_t(300000) * 8196},
        {"1", "9223372036854775807", largest},
        {"1", "99999999999999999999", 0},  // no 64-bit number: unlimited
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.limit) + "/" + c.value);
        EXPECT_EQ(Bandwidth::Rate(QString::fromLatin1(c.limit), QString::fromLatin1(c.value)), c.rate);
    }
}
