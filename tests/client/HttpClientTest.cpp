// The HTTP client itself: which requests share a connection, and the proxy
// rule.

#include "client/HttpClient.h"
#include "tests/client/ScriptedHttpServer.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(HttpClientTest, GetsShareAConnectionPostsAndPutsHaveOneEach)
{
    ScriptedHttpServer server;
    server.SetDefault({200, "ok"});
    HttpClient client;
    const QString url = QString::fromLatin1(server.BaseUrl()) + QStringLiteral("/x");
    const auto put = [&] {
        HttpRequest request;
        request.method = HttpRequest::Method::Put;
        request.url = url;
        request.bodySource = [](char*, std::size_t) { return std::size_t(0); };
        request.bodySize = 0;
        return client.Perform(request);
    };
    const struct {
        const char* name;
        std::function<HttpResponse()> call;
        long newConnections;
        int accepted;  // by the server so far
    } steps[] = {
        {"first GET", [&] { return client.Get(url); }, 1, 1},
        {"second GET", [&] { return client.Get(url); }, 0, 1},
        {"POST after a GET", [&] { return client.PostForm(url, "a=1"); }, 1, 2},
        {"POST after a POST", [&] { return client.PostForm(url, "a=2"); }, 1, 3},
        {"PUT", put, 1, 4},
        {"GET after a PUT", [&] { return client.Get(url); }, 0, 4},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const HttpResponse response = step.call();
        ASSERT_TRUE(response.Ok()) << response.error.toStdString();
        EXPECT_EQ(response.body, QByteArray("ok"));
        EXPECT_EQ(response.newConnections, step.newConnections);
        EXPECT_EQ(server.AcceptedConnections(), step.accepted);
    }
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
