#include "shell/windows/PreferenceFields.h"

#include "foundation/text/Xi18n.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct BandwidthCase {
    const char* text;
    std::optional<std::int64_t> value;
};

TEST(PreferenceFieldsTest, BandwidthIsAWholeNumberFromZeroToTheMaximum)
{
    const BandwidthCase cases[] = {
        {"0", 0},
        {"50", 50},
        {" 7 ", 7},
        {"10000000", PreferenceFields::MaxBandwidth},
        {"10000001", std::nullopt},
        {"-1", std::nullopt},
        {"abc", std::nullopt},
        {"1.5", std::nullopt},
        {"", std::nullopt},
        {"0x10", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const BandwidthCase& c : cases)
        EXPECT_EQ(PreferenceFields::Bandwidth(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(PreferenceFieldsTest, ProxyPortIsFromOneTo65535)
{
    EXPECT_EQ(PreferenceFields::ProxyPort(QStringLiteral("1")), 1);
    EXPECT_EQ(PreferenceFields::ProxyPort(QStringLiteral("65535")), 65535);
    EXPECT_EQ(PreferenceFields::ProxyPort(QStringLiteral("8080")), 8080);
    for (const char* bad : {"0", "65536", "-80", "http", "", "80 80", "4294967376"})
        EXPECT_FALSE(PreferenceFields::ProxyPort(QString::fromLatin1(bad))) << bad;
}

TEST(PreferenceFieldsTest, ARefusedFieldNamesItsTabAndItsMessage)
{
    const auto bandwidth = PreferenceFields::Check({QStringLiteral("10"), QStringLiteral("-1"), QString(), QString()});
    EXPECT_FALSE(bandwidth.valid);
    EXPECT_EQ(bandwidth.tab, PreferenceFields::BandwidthTab);
    EXPECT_EQ(bandwidth.message, Xi18n::Text(XText::_ML0610));

    const auto port = PreferenceFields::Check(
        {QStringLiteral("10"), QStringLiteral("50"), QStringLiteral("proxy.example"), QStringLiteral("99999")});
    EXPECT_FALSE(port.valid);
    EXPECT_EQ(port.tab, PreferenceFields::ProxyTab);
    EXPECT_EQ(port.message, Xi18n::Text(XText::_ML0613));
}

TEST(PreferenceFieldsTest, WithoutAProxyServerThePortIsNotLookedAt)
{
    const auto outcome = PreferenceFields::Check({QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("  "),
                                                  QStringLiteral("not a port")});
    ASSERT_TRUE(outcome.valid);
    EXPECT_FALSE(outcome.values.proxyGiven);
    EXPECT_EQ(outcome.values.upload, 0);
    EXPECT_EQ(outcome.values.download, 0);

    const auto given = PreferenceFields::Check(
        {QStringLiteral("12"), QStringLiteral("34"), QStringLiteral(" proxy.example "), QStringLiteral("3128")});
    ASSERT_TRUE(given.valid);
    EXPECT_TRUE(given.values.proxyGiven);
    EXPECT_EQ(given.values.proxyServer, QStringLiteral("proxy.example"));
    EXPECT_EQ(given.values.proxyPort, 3128);
    EXPECT_EQ(given.values.upload, 12);
    EXPECT_EQ(given.values.download, 34);
}

}  // namespace
