#include "client/PeltaLoginThread.h"
#include "client/XApLogin.h"
#include "foundation/ProcessState.h"
#include "foundation/text/Xi18n.h"
#include "tests/client/ServiceFixture.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <chrono>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Report {
    int code;
    QString message;
    bool operator==(const Report&) const = default;
};

void PrintTo(const Report& report, std::ostream* os)
{
    *os << report.code << " \"" << report.message.toStdString() << '"';
}

class XApLoginTest : public ServiceFixture {
protected:
    void SetUp() override
    {
        ServiceFixture::SetUp();
        login_.SetAccountUrls(QString::fromStdString(service_.MemberTokenUrl()),
                              QString::fromStdString(service_.ClientAuthUrl()));
        login_.SetStore(&setting_);
        login_.SetFacade(reg_.get());
        login_.SetCredentials(QStringLiteral("demo"), QStringLiteral("secret"));
        login_.SetCallback([this](int code, const QString& message) {
            std::lock_guard<std::mutex> guard(mutex_);
            reports_.push_back({code, message});
        });
        setting_.Set(QStringLiteral("user_id"), QString());
        setting_.Set(QStringLiteral("user_sn"), QString());
    }

    void TearDown() override
    {
        ServerProfile = QStringLiteral("RELEASE");
        ServiceFixture::TearDown();
    }

    std::vector<Report> Reports()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return reports_;
    }

    XApLogin login_;
    std::mutex mutex_;
    std::vector<Report> reports_;
};

QString T(XText text)
{
    return Xi18n::Text(text);
}

TEST_F(XApLoginTest, SuccessStoresTheAccountAndTheKey)
{
    const QString oldKey = reg_->AccessKey();
    EXPECT_TRUE(login_.Login());
    EXPECT_EQ(Reports(), (std::vector<Report>{{1, {}}, {2, {}}, {5, {}}}));
    EXPECT_EQ(setting_.Get(QStringLiteral("user_id")), UserId);
    EXPECT_EQ(setting_.Get(QStringLiteral("user_sn")), UserSn);
    EXPECT_FALSE(setting_.Get(QStringLiteral("member_access_token")).isEmpty());
    EXPECT_NE(reg_->AccessKey(), oldKey);
    EXPECT_EQ(reg_->AccessKey(), login_.Key());
    EXPECT_EQ(reg_->CachedLogin(), QStringLiteral("demo"));
    EXPECT_EQ(service_.CallCount("PCAgentRequestAccess"), 1u);
    EXPECT_EQ(service_.CallCount("login2"), 0u);
}

TEST_F(XApLoginTest, DevProfileUsesTheDevelopmentLogin)
{
    ServerProfile = QStringLiteral("DEV");
    EXPECT_TRUE(login_.Login());
    EXPECT_EQ(Reports().back(), (Report{5, {}}));
    EXPECT_EQ(service_.CallCount("login2"), 1u);
    EXPECT_EQ(service_.CallCount("PCAgentRequestAccess"), 0u);
    EXPECT_EQ(setting_.Get(QStringLiteral("user_sn")), UserSn);
    EXPECT_EQ(reg_->AccessKey(), login_.Key());
}

// Each step's refusals, as the account server and the service send them.
struct RefusalCase {
    const char* name;
    bool dev;
    FakeLoginOptions options;
    Report last;
    int reports;  // how many reports in all
};

class XApLoginRefusalTest : public XApLoginTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(XApLoginRefusalTest, ReportsTheCodeAndText)
{
    const RefusalCase& c = GetParam();
    if (c.dev)
        ServerProfile = QStringLiteral("DEV");
    service_.Accounts().SetOptions(c.options);
    const QString oldKey = reg_->AccessKey();
    EXPECT_FALSE(login_.Login());
    const std::vector<Report> reports = Reports();
    ASSERT_EQ(static_cast<int>(reports.size()), c.reports);
    EXPECT_EQ(reports.back(), c.last);
    EXPECT_EQ(reg_->AccessKey(), oldKey) << "a failed login must keep the old key";
}

FakeLoginOptions With(QString FakeLoginOptions::*field, const char* value, bool numeric = false)
{
    FakeLoginOptions options;
    options.*field = QString::fromLatin1(value);
    options.numericValues = numeric;
    return options;
}

FakeLoginOptions ExpiredKey()
{
    FakeLoginOptions options;
    options.expiredAccessKey = true;
    return options;
}

const RefusalCase RefusalCases[] = {
    {"token", false, With(&FakeLoginOptions::tokenResult, "0"), {8, T(XText::_ML0401)}, 2},
    {"wrongPassword", false, With(&FakeLoginOptions::authResult, "-93"), {6, T(XText::_MBR93)}, 3},
    {"ipRefused", false, With(&FakeLoginOptions::authResult, "-94", true), {8, T(XText::_MBR94) + "(-94)"}, 3},
    {"unknownAuthCode", false, With(&FakeLoginOptions::authResult, "-97"), {8, T(XText::_MBR00) + "(-97)"}, 3},
    {"authCodeNoNumber", false, With(&FakeLoginOptions::authResult, "abc"), {8, T(XText::_MBR00) + "(-1)"}, 3},
    {"notActivated", false, With(&FakeLoginOptions::grantResult, "100014"), {7, T(XText::_MY100014)}, 3},
    {"clientId", false, With(&FakeLoginOptions::grantResult, "100002", true), {8, T(XText::_MY100002)}, 3},
    {"grantInput", false, With(&FakeLoginOptions::grantResult, "900001"), {8, T(XText::_MY900001)}, 3},
    {"grantOther", false, With(&FakeLoginOptions::grantResult, "5"), {8, T(XText::_MY000000)}, 3},
    {"accessRefused", false, With(&FakeLoginOptions::accessStatus, "0"), {8, QStringLiteral("access not granted")}, 3},
    {"accessKeyExpired", false, ExpiredKey(), {8, T(XText::_MY000000)}, 3},
    {"devRefused", true, With(&FakeLoginOptions::accessStatus, "0"), {8, T(XText::_MY000000)}, 3},
    {"devKeyExpired", true, ExpiredKey(), {8, T(XText::_MY000000)}, 3},
};

INSTANTIATE_TEST_SUITE_P(Steps, XApLoginRefusalTest, ::testing::ValuesIn(RefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(XApLoginTest, WrongPasswordAndNumericRepliesTravelAsOnTheWire)
{
    FakeLoginOptions numeric;
    numeric.numericValues = true;
    service_.Accounts().SetOptions(numeric);
    EXPECT_TRUE(login_.Login());
    EXPECT_EQ(setting_.Get(QStringLiteral("user_id")), UserId);

    reports_.clear();
    login_.SetCredentials(QStringLiteral("demo"), QStringLiteral("wrong"));
    EXPECT_FALSE(login_.Login());
    EXPECT_EQ(Reports().back(), (Report{6, T(XText::_MBR93)}));
}

TEST_F(XApLoginTest, PasswordWithFormSeparatorsLogsIn)
{
    FakeAccountSpec account;
    account.userId = QStringLiteral("100002");
    account.userSn = QStringLiteral("700002");
    account.login = QStringLiteral("odd");
    account.password = QStringLiteral("p&ss=w%rd +\u00E9");
    ASSERT_TRUE(service_.State().AddAccount(account));
    login_.SetCredentials(account.login, account.password);
    EXPECT_TRUE(login_.Login()) << ::testing::PrintToString(Reports());
    EXPECT_EQ(setting_.Get(QStringLiteral("user_sn")), account.userSn);
}

TEST_F(XApLoginTest, TimeOutAndDroppedReplyReportAFailureWithoutText)
{
    login_.SetReadTimeout(300ms);
    service_.Faults().SetNext("invoke_auth", Fault::Timeout(2s));
    EXPECT_FALSE(login_.Login());
    EXPECT_EQ(Reports(), (std::vector<Report>{{1, {}}, {8, {}}}));

    reports_.clear();
    service_.Faults().SetNext("grant_auth", Fault::Http500());
    EXPECT_FALSE(login_.Login());
    EXPECT_EQ(Reports().back(), (Report{8, {}}));
    EXPECT_TRUE(TakeLog().contains(QStringLiteral("Exception, ")));
}

TEST_F(XApLoginTest, ExitBetweenStepsEndsWithoutReport)
{
    login_.SetCallback([this](int code, const QString& message) {
        reports_.push_back({code, message});
        if (code == 2)
            AppState = XAPPExit;
    });
    EXPECT_FALSE(login_.Login());
    EXPECT_EQ(Reports(), (std::vector<Report>{{1, {}}, {2, {}}}));
    EXPECT_EQ(service_.CallCount("ClientAuthentication"), 0u);
}

TEST_F(XApLoginTest, NoSecretReachesTheLog)
{
    TakeLog();
    const QString password = QStringLiteral("Sup3rSecretPw");
    FakeAccountSpec account;
    account.userId = QStringLiteral("100003");
    account.userSn = QStringLiteral("700003");
    account.login = QStringLiteral("logged");
    account.password = password;
    ASSERT_TRUE(service_.State().AddAccount(account));
    login_.SetCredentials(account.login, password);
    ASSERT_TRUE(login_.Login());

    const QString log = TakeLog();
    ASSERT_TRUE(log.contains(QStringLiteral("PostData:")));
    ASSERT_TRUE(log.contains(QStringLiteral("grant_auth")));
    const QStringList secrets = {password, ApiKey, ApiSecret, reg_->AccessKey(), reg_->AccessKeyChecksum(),
                                 setting_.Get(QStringLiteral("member_access_token"))};
    for (const QString& secret : secrets) {
        ASSERT_FALSE(secret.isEmpty());
        EXPECT_FALSE(log.contains(secret)) << secret.toStdString();
    }
    // The one-time values appear only masked.
    for (const char* name : {"otpw", "authtoken", "access_token", "chsm"}) {
        const QString withValue = QString::fromLatin1(name) + QStringLiteral("\":\"");
        const QString inQuery = QString::fromLatin1(name) + u'=';
        for (const QString& marker : {withValue, inQuery}) {
            for (qsizetype at = log.indexOf(marker); at >= 0; at = log.indexOf(marker, at + 1))
                EXPECT_EQ(log.mid(at + marker.size(), 3), QStringLiteral("***")) << log.mid(at, 60).toStdString();
        }
    }
}

TEST(XApLoginChecksumTest, MatchesTheAccountServersDigest)
{
    EXPECT_EQ(XApLogin::Checksum(QStringLiteral("tok123"), QStringLiteral("demo"), QStringLiteral("secret")),
              QStringLiteral("b4ac7f034757a9bd168b3249ffe098f4"));
    EXPECT_EQ(XApLogin::ClientAuthBody(QStringLiteral("t"), QStringLiteral("a&b"), QStringLiteral("=x y")),
              QByteArray("siteid=66895&authtoken=t&uid=a%26b&pw=%3Dx%20y&type=json&chsm=")
                  + XApLogin::Checksum(QStringLiteral("t"), QStringLiteral("a&b"), QStringLiteral("=x y")).toLatin1());
}

// ---- The login thread ---------------------------------------------------------------

class PeltaLoginThreadTest : public XApLoginTest {
protected:
    PeltaLoginThread::Credentials Credentials()
    {
        PeltaLoginThread::Credentials credentials;
        credentials.login = QStringLiteral("demo");
        credentials.password = QStringLiteral("secret");
        credentials.store = &setting_;
        credentials.facade = reg_.get();
        credentials.callback = [this](int code, const QString& message) {
            std::lock_guard<std::mutex> guard(mutex_);
            reports_.push_back({code, message});
        };
        return credentials;
    }
};

TEST_F(PeltaLoginThreadTest, OneRunPerRequestAndNoneWhileBusy)
{
    evtTryLogin.Reset();
    PeltaLoginThread thread(&login_);
    ASSERT_TRUE(thread.Start());
    service_.Faults().SetNext("invoke_auth", Fault::Delay(300ms));

    EXPECT_TRUE(thread.RequestLogin(Credentials()));
    EXPECT_TRUE(thread.Busy());
    EXPECT_FALSE(thread.RequestLogin(Credentials()));
    EXPECT_FALSE(thread.RequestLogin(Credentials()));
    ASSERT_TRUE(WaitUntil([&] { return !thread.Busy(); }));
    EXPECT_EQ(thread.Runs(), 1);
    EXPECT_EQ(service_.CallCount("invoke_auth"), 1u);
    EXPECT_EQ(Reports().back(), (Report{5, {}}));

    EXPECT_TRUE(thread.RequestLogin(Credentials()));
    ASSERT_TRUE(WaitUntil([&] { return thread.Runs() == 2 && !thread.Busy(); }));
    EXPECT_EQ(service_.CallCount("invoke_auth"), 2u);
}

TEST_F(PeltaLoginThreadTest, TerminateEndsAWaitingThreadWithoutARun)
{
    evtTryLogin.Reset();
    PeltaLoginThread thread(&login_);
    ASSERT_TRUE(thread.Start());
    const auto before = std::chrono::steady_clock::now();
    thread.Terminate();
    thread.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(thread.Runs(), 0);
    EXPECT_FALSE(thread.RequestLogin(Credentials()));
    EXPECT_EQ(service_.CallCount("invoke_auth"), 0u);
}

}  // namespace
