// The HTTP client itself: which requests share a connection, and the proxy
// rule.

#include "client/HttpClient.h"
#include "tests/client/ScriptedHttpServer.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

TEST(HttpClientTest, OnlyABodyHeldInMemoryAndNotRepeatableKeepsOffKeptConnections)
{
    ScriptedHttpServer server;
    server.SetDefault({200, "ok"});
    HttpClient client;
    const QString url = QString::fromLatin1(server.BaseUrl()) + QStringLiteral("/x");
    const auto streamedPut = [&] {
        HttpRequest request;
        request.method = HttpRequest::Method::Put;
        request.url = url;
        request.bodySource = [sent = false](char* buffer, std::size_t) mutable {
            if (std::exchange(sent, true))
                return std::size_t(0);
            buffer[0] = 'b';
            return std::size_t(1);
        };
        request.bodySize = 1;
        return client.Perform(request);
    };
    const auto repeatablePost = [&] {
        HttpRequest request;
        request.method = HttpRequest::Method::Post;
        request.url = url;
        request.body = "a=3";
        request.repeatable = true;
        return client.Perform(request);
    };
    const auto multipart = [&](bool streamed) {
        HttpRequest request;
        request.method = HttpRequest::Method::Post;
        request.url = url;
        HttpFormPart part;
        part.name = "f";
        if (streamed) {
            part.size = 0;
            part.source = [](char*, std::size_t) { return std::size_t(0); };
        } else {
            part.data = "text";
        }
        request.parts.append(part);
        return client.Perform(request);
    };
    const struct {
        const char* name;
        std::function<HttpResponse()> call;
        long newConnections;
        int accepted;  // by the server so far
    } steps[] = {
        {"GET", [&] { return client.Get(url); }, 1, 1},
        {"GET again", [&] { return client.Get(url); }, 0, 1},
        {"form POST", [&] { return client.PostForm(url, "a=1"); }, 1, 2},
        {"form POST again", [&] { return client.PostForm(url, "a=2"); }, 1, 3},
        {"multipart POST of text", [&] { return multipart(false); }, 1, 4},
        {"repeatable form POST", repeatablePost, 0, 4},
        {"streamed PUT", streamedPut, 0, 4},
        {"multipart POST with a streamed part", [&] { return multipart(true); }, 0, 4},
        {"GET after them", [&] { return client.Get(url); }, 0, 4},
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
