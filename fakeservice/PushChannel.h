#pragma once

// The push channel's server: a long-poll protocol in which every exchange is
// one POST whose body is the form encoding of one JSON array of commands,
// answered by a JSON array of replies ({"raw":<kind>,"data":{...}}):
//  - CONNECT {params {name}} then JOIN {params {channels}}: a new session
//    joins the channel; replies LOGIN {sessid} and CHANNEL {pipe {pubid,
//    properties {name}}} (the channel name in lower case). A name that a
//    session holds already gives ERR "007".
//  - CHECK {sessid}: the messages queued for the session as DATA {msg}; with
//    none it is held until one is queued or the hold time ends (then CLOSE).
//    A newer CHECK of the session ends a held one (CLOSE); a held CHECK
//    whose client went away leaves the queue as it is.
//  - SEND {params {msg, pipe}, sessid}: queues DATA {msg} for every other
//    session of the channel whose pipe id it names; answered at once with an
//    empty array.
// An unknown or expired session gives ERR "004"; a command that cannot be
// carried out ERR "006". The chl counters are recorded, not checked.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct FakePushSession {
    QString sessid;
    QString name;
    QString channel;                // empty until it joins
    std::vector<QString> messages;  // queued for its next CHECK
};

class PushChannel {
public:
    // Channels are this word followed by the account's user_sn.
    static constexpr const char* ChannelPrefix = "tessaron";
    static constexpr std::chrono::milliseconds DefaultHold{25000};

    // strictFormEncoding: refuse a body that is not form encoded.
    explicit PushChannel(bool strictFormEncoding);

    // ---- Set-up by tests ----------------------------------------------------
    // How long a CHECK without messages is held (under the client's 30 s).
    void SetHoldTime(std::chrono::milliseconds hold);

    // Queues DATA with the message for every session of the channel; how
    // many sessions it reached.
    int InjectMessage(const QString& channel, const QString& message);
    // "newQuota=<megabytes>" on the account's channel.
    int InjectQuota(const QString& userSn, std::int64_t megabytes);

    // Ends a session as if it had expired; false when there is none.
    bool ExpireSession(const QString& sessid);
    void ExpireAllSessions();

    // The next exchange, whatever it holds, is answered with ERR and the
    // code ("004", "006", "007", ...); several queue up.
    void FailNext(const QString& code);

    // ---- Inspection by tests ----------------------------------------------
    std::vector<FakePushSession> Sessions() const;
    // Every command received, as sent, in order.
    std::vector<QJsonObject> Commands() const;
    // How many CHECKs are being held now.
    std::size_t HeldChecks() const;
    static QString ChannelOf(const QString& userSn);

    // ---- Service --------------------------------------------------------------
    // The first command's name ("CONNECT", "CHECK", "SEND"), for faults and
    // the call log; "push" when the body holds no command.
    std::string MethodOf(const std::string& body) const;

    // The reply to one exchange; a CHECK may hold it. peerGone tells whether
    // the client has gone away meanwhile.
    std::string Handle(const std::string& body, const std::function<bool()>& peerGone);

    // Ends every held CHECK at once; later exchanges are not held.
    void Stop();

private:
    struct Session {
        QString name;
        QString channel;
        std::deque<QString> messages;
        std::uint64_t polls = 0;  // CHECKs started, so a newer one ends a held one
    };
    using Lock = std::unique_lock<std::mutex>;

    std::optional<QJsonArray> Parse(const std::string& body, QString& error) const;
    std::string Exchange(Lock& lock, const QJsonArray& commands, const std::function<bool()>& peerGone);
    std::optional<QJsonObject> Connect(const QJsonObject& command, QString& session);
    std::optional<QJsonObject> Join(const QJsonObject& command, const QString& session);
    std::optional<QJsonObject> Send(const QJsonObject& command);
    QJsonArray Check(Lock& lock, const QString& sessid, const std::function<bool()>& peerGone);
    QJsonArray TakeMessages(Session& session);
    QString PipeOf(const QString& channel);
    int Queue(const QString& channel, const QString& message, const QString& except);

    bool strictFormEncoding_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false;
    std::chrono::milliseconds hold_ = DefaultHold;
    std::map<QString, Session> sessions_;
    std::map<QString, QString> pipes_;  // channel -> pubid
    std::deque<QString> failures_;
    std::vector<QJsonObject> commands_;
    std::size_t heldChecks_ = 0;
};
