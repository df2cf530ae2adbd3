#include "fakeservice/AgentInterface.h"

#include "fakeservice/DownloadHost.h"
#include "fakeservice/FakeMessages.h"
#include "fakeservice/JsonReply.h"
#include "fakeservice/NamedEntry.h"
#include "fakeservice/ServicePath.h"

#include <QJsonArray>

#include <optional>
#include <utility>

namespace {

const QString AccessKeyField = QStringLiteral("access_key");
const QString AccessKeyChecksumField = QStringLiteral("access_key_checksum");
const QString PathField = QStringLiteral("my_base64_full_path_name");

std::string MissingReply(const QString& name)
{
    return JsonReply::Error(QString::fromUtf8(FakeMessages::MissingField) + name);
}

QString Number(std::int64_t value)
{
    return QString::number(value);
}

QJsonObject MetadataEntry(const FakeItem& item, const QString& userSn)
{
    return QJsonObject{
        {QStringLiteral("key"), item.key},
        {QStringLiteral("path"), ServicePath::Parent(item.path)},
        {QStringLiteral("name"), ServicePath::Name(item.path)},
        {QStringLiteral("parent"), item.parentKey},
        {QStringLiteral("sn"), userSn},
        {QStringLiteral("version"), Number(item.version)},
        {QStringLiteral("local_mtime"), Number(item.localMtime)},
        {QStringLiteral("size"), Number(item.size)},
    };
}

QJsonArray MetadataArray(const std::vector<FakeItem>& items, const QString& userSn)
{
    QJsonArray array;
    for (const FakeItem& item : items)
        array.append(MetadataEntry(item, userSn));
    return array;
}

QJsonObject CommitDesc(const FakeJournalEntry& entry)
{
    QJsonObject desc{{QStringLiteral("status"), entry.status}, {QStringLiteral("version"), entry.version}};
    if (entry.action == u"move") {
        desc.insert(QStringLiteral("my_base64_orig_full_path_name"), ServicePath::ToWire(entry.origPath));
        desc.insert(QStringLiteral("my_base64_dest_full_path_name"), ServicePath::ToWire(entry.destPath));
    } else {
        desc.insert(QStringLiteral("my_base64_full_path_name"), ServicePath::ToWire(entry.path));
    }
    return desc;
}

QJsonObject JournalEntry(const FakeJournalEntry& entry)
{
    return QJsonObject{
        {QStringLiteral("agent_key"), entry.agentKey},
        {QStringLiteral("commit_time"), entry.commitTime},
        {QStringLiteral("obj_type"), entry.objType},
        {QStringLiteral("action"), entry.action},
        {QStringLiteral("version"), entry.version},
        {QStringLiteral("commit_desc"), CommitDesc(entry)},
        {QStringLiteral("req_desc"),
         QJsonObject{{QStringLiteral("local_mtime"), Number(entry.localMtime)},
                     {QStringLiteral("size"), Number(entry.size)}}},
    };
}

}  // namespace

const AgentInterface::Call AgentInterface::Calls[] = {
    {"setAgentInfo", &AgentInterface::SetAgentInfo},
    {"getAgentInfo", &AgentInterface::GetAgentInfo},
    {"getMetadata", &AgentInterface::GetMetadata},
    {"setSyncJournal", &AgentInterface::SetSyncJournal},
    {"commitSyncJournal", &AgentInterface::CommitSyncJournal},
    {"getSyncJournal", &AgentInterface::GetSyncJournal},
    {"getFileCheck", &AgentInterface::GetFileCheck},
};

AgentInterface::AgentInterface(FakeState& state, QString downloadBase)
    : state_(state), downloadBase_(std::move(downloadBase))
{
}

bool AgentInterface::Handles(const std::string& method)
{
    return FindNamed(Calls, method) != nullptr;
}

std::optional<QString> AgentInterface::Authenticate(const FakeState& state, const QString& urlUserId,
                                                    const FormFields& fields)
{
    if (fields.NameAt(0) != AccessKeyField || fields.NameAt(1) != AccessKeyChecksumField)
        return std::nullopt;
    return state.AuthenticateAccess(urlUserId, fields.Value(AccessKeyField), fields.Value(AccessKeyChecksumField));
}

std::string AgentInterface::Handle(const std::string& method, const QString& urlUserId, const FormFields& fields)
{
    const std::optional<QString> userId = Authenticate(state_, urlUserId, fields);
    if (!userId)
        return JsonReply::Error(FakeMessages::AccessKeyInvalid);
    const Call* call = FindNamed(Calls, method);
    if (!call)
        return JsonReply::Error(FakeMessages::CachingDataExpired);
    return (this->*call->handler)(*userId, fields);
}

std::string AgentInterface::SetAgentInfo(const QString& userId, const FormFields& fields)
{
    const QString missing =
        fields.FirstMissing({"agent_key", "my_base64_agent_name", "sync_folder_md5sum", "agent_ver"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const QString agentKey = fields.Value(QStringLiteral("agent_key"));
    if (agentKey.isEmpty())
        return MissingReply(QStringLiteral("agent_key"));
    state_.SetAgentInfo(userId, FakeAgent{agentKey, fields.Value(QStringLiteral("my_base64_agent_name")),
                                          fields.Value(QStringLiteral("sync_folder_md5sum")),
                                          fields.Value(QStringLiteral("agent_ver"))});
    // Kept minimal on purpose: the client copies every scalar of this reply
    // into its settings.
    return JsonReply::Text(JsonReply::Success());
}

std::string AgentInterface::GetAgentInfo(const QString& userId, const FormFields& fields)
{
    const QString missing = fields.FirstMissing({"agent_key", "agent_ver"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const std::optional<FakeAgent> agent = state_.Agent(userId, fields.Value(QStringLiteral("agent_key")));
    if (!agent)
        return JsonReply::Error(FakeMessages::AgentNotRegistered);
    QJsonObject reply = JsonReply::Success();
    reply.insert(QStringLiteral("agent_key"), agent->agentKey);
    reply.insert(QStringLiteral("sync_folder_md5sum"), agent->folderMd5);
    return JsonReply::Text(reply);
}

std::string AgentInterface::GetMetadata(const QString& userId, const FormFields& fields)
{
    const QString missing = fields.FirstMissing({"obj_type", "my_base64_full_path_name", "recursive", "recycle"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const std::optional<QString> path = ServicePath::FromWire(fields.Value(PathField));
    if (!path)
        return JsonReply::Error(FakeMessages::ObjectPathError);
    const bool recursive = fields.Value(QStringLiteral("recursive")).toInt() != 0;
    const bool recycle = fields.Value(QStringLiteral("recycle")).toInt() != 0;
    const FakeState::Listing listing =
        state_.Metadata(userId, fields.Value(QStringLiteral("obj_type")), *path, recursive, recycle);

    const QString userSn = state_.Account(userId).value_or(FakeAccountSpec{}).userSn;
    QJsonObject reply = JsonReply::Success();
    reply.insert(QStringLiteral("timestamp"), listing.timestamp);
    reply.insert(QStringLiteral("metadata"),
                 QJsonObject{{QStringLiteral("folder"), MetadataArray(listing.folders, userSn)},
                             {QStringLiteral("file"), MetadataArray(listing.files, userSn)}});
    return JsonReply::Text(reply);
}

std::string AgentInterface::SetSyncJournal(const QString& userId, const FormFields& fields)
{
    const QString missing = fields.FirstMissing({"action", "agent_key", "obj_type", "req_desc"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const FakeState::Registration registration = state_.RegisterSyncKey(
        userId, fields.Value(QStringLiteral("agent_key")), fields.Value(QStringLiteral("action")),
        fields.Value(QStringLiteral("obj_type")), fields.Value(QStringLiteral("req_desc")));
    if (!registration.message.isEmpty())
        return JsonReply::Error(registration.message);
    QJsonObject reply = JsonReply::Success();
    reply.insert(QStringLiteral("sync_journal"),
                 QJsonObject{{QStringLiteral("key"), registration.key.key},
                             {QStringLiteral("checksum"), registration.key.checksum},
                             {QStringLiteral("expire"), qint64(registration.key.expire)}});
    return JsonReply::Text(reply);
}

std::string AgentInterface::CommitSyncJournal(const QString& userId, const FormFields& fields)
{
    const QString missing = fields.FirstMissing({"agent_key", "sync_journal_key", "sync_journal_key_checksum"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const FakeCommitResult result = state_.CommitSyncKey(userId, fields.Value(QStringLiteral("agent_key")),
                                                         fields.Value(QStringLiteral("sync_journal_key")),
                                                         fields.Value(QStringLiteral("sync_journal_key_checksum")));
    if (!result.message.isEmpty())
        return JsonReply::Error(result.message);
    QJsonObject reply = JsonReply::Success();
    reply.insert(QStringLiteral("version"), result.version);
    reply.insert(QStringLiteral("conflict"), result.conflict ? QStringLiteral("1") : QStringLiteral("0"));
    if (result.conflict)
        reply.insert(QStringLiteral("my_base64_full_path_name"), ServicePath::ToWire(result.conflictPath));
    return JsonReply::Text(reply);
}

std::string AgentInterface::GetSyncJournal(const QString& userId, const FormFields& fields)
{
    const QString missing = fields.FirstMissing({"last_commit_time", "result_type"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const std::optional<std::vector<FakeJournalEntry>> entries =
        state_.JournalFrom(userId, fields.Value(QStringLiteral("last_commit_time")));
    if (!entries)
        return JsonReply::Error(FakeMessages::PositionError);
    QJsonObject reply = JsonReply::Success();
    reply.insert(QStringLiteral("commit_journal_count"), QString::number(entries->size()));
    if (fields.Value(QStringLiteral("result_type")) == u"count")
        return JsonReply::Text(reply);
    QJsonArray journal;
    for (const FakeJournalEntry& entry : *entries)
        journal.append(JournalEntry(entry));
    reply.insert(QStringLiteral("commit_journal"), journal);
    return JsonReply::Text(reply);
}

std::string AgentInterface::GetFileCheck(const QString& userId, const FormFields& fields)
{
    const QString missing = fields.FirstMissing({"agent_key", "my_base64_full_path_name"});
    if (!missing.isEmpty())
        return MissingReply(missing);
    const std::optional<QString> path = ServicePath::FromWire(fields.Value(PathField));
    if (!path)
        return JsonReply::Error(FakeMessages::ObjectPathError);
    const std::optional<FakeItem> file = state_.LiveFile(userId, *path);
    if (!file)
        return JsonReply::Error(FakeMessages::FileNotFound);

    const QString size = Number(file->size);
    const QString mtime = Number(file->localMtime);
    const QString version = Number(file->version);
    QJsonObject reply = JsonReply::Success();
    const QString url = downloadBase_ + QString::fromStdString(DownloadHost::PathFor(userId, *file));
    reply.insert(QStringLiteral("get_url"), url);
    reply.insert(QStringLiteral("metadata"), QJsonObject{{QStringLiteral("size"), size},
                                                         {QStringLiteral("local_mtime"), mtime},
                                                         {QStringLiteral("version"), version}});
    reply.insert(QStringLiteral("size"), size);
    reply.insert(QStringLiteral("local_mtime"), mtime);
    reply.insert(QStringLiteral("version"), version);
    return JsonReply::Text(reply);
}
