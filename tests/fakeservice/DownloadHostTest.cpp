// The download host: whole files, byte ranges with their Content-Range,
// and the faults that a resuming download must survive.

#include "tests/fakeservice/ServiceHostTest.h"

#include "foundation/crypto/Crypto.h"
#include "tests/support/PatternData.h"

#include <curl/curl.h>

#include <future>
#include <memory>
#include <vector>

namespace {

using CurlReply = ServiceHostTest::CurlReply;

// A GET as a ranged download sends it: HTTP/1.0, an optional Range.
CurlReply CurlGet(const std::string& url, const std::string& range)
{
    CurlReply reply;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        range.empty() ? nullptr : curl_slist_append(nullptr, ("Range: " + range).c_str()), curl_slist_free_all);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &ServiceHostTest::CollectBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 20L);
    reply.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.http);
    return reply;
}

class DownloadHostTest : public ServiceHostTest {
protected:
    // The get_url that getFileCheck gives for the path.
    std::string UrlOf(const QString& path)
    {
        const Reply check = Call("getFileCheck", QStringLiteral("agent_key=%1&my_base64_full_path_name=%2")
                                                     .arg(AgentKey, PathToBase64Url(path)));
        EXPECT_EQ(check.Text("status"), u"1") << check.body;
        const std::string url = check.Text("get_url").toStdString();
        EXPECT_EQ(url.rfind(service_.DownloadUrl() + "/", 0), 0u) << url;
        return url;
    }

    // The get_url split into base and target, for httplib.
    Reply GetRange(const std::string& url, const std::string& range)
    {
        const std::string base = service_.DownloadUrl();
        httplib::Headers headers;
        if (!range.empty())
            headers.emplace("Range", range);
        return Get(base, url.substr(base.size()), headers);
    }
};

TEST_F(DownloadHostTest, RangesAnswerExactlyTheirBytes)
{
    const QByteArray content = PatternData(300000);
    ASSERT_TRUE(State().SeedFile(UserId, "/docs/data.bin", content));
    const std::string url = UrlOf("/docs/data.bin");

    struct Case {
        const char* range;  // "" for none
        int http;
        qsizetype first;
        qsizetype length;
        const char* contentRange;  // "" for none
    };
    const Case cases[] = {
        {"", 200, 0, 300000, ""},
        {"bytes=10-99", 206, 10, 90, "bytes 10-99/300000"},
        {"bytes=299990-", 206, 299990, 10, "bytes 299990-299999/300000"},
        {"bytes=0-0", 206, 0, 1, "bytes 0-0/300000"},
        {"bytes=-5", 206, 299995, 5, "bytes 299995-299999/300000"},
        {"bytes=100-999999", 206, 100, 299900, "bytes 100-299999/300000"},  // the end is the file's
        {"bytes=300000-", 416, 0, 0, "bytes */300000"},
        {"bytes=300000-300010", 416, 0, 0, "bytes */300000"},
    };
    for (const Case& c : cases) {
        const Reply reply = GetRange(url, c.range);
        EXPECT_EQ(reply.http, c.http) << c.range;
        EXPECT_EQ(reply.Header("Content-Range"), c.contentRange) << c.range;
        EXPECT_TRUE(QByteArray::fromStdString(reply.body) == content.mid(c.first, c.length))
            << c.range << ": " << reply.body.size() << " bytes";
    }

    // The ranged download's own request form: HTTP/1.0 with the missing tail.
    const CurlReply tail = CurlGet(url, "bytes=250000-299999");
    EXPECT_EQ(tail.code, CURLE_OK);
    EXPECT_EQ(tail.http, 206);
    EXPECT_TRUE(QByteArray::fromStdString(tail.body) == content.mid(250000));
}

TEST_F(DownloadHostTest, FaultsBreakOrReplaceTheBody)
{
    const QByteArray content = PatternData(200000);
    ASSERT_TRUE(State().SeedFile(UserId, "/f.bin", content, 100));
    const std::string url = UrlOf("/f.bin");
    const QByteArray edited = PatternData(1500).toBase64();

    struct Case {
        const char* what;
        Fault fault;
        const char* range;
        CURLcode code;
        long http;
        QByteArray body;
    };
    const Case cases[] = {
        {"cut after 70000 bytes", Fault::DropAfterBytes(70000), "bytes=1000-", CURLE_PARTIAL_FILE, 206,
         content.mid(1000, 70000)},
        {"HTTP 500", Fault::Http500(), "", CURLE_OK, 500, "Internal Server Error"},
        {"short error page", Fault::NonJson(), "bytes=5-", CURLE_OK, 200, FaultReply::ErrorPage},
        {"short error text", Fault::Message("file not exist"), "", CURLE_OK, 200,
         R"({"msg":"file not exist","status":"0"})"},
        {"range ignored", Fault::IgnoreRange(), "bytes=100-", CURLE_OK, 200, content},
        {"range from elsewhere", Fault::RangeFrom(500), "bytes=1000-1999", CURLE_OK, 206, content.mid(500, 1500)},
        {"dropped", Fault::DropBeforeReply(), "", CURLE_GOT_NOTHING, 0, ""},
        {"new version", Fault::ChangeContent(edited), "bytes=1000-", CURLE_OK, 206, edited.mid(1000)},
    };
    for (const Case& c : cases) {
        service_.Faults().SetNext(DownloadHost::Method, c.fault);
        const CurlReply reply = CurlGet(url, c.range);
        EXPECT_EQ(reply.code, c.code) << c.what;
        EXPECT_EQ(reply.http, c.http) << c.what;
        EXPECT_TRUE(QByteArray::fromStdString(reply.body) == c.body) << c.what << ": " << reply.body.size();
    }

    // The edit that the last fault made is the service's version 2, made by another agent.
    const std::optional<FakeItem> file = State().FindItem(UserId, "/f.bin");
    EXPECT_EQ(file->version, 2);
    EXPECT_EQ(file->content.Bytes(), edited);
    ASSERT_FALSE(State().Journal(UserId).empty());
    EXPECT_EQ(State().Journal(UserId).back().agentKey, QString::fromLatin1(DownloadHost::EditorAgent));
    EXPECT_EQ(service_.CallCount(DownloadHost::Method), std::size(cases));
}

TEST_F(DownloadHostTest, LargeFileStreamsToSeveralClientsAtOnce)
{
    // Several pieces of the store's reads per range.
    const QByteArray content = PatternData((qsizetype(4) << 20) + 12345);
    ASSERT_TRUE(State().SeedFile(UserId, "/big.iso", content));
    const std::string url = UrlOf("/big.iso");

    const qsizetype quarter = content.size() / 4;
    std::vector<std::future<CurlReply>> downloads;
    for (int i = 0; i < 4; ++i) {
        const std::string last = i == 3 ? std::string() : std::to_string((i + 1) * quarter - 1);
        const std::string range = "bytes=" + std::to_string(i * quarter) + "-" + last;
        downloads.push_back(std::async(std::launch::async, [url, range] { return CurlGet(url, range); }));
    }
    QByteArray joined;
    for (std::future<CurlReply>& download : downloads) {
        const CurlReply reply = download.get();
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.http, 206);
        joined += QByteArray::fromStdString(reply.body);
    }
    EXPECT_TRUE(joined == content);
}

TEST_F(DownloadHostTest, UnknownAddressesAreNotFound)
{
    ASSERT_TRUE(State().SeedFile(UserId, "/gone.txt", "abc"));
    const std::string url = UrlOf("/gone.txt");
    FakeChange recycle;
    recycle.action = FakeAction::Recycle;
    recycle.path = "/gone.txt";
    ASSERT_TRUE(State().CommitChange(UserId, AgentKey, recycle).message.isEmpty());
    EXPECT_EQ(CurlGet(url, "").http, 404);
    EXPECT_EQ(Get(service_.DownloadUrl(), "/download/nothing").http, 404);
    EXPECT_EQ(service_.UnknownTargets(), std::vector<std::string>{"/download/nothing"});
}

}  // namespace
