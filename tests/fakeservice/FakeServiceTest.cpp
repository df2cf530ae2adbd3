// Checks of the fake service itself, through plain HTTP requests written
// here: the wire form of a form post is built in this file, not taken from
// the client, so that the fake is checked against the contract alone.

#include "fakeservice/DecimalText.h"
#include "fakeservice/FakeService.h"
#include "fakeservice/FormDecoder.h"
#include "tests/fakeservice/ServiceHostTest.h"
#include "tests/support/WaitUntil.h"
#include "fakeservice/TestAccount.h"

#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <ctime>
#include <future>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;

const QString& UserId = TestAccount::UserId;
const QString& UserSn = TestAccount::UserSn;
const QString& AccessKey = TestAccount::AccessKey;
const QString& AccessChecksum = TestAccount::AccessChecksum;
const QString& MemberToken = TestAccount::MemberToken;
const QString AgentA = QStringLiteral("agent-a");
const QString AgentB = QStringLiteral("agent-b");

QString Wire(const QString& path)
{
    return PathToBase64Url(path);
}

QString Json(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

struct Reply {
    int http = 0;  // 0: no HTTP answer
    std::string body;
    QJsonObject json;

    QString Text(const char* name) const { return json.value(QLatin1String(name)).toString(); }
};

class FakeServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service_.IsRunning());
        ASSERT_TRUE(State().AddAccount(TestAccount::Spec()));
    }

    FakeState& State() { return service_.State(); }

    static Reply ToReply(const httplib::Result& result)
    {
        Reply reply;
        if (!result)
            return reply;
        reply.http = result->status;
        reply.body = result->body;
        reply.json = QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object();
        return reply;
    }

    Reply PostRaw(const std::string& target, const std::string& body)
    {
        httplib::Client client(service_.BaseUrl());
        client.set_read_timeout(5, 0);
        return ToReply(client.Post(target.c_str(), body, "application/x-www-form-urlencoded"));
    }

    std::string Target(const std::string& method, const QString& userId = UserId) const
    {
        return MethodRouter::PathFor(method, userId.toStdString(), std::time(nullptr));
    }

    // An agent-interface call with the account's access key in front.
    Reply Call(const std::string& method, const QString& fields)
    {
        const QString body = QStringLiteral("access_key=%1&access_key_checksum=%2&%3").arg(AccessKey, AccessChecksum, fields);
        return PostRaw(Target(method), ServiceHostTest::WireBody(body));
    }

    Reply SetSyncJournal(const QString& agent, const QString& action, const QString& objType, const QJsonObject& desc)
    {
        return Call("setSyncJournal", QStringLiteral("action=%1&agent_key=%2&obj_type=%3&req_desc=%4")
                                          .arg(action, agent, objType, Json(desc)));
    }

    Reply Commit(const QString& agent, const QJsonObject& syncJournal)
    {
        return Call("commitSyncJournal",
                    QStringLiteral("agent_key=%1&sync_journal_key=%2&sync_journal_key_checksum=%3")
                        .arg(agent, syncJournal.value(QStringLiteral("key")).toString(),
                             syncJournal.value(QStringLiteral("checksum")).toString()));
    }

    // Registers and commits one change; the commit's reply.
    Reply Change(const QString& agent, const QString& action, const QString& objType, const QJsonObject& desc)
    {
        const Reply registered = SetSyncJournal(agent, action, objType, desc);
        EXPECT_EQ(registered.Text("status"), u"1") << registered.body;
        return Commit(agent, registered.json.value(QStringLiteral("sync_journal")).toObject());
    }

    static QJsonObject FileDesc(const QString& path, int size, int mtime)
    {
        return QJsonObject{{"my_base64_full_path_name", Wire(path)},
                           {"size", QString::number(size)},
                           {"local_mtime", QString::number(mtime)},
                           {"upload_type", "postFile2"}};
    }

    static QJsonObject PathDesc(const QString& path)
    {
        return QJsonObject{{"my_base64_full_path_name", Wire(path)}, {"local_mtime", "100"}};
    }

    Reply Metadata(const QString& objType, const QString& path, int recursive)
    {
        return Call("getMetadata", QStringLiteral("obj_type=%1&my_base64_full_path_name=%2&recursive=%3&recycle=0")
                                       .arg(objType, Wire(path))
                                       .arg(recursive));
    }

    Reply Journal(const QString& position, const QString& resultType)
    {
        return Call("getSyncJournal", QStringLiteral("last_commit_time=%1&result_type=%2").arg(position, resultType));
    }

    FakeService service_;
};

// ---- Form bodies ------------------------------------------------------------------

TEST(FakeServiceForm, DecodesTheBodyOnceAndSplitsAtTheFirstEquals)
{
    struct Case {
        const char* body;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"access_key=a%26b%3Dc+d", "b", "c d"},
        {"access_key=k%26p%3DL2EudHh0%3D%3D", "p", "L2EudHh0=="},
        {"access_key=k%26req_desc%3D%7B%22size%22%3A%2212%22%7D", "req_desc", "{\"size\":\"12\"}"},
        // A value is never decoded twice: "%2541" arrives as "%41", not "A".
        {"access_key=k%26v%3D%2541", "v", "%41"},
        {"access_key=k", "access_key", "k"},
    };
    for (const Case& c : cases) {
        const FormDecoder::Result result = FormDecoder::Decode(c.body, true);
        ASSERT_TRUE(result.fields) << c.body << ": " << qPrintable(result.error);
        EXPECT_EQ(result.fields->Value(QString::fromUtf8(c.name)), QString::fromUtf8(c.value)) << c.body;
        EXPECT_EQ(result.fields->NameAt(0), u"access_key") << c.body;
    }
}

TEST(FakeServiceForm, StrictDecodingRefusesBodiesThatWereNotEncoded)
{
    const char* const refused[] = {
        "access_key=k&agent_key=a",  // separators sent raw
        "access_key=k%26p%3DLw==",   // padding sent raw
        "access_key=k%2",            // cut escape
        "access_key=k%ZZ",           // not hex
    };
    for (const char* body : refused)
        EXPECT_FALSE(FormDecoder::Decode(body, true).fields) << body;
    // Lenient decoding still takes the raw separators.
    EXPECT_EQ(FormDecoder::Decode("access_key=k&agent_key=a", false).fields->Value("agent_key"), u"a");
}

TEST_F(FakeServiceTest, EncodedBodyRegistersTheAgentWithItsFieldsIntact)
{
    const QString name = QStringLiteral("My PC & more");
    const Reply set = Call("setAgentInfo", QStringLiteral("agent_key=%1&my_base64_agent_name=%2&sync_folder_md5sum=%3&agent_ver=1.0.0.1")
                                               .arg(AgentA, Base64UrlEncodeText(name), Md5Hex("/home/demo/tessaron")));
    ASSERT_EQ(set.http, 200);
    EXPECT_EQ(set.Text("status"), u"1") << set.body;

    const Reply get = Call("getAgentInfo", QStringLiteral("agent_key=%1&agent_ver=1.0.0.1").arg(AgentA));
    EXPECT_EQ(get.Text("status"), u"1") << get.body;
    EXPECT_EQ(get.Text("agent_key"), AgentA);
    EXPECT_EQ(get.Text("sync_folder_md5sum"), Md5Hex("/home/demo/tessaron"));
    ASSERT_EQ(State().Agents(UserId).size(), 1u);
    EXPECT_EQ(Base64UrlDecodeText(State().Agents(UserId)[0].nameBase64), name);

    const Reply unknown = Call("getAgentInfo", QStringLiteral("agent_key=other&agent_ver=1"));
    EXPECT_EQ(unknown.Text("status"), u"0");
    EXPECT_EQ(unknown.Text("msg"), u"user agent not register");
}

// ---- Access key ---------------------------------------------------------------------

TEST_F(FakeServiceTest, RefusesCallsWithoutTheAccountsAccessKey)
{
    State().SetClock(5000);
    State().SetAccessKey(UserId, AccessKey, AccessChecksum, 6000);
    const QString fields = QStringLiteral("&agent_key=a&my_base64_agent_name=YQ==&sync_folder_md5sum=x&agent_ver=1");
    struct Case {
        const char* what;
        QString body;
        QString urlUserId;
    };
    const Case cases[] = {
        {"wrong key", "access_key=nope&access_key_checksum=" + AccessChecksum + fields, UserId},
        {"wrong checksum", "access_key=" + AccessKey + "&access_key_checksum=nope" + fields, UserId},
        {"user_sn in the URL", "access_key=" + AccessKey + "&access_key_checksum=" + AccessChecksum + fields, UserSn},
        {"checksum not second", "access_key=" + AccessKey + fields + "&access_key_checksum=" + AccessChecksum, UserId},
    };
    for (const Case& c : cases) {
        const Reply reply = PostRaw(Target("setAgentInfo", c.urlUserId), ServiceHostTest::WireBody(c.body));
        EXPECT_EQ(reply.http, 200) << c.what;
        EXPECT_EQ(reply.Text("status"), u"0") << c.what;
        EXPECT_FALSE(reply.Text("msg").isEmpty()) << c.what;
    }
    EXPECT_TRUE(State().Agents(UserId).empty());

    State().SetClock(6001);  // the key has expired
    const Reply expired = Call("getAgentInfo", QStringLiteral("agent_key=a&agent_ver=1"));
    EXPECT_EQ(expired.Text("status"), u"0");
    EXPECT_NE(expired.Text("msg"), u"user agent not register");
}

// ---- Tree, commits and conflicts -------------------------------------------------------

TEST_F(FakeServiceTest, RootListingShowsCommittedFolderAndFile)
{
    const Reply folder = Change(AgentA, "add", "folder", PathDesc("/docs"));
    EXPECT_EQ(folder.Text("status"), u"1") << folder.body;
    const Reply file = Change(AgentA, "add", "file", FileDesc("/a.txt", 12, 100));
    EXPECT_EQ(file.Text("status"), u"1") << file.body;
    EXPECT_EQ(file.Text("conflict"), u"0");
    EXPECT_EQ(file.Text("version"), u"1");
    EXPECT_EQ(Change(AgentA, "add", "file", FileDesc("/docs/b.txt", 3, 200)).Text("status"), u"1");

    const Reply root = Metadata("folder", "/", 1);
    ASSERT_EQ(root.Text("status"), u"1") << root.body;
    EXPECT_EQ(root.Text("timestamp"), State().Journal(UserId).back().commitTime);
    const QJsonObject metadata = root.json.value("metadata").toObject();
    const QJsonArray folders = metadata.value("folder").toArray();
    const QJsonArray files = metadata.value("file").toArray();
    ASSERT_EQ(folders.size(), 1);
    ASSERT_EQ(files.size(), 1);
    const QJsonObject a = files[0].toObject();
    EXPECT_EQ(a.value("name").toString(), u"a.txt");
    EXPECT_EQ(a.value("path").toString(), u"/");
    EXPECT_EQ(a.value("key").toString(), Md5Hex(UserSn + "_/a.txt"));
    EXPECT_EQ(a.value("parent").toString(), SyncRootParentKey);
    EXPECT_EQ(a.value("sn").toString(), UserSn);
    EXPECT_EQ(a.value("size").toString(), u"12");
    EXPECT_EQ(a.value("local_mtime").toString(), u"100");
    EXPECT_EQ(folders[0].toObject().value("name").toString(), u"docs");

    const QJsonArray inner = Metadata("folder", "/docs", 1).json.value("metadata").toObject().value("file").toArray();
    ASSERT_EQ(inner.size(), 1);
    EXPECT_EQ(inner[0].toObject().value("path").toString(), u"/docs");
    EXPECT_EQ(inner[0].toObject().value("parent").toString(), Md5Hex(UserSn + "_/docs"));

    const Reply missing = Metadata("file", "/nothing.txt", 0);
    EXPECT_EQ(missing.Text("status"), u"1");
    EXPECT_TRUE(missing.json.value("metadata").toObject().value("file").toArray().isEmpty());
}

TEST_F(FakeServiceTest, StaleEditIsKeptAsConflictCopy)
{
    ASSERT_TRUE(State().SeedFile(UserId, "/a.txt", "v1", 100));
    QJsonObject edit = FileDesc("/a.txt", 5, 150);
    edit.insert("version", "1");
    EXPECT_EQ(Change(AgentA, "edit", "file", edit).Text("version"), u"2");

    QJsonObject stale = FileDesc("/a.txt", 7, 160);
    stale.insert("version", "1");  // B has not seen A's edit
    const Reply conflict = Change(AgentB, "edit", "file", stale);
    ASSERT_EQ(conflict.Text("status"), u"1") << conflict.body;
    EXPECT_EQ(conflict.Text("conflict"), u"1");
    EXPECT_EQ(Base64UrlDecodeText(conflict.Text("my_base64_full_path_name")), u"/a (conflict 1).txt");

    EXPECT_EQ(State().FindItem(UserId, "/a.txt")->size, 5);
    EXPECT_EQ(State().FindItem(UserId, "/a (conflict 1).txt")->size, 7);
    const FakeJournalEntry last = State().Journal(UserId).back();
    EXPECT_EQ(last.agentKey, AgentB);
    EXPECT_EQ(last.action, u"add");
    EXPECT_EQ(last.path, u"/a (conflict 1).txt");
}

TEST_F(FakeServiceTest, RefusedChangesAnswerTheServiceTexts)
{
    ASSERT_TRUE(State().SeedFile(UserId, "/docs/a.txt", "abc", 100));
    ASSERT_TRUE(State().SeedFile(UserId, "/b.txt", "b", 100));
    const QJsonObject move{{"my_base64_orig_full_path_name", Wire("/b.txt")},
                           {"my_base64_dest_full_path_name", Wire("/docs/a.txt")},
                           {"local_mtime", "1"}};
    struct Case {
        const char* action;
        const char* objType;
        QJsonObject desc;
        const char* message;
    };
    const Case cases[] = {
        {"add", "file", FileDesc("/none/x.txt", 1, 1), "parent not exist"},
        {"add", "folder", PathDesc("/docs"), "folder already exist"},
        {"recycle", "file", PathDesc("/gone.txt"), "file not found in metadata"},
        {"recycle", "folder", PathDesc("/gone"), "folder not found in metadata"},
        {"move", "file", move, "dest file exists"},
        {"mod", "folder", PathDesc("/docs"), "caching data expired or not set"},
        {"add", "file", QJsonObject{{"my_base64_full_path_name", "not base64!"}}, "object path error"},
    };
    for (const Case& c : cases) {
        const Reply reply = SetSyncJournal(AgentA, c.action, c.objType, c.desc);
        EXPECT_EQ(reply.Text("status"), u"0") << c.action << " " << c.objType;
        EXPECT_EQ(reply.Text("msg"), QString::fromUtf8(c.message)) << c.action << " " << c.objType;
    }
}

TEST_F(FakeServiceTest, SyncJournalKeyCommitsOnceAndOnlyForItsAgent)
{
    const Reply registered = SetSyncJournal(AgentA, "add", "folder", PathDesc("/new"));
    const QJsonObject key = registered.json.value("sync_journal").toObject();
    ASSERT_TRUE(key.value("expire").isDouble()) << registered.body;

    const Reply wrongAgent = Commit(AgentB, key);
    EXPECT_EQ(wrongAgent.Text("msg"), u"agent_key not match in sync_journal");
    EXPECT_EQ(Commit(AgentA, key).Text("status"), u"1");
    EXPECT_EQ(Commit(AgentA, key).Text("msg"), u"sync_journal is expired or commited or fail");
    EXPECT_EQ(State().Journal(UserId).size(), 1u);
}

TEST_F(FakeServiceTest, FileCheckReportsTheCommittedUpload)
{
    State().SetRefuseSizeMismatch(true);
    const Reply registered = SetSyncJournal(AgentA, "add", "file", FileDesc("/a.txt", 3, 100));
    const QJsonObject key = registered.json.value("sync_journal").toObject();
    EXPECT_EQ(Commit(AgentA, key).Text("msg"), u"file not exist");  // nothing uploaded yet
    ASSERT_TRUE(State().AppendUpload(UserId, key.value("key").toString(), "abc"));
    ASSERT_EQ(Commit(AgentA, key).Text("status"), u"1");
    EXPECT_EQ(State().FindItem(UserId, "/a.txt")->content.Bytes(), "abc");

    const Reply check = Call("getFileCheck", QStringLiteral("agent_key=%1&my_base64_full_path_name=%2").arg(AgentA, Wire("/a.txt")));
    ASSERT_EQ(check.Text("status"), u"1") << check.body;
    EXPECT_TRUE(check.Text("get_url").startsWith(QString::fromStdString(service_.DownloadUrl() + "/")));
    const QJsonObject metadata = check.json.value("metadata").toObject();
    EXPECT_EQ(metadata.value("size").toString(), u"3");
    EXPECT_EQ(metadata.value("local_mtime").toString(), u"100");
    EXPECT_EQ(metadata.value("version").toString(), u"1");
    EXPECT_EQ(check.Text("size"), u"3");

    const Reply missing = Call("getFileCheck", QStringLiteral("agent_key=%1&my_base64_full_path_name=%2").arg(AgentA, Wire("/b.txt")));
    EXPECT_EQ(missing.Text("status"), u"0");
    EXPECT_EQ(missing.Text("msg"), u"file not found in metadata");
}

// ---- Journal positions -------------------------------------------------------------------

TEST_F(FakeServiceTest, JournalFromPositionComparesCommitTimesAsDecimals)
{
    State().SetClock(1000);
    State().SetCommitFractionDigits(2);
    const int fractions[] = {5, 50, 99, -1};  // -1: let the clock pick (carries into 1001)
    int n = 0;
    for (const int fraction : fractions) {
        if (fraction >= 0)
            State().SetNextCommitFraction(fraction);
        ASSERT_EQ(Change(AgentA, "add", "folder", PathDesc(QStringLiteral("/f%1").arg(n++))).Text("status"), u"1");
    }
    std::vector<QString> times;
    for (const FakeJournalEntry& entry : State().Journal(UserId))
        times.push_back(entry.commitTime);
    EXPECT_EQ(times, (std::vector<QString>{"1000.05", "1000.50", "1000.99", "1001.00"}));

    struct Case {
        const char* position;
        int count;
        const char* first;
    };
    const Case cases[] = {
        {"999.99", 4, "1000.05"},  // a shorter whole part sorts after as text
        {"1000.5", 3, "1000.50"},  // "1000.05" has the same digits after the point
        {"1000.06", 3, "1000.50"},
        {"1000.9", 2, "1000.99"},
        {"1001", 1, "1001.00"},
        {"1001.01", 0, nullptr},
    };
    for (const Case& c : cases) {
        const Reply all = Journal(c.position, "all");
        EXPECT_EQ(all.Text("commit_journal_count"), QString::number(c.count)) << c.position;
        const QJsonArray entries = all.json.value("commit_journal").toArray();
        ASSERT_EQ(entries.size(), c.count) << c.position;
        if (c.first) {
            EXPECT_EQ(entries[0].toObject().value("commit_time").toString(), QString::fromUtf8(c.first));
        }
        const Reply count = Journal(c.position, "count");
        EXPECT_EQ(count.Text("commit_journal_count"), QString::number(c.count)) << c.position;
        EXPECT_FALSE(count.json.contains("commit_journal"));
    }
}

TEST_F(FakeServiceTest, JournalEntriesCarryTheFieldsTheReplayReads)
{
    ASSERT_TRUE(State().SeedFile(UserId, "/a.txt", "abc", 100));
    const QJsonObject move{{"my_base64_orig_full_path_name", Wire("/a.txt")},
                           {"my_base64_dest_full_path_name", Wire("/b.txt")},
                           {"local_mtime", "100"}};
    ASSERT_EQ(Change(AgentB, "move", "file", move).Text("status"), u"1");

    const QJsonArray entries = Journal("", "all").json.value("commit_journal").toArray();
    ASSERT_EQ(entries.size(), 1);
    const QJsonObject entry = entries[0].toObject();
    EXPECT_EQ(entry.value("agent_key").toString(), AgentB);
    EXPECT_EQ(entry.value("obj_type").toString(), u"file");
    EXPECT_EQ(entry.value("action").toString(), u"move");
    const QJsonObject commitDesc = entry.value("commit_desc").toObject();
    EXPECT_EQ(commitDesc.value("status").toString(), u"1");
    EXPECT_EQ(commitDesc.value("version").toString(), u"2");
    EXPECT_EQ(commitDesc.value("my_base64_orig_full_path_name").toString(), Wire("/a.txt"));
    EXPECT_EQ(commitDesc.value("my_base64_dest_full_path_name").toString(), Wire("/b.txt"));
    const QJsonObject reqDesc = entry.value("req_desc").toObject();
    EXPECT_EQ(reqDesc.value("size").toString(), u"3");
    EXPECT_EQ(reqDesc.value("local_mtime").toString(), u"100");
    EXPECT_EQ(State().FindItem(UserId, "/b.txt")->key, Md5Hex(UserSn + "_/b.txt"));
}

TEST(FakeServiceDecimal, ComparesAsNumbers)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"1000.05", "1000.5", -1}, {"1000.9", "1000.10", 1}, {"999.9", "1000.0", -1},
        {"01.50", "1.5", 0},       {"1000", "1000.0", 0},    {"1000.001", "1000", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareDecimalText(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_FALSE(CompareDecimalText("1000.", "1"));
    EXPECT_FALSE(CompareDecimalText("1e3", "1"));
}

// ---- Faults -------------------------------------------------------------------------------

TEST_F(FakeServiceTest, FaultsShapeTheNextReplyOnly)
{
    struct Case {
        const char* what;
        Fault fault;
        int http;         // 0: no HTTP answer
        bool applied;     // whether the registration took effect
        const char* body; // a text the reply holds
    };
    const Case cases[] = {
        {"HTTP 500", Fault::Http500(), 500, false, nullptr},
        {"drop before reply", Fault::DropBeforeReply(), 0, true, nullptr},
        {"drop after 10 bytes", Fault::DropAfterBytes(10), 0, true, nullptr},
        {"warning line", Fault::WarningLine(), 200, true, "<br />"},
        {"not JSON", Fault::NonJson(), 200, false, "<html>"},
        {"message", Fault::Message("Quota Error"), 200, false, "\"msg\":\"Quota Error\""},
    };
    for (const Case& c : cases) {
        const std::size_t keysBefore = State().SyncKeys(UserId).size();
        service_.Faults().SetNext("setSyncJournal", c.fault);
        const Reply faulted = SetSyncJournal(AgentA, "add", "folder", PathDesc("/x"));
        EXPECT_EQ(faulted.http, c.http) << c.what;
        if (c.body) {
            EXPECT_NE(faulted.body.find(c.body), std::string::npos) << c.what << ": " << faulted.body;
        }
        EXPECT_EQ(State().SyncKeys(UserId).size() - keysBefore, c.applied ? 1u : 0u) << c.what;

        const Reply next = SetSyncJournal(AgentA, "add", "folder", PathDesc("/x"));
        EXPECT_EQ(next.Text("status"), u"1") << c.what << ": " << next.body;
    }
}

TEST_F(FakeServiceTest, LastingFaultHitsEveryCallUntilCleared)
{
    service_.Faults().SetAlways(FakeFaults::AnyMethod, Fault::Http500());
    EXPECT_EQ(Journal("", "count").http, 500);
    EXPECT_EQ(Metadata("folder", "/", 1).http, 500);
    service_.Faults().ClearAll();
    EXPECT_EQ(Journal("", "count").http, 200);
}

TEST_F(FakeServiceTest, UnknownTargetIsNotFoundAndLogged)
{
    EXPECT_EQ(PostRaw("/v1/noSuchMethod?u=1&t=2", "").http, 404);
    EXPECT_EQ(PostRaw("/v1/getMetadata", "").http, 404);  // query missing
    EXPECT_EQ(service_.UnknownTargets(), (std::vector<std::string>{"/v1/noSuchMethod?u=1&t=2", "/v1/getMetadata"}));
}

// ---- Signed API ---------------------------------------------------------------------------

TEST_F(FakeServiceTest, GetQuotaChecksTheSignature)
{
    const FakeServiceOptions options;
    const QString method = SignedApi::QuotaMethod;
    ASSERT_TRUE(State().SeedFile(UserId, "/big.bin", QByteArray(3 * 1048576, 'x')));
    State().SetQuotaTotal(UserId, std::int64_t(100) * 1048576);
    const auto quota = [&](const QString& sig, const QString& apiKey, const QString& auth) {
        const std::string target = "/api.php?api_sig=" + sig.toStdString() + "&api_key=" + apiKey.toStdString() +
                                   "&auth=" + auth.toStdString() + "&method=" + method.toStdString();
        return PostRaw(target, "");
    };
    const QString secret = options.apiSecret;
    const QString key = options.apiKey;

    const Reply ok = quota(Md5Hex(secret + key + MemberToken + method), key, MemberToken);
    ASSERT_EQ(ok.Text("ok"), u"true") << ok.body;
    const QJsonObject rsp = ok.json.value("rsp").toObject();
    EXPECT_EQ(rsp.value("total").toString(), u"100");
    EXPECT_EQ(rsp.value("used").toString(), u"3");
    EXPECT_FALSE(rsp.value("max_fs").toString().isEmpty());

    struct Case {
        const char* what;
        QString sig;
        QString apiKey;
        QString auth;
        const char* code;
    };
    const Case cases[] = {
        {"parts swapped", Md5Hex(key + secret + MemberToken + method), key, MemberToken, "1001010002"},
        {"upper-case hex", Md5Hex(secret + key + MemberToken + method).toUpper(), key, MemberToken, "1001010002"},
        {"other api key", Md5Hex(secret + "k" + MemberToken + method), "k", MemberToken, "1001010001"},
        {"unknown token", Md5Hex(secret + key + "t" + method), key, "t", "1001010003"},
    };
    for (const Case& c : cases) {
        const Reply refused = quota(c.sig, c.apiKey, c.auth);
        EXPECT_EQ(refused.Text("ok"), u"false") << c.what;
        const QJsonArray msg = refused.json.value("msg").toArray();
        ASSERT_EQ(msg.size(), 2) << c.what;
        EXPECT_EQ(msg[0].toString(), QString::fromUtf8(c.code)) << c.what;
    }

    State().SetClock(2000);
    State().SetMemberToken(UserId, MemberToken, 1999);
    const Reply expired = quota(Md5Hex(secret + key + MemberToken + method), key, MemberToken);
    EXPECT_EQ(expired.json.value("msg").toArray().at(0).toString(), u"1001010004");
}

// ---- Life cycle -------------------------------------------------------------------------------

TEST(FakeServiceLifecycle, StopIsPromptWhileAReplyIsHeldAndAConnectionIdles)
{
    auto service = std::make_unique<FakeService>();
    service->Faults().SetAlways(FakeFaults::AnyMethod, Fault::Timeout(60s));

    httplib::Client idle(service->BaseUrl());
    idle.set_keep_alive(true);
    EXPECT_EQ(idle.Get("/nothing")->status, 404);  // the connection stays open

    const std::string base = service->BaseUrl();
    auto held = std::async(std::launch::async, [base] {
        httplib::Client client(base);
        client.set_read_timeout(30, 0);
        return static_cast<bool>(client.Post(MethodRouter::PathFor("getSyncJournal", "1", 1).c_str(), "",
                                             "application/x-www-form-urlencoded"));
    });
    ASSERT_TRUE(WaitUntil([&] { return service->CallCount("getSyncJournal") == 1; }));

    const auto start = std::chrono::steady_clock::now();
    service.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_FALSE(held.get());  // the held request ends without a reply
}

}  // namespace
