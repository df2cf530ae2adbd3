#pragma once

// The push channel: a worker that keeps a long poll open on the channel
// server so that a change committed by another agent of the same account
// wakes the journal pull within seconds, and that tells the other agents
// about our own changes (SEND). Every exchange is one POST of a JSON command
// array, answered by a JSON array of replies.
//
// Owned and joined by its creator: set the addresses, Start(), and at the
// end Terminate() (which interrupts a held poll at once) and Join(). The
// calls SendPost, Stop, Terminate and ReloadProxy may come from any thread;
// on a stopped channel they do nothing.

#include "client/HttpClient.h"
#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/ProcessState.h"
#include "platform/WorkerThread.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class JsonValue;

// Timing of the loop; tests shorten it.
struct PeltaAPETiming {
    std::chrono::milliseconds readTimeout{30000};  // a held poll longer than this times out
    std::chrono::seconds failurePeriod{20};        // a failing exchange starts at most this often
    std::chrono::milliseconds errorWait{2000};     // after ERR 004 and 007
    std::chrono::milliseconds minGap{300};         // between two exchanges, a SEND excepted
    std::chrono::seconds silence{120};             // no success for longer: wake the journal pull
    std::chrono::seconds sendInterval{10};         // a SEND interrupts the poll at most this often
};

class PeltaAPEThread : public WorkerThread {
public:
    using Clock = std::function<SteadyTime()>;

    using Timing = PeltaAPETiming;

    static constexpr int MaxPostsPerClient = 60;
    static constexpr int MaxErrorsPerClient = 5;
    static constexpr int FailuresBeforeOnline = 3;  // the fourth failure in a row

    explicit PeltaAPEThread(Clock clock = {}, Timing timing = Timing());
    ~PeltaAPEThread() override;

    // ---- Set by the creator before Start() -----------------------------------
    void SetUrl(const QString& url) { url_ = url; }
    void SetUserSn(const QString& userSn) { userSn_ = userSn; }
    void SetName(const QString& name) { name_ = name; }
    void SetChannels(const QString& channels) { channels_ = channels; }

    // ---- Addresses and names -------------------------------------------------
    // user_sn modulo 2, or modulo 16 once now is past 2012-05-03 00:00 (local
    // time); the remainder takes the sign of the dividend.
    static std::int64_t Shard(std::int64_t userSn, const QDateTime& now);
    // "http://<shard in lower-case hex><suffix>"; in the "DEV" profile a
    // suffix holding "http" is the address itself (trimmed, one blank added).
    static QString PushUrl(const QString& userSn, const QDateTime& now, const QString& profile,
                           const QString& suffix);
    // user_sn followed by unixTime modulo 10000000.
    static QString MakeName(const QString& userSn, std::int64_t unixTime);
    // The first eight characters of ProgramName followed by user_sn.
    static QString ChannelName(const QString& userSn);

    // ---- Protocol --------------------------------------------------------------
    // The text of a command (Login, Check, Post), the counter advanced per
    // command object; empty for any other kind.
    QString BuildCommand(XAPECommand kind);
    // Handles a reply; false when the exchange counts as failed: an ERR 004,
    // 006 or 007, and a reply that is no JSON array at all.
    bool HandleResponse(const QString& reply);

    // The bookkeeping after one exchange: failure and error counts, the
    // journal pull after a silence, and the switch back to online after
    // every fourth failure in a row (only from offline).
    void RecordOutcome(bool failed);
    // How long a failed exchange that started at start waits before the next.
    std::chrono::milliseconds BackoffDelay(SteadyTime start) const;

    // ---- Control (any thread) -----------------------------------------------
    // Queues a SEND; interrupts the running poll unless one was sent less
    // than sendInterval ago.
    void SendPost();
    // Interrupts the running exchange (not while push errors are counted).
    void Stop();
    // Ends the loop: interrupts the running exchange whatever its state.
    void Terminate() override;
    // The next exchange goes through a new client, so the process's current
    // proxy settings take effect (the HTTP client applies them per request,
    // but would reuse an open connection).
    void ReloadProxy();

    // ---- Inspection ------------------------------------------------------------
    XAPECommand State() const { return state_.load(); }
    XAPECommand Pending() const { return pending_.load(); }
    int Chl() const { return chl_; }
    QString SessId() const;
    QString Pipe() const;
    QString Name() const;
    int Posts() const { return posts_.load(); }

protected:
    void Execute() override;

private:
    struct ExchangeResult {
        bool failed = false;
        bool timedOut = false;
    };

    QString ChooseCommand(XAPECommand& kind);
    ExchangeResult Exchange(const QString& text, const QString& kindName);
    void AfterExchange(const ExchangeResult& result, SteadyTime start);
    void HandleData(const JsonValue& data);
    bool HandleError(const QString& code);
    void HTTPInit();
    void HTTPReset();
    // Interrupts the running exchange through the client's abort flag.
    void Interrupt();
    SteadyTime Now() const { return clock_(); }
    static void Log(const QString& text, int category = LogAPE);

    const Clock clock_;
    const Timing timing_;

    std::mutex httpLock_;  // guards http_ while it is replaced or woken
    std::unique_ptr<HttpClient> http_;
    std::atomic<bool> interrupt_{false};  // the client's abort flag
    std::atomic<bool> stopping_{false};
    std::atomic<bool> rebuild_{false};
    std::atomic<int> posts_{0};
    int consecutiveFailures_ = 0;

    QString url_;
    QString userSn_;
    QString channels_;
    mutable std::mutex textLock_;  // guards name_, sessid_ and pipe_
    QString name_;
    QString sessid_;
    QString pipe_;

    int chl_ = 0;
    std::atomic<XAPECommand> state_{XAPELogin};
    std::atomic<XAPECommand> pending_{XAPENOP};
    XAPECommand lastCommand_ = XAPENOP;
    std::atomic<SteadyTime> lastSend_{SteadyTime{}};
};
