// The member login: the account server's three steps, the signed access
// request and the development login, their refusals and switches.

#include "tests/fakeservice/ServiceHostTest.h"

#include "foundation/crypto/Crypto.h"

#include <chrono>

namespace {

using namespace std::chrono_literals;

class AccountServerTest : public ServiceHostTest {
protected:
    std::string TokenTarget(const std::string& query) const
    {
        return std::string(AccountServer::MemberTokenPath) + "?" + query;
    }

    Reply InvokeAuth() { return Get(service_.AccountUrl(), TokenTarget("method=invoke_auth")); }

    // The password step's form line, as written (the values unescaped).
    static std::string AuthLine(const QString& token, const QString& login, const QString& password,
                                const QString& checksum)
    {
        return QStringLiteral("siteid=66895&authtoken=%1&uid=%2&pw=%3&type=json&chsm=%4")
            .arg(token, login, password, checksum)
            .toStdString();
    }

    static QString Chsm(const QString& token, const QString& login, const QString& password)
    {
        return Md5Hex("66895" + token + login + password + "jsonclientauth");
    }

    Reply Authenticate(const std::string& body)
    {
        return Post(service_.AccountUrl(), AccountServer::ClientAuthPath, body);
    }

    Reply Grant(const QString& otpw, const QString& clientId)
    {
        const QString query = QStringLiteral("method=grant_auth&otpw=%1&client_id=%2").arg(otpw, clientId);
        return Get(service_.AccountUrl(), TokenTarget(query.toStdString()));
    }

    QString Otpw()
    {
        const QString token = InvokeAuth().Text("authtoken");
        return Authenticate(AuthLine(token, Login, Password, Chsm(token, Login, Password))).Text("otpw");
    }

    Reply SignedGet(const QString& method, const QString& auth)
    {
        const FakeServiceOptions options;
        const QString sig = Md5Hex(options.apiSecret + options.apiKey + auth + method);
        const std::string target = "/api.php?api_sig=" + sig.toStdString() +
                                   "&api_key=" + options.apiKey.toStdString() + "&auth=" + auth.toStdString() +
                                   "&method=" + method.toStdString();
        return Get(service_.BaseUrl(), target);
    }

    Reply RequestAccess(const QString& accessToken) { return SignedGet(SignedApi::AccessMethod, accessToken); }

    // An agent-interface call made with the given key.
    Reply CallWith(const QString& key, const QString& checksum)
    {
        const QString body = QStringLiteral("access_key=%1&access_key_checksum=%2&agent_key=%3&agent_ver=1")
                                 .arg(key, checksum, AgentKey);
        return Post(service_.BaseUrl(), PathOf("getAgentInfo"), WireBody(body));
    }

    static QString Number(const QJsonObject& object, const char* name)
    {
        const QJsonValue value = object.value(QLatin1String(name));
        return value.isString() ? value.toString() : QString::number(value.toInteger());
    }
};

TEST_F(AccountServerTest, LoginStepsIssueAnAccessKeyThatTheAgentInterfaceAccepts)
{
    const Reply invoke = InvokeAuth();
    ASSERT_EQ(invoke.Text("result"), u"1") << invoke.body;
    const QString token = invoke.Text("authtoken");
    ASSERT_FALSE(token.isEmpty());

    // The form line may arrive as written or form encoded.
    const std::string line = AuthLine(token, Login, Password, Chsm(token, Login, Password));
    const Reply auth = Authenticate(WireBody(QString::fromStdString(line)));
    ASSERT_EQ(auth.Text("result"), u"1") << auth.body;
    const QString otpw = auth.Text("otpw");

    const FakeServiceOptions options;
    const Reply grant = Grant(otpw, options.apiKey);
    ASSERT_EQ(grant.Text("result"), u"1") << grant.body;
    EXPECT_EQ(grant.Text("uid"), UserId);
    const QString accessToken = grant.Text("access_token");
    EXPECT_EQ(State().Account(UserId)->memberToken, accessToken);

    State().SetClock(1000000);
    const Reply access = RequestAccess(accessToken);
    ASSERT_EQ(access.Text("ok"), u"true") << access.body;
    const QJsonObject rsp = access.json.value("rsp").toObject();
    EXPECT_EQ(rsp.value("status").toString(), u"1");
    EXPECT_EQ(rsp.value("sn").toString(), UserSn);
    const QJsonObject keyArray = rsp.value("access_key_arr").toObject();
    EXPECT_TRUE(keyArray.value("expire").isDouble());
    EXPECT_GT(keyArray.value("expire").toInteger(), 1000000);
    const QString key = keyArray.value("key").toString();
    const QString checksum = keyArray.value("checksum").toString();

    EXPECT_EQ(CallWith(key, checksum).Text("msg"), u"user agent not register");  // accepted
    EXPECT_EQ(CallWith(AccessKey, AccessChecksum).Text("msg"), u"access_key is invalid or expired");
    EXPECT_EQ(SignedGet(SignedApi::QuotaMethod, accessToken).Text("ok"), u"true");  // the token is the quota's auth
    EXPECT_EQ(RequestAccess(MemberToken).json.value("msg").toArray().at(0).toString(), u"1001010003");
}

TEST_F(AccountServerTest, ClientAuthenticationRefusals)
{
    State().SetClock(5000);
    const QString token = InvokeAuth().Text("authtoken");
    const QString good = Chsm(token, Login, Password);
    struct Case {
        const char* what;
        std::string body;
        const char* result;
    };
    const Case cases[] = {
        {"wrong password", AuthLine(token, Login, "nope", Chsm(token, Login, "nope")), "-93"},
        {"unknown login", AuthLine(token, "nobody", Password, Chsm(token, "nobody", Password)), "-93"},
        {"checksum over other text", AuthLine(token, Login, Password, Md5Hex("66895" + token + Login + Password)),
         "-92"},
        {"upper-case checksum", AuthLine(token, Login, Password, good.toUpper()), "-92"},
        {"unknown authtoken", AuthLine("t0", Login, Password, Chsm("t0", Login, Password)), "-95"},
        {"other site", "siteid=1&authtoken=" + token.toStdString() + "&uid=demo&pw=x&type=json&chsm=x", "-91"},
        {"no type", "siteid=66895&authtoken=" + token.toStdString() + "&uid=demo&pw=x&chsm=x", "-91"},
    };
    for (const Case& c : cases) {
        const Reply reply = Authenticate(c.body);
        EXPECT_EQ(reply.http, 200) << c.what;
        EXPECT_EQ(reply.Text("result"), QString::fromUtf8(c.result)) << c.what << ": " << reply.body;
        EXPECT_FALSE(reply.json.contains("otpw")) << c.what;
    }

    State().AdvanceClock(601);  // the authtoken has expired
    EXPECT_EQ(Authenticate(AuthLine(token, Login, Password, good)).Text("result"), u"-96");
    const QString fresh = InvokeAuth().Text("authtoken");
    EXPECT_EQ(Authenticate(AuthLine(fresh, Login, Password, Chsm(fresh, Login, Password))).Text("result"), u"1");
}

TEST_F(AccountServerTest, GrantRefusals)
{
    const FakeServiceOptions options;
    const QString otpw = Otpw();
    ASSERT_FALSE(otpw.isEmpty());
    EXPECT_EQ(Grant(otpw, "other-client").Text("result"), u"100002");
    EXPECT_EQ(Grant("unknown", options.apiKey).Text("result"), u"100012");
    EXPECT_EQ(Get(service_.AccountUrl(), TokenTarget("method=grant_auth&otpw=" + otpw.toStdString())).Text("result"),
              u"900001");

    FakeAccountSpec inactive;
    inactive.userId = "100002";
    inactive.userSn = "700002";
    inactive.login = "sleeper";
    inactive.password = "pw";
    inactive.serviceActivated = false;
    ASSERT_TRUE(State().AddAccount(inactive));
    const QString token = InvokeAuth().Text("authtoken");
    const QString sleeperOtpw =
        Authenticate(AuthLine(token, "sleeper", "pw", Chsm(token, "sleeper", "pw"))).Text("otpw");
    EXPECT_EQ(Grant(sleeperOtpw, options.apiKey).Text("result"), u"100014");

    EXPECT_EQ(Grant(otpw, options.apiKey).Text("result"), u"1");
}

TEST_F(AccountServerTest, SwitchesShapeTheReplies)
{
    const FakeServiceOptions options;
    FakeLoginOptions login;
    login.numericValues = true;
    service_.Accounts().SetOptions(login);
    const Reply invoke = InvokeAuth();
    EXPECT_TRUE(invoke.json.value("result").isDouble()) << invoke.body;
    EXPECT_EQ(Authenticate(AuthLine("t", Login, "x", "x")).json.value("result").toInteger(), -92);
    const Reply grant = Grant(Otpw(), options.apiKey);
    EXPECT_EQ(grant.json.value("result").toInteger(), 1);
    EXPECT_EQ(Number(grant.json, "uid"), UserId);
    const QString accessToken = grant.Text("access_token");

    struct Case {
        const char* what;
        QString FakeLoginOptions::*field;
        const char* value;
        std::function<Reply()> step;
    };
    const Case forced[] = {
        {"token step", &FakeLoginOptions::tokenResult, "-1", [&] { return InvokeAuth(); }},
        {"password step", &FakeLoginOptions::authResult, "-94",
         [&] { return Authenticate(AuthLine("t", Login, Password, "x")); }},
        {"grant step", &FakeLoginOptions::grantResult, "100014", [&] { return Grant("o", options.apiKey); }},
    };
    for (const Case& c : forced) {
        FakeLoginOptions switched;
        switched.*c.field = c.value;
        service_.Accounts().SetOptions(switched);
        EXPECT_EQ(c.step().Text("result"), QString::fromUtf8(c.value)) << c.what;
    }

    FakeLoginOptions refused;
    refused.accessStatus = "0";
    service_.Accounts().SetOptions(refused);
    const Reply denied = RequestAccess(accessToken);
    EXPECT_EQ(denied.Text("ok"), u"true");
    EXPECT_EQ(denied.json.value("rsp").toObject().value("status").toString(), u"0");
    EXPECT_FALSE(denied.json.value("rsp").toObject().contains("access_key_arr"));
    EXPECT_EQ(State().Account(UserId)->accessKey, AccessKey);  // nothing issued

    FakeLoginOptions expired;
    expired.expiredAccessKey = true;
    service_.Accounts().SetOptions(expired);
    State().SetClock(1000000);
    const QJsonObject rsp = RequestAccess(accessToken).json.value("rsp").toObject();
    const QJsonObject keyArray = rsp.value("access_key_arr").toObject();
    EXPECT_LT(keyArray.value("expire").toInteger(), 1000000);
    EXPECT_EQ(CallWith(keyArray.value("key").toString(), keyArray.value("checksum").toString()).Text("msg"),
              u"access_key is invalid or expired");

    service_.Accounts().SetOptions(FakeLoginOptions());
    service_.Faults().SetNext("invoke_auth", Fault::Delay(300ms));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InvokeAuth().Text("result"), u"1");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(AccountServerTest, DevLoginOnTheServiceBaseIssuesTheAccessKey)
{
    const QString otpw = Otpw();
    const FakeServiceOptions options;
    ASSERT_EQ(Grant(otpw, options.apiKey).Text("result"), u"1");  // the profile runs the grant first

    const std::string path = std::string(AccountServer::DevLoginPath) + "?";
    EXPECT_EQ(Get(service_.BaseUrl(), path + "nobody&" + otpw.toStdString()).Text("status"), u"0");
    EXPECT_EQ(Get(service_.BaseUrl(), path + Login.toStdString() + "&wrong").Text("status"), u"0");
    EXPECT_EQ(Get(service_.AccountUrl(), path + Login.toStdString() + "&" + otpw.toStdString()).http, 404);

    const Reply login = Get(service_.BaseUrl(), path + Login.toStdString() + "&" + otpw.toStdString());
    ASSERT_EQ(login.Text("status"), u"1") << login.body;
    EXPECT_EQ(login.Text("sn"), UserSn);
    const QJsonObject keyArray = login.json.value("access_key_arr").toObject();
    EXPECT_TRUE(keyArray.value("expire").isDouble());
    EXPECT_EQ(CallWith(keyArray.value("key").toString(), keyArray.value("checksum").toString()).Text("msg"),
              u"user agent not register");
    EXPECT_EQ(service_.CallCount("login2"), 3u);
}

}  // namespace
