// The HTTP client itself: connection reuse and the proxy rule.

#include "client/HttpClient.h"
#include "tests/client/ScriptedHttpServer.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpClientTest, ReusesItsConnectionAcrossCalls)
{
    ScriptedHttpServer server;
    server.SetDefault({200, "ok"});
    HttpClient client;
    const QString url = QString::fromLatin1(server.BaseUrl()) + QStringLiteral("/x");

    const HttpResponse first = client.PostForm(url, "a=1");
    const HttpResponse second = client.Get(url);
    ASSERT_TRUE(first.Ok()) << first.error.toStdString();
    ASSERT_TRUE(second.Ok()) << second.error.toStdString();
    EXPECT_EQ(second.body, QByteArray("ok"));
    EXPECT_EQ(first.newConnections, 1);
    EXPECT_EQ(second.newConnections, 0);
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

TEST(HttpClientTest, IgnoresProxiesNamedInTheEnvironment)
{
    ScriptedHttpServer server;
    server.SetDefault({200, "direct"});
    ScopedEnvironment env;
    for (const char* name : {"http_proxy", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
        env.Set(name, "http://127.0.0.1:9");
    HttpClient client;
    const HttpResponse response = client.Get(QString::fromLatin1(server.BaseUrl()) + QStringLiteral("/x"));
    ASSERT_TRUE(response.Ok()) << response.error.toStdString();
    EXPECT_EQ(response.body, QByteArray("direct"));
}

TEST(HttpClientTest, SpeaksOnlyHttpAndHttps)
{
    HttpClient client;
    const HttpResponse response = client.Get(QStringLiteral("file:///etc/hostname"));
    EXPECT_FALSE(response.Ok());
    EXPECT_TRUE(response.body.isEmpty());
}

}  // namespace
