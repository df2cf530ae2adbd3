// The signed API: the signature, the quota query and what the callers get
// from it.

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "tests/client/ScriptedHttpServer.h"
#include "tests/client/ServiceFixture.h"

#include <gtest/gtest.h>

namespace {

class PeltaAPISignedTest : public ServiceFixture {};

TEST_F(PeltaAPISignedTest, SignatureIsTheMd5OfSecretKeyAuthAndMethod)
{
    const QString secret = QStringLiteral("8301746925");
    const QString key = QStringLiteral("5d41402abc4b2a76b9719d911017c592");
    const QString method = PeltaAPI::QuotaMethod;
    EXPECT_EQ(PeltaAPI::ApiSignature(secret, key, QStringLiteral("T"), method),
              QStringLiteral("a4915e4eff835fbb7cb19fc931722942"));
    // A character outside ASCII counts as "?".
    EXPECT_EQ(PeltaAPI::ApiSignature(secret, key, QStringLiteral("T\u00F6"), method),
              QStringLiteral("c785574a6d2ec5d422fdffc85bb8a438"));
    EXPECT_NE(PeltaAPI::ApiSignature(key, secret, QStringLiteral("T"), method),
              PeltaAPI::ApiSignature(secret, key, QStringLiteral("T"), method));
}

TEST_F(PeltaAPISignedTest, QuotaIsStored)
{
    service_.State().SetQuotaTotal(UserId, std::int64_t(2) << 30);
    QString message;
    EXPECT_EQ(api_->RefreshQuota(MemberToken, message), PeltaAPI::QuotaResult::Stored);
    EXPECT_EQ(message, QString());
    EXPECT_FLOAT_EQ(QuotaTotal.load(), 2048.0f);
    EXPECT_FLOAT_EQ(QuotaUsed.load(), 0.0f);
    EXPECT_FLOAT_EQ(QuotaMaxFileSize.load(), 4096.0f);
    EXPECT_EQ(NetFailCount.load(), 0);
}

TEST_F(PeltaAPISignedTest, TokenFailuresAskForANewLogin)
{
    service_.State().SetMemberToken(UserId, QStringLiteral("old-token"), 1000);
    const struct {
        const char* token;
        std::optional<Fault> fault;
        PeltaAPI::QuotaResult result;
        const char* message;
    } cases[] = {
        {"unknown-token", std::nullopt, PeltaAPI::QuotaResult::LoginNeeded, "1001010003"},
        {"old-token", std::nullopt, PeltaAPI::QuotaResult::LoginNeeded, "1001010004"},
        {"old-token", Fault::Message(QStringLiteral("1001010009")), PeltaAPI::QuotaResult::Failed, "1001010009"},
        {"old-token", Fault::Http500(), PeltaAPI::QuotaResult::Failed, ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.message);
        if (row.fault)
            service_.Faults().SetNext("getQuota", *row.fault);
        QString message;
        EXPECT_EQ(api_->RefreshQuota(QString::fromLatin1(row.token), message), row.result);
        EXPECT_EQ(message, QLatin1String(row.message));
        EXPECT_FLOAT_EQ(QuotaTotal.load(), 0.0f);
    }
}

TEST_F(PeltaAPISignedTest, NoQuotaQueryInTheDevProfile)
{
    ServerProfile = QStringLiteral("DEV");
    QString message;
    EXPECT_EQ(api_->RefreshQuota(MemberToken, message), PeltaAPI::QuotaResult::Skipped);
    EXPECT_TRUE(service_.Calls().empty());
}

TEST_F(PeltaAPISignedTest, EmptyTokenStillSendsAuth)
{
    double total = 0;
    double used = 0;
    double maxFileSize = 0;
    QString message;
    EXPECT_FALSE(api_->GetQuota(QString(), total, used, maxFileSize, message));
    ASSERT_EQ(service_.Calls().size(), 1u);
    const FakeCall call = service_.Calls().front();
    EXPECT_EQ(call.httpMethod, "POST");
    EXPECT_NE(call.target.find("&auth=&method=pelta.mirdo.private.getQuota"), std::string::npos) << call.target;
    EXPECT_EQ(message, QStringLiteral("1001010003"));
}

TEST_F(PeltaAPISignedTest, ReadsOnlyWellFormedReplies)
{
    const struct {
        const char* reply;
        bool ok;
        double total;
        double used;
        double maxFileSize;
        const char* message;
        bool exceptionLogged;
    } cases[] = {
        {R"({"ok":"true","rsp":{"total":"100","used":"25.5","max_fs":2048}})", true, 100, 25.5, 2048, "", false},
        {R"({"ok":"true","rsp":{"total":"lots","used":"1","max_fs":"2"}})", false, 0, 0, 0, "", true},
        {R"({"ok":"true","rsp":{"total":"1","used":"1"}})", false, 0, 0, 0, "", true},
        {R"({"ok":"false","msg":["1001010002","invalid api_sig"]})", false, 0, 0, 0, "1001010002", false},
        {R"({"ok":"false","msg":["1001010002"]})", false, 0, 0, 0, "", false},
        {R"({"ok":"false","msg":["a","b","c"]})", false, 0, 0, 0, "", false},
        {"<html>gateway</html>", false, 0, 0, 0, "", false},
    };
    ScriptedHttpServer scripted;
    SignedApiUrl = QString::fromLatin1(scripted.BaseUrl()) + QStringLiteral("/api.php");
    for (const auto& row : cases) {
        SCOPED_TRACE(row.reply);
        scripted.Push({200, QByteArray(row.reply)});
        TakeLog();
        double total = 0;
        double used = 0;
        double maxFileSize = 0;
        QString message = QStringLiteral("stale");
        EXPECT_EQ(api_->GetQuota(MemberToken, total, used, maxFileSize, message), row.ok);
        EXPECT_EQ(message, QLatin1String(row.message));
        if (row.ok) {
            EXPECT_DOUBLE_EQ(total, row.total);
            EXPECT_DOUBLE_EQ(used, row.used);
            EXPECT_DOUBLE_EQ(maxFileSize, row.maxFileSize);
        }
        EXPECT_EQ(TakeLog().contains(QLatin1String("PeltaSync::GetQuota::Exception")), row.exceptionLogged);
    }
}

}  // namespace
