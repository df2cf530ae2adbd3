#pragma once

// Another computer on the same account: its changes reach the service as
// that agent's commits, with its own agent key, so they land in the journal;
// after each one it tells the account's push channel, as its SEND would.
// Edits name the version they derive from, as an agent that saw it.

#include "fakeservice/FakeRecords.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

class FakeService;

class SecondComputer {
public:
    static const QString AgentKey;

    // Registers the agent with the account.
    SecondComputer(FakeService& service, QString userId, QString userSn);

    // Each returns the service's refusal, or an empty text.
    QString AddFolder(const QString& path);
    QString WriteFile(const QString& path, const QByteArray& content);  // add or edit
    QString Move(const QString& from, const QString& to);
    QString Delete(const QString& path);

    // Whether commits are followed by a push notice.
    void SetNotifying(bool on) { notifying_ = on; }
    // A notice on the account's channel.
    void Notify();

private:
    QString Commit(const FakeChange& change, const QByteArray& content = {});
    std::optional<FakeItem> Live(const QString& path) const;

    FakeService& service_;
    QString userId_;
    QString userSn_;
    bool notifying_ = true;
    std::int64_t mtime_ = 1600000000;
};
