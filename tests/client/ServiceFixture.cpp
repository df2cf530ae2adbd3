#include "tests/client/ServiceFixture.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/ProcessState.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/TimeHelpers.h"

#include <QDir>

void ServiceFixture::SetUp()
{
    ASSERT_TRUE(service_.IsRunning());
    ASSERT_TRUE(dir_.isValid());
    env_.Set("TESSARON_HOME", dir_.filePath(QStringLiteral("data")).toStdString());
    env_.UseHomeIn(dir_.path().toStdString());

    ASSERT_TRUE(service_.State().AddAccount(TestAccount::Spec()));

    reg_ = std::make_unique<PeltaReg>(*store_);
    ASSERT_TRUE(reg_->SetAccessKey(AccessKey, UnixTimeNow() + 3600, AccessChecksum));
    setting_.Set(QStringLiteral("user_id"), UserId);
    setting_.Set(QStringLiteral("user_sn"), UserSn);
    setting_.Set(QStringLiteral("agent_key"), AgentKey);
    setting_.Set(QStringLiteral("agent_name_base64"), QStringLiteral("bGFwdG9w"));
    setting_.Set(QStringLiteral("sync_folder_md5sum"), FolderMd5);

    ServerProfile = QStringLiteral("RELEASE");
    ServiceUrl = QString::fromStdString(service_.BaseUrl());
    UploadUrl = QString::fromStdString(service_.UploadUrl());
    ApiKey = ProgramApiKey;
    ApiSecret = ProgramApiSecret;
    ApiMethodMap.clear();
    PeltaReg::FillApiMethodMap(ApiMethodMap);
    SignedApiUrl = QString::fromStdString(service_.ApiUrl());
    AppState = XAPPOnline;
    NetFailCount = 0;
    DebugMode = false;
    savedLogMask_ = LogMask;
    LogMask = 0x7FFFFFFF;
    TakeLog();

    api_ = std::make_unique<PeltaAPI>(reg_.get(), &setting_);
}

void ServiceFixture::TearDown()
{
    api_.reset();
    AppState = XAPPOnline;
    NetFailCount = 0;
    DebugMode = false;
    LogMask = savedLogMask_;
    QuotaTotal = 0;
    QuotaUsed = 0;
    QuotaMaxFileSize = 0;
}

void ServiceFixture::RegisterAgent()
{
    service_.State().RegisterAgent(UserId, FakeAgent{AgentKey, QStringLiteral("bGFwdG9w"), FolderMd5,
                                                     reg_->AgentVer()});
}

QString ServiceFixture::MethodUrl(const char* key) const
{
    return ServiceUrl + FormatText(ApiMethodMap.value(QLatin1String(key)), {UserId, UnixTimeNow()});
}

QString ServiceFixture::TakeLog()
{
    return AppLog.TakeBuffer();
}
