// The service client's frame: the form post on the wire, the reply
// classification, the failure count, stopping a pending call and the
// online/offline switch.

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/ProcessState.h"
#include "tests/client/ScriptedHttpServer.h"
#include "tests/client/ServiceFixture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>

using namespace std::chrono_literals;

namespace {

class PeltaAPITest : public ServiceFixture {
protected:
    QString AgentUrl() const { return MethodUrl("APIgetAgentInfo"); }

    QString AgentBody() const
    {
        QString url;
        QString body;
        EXPECT_TRUE(api_->BuildGetAgentInfo(url, body));
        return body;
    }

    ScriptedHttpServer scripted_;
};

// How one row gets its reply: a body from the scripted server, or a
// getAgentInfo call on the fake with an optional fault.
struct ReplyCase {
    const char* name;
    const char* scripted;          // non-null: this body, HTTP 200
    std::optional<Fault> fault;    // the fake: the fault of the call
    bool registered;               // the fake: the agent is known
    bool ok;
    const char* out;               // exact out text; null: a status-1 JSON object
    int netFailCount;              // after the call; it starts at 3
};

TEST_F(PeltaAPITest, ClassifiesEveryKindOfReply)
{
    const ReplyCase cases[] = {
        {"status 1 as text", nullptr, std::nullopt, true, true, nullptr, 0},
        {"status 1 as number", R"({"status":1,"agent_key":"k"})", std::nullopt, false, true,
         R"({"status":1,"agent_key":"k"})", 0},
        {"status 0 with msg", nullptr, Fault::Message(QStringLiteral("busy")), true, false, "busy", 0},
        {"status 0 without msg", R"({"status":"0"})", std::nullopt, false, false, "", 0},
        {"warning line, then status 1", nullptr, Fault::WarningLine(), true, true, nullptr, 0},
        {"warning line, then status 0", nullptr, Fault::WarningLine(), false, false, "user agent not register", 0},
        {"<BR/> anywhere", "Fatal error<BR/>\n{\"status\":\"1\"}", std::nullopt, false, false,
         "Fatal error<BR/>\n{\"status\":\"1\"}", 0},
        {"pairs with msg", "code=12&msg=denied", std::nullopt, false, false, "denied", 0},
        {"plain words", "service is resting", std::nullopt, false, false, "", 0},
        {"HTML page", nullptr, Fault::NonJson(), true, false, "", 0},
        {"empty body", "", std::nullopt, false, false, "", 0},
        {"HTTP 500", nullptr, Fault::Http500(), true, false, "", 4},
        {"dropped connection", nullptr, Fault::DropBeforeReply(), true, false, "", 4},
    };
    RegisterAgent();
    for (const ReplyCase& row : cases) {
        SCOPED_TRACE(row.name);
        if (!row.scripted && !row.registered)
            setting_.Set(QStringLiteral("agent_key"), QStringLiteral("unknown-agent"));
        const QString body = AgentBody();
        QString url = AgentUrl();
        if (row.scripted) {
            scripted_.Push({200, QByteArray(row.scripted)});
            url = QString::fromLatin1(scripted_.BaseUrl()) + QStringLiteral("/any");
        }
        if (row.fault)
            service_.Faults().SetNext("getAgentInfo", *row.fault);
        NetFailCount = 3;

        QString out = QStringLiteral("untouched");
        EXPECT_EQ(api_->CallAgentAPI(url, body, true, out), row.ok);
        if (row.out) {
            EXPECT_EQ(out, QString::fromUtf8(row.out));
        } else {
            QString msg;
            EXPECT_TRUE(PeltaJSON::CheckStatus(out, msg)) << out.toStdString();
            EXPECT_FALSE(out.contains(QLatin1String("<br"), Qt::CaseInsensitive));
        }
        EXPECT_EQ(NetFailCount.load(), row.netFailCount);
        setting_.Set(QStringLiteral("agent_key"), AgentKey);
        service_.Faults().ClearAll();
    }
}

TEST_F(PeltaAPITest, CountsConsecutiveFailuresUntilASuccess)
{
    RegisterAgent();
    service_.Faults().SetAlways(FakeFaults::AnyMethod, Fault::Http500());
    QString out;
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(api_->CallAgentAPI(AgentUrl(), AgentBody(), false, out));
    EXPECT_EQ(NetFailCount.load(), 5);

    service_.Faults().ClearAll();
    EXPECT_TRUE(api_->CallAgentAPI(AgentUrl(), AgentBody(), false, out));
    EXPECT_EQ(NetFailCount.load(), 0);
}

TEST_F(PeltaAPITest, APostThatLostItsConnectionIsNotSentAgain)
{
    // A call before leaves a used connection behind. The commit is carried
    // out, then its connection closes before any byte of the reply.
    RegisterAgent();
    QString out;
    ASSERT_TRUE(api_->CallAgentAPI(AgentUrl(), AgentBody(), false, out)) << out.toStdString();
    PeltaRecSyncRequest row;
    row.action = XSYNCFolderAdd;
    row.opt = PeltaJSON::MapToJson({{QStringLiteral("my_base64_full_path_name"), PathToBase64Url(QStringLiteral("\\new"))},
                                    {QStringLiteral("local_mtime"), QStringLiteral("1700000000")},
                                    {QStringLiteral("size"), QStringLiteral("0")}});
    const auto registration = service_.State().RegisterSyncKey(UserId, AgentKey, QStringLiteral("add"),
                                                               QStringLiteral("folder"), row.opt);
    ASSERT_TRUE(registration.message.isEmpty()) << registration.message.toStdString();
    row.sync_journal_key = registration.key.key;
    row.sync_journal_key_checksum = registration.key.checksum;
    QString url;
    QString body;
    ASSERT_TRUE(api_->BuildCommitSyncJournal(row, url, body));

    service_.Faults().SetNext("commitSyncJournal", Fault::DropBeforeReply());
    NetFailCount = 2;
    out = QStringLiteral("untouched");
    EXPECT_FALSE(api_->CallAgentAPI(url, body, false, out));
    EXPECT_EQ(out, QString());
    EXPECT_EQ(NetFailCount.load(), 3);
    EXPECT_EQ(service_.CallCount("commitSyncJournal"), 1u);
    EXPECT_EQ(service_.State().Journal(UserId).size(), 1u);
}

TEST_F(PeltaAPITest, OnlyCallsThatReadShareAConnection)
{
    using Effect = PeltaAPI::CallEffect;
    scripted_.SetDefault({200, R"({"status":"1"})"});
    const QString url = QString::fromLatin1(scripted_.BaseUrl()) + QStringLiteral("/call");
    const struct {
        const char* name;
        Effect effect;
        int accepted;  // by the server so far
    } steps[] = {
        {"a read", Effect::OnlyReads, 1},
        {"another read", Effect::OnlyReads, 1},
        {"a change", Effect::Changes, 2},
        {"a change again", Effect::Changes, 3},
        {"a read after them", Effect::OnlyReads, 3},
    };
    QString out;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_TRUE(api_->CallAgentAPI(url, AgentBody(), false, out, step.effect)) << out.toStdString();
        EXPECT_EQ(scripted_.AcceptedConnections(), step.accepted);
    }

    // A read whose kept connection closes before the reply is sent again
    // on a new one, which is harmless.
    const std::size_t before = scripted_.Requests().size();
    scripted_.Push({200, QByteArray(), true});
    EXPECT_TRUE(api_->CallAgentAPI(url, AgentBody(), false, out, Effect::OnlyReads)) << out.toStdString();
    EXPECT_EQ(scripted_.Requests().size() - before, 2u);
    EXPECT_EQ(scripted_.AcceptedConnections(), 4);
}

TEST_F(PeltaAPITest, WireFormEncodesAfterTheFirstEquals)
{
    const struct {
        const char* body;
        const char* wire;
    } cases[] = {
        {"access_key=a&b=c d", "access_key=a%26b%3Dc+d"},
        {"no equals & here", "no+equals+%26+here"},
        {"k=\xC3\xA9*-._~+%\n", "k=%C3%A9*-._%7E%2B%25%0A"},
        {"", ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.body);
        EXPECT_EQ(PeltaAPI::FormWireBody(QString::fromUtf8(row.body)), QByteArray(row.wire));
    }

    // As it arrives, with the form-post headers.
    api_->HTTPPostForm(QString::fromLatin1(scripted_.BaseUrl()) + QStringLiteral("/form"),
                       QStringLiteral("access_key=a&b=c d"), false);
    const std::vector<ScriptedHttpServer::Request> requests = scripted_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, QByteArray("access_key=a%26b%3Dc+d"));
    EXPECT_TRUE(requests[0].requestLine.startsWith("POST /form HTTP/1.1"));
    for (const char* header : {"Content-Type: application/x-www-form-urlencoded", "Connection: keep-alive",
                               "Proxy-Connection: keep-alive", "Cache-Control: no-cache", "Pragma: no-cache"})
        EXPECT_TRUE(requests[0].headers.contains(QByteArray(header))) << header;
}

TEST_F(PeltaAPITest, FieldValuesArriveIntactOrAreRefused)
{
    const QString name = QStringLiteral("x=y%z+w \u00E9==");
    XMap params{{QStringLiteral("access_key"), AccessKey},
                {QStringLiteral("access_key_checksum"), AccessChecksum},
                {QStringLiteral("agent_key"), AgentKey},
                {QStringLiteral("agent_ver"), QStringLiteral("1.0.0.1")},
                {QStringLiteral("my_base64_agent_name"), name},
                {QStringLiteral("sync_folder_md5sum"), FolderMd5}};
    QString out;
    ASSERT_TRUE(api_->CallAgentAPIWithParams(MethodUrl("APIsetAgentInfo"), params, out)) << out.toStdString();
    const std::vector<FakeAgent> agents = service_.State().Agents(UserId);
    ASSERT_EQ(agents.size(), 1u);
    EXPECT_EQ(agents[0].nameBase64, name);

    // "&" in a value would be split by the service: nothing is sent.
    params[QStringLiteral("agent_ver")] = QStringLiteral("1&agent_key=other");
    NetFailCount = 2;
    const std::size_t callsBefore = service_.Calls().size();
    TakeLog();
    EXPECT_FALSE(api_->CallAgentAPIWithParams(MethodUrl("APIsetAgentInfo"), params, out));
    EXPECT_EQ(out, PeltaAPI::RefusedFieldText);
    EXPECT_EQ(service_.Calls().size(), callsBefore);
    EXPECT_EQ(NetFailCount.load(), 2);
    EXPECT_TRUE(TakeLog().contains(QLatin1String("refused: the field agent_ver")));
}

TEST_F(PeltaAPITest, ExitingSendsNothing)
{
    AppState = XAPPExit;
    NetFailCount = 2;
    EXPECT_EQ(api_->HTTPPostForm(AgentUrl(), AgentBody(), true), QString());
    QString out = QStringLiteral("untouched");
    EXPECT_FALSE(api_->CallAgentAPI(AgentUrl(), AgentBody(), true, out));
    EXPECT_EQ(out, QString());
    EXPECT_TRUE(service_.Calls().empty());
    EXPECT_EQ(NetFailCount.load(), 2);
}

TEST_F(PeltaAPITest, AbortAndExitStopAHeldCallPromptly)
{
    const struct {
        const char* name;
        std::function<void(PeltaAPI&)> stop;
    } cases[] = {
        {"abort flag", [](PeltaAPI& api) { api.Abort(); }},
        {"exit", [](PeltaAPI&) { AppState = XAPPExit; }},
    };
    RegisterAgent();
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        service_.Faults().SetNext("getAgentInfo", Fault::Timeout(20s));
        NetFailCount = 0;
        const QString url = AgentUrl();
        const QString body = AgentBody();
        const std::size_t before = service_.CallCount("getAgentInfo");
        auto call = std::async(std::launch::async, [&] { return api_->HTTPPostForm(url, body, false); });
        // The call has arrived; its reply is held.
        ASSERT_TRUE(WaitUntil([&] { return service_.CallCount("getAgentInfo") > before; }));

        const auto stopped = std::chrono::steady_clock::now();
        row.stop(*api_);
        ASSERT_EQ(call.wait_for(1s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
        EXPECT_EQ(call.get(), QString());
        EXPECT_EQ(NetFailCount.load(), 1);
        AppState = XAPPOnline;
        api_->ClearAbort();
    }
}

TEST_F(PeltaAPITest, AbortHoldsUntilCleared)
{
    RegisterAgent();
    api_->Abort();
    QString out = QStringLiteral("untouched");
    EXPECT_FALSE(api_->CallAgentAPI(AgentUrl(), AgentBody(), false, out));
    EXPECT_EQ(out, QString());
    EXPECT_TRUE(service_.Calls().empty());
    EXPECT_EQ(NetFailCount.load(), 0);

    api_->ClearAbort();
    EXPECT_TRUE(api_->CallAgentAPI(AgentUrl(), AgentBody(), false, out)) << out.toStdString();
}

TEST_F(PeltaAPITest, ConcurrentCallsOnOneInstanceBothComplete)
{
    RegisterAgent();
    service_.Faults().SetAlways("getAgentInfo", Fault::Delay(300ms));
    const QString url = AgentUrl();
    const QString body = AgentBody();
    auto call = [&] {
        QString out;
        return api_->CallAgentAPI(url, body, false, out);
    };
    auto first = std::async(std::launch::async, call);
    auto second = std::async(std::launch::async, call);
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_EQ(service_.CallCount("getAgentInfo"), 2u);
}

TEST_F(PeltaAPITest, IdleTimeOutEndsAHeldCall)
{
    RegisterAgent();
    api_->SetIdleTimeout(500ms);
    service_.Faults().SetNext("getAgentInfo", Fault::Timeout(20s));
    const auto start = std::chrono::steady_clock::now();
    QString out = QStringLiteral("untouched");
    EXPECT_FALSE(api_->CallAgentAPI(AgentUrl(), AgentBody(), false, out));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(out, QString());
    EXPECT_EQ(NetFailCount.load(), 1);
}

TEST_F(PeltaAPITest, OnlineStateFollowsTheFailureCountOnly)
{
    using Switch = PeltaAPI::OnlineSwitch;
    const struct {
        XAPPState before;
        int failures;
        XAPPState after;
        Switch result;
    } cases[] = {
        {XAPPOnline, 6, XAPPOffline, Switch::WentOffline}, {XAPPOnline, 5, XAPPOnline, Switch::None},
        {XAPPOffline, 0, XAPPOnline, Switch::WentOnline},  {XAPPOffline, 1, XAPPOffline, Switch::None},
        {XAPPExit, 6, XAPPExit, Switch::None},             {XAPPExit, 0, XAPPExit, Switch::None},
        {XAPPLogin, 0, XAPPLogin, Switch::None},           {XAPPLogin, 6, XAPPLogin, Switch::None},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::Message() << row.before << "/" << row.failures);
        AppState = row.before;
        NetFailCount = row.failures;
        EXPECT_EQ(PeltaAPI::UpdateOnlineState(), row.result);
        EXPECT_EQ(AppState.load(), row.after);
    }
}

TEST_F(PeltaAPITest, EncodesParamsAndExtractsJsonLines)
{
    EXPECT_EQ(PeltaAPI::EncodeParams({{QStringLiteral("req_desc"), QStringLiteral("{}")},
                                      {QStringLiteral("access_key"), QStringLiteral("k")},
                                      {QStringLiteral("action"), QStringLiteral("add")}}),
              QStringLiteral("access_key=k&action=add&req_desc={}"));
    EXPECT_EQ(PeltaAPI::EncodeParams({}), QString());

    EXPECT_EQ(PeltaAPI::ExtractJsonLines(QStringLiteral("<br />\r\n{\"a\":1}\r\n\n<b>x</b>\n{\"b\":2}")),
              QStringLiteral("{\"a\":1}\r\n{\"b\":2}"));
    EXPECT_EQ(PeltaAPI::ExtractJsonLines(QStringLiteral("no object\nhere")), QStringLiteral("no object\nhere"));
}

}  // namespace
