#include "fakeservice/CommitClock.h"

#include "fakeservice/DecimalText.h"

#include <algorithm>
#include <chrono>

std::int64_t CommitClock::Now() const
{
    if (fixedNow_)
        return *fixedNow_;
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void CommitClock::Set(std::int64_t unixSeconds)
{
    fixedNow_ = unixSeconds;
}

void CommitClock::Advance(std::int64_t seconds)
{
    fixedNow_ = Now() + seconds;
}

void CommitClock::UseRealTime()
{
    fixedNow_.reset();
}

void CommitClock::SetFractionDigits(int digits)
{
    digits_ = std::clamp(digits, 1, 9);
}

void CommitClock::SetNextFraction(std::int64_t fraction)
{
    nextFraction_ = fraction;
}

QString CommitClock::NextCommitTime()
{
    const std::int64_t fraction = std::clamp<std::int64_t>(nextFraction_.value_or(0), 0, FractionLimit() - 1);
    nextFraction_.reset();
    QString next = Format(Now(), fraction);
    if (!last_.isEmpty() && CompareDecimalText(next, last_).value_or(0) <= 0)
        next = AfterLast();
    last_ = next;
    return next;
}

void CommitClock::Observe(const QString& commitTime)
{
    if (!IsDecimalText(commitTime) || !commitTime.contains(u'.'))
        return;
    if (last_.isEmpty() || CompareDecimalText(commitTime, last_).value_or(0) > 0)
        last_ = commitTime;
}

QString CommitClock::Format(std::int64_t seconds, std::int64_t fraction) const
{
    return QStringLiteral("%1.%2").arg(seconds).arg(fraction, digits_, 10, QChar(u'0'));
}

std::int64_t CommitClock::FractionLimit() const
{
    std::int64_t limit = 1;
    for (int i = 0; i < digits_; ++i)
        limit *= 10;
    return limit;
}

QString CommitClock::AfterLast() const
{
    // The previous time cut or padded to the current digits, plus one step;
    // cutting can land at or below it, so step until it is above.
    const qsizetype dot = last_.indexOf(u'.');
    std::int64_t seconds = last_.left(dot).toLongLong();
    std::int64_t fraction = last_.mid(dot + 1).leftJustified(digits_, u'0', true).toLongLong();
    QString next;
    do {
        if (++fraction >= FractionLimit()) {
            fraction = 0;
            ++seconds;
        }
        next = Format(seconds, fraction);
    } while (CompareDecimalText(next, last_).value_or(0) <= 0);
    return next;
}
