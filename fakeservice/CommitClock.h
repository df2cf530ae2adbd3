#pragma once

// The fake service's clock and its source of commit times.
//
// The clock runs on real time until a test sets it; then it stands still
// until set again. Commit times are "seconds.fraction" texts with a fixed
// number of fraction digits (3 unless set), strictly increasing as decimal
// numbers: a commit within the second of the previous one gets the next
// fraction, and a fraction that no longer fits carries into the seconds.
// Not thread-safe: the owner holds its own lock.

#include <QString>

#include <cstdint>
#include <optional>

class CommitClock {
public:
    // Unix seconds.
    std::int64_t Now() const;

    void Set(std::int64_t unixSeconds);
    void Advance(std::int64_t seconds);
    void UseRealTime();

    // 1 to 9 digits after the point; other values are clamped.
    void SetFractionDigits(int digits);

    // The fraction of the next commit time when that keeps the times rising
    // (SetFractionDigits(2) and SetNextFraction(5) at 1000 give "1000.05").
    void SetNextFraction(std::int64_t fraction);

    // The next commit time; never at or below the previous one.
    QString NextCommitTime();

    // Takes a commit time made elsewhere (a test's journal entry) into
    // account, so that later commit times lie above it.
    void Observe(const QString& commitTime);

    // The last commit time handed out, empty before the first.
    const QString& LastCommitTime() const { return last_; }

    // Formats a commit time with the current digits.
    QString Format(std::int64_t seconds, std::int64_t fraction) const;

private:
    std::int64_t FractionLimit() const;
    QString AfterLast() const;

    std::optional<std::int64_t> fixedNow_;
    int digits_ = 3;
    std::optional<std::int64_t> nextFraction_;
    QString last_;
};
