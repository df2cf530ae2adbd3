#include "shell/control/AgentService.h"

#include "client/PeltaAPI.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/PeltaJSON.h"
#include "foundation/text/TimeHelpers.h"

const QString AgentService::NotRegisteredMessage = QStringLiteral("user agent not register");

AgentService::AgentService(PeltaAPI& api, PeltaReg& reg, PeltaSyncAgentSetting& settings)
    : api_(api), reg_(reg), settings_(settings)
{
}

bool AgentService::GetAgentSetting(PeltaSyncAgentSetting& target, QString& message)
{
    QString url;
    QString body;
    QString reply;
    if (api_.BuildGetAgentInfo(url, body) && api_.CallAgentAPI(url, body, true, reply)) {
        message = reply;
        PeltaJSON::JsonToSetting(reply, target);
        QString status;
        return PeltaJSON::CheckStatus(reply, status);
    }
    if (reply == NotRegisteredMessage && SetAgentSetting())
        return true;
    reg_.bound = false;
    AppLog.Write(QStringLiteral("[getAgentSetting][FAIL]") + reply, LogGeneral);
    message = reply;
    return false;
}

bool AgentService::SetAgentSetting()
{
    QString url;
    QString body;
    QString reply;
    if (!api_.BuildSetAgentInfo(url, body) || !api_.CallAgentAPI(url, body, true, reply)) {
        AppLog.Write(QStringLiteral("[setAgentSetting][FAIL]") + reply, LogGeneral);
        return false;
    }
    PeltaJSON::JsonToSetting(reply, settings_);
    settings_.Set(QStringLiteral("setting_time"), QString::number(UnixTimeNow()));
    reg_.SaveSettings(settings_);
    return true;
}

AgentService::Check AgentService::CheckAgent()
{
    PeltaSyncAgentSetting service;
    Check check;
    if (GetAgentSetting(service, check.message)) {
        check.result = Check::Verified;
        check.agentKey = service.Get(QStringLiteral("agent_key"));
        check.folderMd5 = service.Get(QStringLiteral("sync_folder_md5sum"));
        return check;
    }
    check.result = check.message == NotRegisteredMessage ? Check::NotRegistered : Check::Failed;
    return check;
}

bool AgentService::GetMetadata(const QString& path, int recursive, bool recycle, QString& reply)
{
    QString url;
    QString body;
    if (!api_.BuildGetMetadata(1, path, recursive, recycle, url, body))
        return false;
    return api_.CallAgentAPI(url, body, true, reply, PeltaAPI::CallEffect::OnlyReads);
}
