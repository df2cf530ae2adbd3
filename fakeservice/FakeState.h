#pragma once

// Everything the fake service knows: accounts with their agents, item trees,
// sync-journal keys and commit journals, the clock and the switches that
// change its rules. One mutex guards it all; every operation takes it, so
// request threads and the test thread may call in at any time.
//
// Operations name the account by its user_id. The service operations return
// the service's error text in their result when they refuse; an empty text
// means success.

#include "fakeservice/CommitClock.h"
#include "fakeservice/FakeRecords.h"
#include "fakeservice/FakeTree.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

class FakeState {
public:
    // ---- Set-up by tests ----------------------------------------------------
    // False when the user_id is taken.
    bool AddAccount(const FakeAccountSpec& spec);
    void SetAccessKey(const QString& userId, const QString& key, const QString& checksum,
                      std::int64_t expire);
    void SetMemberToken(const QString& userId, const QString& token, std::int64_t expire);
    void SetQuotaTotal(const QString& userId, std::int64_t bytes);
    void RegisterAgent(const QString& userId, const FakeAgent& agent);

    // Puts items into the tree as if they had always been there: no journal
    // entry; missing parent folders are made. False for a malformed path or
    // an unknown account.
    bool SeedFolder(const QString& userId, const QString& path, std::int64_t localMtime = 0);
    bool SeedFile(const QString& userId, const QString& path, const QByteArray& content,
                  std::int64_t localMtime = 0);
    bool SeedFile(const QString& userId, const QString& path, const FakeContent& content,
                  std::int64_t localMtime = 0);

    // Commits a change as the given agent would, with the same rules and a
    // journal entry; content stands for the uploaded bytes.
    FakeCommitResult CommitChange(const QString& userId, const QString& agentKey, const FakeChange& change,
                                  const QByteArray& content = QByteArray());

    // Appends an entry as it stands (for instance one whose status is "0");
    // an empty commit time gets the next one.
    void AppendJournalEntry(const QString& userId, FakeJournalEntry entry);

    // The clock and the commit times (see CommitClock).
    std::int64_t Now() const;
    void SetClock(std::int64_t unixSeconds);
    void AdvanceClock(std::int64_t seconds);
    void UseRealClock();
    void SetCommitFractionDigits(int digits);
    void SetNextCommitFraction(std::int64_t fraction);

    // Seconds that a sync-journal key stays valid (3600 unless set).
    void SetSyncKeyLifetime(std::int64_t seconds);

    // Refuse a file commit whose upload buffer does not hold req_desc's size
    // (off unless set).
    void SetRefuseSizeMismatch(bool on);

    // Adds bytes to the upload buffer of a key of the account; false when
    // the key is unknown or not for a file upload.
    bool AppendUpload(const QString& userId, const QString& syncKey, const QByteArray& bytes);

    // Forgets a sync-journal key with its upload buffer, as the service
    // forgets keys it has done with; a later use of the key is refused as
    // for an expired one.
    void DropSyncKey(const QString& userId, const QString& syncKey);

    // ---- Inspection by tests ----------------------------------------------
    std::optional<FakeAccountSpec> Account(const QString& userId) const;
    std::optional<FakeAccountSpec> AccountByLogin(const QString& login) const;
    std::vector<FakeAgent> Agents(const QString& userId) const;
    std::vector<FakeItem> Items(const QString& userId) const;
    std::optional<FakeItem> FindItem(const QString& userId, const QString& path) const;
    std::vector<FakeJournalEntry> Journal(const QString& userId) const;
    std::vector<FakeSyncKey> SyncKeys(const QString& userId) const;
    std::int64_t UsedBytes(const QString& userId) const;

    // ---- Service operations ---------------------------------------------------
    // The account whose access key and checksum these are, when the key has
    // not expired and the user_id of the URL is the account's.
    std::optional<QString> AuthenticateAccess(const QString& urlUserId, const QString& accessKey,
                                              const QString& checksum) const;

    struct MemberLookup {
        std::optional<FakeAccountSpec> account;
        bool expired = false;
        std::int64_t usedBytes = 0;
    };
    MemberLookup FindByMemberToken(const QString& token) const;

    void SetAgentInfo(const QString& userId, const FakeAgent& agent);
    std::optional<FakeAgent> Agent(const QString& userId, const QString& agentKey) const;

    struct Listing {
        std::vector<FakeItem> folders;
        std::vector<FakeItem> files;
        QString timestamp;
    };
    // objType "folder" (recursive: the children, else the folder itself),
    // "file" or "version" (the file itself).
    Listing Metadata(const QString& userId, const QString& objType, const QString& path, bool recursive,
                     bool withRecycled) const;

    struct Registration {
        QString message;
        FakeSyncKey key;
    };
    Registration RegisterSyncKey(const QString& userId, const QString& agentKey, const QString& action,
                                 const QString& objType, const QString& reqDesc);

    FakeCommitResult CommitSyncKey(const QString& userId, const QString& agentKey, const QString& syncKey,
                                   const QString& checksum);

    // Entries at or after the position, compared as decimals (all of them
    // for an empty position); std::nullopt for a position that is no decimal.
    std::optional<std::vector<FakeJournalEntry>> JournalFrom(const QString& userId,
                                                             const QString& position) const;

    // The live file at the path.
    std::optional<FakeItem> LiveFile(const QString& userId, const QString& path) const;

    // The live file with the key.
    std::optional<FakeItem> LiveFileByKey(const QString& userId, const QString& key) const;

    // The upload host's writes to the buffer of a sync-journal key: the key
    // must belong to the account, carry this checksum, be neither committed
    // nor expired, and register a file add or edit; otherwise the result
    // holds the service's refusal. bytes are ignored for Query.
    FakeUploadResult WriteUpload(const QString& userId, const QString& syncKey, const QString& checksum,
                                 FakeUploadWrite write, const FakeContent& bytes);

private:
    struct AccountState {
        explicit AccountState(const FakeAccountSpec& accountSpec);

        FakeAccountSpec spec;
        FakeTree tree;
        std::map<QString, FakeAgent> agents;
        std::vector<FakeJournalEntry> journal;
        std::map<QString, FakeSyncKey> keys;
    };

    AccountState* Find(const QString& userId);
    const AccountState* Find(const QString& userId) const;
    bool SeedParents(AccountState& account, const QString& path);
    FakeCommitResult CommitLocked(AccountState& account, const QString& agentKey, const FakeChange& change,
                                  const FakeContent& content);
    QString LatestCommitTime(const AccountState& account) const;

    mutable std::mutex mutex_;
    std::map<QString, AccountState> accounts_;
    CommitClock clock_;
    std::int64_t syncKeyLifetime_ = 3600;
    bool refuseSizeMismatch_ = false;
};
