// What the service client writes to the process log: the debug listings,
// and never a secret.

#include "client/PeltaAPI.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/ProcessState.h"
#include "tests/client/ServiceFixture.h"

#include <gtest/gtest.h>

namespace {

class PeltaAPILogTest : public ServiceFixture {};

TEST_F(PeltaAPILogTest, ListsARequestBodyInDebugMode)
{
    const QString body = QStringLiteral("access_key=K&my_base64_full_path_name=") + PathToBase64Url(QStringLiteral("\\a b"))
                         + QStringLiteral("&req_desc={\"size\":\"3\",\"my_base64_orig_full_path_name\":\"")
                         + PathToBase64Url(QStringLiteral("\\c")) + QStringLiteral("\"}&&loose");
    PeltaAPI::LogRequestBody(body);
    EXPECT_EQ(TakeLog(), QString());

    DebugMode = true;
    PeltaAPI::LogRequestBody(body);
    const QString log = TakeLog();
    const QString expected = QStringLiteral("  01:access_key=***\n"
                                            "  02:my_base64_full_path_name=L2EgYg==  (/a b)\n"
                                            "  03:req_desc\n"
                                            "    1:my_base64_orig_full_path_name=L2M=  (/c)\n"
                                            "    2:size=3\n"
                                            "  04:loose\n\n");
    EXPECT_TRUE(log.contains(expected)) << log.toStdString();
}

TEST_F(PeltaAPILogTest, SecretsNeverReachTheLog)
{
    DebugMode = true;
    RegisterAgent();
    QString url;
    QString body;
    QString out;
    ASSERT_TRUE(api_->BuildSetAgentInfo(url, body));
    EXPECT_TRUE(api_->CallAgentAPI(url, body, true, out));

    PeltaRecSyncRequest row;
    row.action = XSYNCFolderAdd;
    row.opt = PeltaJSON::MapToJson({{QStringLiteral("local_mtime"), QStringLiteral("1")},
                                    {QStringLiteral("my_base64_full_path_name"), PathToBase64Url(QStringLiteral("\\n"))},
                                    {QStringLiteral("size"), QStringLiteral("0")}});
    ASSERT_TRUE(api_->BuildSetSyncJournal(row, url, body));
    ASSERT_TRUE(api_->CallAgentAPI(url, body, true, out));
    const XMap key = PeltaJSON::ObjectToMap(PeltaJSON::ParseFindObject(out, QStringLiteral("sync_journal")));
    row.sync_journal_key = key.at(QStringLiteral("key"));
    row.sync_journal_key_checksum = key.at(QStringLiteral("checksum"));
    ASSERT_TRUE(api_->BuildCommitSyncJournal(row, url, body));
    service_.Faults().SetNext("commitSyncJournal", Fault::Http500());  // a failure dumps the request
    EXPECT_FALSE(api_->CallAgentAPI(url, body, true, out));
    api_->LogParamMap({{QStringLiteral("access_key"), AccessKey}, {QStringLiteral("pw"), QStringLiteral("hunter2")}});

    QString message;
    EXPECT_EQ(api_->RefreshQuota(MemberToken, message), PeltaAPI::QuotaResult::Stored);

    const QString log = TakeLog();
    EXPECT_TRUE(log.contains(QLatin1String("access_key=***"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("Request Header"))) << log.toStdString();
    const QString signature = PeltaAPI::ApiSignature(ApiSecret, ApiKey, MemberToken, PeltaAPI::QuotaMethod);
    for (const QString& secret : {AccessKey, AccessChecksum, row.sync_journal_key_checksum, ApiSecret, signature,
                                  MemberToken, QStringLiteral("hunter2")})
        EXPECT_FALSE(log.contains(secret)) << secret.toStdString() << "\n" << log.toStdString();
}

}  // namespace
