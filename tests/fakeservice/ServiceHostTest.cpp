#include "tests/fakeservice/ServiceHostTest.h"

#include "foundation/crypto/Crypto.h"

#include <QJsonDocument>

#include <cctype>
#include <ctime>

// A blank among letters and digits, so the login's form encoding is exercised.
const QString ServiceHostTest::Password = QStringLiteral("s3cret pass");
const QString ServiceHostTest::AgentKey = QStringLiteral("agent-a");

std::string ServiceHostTest::Reply::Header(const char* name) const
{
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

size_t ServiceHostTest::CollectBody(char* data, size_t size, size_t count, void* out)
{
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void ServiceHostTest::SetUp()
{
    ASSERT_TRUE(service_.IsRunning());
    FakeAccountSpec account = TestAccount::Spec();
    account.password = Password;
    ASSERT_TRUE(State().AddAccount(account));
}

ServiceHostTest::Reply ServiceHostTest::Get(const std::string& base, const std::string& target,
                                            const httplib::Headers& headers)
{
    httplib::Client client(base);
    client.set_read_timeout(10, 0);
    return ToReply(client.Get(target.c_str(), headers));
}

ServiceHostTest::Reply ServiceHostTest::Post(const std::string& base, const std::string& target,
                                             const std::string& body, const std::string& contentType)
{
    httplib::Client client(base);
    client.set_read_timeout(10, 0);
    return ToReply(client.Post(target.c_str(), body, contentType.c_str()));
}

ServiceHostTest::Reply ServiceHostTest::Put(const std::string& base, const std::string& target,
                                            const std::string& body)
{
    httplib::Client client(base);
    client.set_read_timeout(10, 0);
    return ToReply(client.Put(target.c_str(), body, "application/octet-stream"));
}

std::string ServiceHostTest::FormEncode(const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    return out;
}

std::string ServiceHostTest::WireBody(const QString& body)
{
    const QByteArray bytes = body.toUtf8();
    const qsizetype equals = bytes.indexOf('=');
    if (equals < 0)
        return FormEncode(bytes);
    return FormEncode(bytes.left(equals)) + "=" + FormEncode(bytes.mid(equals + 1));
}

std::string ServiceHostTest::PathOf(const std::string& method)
{
    return MethodRouter::PathFor(method, UserId.toStdString(), std::time(nullptr));
}

ServiceHostTest::Reply ServiceHostTest::Call(const std::string& method, const QString& fields)
{
    const QString body =
        QStringLiteral("access_key=%1&access_key_checksum=%2&%3").arg(AccessKey, AccessChecksum, fields);
    return Post(service_.BaseUrl(), PathOf(method), WireBody(body));
}

QJsonObject ServiceHostTest::RegisterFile(const QString& path, qint64 size)
{
    const QJsonObject desc{{"my_base64_full_path_name", PathToBase64Url(path)},
                           {"size", QString::number(size)},
                           {"local_mtime", "100"}};
    const QString json = QString::fromUtf8(QJsonDocument(desc).toJson(QJsonDocument::Compact));
    const Reply reply = Call("setSyncJournal",
                             QStringLiteral("action=add&agent_key=%1&obj_type=file&req_desc=%2").arg(AgentKey, json));
    EXPECT_EQ(reply.Text("status"), u"1") << reply.body;
    return reply.json.value(QStringLiteral("sync_journal")).toObject();
}

ServiceHostTest::Reply ServiceHostTest::Commit(const QJsonObject& syncJournal)
{
    return Call("commitSyncJournal", QStringLiteral("agent_key=%1&sync_journal_key=%2&sync_journal_key_checksum=%3")
                                         .arg(AgentKey, syncJournal.value(QStringLiteral("key")).toString(),
                                              syncJournal.value(QStringLiteral("checksum")).toString()));
}

qint64 ServiceHostTest::Buffered(const QJsonObject& syncJournal)
{
    const QString key = syncJournal.value(QStringLiteral("key")).toString();
    for (const FakeSyncKey& entry : State().SyncKeys(UserId)) {
        if (entry.key == key)
            return entry.upload.Size();
    }
    return -1;
}

ServiceHostTest::Reply ServiceHostTest::ToReply(const httplib::Result& result)
{
    Reply reply;
    if (!result)
        return reply;
    reply.http = result->status;
    reply.body = result->body;
    reply.headers = result->headers;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(result->body));
    reply.json = document.object();
    reply.array = document.array();
    return reply;
}
