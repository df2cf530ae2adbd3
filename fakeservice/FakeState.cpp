#include "fakeservice/FakeState.h"

#include "fakeservice/ChangeRules.h"
#include "fakeservice/DecimalText.h"
#include "fakeservice/FakeMessages.h"
#include "fakeservice/RandomText.h"
#include "fakeservice/ServicePath.h"

#include "foundation/crypto/Crypto.h"

namespace {

using Lock = std::lock_guard<std::mutex>;

bool IsFileUpload(const FakeChange& change)
{
    return change.objType == FakeObjType::File &&
           (change.action == FakeAction::Add || change.action == FakeAction::Edit);
}

bool HasExpired(std::int64_t expire, std::int64_t now)
{
    return expire != 0 && now > expire;
}

// The item when it is a file.
std::optional<FakeItem> AsFile(const FakeItem* item)
{
    if (!item || item->isFolder)
        return std::nullopt;
    return *item;
}

template <typename Map>
std::vector<typename Map::mapped_type> ValuesOf(const Map& map)
{
    std::vector<typename Map::mapped_type> values;
    values.reserve(map.size());
    for (const auto& entry : map)
        values.push_back(entry.second);
    return values;
}

}  // namespace

FakeState::AccountState::AccountState(const FakeAccountSpec& accountSpec)
    : spec(accountSpec), tree(accountSpec.userSn)
{
}

// ---- Set-up -----------------------------------------------------------------

bool FakeState::AddAccount(const FakeAccountSpec& spec)
{
    Lock lock(mutex_);
    if (spec.userId.isEmpty() || accounts_.count(spec.userId) != 0)
        return false;
    accounts_.emplace(spec.userId, AccountState(spec));
    return true;
}

void FakeState::SetAccessKey(const QString& userId, const QString& key, const QString& checksum,
                             std::int64_t expire)
{
    Lock lock(mutex_);
    if (AccountState* account = Find(userId)) {
        account->spec.accessKey = key;
        account->spec.accessKeyChecksum = checksum;
        account->spec.accessKeyExpire = expire;
    }
}

void FakeState::SetMemberToken(const QString& userId, const QString& token, std::int64_t expire)
{
    Lock lock(mutex_);
    if (AccountState* account = Find(userId)) {
        account->spec.memberToken = token;
        account->spec.memberTokenExpire = expire;
    }
}

void FakeState::SetQuotaTotal(const QString& userId, std::int64_t bytes)
{
    Lock lock(mutex_);
    if (AccountState* account = Find(userId))
        account->spec.quotaTotalBytes = bytes;
}

void FakeState::RegisterAgent(const QString& userId, const FakeAgent& agent)
{
    SetAgentInfo(userId, agent);
}

bool FakeState::SeedFolder(const QString& userId, const QString& path, std::int64_t localMtime)
{
    Lock lock(mutex_);
    AccountState* account = Find(userId);
    if (!account || path == ServicePath::Root || !ServicePath::FromWire(ServicePath::ToWire(path)))
        return false;
    if (!SeedParents(*account, path))
        return false;
    account->tree.Store(path, true, localMtime, 0, FakeContent());
    return true;
}

bool FakeState::SeedFile(const QString& userId, const QString& path, const QByteArray& content,
                         std::int64_t localMtime)
{
    return SeedFile(userId, path, FakeContent(content), localMtime);
}

bool FakeState::SeedFile(const QString& userId, const QString& path, const FakeContent& content,
                         std::int64_t localMtime)
{
    Lock lock(mutex_);
    AccountState* account = Find(userId);
    if (!account || path == ServicePath::Root || !ServicePath::FromWire(ServicePath::ToWire(path)))
        return false;
    const FakeItem* existing = account->tree.FindLive(path);
    if ((existing && existing->isFolder) || !SeedParents(*account, path))
        return false;
    account->tree.Store(path, false, localMtime, content.Size(), content);
    return true;
}

FakeCommitResult FakeState::CommitChange(const QString& userId, const QString& agentKey,
                                         const FakeChange& change, const QByteArray& content)
{
    Lock lock(mutex_);
    AccountState* account = Find(userId);
    if (!account)
        return FakeCommitResult{QString::fromUtf8(FakeMessages::AccessKeyInvalid), {}, false, {}};
    return CommitLocked(*account, agentKey, change, FakeContent(content));
}

void FakeState::AppendJournalEntry(const QString& userId, FakeJournalEntry entry)
{
    Lock lock(mutex_);
    AccountState* account = Find(userId);
    if (!account)
        return;
    if (entry.commitTime.isEmpty())
        entry.commitTime = clock_.NextCommitTime();
    else
        clock_.Observe(entry.commitTime);
    account->journal.push_back(std::move(entry));
}

std::int64_t FakeState::Now() const
{
    Lock lock(mutex_);
    return clock_.Now();
}

void FakeState::SetClock(std::int64_t unixSeconds)
{
    Lock lock(mutex_);
    clock_.Set(unixSeconds);
}

void FakeState::AdvanceClock(std::int64_t seconds)
{
    Lock lock(mutex_);
    clock_.Advance(seconds);
}

void FakeState::UseRealClock()
{
    Lock lock(mutex_);
    clock_.UseRealTime();
}

void FakeState::SetCommitFractionDigits(int digits)
{
    Lock lock(mutex_);
    clock_.SetFractionDigits(digits);
}

void FakeState::SetNextCommitFraction(std::int64_t fraction)
{
    Lock lock(mutex_);
    clock_.SetNextFraction(fraction);
}

void FakeState::SetSyncKeyLifetime(std::int64_t seconds)
{
    Lock lock(mutex_);
    syncKeyLifetime_ = seconds;
}

void FakeState::SetRefuseSizeMismatch(bool on)
{
    Lock lock(mutex_);
    refuseSizeMismatch_ = on;
}

bool FakeState::AppendUpload(const QString& userId, const QString& syncKey, const QByteArray& bytes)
{
    Lock lock(mutex_);
    AccountState* account = Find(userId);
    if (!account)
        return false;
    const auto it = account->keys.find(syncKey);
    if (it == account->keys.end() || !IsFileUpload(it->second.change))
        return false;
    it->second.upload.Append(bytes);
    return true;
}

void FakeState::DropSyncKey(const QString& userId, const QString& syncKey)
{
    Lock lock(mutex_);
    if (AccountState* account = Find(userId))
        account->keys.erase(syncKey);
}

// ---- Inspection ---------------------------------------------------------------

std::optional<FakeAccountSpec> FakeState::Account(const QString& userId) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return account ? std::optional<FakeAccountSpec>(account->spec) : std::nullopt;
}

std::optional<FakeAccountSpec> FakeState::AccountByLogin(const QString& login) const
{
    Lock lock(mutex_);
    for (const auto& [userId, account] : accounts_) {
        if (!login.isEmpty() && account.spec.login == login)
            return account.spec;
    }
    return std::nullopt;
}

std::vector<FakeAgent> FakeState::Agents(const QString& userId) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return account ? ValuesOf(account->agents) : std::vector<FakeAgent>();
}

std::vector<FakeItem> FakeState::Items(const QString& userId) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return account ? account->tree.Items() : std::vector<FakeItem>();
}

std::optional<FakeItem> FakeState::FindItem(const QString& userId, const QString& path) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    const FakeItem* item = account ? account->tree.Find(path) : nullptr;
    return item ? std::optional<FakeItem>(*item) : std::nullopt;
}

std::vector<FakeJournalEntry> FakeState::Journal(const QString& userId) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return account ? account->journal : std::vector<FakeJournalEntry>();
}

std::vector<FakeSyncKey> FakeState::SyncKeys(const QString& userId) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return account ? ValuesOf(account->keys) : std::vector<FakeSyncKey>();
}

std::int64_t FakeState::UsedBytes(const QString& userId) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return account ? account->tree.UsedBytes() : 0;
}

// ---- Service operations ---------------------------------------------------------

std::optional<QString> FakeState::AuthenticateAccess(const QString& urlUserId, const QString& accessKey,
                                                     const QString& checksum) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(urlUserId);
    if (!account || accessKey.isEmpty())
        return std::nullopt;
    const FakeAccountSpec& spec = account->spec;
    if (spec.accessKey != accessKey || spec.accessKeyChecksum != checksum)
        return std::nullopt;
    if (HasExpired(spec.accessKeyExpire, clock_.Now()))
        return std::nullopt;
    return spec.userId;
}

FakeState::MemberLookup FakeState::FindByMemberToken(const QString& token) const
{
    Lock lock(mutex_);
    MemberLookup lookup;
    if (token.isEmpty())
        return lookup;
    for (const auto& [userId, account] : accounts_) {
        if (account.spec.memberToken != token)
            continue;
        lookup.account = account.spec;
        lookup.expired = HasExpired(account.spec.memberTokenExpire, clock_.Now());
        lookup.usedBytes = account.tree.UsedBytes();
        break;
    }
    return lookup;
}

void FakeState::SetAgentInfo(const QString& userId, const FakeAgent& agent)
{
    Lock lock(mutex_);
    if (AccountState* account = Find(userId))
        account->agents[agent.agentKey] = agent;
}

std::optional<FakeAgent> FakeState::Agent(const QString& userId, const QString& agentKey) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    if (!account)
        return std::nullopt;
    const auto it = account->agents.find(agentKey);
    return it == account->agents.end() ? std::nullopt : std::optional<FakeAgent>(it->second);
}

FakeState::Listing FakeState::Metadata(const QString& userId, const QString& objType, const QString& path,
                                       bool recursive, bool withRecycled) const
{
    Lock lock(mutex_);
    Listing listing;
    const AccountState* account = Find(userId);
    if (!account)
        return listing;
    listing.timestamp = LatestCommitTime(*account);
    const FakeTree& tree = account->tree;
    const FakeItem* item = withRecycled ? tree.Find(path) : tree.FindLive(path);
    if (objType == u"folder" && recursive) {
        if (path != ServicePath::Root && !(item && item->isFolder))
            return listing;
        for (FakeItem& child : tree.Children(path, withRecycled))
            (child.isFolder ? listing.folders : listing.files).push_back(std::move(child));
        return listing;
    }
    const bool wantFolder = objType == u"folder";
    const bool wantFile = objType == u"file" || objType == u"version";
    if (item && ((wantFolder && item->isFolder) || (wantFile && !item->isFolder)))
        (item->isFolder ? listing.folders : listing.files).push_back(*item);
    return listing;
}

FakeState::Registration FakeState::RegisterSyncKey(const QString& userId, const QString& agentKey,
                                                   const QString& action, const QString& objType,
                                                   const QString& reqDesc)
{
    Lock lock(mutex_);
    Registration registration;
    AccountState* account = Find(userId);
    if (!account || agentKey.isEmpty()) {
        registration.message = QString::fromUtf8(FakeMessages::AgentNotRegistered);
        return registration;
    }
    const ChangeRules::Parsed parsed = ChangeRules::Parse(action, objType, reqDesc);
    if (!parsed.change) {
        registration.message = parsed.message;
        return registration;
    }
    registration.message = ChangeRules::Check(account->tree, *parsed.change, account->spec.quotaTotalBytes);
    if (!registration.message.isEmpty())
        return registration;

    FakeSyncKey& key = registration.key;
    key.key = RandomText::Hex(16);
    key.checksum = Md5Hex(key.key + u'|' + agentKey);
    key.expire = clock_.Now() + syncKeyLifetime_;
    key.agentKey = agentKey;
    key.action = action;
    key.objType = objType;
    key.reqDesc = reqDesc;
    key.change = *parsed.change;
    account->keys[key.key] = key;
    return registration;
}

FakeCommitResult FakeState::CommitSyncKey(const QString& userId, const QString& agentKey,
                                          const QString& syncKey, const QString& checksum)
{
    Lock lock(mutex_);
    const auto refuse = [](const char* message) {
        return FakeCommitResult{QString::fromUtf8(message), {}, false, {}};
    };
    AccountState* account = Find(userId);
    if (!account)
        return refuse(FakeMessages::SyncJournalExpired);
    const auto it = account->keys.find(syncKey);
    if (it == account->keys.end())
        return refuse(FakeMessages::SyncJournalExpired);
    FakeSyncKey& key = it->second;
    if (key.checksum != checksum || key.committed || HasExpired(key.expire, clock_.Now()) ||
        key.change.action == FakeAction::Get)
        return refuse(FakeMessages::SyncJournalExpired);
    if (key.agentKey != agentKey)
        return refuse(FakeMessages::AgentKeyNotMatch);
    if (refuseSizeMismatch_ && IsFileUpload(key.change) && key.upload.Size() != key.change.size)
        return refuse(FakeMessages::FileNotExist);

    FakeCommitResult result = CommitLocked(*account, agentKey, key.change, key.upload);
    if (result.message.isEmpty())
        key.committed = true;
    return result;
}

std::optional<std::vector<FakeJournalEntry>> FakeState::JournalFrom(const QString& userId,
                                                                    const QString& position) const
{
    Lock lock(mutex_);
    if (!position.isEmpty() && !IsDecimalText(position))
        return std::nullopt;
    std::vector<FakeJournalEntry> entries;
    const AccountState* account = Find(userId);
    if (!account)
        return entries;
    for (const FakeJournalEntry& entry : account->journal) {
        if (position.isEmpty() || CompareDecimalText(entry.commitTime, position).value_or(1) >= 0)
            entries.push_back(entry);
    }
    return entries;
}

std::optional<FakeItem> FakeState::LiveFile(const QString& userId, const QString& path) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return AsFile(account ? account->tree.FindLive(path) : nullptr);
}

std::optional<FakeItem> FakeState::LiveFileByKey(const QString& userId, const QString& key) const
{
    Lock lock(mutex_);
    const AccountState* account = Find(userId);
    return AsFile(account ? account->tree.FindLiveByKey(key) : nullptr);
}

FakeUploadResult FakeState::WriteUpload(const QString& userId, const QString& syncKey, const QString& checksum,
                                        FakeUploadWrite write, const FakeContent& bytes)
{
    Lock lock(mutex_);
    const FakeUploadResult refused{QString::fromUtf8(FakeMessages::SyncJournalExpired), 0};
    AccountState* account = Find(userId);
    if (!account)
        return refused;
    const auto it = account->keys.find(syncKey);
    if (it == account->keys.end())
        return refused;
    FakeSyncKey& key = it->second;
    if (key.checksum != checksum || key.committed || HasExpired(key.expire, clock_.Now()) ||
        !IsFileUpload(key.change))
        return refused;
    if (write == FakeUploadWrite::Replace)
        key.upload = bytes;
    else if (write == FakeUploadWrite::Append)
        key.upload.Append(bytes);
    return FakeUploadResult{QString(), key.upload.Size()};
}

// ---- Private ----------------------------------------------------------------------

FakeState::AccountState* FakeState::Find(const QString& userId)
{
    const auto it = accounts_.find(userId);
    return it == accounts_.end() ? nullptr : &it->second;
}

const FakeState::AccountState* FakeState::Find(const QString& userId) const
{
    const auto it = accounts_.find(userId);
    return it == accounts_.end() ? nullptr : &it->second;
}

bool FakeState::SeedParents(AccountState& account, const QString& path)
{
    const QString parent = ServicePath::Parent(path);
    if (account.tree.IsLiveFolder(parent))
        return true;
    if (account.tree.FindLive(parent) || !SeedParents(account, parent))
        return false;  // a file where a folder should be
    account.tree.Store(parent, true, 0, 0, FakeContent());
    return true;
}

FakeCommitResult FakeState::CommitLocked(AccountState& account, const QString& agentKey,
                                         const FakeChange& change, const FakeContent& content)
{
    const QString refusal = ChangeRules::Check(account.tree, change, account.spec.quotaTotalBytes);
    if (!refusal.isEmpty())
        return FakeCommitResult{refusal, {}, false, {}};
    ChangeRules::Applied applied = ChangeRules::Apply(account.tree, change, content);
    if (!applied.result.message.isEmpty())
        return applied.result;
    applied.entry.agentKey = agentKey;
    applied.entry.commitTime = clock_.NextCommitTime();
    account.journal.push_back(applied.entry);
    return applied.result;
}

QString FakeState::LatestCommitTime(const AccountState& account) const
{
    if (account.journal.empty())
        return clock_.Format(0, 0);
    return account.journal.back().commitTime;
}
