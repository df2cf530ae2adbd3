#include "sync/threads/QuotaCheck.h"

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/EngineNotices.h"
#include "sync/engine/PeltaSync.h"

#include <utility>

QuotaCheck::QuotaCheck(PeltaSync& engine, QString who, Options options)
    : engine_(engine),
      who_(std::move(who)),
      options_(options),
      retry_(options.firstRetry, options.retryCap)
{
}

bool QuotaCheck::Due() const
{
    if (!retry_.IsDue())
        return false;
    const SteadyTime checked = QuotaCheckTime.load();
    return checked == SteadyTime{} || SteadyClock::now() - checked > options_.interval;
}

bool QuotaCheck::Run()
{
    if (ServerProfile == QLatin1String("DEV")) {
        PeltaSync::Log(QStringLiteral("No Quota Query in DEV mode"), LogGeneral);
        return true;
    }
    const QString head = who_ + QStringLiteral(":Check Quota");
    const QString token = engine_.Settings()->Get(QStringLiteral("member_access_token"));
    const auto notices = EngineNotices::Installed();
    if (token.isEmpty()) {
        Failed(QStringLiteral("token=null, relogin"));
        if (notices)
            notices->Relogin();
        return true;
    }
    QString message;
    switch (engine_.Api().RefreshQuota(token, message)) {
    case PeltaAPI::QuotaResult::Stored:
    case PeltaAPI::QuotaResult::Skipped:
        retry_.Succeeded();
        QuotaCheckTime = SteadyClock::now();
        PeltaSync::Log(head + QString::asprintf("(GB):%.02f / %.02f", double(QuotaUsed.load()) / 1024,
                                                double(QuotaTotal.load()) / 1024),
                       LogGeneral);
        if (notices)
            notices->UpdateQuotaMenu();
        return true;
    case PeltaAPI::QuotaResult::LoginNeeded:
        Failed(head + QStringLiteral("ErrorCode(") + message + QLatin1Char(')'));
        if (notices)
            notices->Relogin();
        return false;
    case PeltaAPI::QuotaResult::Failed:
        break;
    }
    Failed(head + QStringLiteral(":Fail"));
    return true;
}

void QuotaCheck::Failed(const QString& text)
{
    const RetryDelay::Duration wait = retry_.Failed();
    PeltaSync::Log(text + QStringLiteral(", next query in ") + QString::number(wait.count()) + QStringLiteral(" ms"),
                   LogGeneral);
}
