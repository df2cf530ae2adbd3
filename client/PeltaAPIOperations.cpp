// The agent interface's operations: the URL and the body of each call.

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaRecSyncRequest.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/ProcessState.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/TimeHelpers.h"

#include <QStringList>

#include <utility>

namespace {

using Fields = std::vector<std::pair<QString, QString>>;

QString TrimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

QString TransferWord(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= TransferActionNames.size())
        return QString();
    return QString::fromLatin1(TransferActionNames[static_cast<std::size_t>(index)]);
}

QString ObjectWord(int objType)
{
    switch (objType) {
    case 1:
        return QStringLiteral("folder");
    case 3:
        return QStringLiteral("version");
    default:
        return QStringLiteral("file");
    }
}

QString ResultTypeWord(int resultType)
{
    switch (resultType) {
    case 2:
        return QStringLiteral("count");
    case 3:
        return QStringLiteral("journal");
    default:
        return QStringLiteral("all");
    }
}

QString Join(const Fields& fields)
{
    QStringList pairs;
    for (const auto& [key, value] : fields)
        pairs.append(key + u'=' + value);
    return pairs.join(u'&');
}

// The fields joined as a body; false (logged, body empty) when one of them
// would not reach the service intact.
bool JoinedBody(const char* operation, const Fields& fields, QString& body)
{
    QString problem;
    if (!PeltaAPI::FieldsTravelIntact(fields, problem)) {
        PeltaAPI::Log(QStringLiteral("PeltaAPI:%1:refused: the field %2 holds \"&\" (or its name \"=\"), which the "
                                     "service would split; nothing sent")
                          .arg(QLatin1String(operation), problem));
        body.clear();
        return false;
    }
    body = Join(fields);
    return true;
}

}  // namespace

QString PeltaAPI::SyncObjectType(int action)
{
    return action >= XSYNCFolderAdd && action <= XSYNCFolderGet ? QStringLiteral("folder") : QStringLiteral("file");
}

QString PeltaAPI::SyncActionWord(int action)
{
    switch (action) {
    case XSYNCFileMod:
        return QStringLiteral("edit");
    case XSYNCFolderMod:
        return QStringLiteral("mod");
    case XSYNCFileDel:
    case XSYNCFolderDel:
        return QStringLiteral("recycle");
    case XSYNCFileMove:
    case XSYNCFolderMove:
        return QStringLiteral("move");
    case XSYNCFileGet:
    case XSYNCFolderGet:
        return QStringLiteral("get");
    default:
        return QStringLiteral("add");
    }
}

QString PeltaAPI::SettingValue(const char* name) const
{
    const PeltaSyncAgentSetting* setting = setting_.load();
    return setting ? setting->Get(QLatin1String(name)) : QString();
}

QString PeltaAPI::MethodUrl(const QString& base, const char* key) const
{
    const QString path = std::as_const(ApiMethodMap).value(QLatin1String(key));
    return base + FormatText(path, {SettingValue("user_id"), UnixTimeNow()});
}

bool PeltaAPI::FieldBody(const char* operation, Fields fields, QString& body) const
{
    fields.insert(fields.begin(), {{QStringLiteral("access_key"), reg_->AccessKey()},
                                   {QStringLiteral("access_key_checksum"), reg_->AccessKeyChecksum()}});
    return JoinedBody(operation, fields, body);
}

bool PeltaAPI::MapBody(const char* operation, const XMap& params, QString& body) const
{
    // In key order, as EncodeParams writes them.
    return JoinedBody(operation, Fields(params.begin(), params.end()), body);
}

bool PeltaAPI::BuildSetAgentInfo(QString& url, QString& body)
{
    url = MethodUrl(ServiceUrl, "APIsetAgentInfo");
    return FieldBody("BuildSetAgentInfo",
                     {{QStringLiteral("agent_key"), SettingValue("agent_key")},
                      {QStringLiteral("my_base64_agent_name"), SettingValue("agent_name_base64")},
                      {QStringLiteral("sync_folder_md5sum"), SettingValue("sync_folder_md5sum")},
                      {QStringLiteral("agent_ver"), reg_->AgentVer()}},
                     body);
}

bool PeltaAPI::BuildGetAgentInfo(QString& url, QString& body)
{
    url = MethodUrl(ServiceUrl, "APIgetAgentInfo");
    return FieldBody("BuildGetAgentInfo",
                     {{QStringLiteral("agent_key"), SettingValue("agent_key")},
                      {QStringLiteral("agent_ver"), reg_->AgentVer()}},
                     body);
}

bool PeltaAPI::BuildGetMetadata(int objType, const QString& path, int recursive, bool recycle, QString& url,
                                QString& body)
{
    url = MethodUrl(ServiceUrl, "APIgetMetadata");
    return FieldBody("BuildGetMetadata",
                     {{QStringLiteral("obj_type"), ObjectWord(objType)},
                      {QStringLiteral("my_base64_full_path_name"), PathToBase64Url(path)},
                      {QStringLiteral("recursive"), QString::number(recursive)},
                      {QStringLiteral("recycle"), recycle ? QStringLiteral("1") : QStringLiteral("0")}},
                     body);
}

bool PeltaAPI::BuildSetSyncJournal(const PeltaRecSyncRequest& row, QString& url, QString& body)
{
    url = MethodUrl(ServiceUrl, "APIsetSyncJournal");
    const XMap params{{QStringLiteral("access_key"), reg_->AccessKey()},
                      {QStringLiteral("access_key_checksum"), reg_->AccessKeyChecksum()},
                      {QStringLiteral("action"), SyncActionWord(row.action)},
                      {QStringLiteral("agent_key"), SettingValue("agent_key")},
                      {QStringLiteral("obj_type"), SyncObjectType(row.action)},
                      {QStringLiteral("req_desc"), row.opt}};
    return MapBody("BuildSetSyncJournal", params, body);
}

bool PeltaAPI::BuildCommitSyncJournal(const PeltaRecSyncRequest& row, QString& url, QString& body)
{
    url = MethodUrl(ServiceUrl, "APIcommitSyncJournal");
    const XMap params{{QStringLiteral("access_key"), reg_->AccessKey()},
                      {QStringLiteral("access_key_checksum"), reg_->AccessKeyChecksum()},
                      {QStringLiteral("agent_key"), SettingValue("agent_key")},
                      {QStringLiteral("sync_journal_key"), row.sync_journal_key},
                      {QStringLiteral("sync_journal_key_checksum"), row.sync_journal_key_checksum}};
    return MapBody("BuildCommitSyncJournal", params, body);
}

bool PeltaAPI::BuildGetSyncJournal(const QString& lastCommitTime, int resultType, QString& url, QString& body)
{
    url = MethodUrl(ServiceUrl, "APIgetSyncJournal");
    const XMap params{{QStringLiteral("access_key"), reg_->AccessKey()},
                      {QStringLiteral("access_key_checksum"), reg_->AccessKeyChecksum()},
                      {QStringLiteral("last_commit_time"), lastCommitTime},
                      {QStringLiteral("result_type"), ResultTypeWord(resultType)}};
    return MapBody("BuildGetSyncJournal", params, body);
}

bool PeltaAPI::BuildGetFileCheck(const PeltaRecSyncRequest& row, QString& url, QString& body)
{
    url = MethodUrl(ServiceUrl, "APIgetFileCheck");
    QString path = row.path;
    path.replace(u'\\', u'/');
    const XMap params{{QStringLiteral("access_key"), reg_->AccessKey()},
                      {QStringLiteral("access_key_checksum"), reg_->AccessKeyChecksum()},
                      {QStringLiteral("agent_key"), SettingValue("agent_key")},
                      {QStringLiteral("my_base64_full_path_name"), PathToBase64Url(path)}};
    return MapBody("BuildGetFileCheck", params, body);
}

void PeltaAPI::SetUploadKeyFields(const PeltaRecSyncRequest& row, XMap& fields) const
{
    fields[QStringLiteral("access_key")] = reg_->AccessKey();
    fields[QStringLiteral("access_key_checksum")] = reg_->AccessKeyChecksum();
    fields[QStringLiteral("sync_journal_key")] = row.sync_journal_key;
    fields[QStringLiteral("sync_journal_key_checksum")] = row.sync_journal_key_checksum;
}

QString PeltaAPI::BuildPostFile(const PeltaRecSyncRequest& row, XMap& fields)
{
    SetUploadKeyFields(row, fields);
    return MethodUrl(UploadUrl, "APIpostFile");
}

QString PeltaAPI::BuildPostFile2(const PeltaRecSyncRequest& row, int actionIndex, XMap& fields)
{
    SetUploadKeyFields(row, fields);
    fields[QStringLiteral("action")] = TransferWord(actionIndex);
    return MethodUrl(UploadUrl, "APIpostFile2");
}

QString PeltaAPI::BuildPutFile(const PeltaRecSyncRequest& row, int actionIndex)
{
    const QString path = TrimControls(std::as_const(ApiMethodMap).value(QStringLiteral("APIputFile")));
    return UploadUrl + FormatText(path, {SettingValue("user_id")})
           + FormatText(QStringLiteral("%s&%s&%s&%s&%s"),
                        {TransferWord(actionIndex), reg_->AccessKey(), reg_->AccessKeyChecksum(), row.sync_journal_key,
                         row.sync_journal_key_checksum});
}
