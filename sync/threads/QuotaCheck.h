#pragma once

// The quota query of the request worker and the journal pull thread: the
// account's total, used and largest-file figures through the signed API,
// stored in QuotaTotal, QuotaUsed and QuotaMaxFileSize (QuotaCheckTime set),
// after which the tray's quota menu is built again. No query is made in the
// "DEV" profile.
//
// A missing member token, or one that the service rejects, asks the
// application for a new login. A query that failed, or that could not be
// made for want of a token, is not asked again at once: the next one waits a
// growing delay (RetryDelay), so a service that keeps failing is not asked
// every cycle; a success starts the delay from the beginning.
//
// One object belongs to one thread.

#include "sync/rules/RetryDelay.h"

#include <QString>

class PeltaSync;

class QuotaCheck {
public:
    static constexpr std::chrono::seconds DefaultInterval{600};

    struct Options {
        // The figures are queried again once they are this old.
        std::chrono::milliseconds interval = DefaultInterval;
        RetryDelay::Duration firstRetry = RetryDelay::DefaultFirst;
        RetryDelay::Duration retryCap = RetryDelay::DefaultCap;
    };

    // who starts the log lines ("QueueSub", "TTResyncJournal").
    QuotaCheck(PeltaSync& engine, QString who, Options options);

    // Queries the quota now. False only when the service rejected the token
    // (a new login is asked for); every other outcome gives true.
    bool Run();

    // The figures were never queried, are older than the interval or were
    // cleared (a push notice with a new quota), and no failed query is
    // still waiting its delay.
    bool Due() const;

    // Failures in a row since the last success.
    int Failures() const { return retry_.Failures(); }

private:
    void Failed(const QString& text);

    PeltaSync& engine_;
    const QString who_;
    const Options options_;
    RetryDelay retry_;
};
