// The upload host: one-shot, resumable and chunked uploads into a
// sync-journal key's buffer, the size queries, the commit that stores the
// buffer, and the faults a resume is tested with.

#include "tests/fakeservice/ServiceHostTest.h"
#include "tests/support/PatternData.h"

#include <curl/curl.h>

#include <memory>
#include <utility>
#include <vector>

namespace {

using CurlReply = ServiceHostTest::CurlReply;

const std::string Boundary = "----upload-boundary-7d3a";

struct Part {
    std::string name;
    QByteArray value;
    bool quotedPrintable = true;  // text parts only
    bool file = false;
    bool sentAsItStands = false;  // declared quoted-printable, but not encoded
};

// Quoted-printable as a mail writer might produce it: some letters as
// "=XX" and a soft line break every few characters.
std::string QuotedPrintable(const QByteArray& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    int column = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (i % 3 == 1 || byte == '=' || byte < 0x21 || byte > 0x7e) {
            out += '=';
            out += hex[byte >> 4];
            out += hex[byte & 15];
            column += 3;
        } else {
            out += char(byte);
            ++column;
        }
        if (column >= 10 && i + 1 < text.size()) {
            out += "=\r\n";
            column = 0;
        }
    }
    return out;
}

std::string Multipart(const std::vector<Part>& parts)
{
    std::string body = "preamble to skip\r\n";
    for (const Part& part : parts) {
        body += "--" + Boundary + "\r\n";
        if (part.file) {
            body += "Content-Disposition: form-data; name=\"" + part.name + "\"; filename=\"upload_file\"\r\n"
                    "Content-Type: application/octet-stream; charset=ISO-8859-1\r\n"
                    "Content-Transfer-Encoding: binary\r\n\r\n";
            body += part.value.toStdString();
        } else {
            body += "Content-Disposition: form-data; name=\"" + part.name + "\"\r\nContent-Type: text/plain\r\n";
            if (part.quotedPrintable)
                body += "Content-Transfer-Encoding: quoted-printable\r\n";
            body += "\r\n";
            const bool encode = part.quotedPrintable && !part.sentAsItStands;
            body += encode ? QuotedPrintable(part.value) : part.value.toStdString();
        }
        body += "\r\n";
    }
    return body + "--" + Boundary + "--\r\n";
}

std::string MultipartType()
{
    return "multipart/form-data; boundary=" + Boundary;
}

// A one-shot upload as libcurl's multipart writer sends it: quoted-printable
// text parts, then the binary file part.
CurlReply CurlPostFile(const std::string& url, const std::vector<std::pair<const char*, QString>>& fields,
                       const QByteArray& content)
{
    CurlReply reply;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    const std::unique_ptr<curl_mime, decltype(&curl_mime_free)> mime(curl_mime_init(curl.get()), curl_mime_free);
    for (const auto& [name, value] : fields) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_name(part, name);
        curl_mime_data(part, value.toUtf8().constData(), CURL_ZERO_TERMINATED);
        curl_mime_type(part, "text/plain");
        curl_mime_encoder(part, "quoted-printable");
    }
    curl_mimepart* file = curl_mime_addpart(mime.get());
    curl_mime_name(file, "upload_file");
    curl_mime_filename(file, "report.bin");
    curl_mime_type(file, "application/octet-stream");
    curl_mime_encoder(file, "binary");
    curl_mime_data(file, content.constData(), size_t(content.size()));
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, mime.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &ServiceHostTest::CollectBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 10L);
    reply.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.http);
    return reply;
}

class UploadHostTest : public ServiceHostTest {
protected:
    std::vector<Part> KeyParts(const QJsonObject& key, const QString& checksum = QString()) const
    {
        return {{"access_key", AccessKey.toUtf8()},
                {"access_key_checksum", AccessChecksum.toUtf8()},
                {"action", "transfer"},
                {"sync_journal_key", key.value("key").toString().toUtf8()},
                {"sync_journal_key_checksum",
                 (checksum.isEmpty() ? key.value("checksum").toString() : checksum).toUtf8()}};
    }

    Reply PostPart(const QJsonObject& key, const QByteArray& bytes, const QString& partSize)
    {
        std::vector<Part> parts = KeyParts(key);
        parts.push_back({"p_size", partSize.toUtf8()});
        parts.push_back({"p_checksum", ""});
        parts.push_back({"upload_file", bytes, false, true});
        return Post(service_.UploadUrl(), PathOf("postFile2"), Multipart(parts), MultipartType());
    }

    // The postFile2 size query: a form post of the key fields.
    Reply PostFile2Size(const QJsonObject& key)
    {
        const QString body = QStringLiteral("access_key=%1&access_key_checksum=%2&action=size&p_checksum=&p_size="
                                            "&sync_journal_key=%3&sync_journal_key_checksum=%4")
                                 .arg(AccessKey, AccessChecksum, key.value("key").toString(),
                                      key.value("checksum").toString());
        return Post(service_.UploadUrl(), PathOf("postFile2"), WireBody(body));
    }

    std::string PutTarget(const QString& action, const QJsonObject& key) const
    {
        const QString values = QStringLiteral("%1&%2&%3&%4&%5").arg(action, AccessKey, AccessChecksum,
                                                                       key.value("key").toString(),
                                                                       key.value("checksum").toString());
        return MethodRouter::PathFor("putFile", UserId.toStdString(), 0) + values.toStdString();
    }

    static QString TotalOf(const Reply& reply)
    {
        return reply.json.value("file_info").toObject().value("total_filesize").toString();
    }
};

TEST_F(UploadHostTest, OneShotPostReplacesTheBufferAndTheCommitStoresIt)
{
    State().SetRefuseSizeMismatch(true);
    const QByteArray content = PatternData(3 << 19, 1);  // large enough for libcurl to ask "Expect: 100-continue"
    ASSERT_TRUE(State().SeedFolder(UserId, "/docs"));
    const QJsonObject key = RegisterFile("/docs/report.bin", content.size());
    const std::string url = service_.UploadUrl() + PathOf("postFile");
    const std::vector<std::pair<const char*, QString>> fields = {
        {"access_key", AccessKey},
        {"access_key_checksum", AccessChecksum},
        {"sync_journal_key", key.value("key").toString()},
        {"sync_journal_key_checksum", key.value("checksum").toString()},
    };

    const CurlReply first = CurlPostFile(url, fields, PatternData(50, 2));
    ASSERT_EQ(first.code, CURLE_OK);
    EXPECT_EQ(first.http, 200);
    EXPECT_NE(first.body.find("\"status\":\"1\""), std::string::npos) << first.body;
    const CurlReply second = CurlPostFile(url, fields, content);  // a retry sends the whole file again
    EXPECT_NE(second.body.find("\"status\":\"1\""), std::string::npos) << second.body;
    EXPECT_EQ(Buffered(key), content.size());

    const Reply commit = Commit(key);
    ASSERT_EQ(commit.Text("status"), u"1") << commit.body;
    EXPECT_EQ(State().FindItem(UserId, "/docs/report.bin")->content.Bytes(), content);

    // The service base does not take uploads.
    EXPECT_EQ(CurlPostFile(service_.BaseUrl() + PathOf("postFile"), fields, content).http, 404);
}

TEST_F(UploadHostTest, ResumablePartsAppendAndTheSizeQueryTellsWhereToResume)
{
    State().SetRefuseSizeMismatch(true);
    const QByteArray content = PatternData(3 * 65536 + 123, 3);
    const QJsonObject key = RegisterFile("/big.bin", content.size());

    const Reply empty = PostFile2Size(key);
    ASSERT_EQ(empty.Text("status"), u"1") << empty.body;
    EXPECT_EQ(TotalOf(empty), u"0");

    qsizetype sent = 0;
    for (const qsizetype part : {qsizetype(65536), qsizetype(2 * 65536), qsizetype(123)}) {
        const Reply reply = PostPart(key, content.mid(sent, part), QString::number(part));
        ASSERT_EQ(reply.Text("status"), u"1") << reply.body;
        sent += part;
        EXPECT_EQ(TotalOf(PostFile2Size(key)), QString::number(sent));
    }
    EXPECT_EQ(Commit(key).Text("status"), u"1");
    EXPECT_EQ(State().FindItem(UserId, "/big.bin")->content.Bytes(), content);
}

TEST_F(UploadHostTest, EmptyFileIsOnePartOfSizeZero)
{
    const QJsonObject key = RegisterFile("/empty.txt", 0);
    EXPECT_EQ(PostPart(key, QByteArray(), "0").Text("status"), u"1");
    EXPECT_EQ(Commit(key).Text("status"), u"1");
    EXPECT_EQ(State().FindItem(UserId, "/empty.txt")->size, 0);
}

TEST_F(UploadHostTest, RefusedPartsLeaveTheBufferAsItWas)
{
    const QJsonObject key = RegisterFile("/a.bin", 10);
    ASSERT_EQ(PostPart(key, "12345", "5").Text("status"), u"1");

    std::vector<Part> notLast = KeyParts(key);
    notLast.push_back({"upload_file", "abc", false, true});
    notLast.push_back({"p_size", "3"});
    std::vector<Part> wrongChecksum = KeyParts(key, "0000");
    wrongChecksum.push_back({"p_size", "3"});
    wrongChecksum.push_back({"p_checksum", ""});
    wrongChecksum.push_back({"upload_file", "abc", false, true});
    std::vector<Part> accessNotFirst = KeyParts(key);
    accessNotFirst.insert(accessNotFirst.begin(), Part{"note", "x"});
    std::vector<Part> badEncoding = KeyParts(key);
    badEncoding[2] = Part{"action", "trans=ZZfer", true, false, true};

    struct Case {
        const char* what;
        std::string body;
        const char* message;  // nullptr: any refusal
    };
    const Case cases[] = {
        {"p_size larger than the part", [&] {
             std::vector<Part> parts = KeyParts(key);
             parts.push_back({"p_size", "4"});
             parts.push_back({"p_checksum", ""});
             parts.push_back({"upload_file", "abc", false, true});
             return Multipart(parts);
         }(), nullptr},
        {"upload_file not last", Multipart(notLast), nullptr},
        {"journal key checksum", Multipart(wrongChecksum), "sync_journal is expired or commited or fail"},
        {"access key not first", Multipart(accessNotFirst), "access_key is invalid or expired"},
        {"malformed quoted-printable", Multipart(badEncoding), nullptr},
        {"no closing delimiter", Multipart(KeyParts(key)).substr(0, 200), nullptr},
    };
    for (const Case& c : cases) {
        const Reply reply = Post(service_.UploadUrl(), PathOf("postFile2"), c.body, MultipartType());
        EXPECT_EQ(reply.http, 200) << c.what;
        EXPECT_EQ(reply.Text("status"), u"0") << c.what << ": " << reply.body;
        if (c.message) {
            EXPECT_EQ(reply.Text("msg"), QString::fromUtf8(c.message)) << c.what;
        }
        EXPECT_EQ(Buffered(key), 5) << c.what;
    }

    ASSERT_EQ(Commit(key).Text("status"), u"1");  // without the size check the short buffer commits
    EXPECT_EQ(PostPart(key, "678", "3").Text("msg"), u"sync_journal is expired or commited or fail");
}

TEST_F(UploadHostTest, PutFileAppendsChunksAndAnswersTheSizeQuery)
{
    State().SetRefuseSizeMismatch(true);
    const QByteArray content = PatternData(5000, 4);
    const QJsonObject key = RegisterFile("/put.bin", content.size());
    const std::string upload = service_.UploadUrl();

    EXPECT_EQ(TotalOf(Put(upload, PutTarget("size", key), "")), u"0");
    ASSERT_EQ(Put(upload, PutTarget("transfer", key), content.left(2048).toStdString()).Text("status"), u"1");
    EXPECT_EQ(Commit(key).Text("msg"), u"file not exist");  // truncated: the size check refuses it
    ASSERT_EQ(Put(upload, PutTarget("transfer", key), content.mid(2048).toStdString()).Text("status"), u"1");
    const Reply size = Put(upload, PutTarget("size", key), "");
    EXPECT_EQ(size.Text("status"), u"1");
    EXPECT_EQ(TotalOf(size), u"5000");

    // Refusals: another access key, a key of another checksum, a POST.
    QJsonObject wrongKey = key;
    wrongKey.insert("checksum", "nope");
    EXPECT_EQ(Put(upload, PutTarget("transfer", wrongKey), "x").Text("status"), u"0");
    const std::string otherAccess = MethodRouter::PathFor("putFile", UserId.toStdString(), 0) +
                                    "transfer&" + "0000&" + AccessChecksum.toStdString() + "&" +
                                    key.value("key").toString().toStdString() + "&" +
                                    key.value("checksum").toString().toStdString();
    EXPECT_EQ(Put(upload, otherAccess, "x").Text("status"), u"0");
    EXPECT_EQ(Post(upload, PutTarget("transfer", key), "x", "application/octet-stream").http, 404);
    EXPECT_EQ(Buffered(key), 5000);

    EXPECT_EQ(Commit(key).Text("status"), u"1");
    EXPECT_EQ(State().FindItem(UserId, "/put.bin")->content.Bytes(), content);
}

TEST_F(UploadHostTest, FaultsLoseThePartSoTheClientResumesFromTheSize)
{
    const QJsonObject key = RegisterFile("/resume.bin", 3 * 65536);
    const QByteArray part = PatternData(65536, 5);
    ASSERT_EQ(PostPart(key, part, "65536").Text("status"), u"1");

    struct Case {
        const char* what;
        Fault fault;
        int http;              // 0: no HTTP answer
        const char* message;   // the refusal text, when answered with one
    };
    const Case cases[] = {
        {"cut after 1000 request bytes", Fault::DropAfterRequestBytes(1000), 0, nullptr},
        {"cut after the whole request", Fault::DropAfterRequestBytes(1 << 20), 0, nullptr},
        {"HTTP 500", Fault::Http500(), 500, nullptr},
        {"refused part", Fault::Message("Quota"), 200, "Quota"},
    };
    for (const Case& c : cases) {
        service_.Faults().SetNext("postFile2", c.fault);
        const Reply reply = PostPart(key, part, "65536");
        EXPECT_EQ(reply.http, c.http) << c.what;
        if (c.message) {
            EXPECT_EQ(reply.Text("status"), u"0") << c.what;
            EXPECT_EQ(reply.Text("msg"), QString::fromUtf8(c.message)) << c.what;
        }
        EXPECT_EQ(TotalOf(PostFile2Size(key)), u"65536") << c.what;
    }

    // Cut on the way back: the part is kept although the client heard nothing.
    service_.Faults().SetNext("putFile", Fault::DropBeforeReply());
    EXPECT_EQ(Put(service_.UploadUrl(), PutTarget("transfer", key), part.toStdString()).http, 0);
    EXPECT_EQ(TotalOf(Put(service_.UploadUrl(), PutTarget("size", key), "")), u"131072");

    const std::vector<FakeCall> calls = service_.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().host, "upload");
    EXPECT_EQ(calls.back().method, "putFile");
}

TEST_F(UploadHostTest, LargeBodiesLeaveTheConnectionReadyForTheNextRequest)
{
    // Large bodies are read past the HTTP library (and stored on a thread of
    // their own from 1 MiB on); the connection must still be at the next
    // request's start afterwards.
    const QByteArray part = PatternData(1024 * 1024 + 7, 6);
    const QByteArray chunk = PatternData(300 * 1024 + 7, 7);
    const QJsonObject key = RegisterFile("/large.bin", 2 * part.size() + chunk.size());
    httplib::Client client(service_.UploadUrl());
    client.set_keep_alive(true);
    client.set_read_timeout(10, 0);
    const auto post = [&](const QByteArray& bytes) {
        std::vector<Part> parts = KeyParts(key);
        parts.push_back({"p_size", QByteArray::number(bytes.size())});
        parts.push_back({"p_checksum", ""});
        parts.push_back({"upload_file", bytes, false, true});
        return client.Post(PathOf("postFile2").c_str(), Multipart(parts), MultipartType().c_str());
    };

    service_.Faults().SetNext("postFile2", Fault::DropAfterRequestBytes(100000));
    EXPECT_FALSE(post(part));  // cut: nothing of the part is kept
    EXPECT_EQ(Buffered(key), 0);
    for (int i = 0; i < 2; ++i) {
        const httplib::Result posted = post(part);
        ASSERT_TRUE(posted);
        EXPECT_NE(posted->body.find("\"status\":\"1\""), std::string::npos) << posted->body;
    }
    const httplib::Result put =
        client.Put(PutTarget("transfer", key).c_str(), chunk.toStdString(), "application/octet-stream");
    ASSERT_TRUE(put);
    const httplib::Result size = client.Put(PutTarget("size", key).c_str(), "", "application/octet-stream");
    ASSERT_TRUE(size);
    EXPECT_NE(size->body.find(std::to_string(2 * part.size() + chunk.size())), std::string::npos) << size->body;
    EXPECT_EQ(Commit(key).Text("status"), u"1");
    EXPECT_TRUE(State().FindItem(UserId, "/large.bin")->content.Bytes() == part + part + chunk);
}

}  // namespace
