#pragma once

// The replay's position in the service's change journal. The service stamps
// every commit with a time written as decimal text, "seconds.fraction"
// ("1000.05"), and answers a journal request with the entries at or after a
// position. After a replay the position must lie just after the last commit
// time that was read: not on it (that entry would be read again) and not
// further (a later entry could be missed). So the text itself is counted up
// by one in its last digit, with carry, keeping the number of fraction
// digits; reading the fraction as a number would drop leading zeros (1000.05
// would become 1000.6) or grow the fraction (1000.9 would become 1000.10).
//
//   1000.05 -> 1000.06    1000.9 -> 1001.0    1000.99 -> 1001.00
//   999.99 -> 1000.00     1000 -> 1001
//
// No state; any thread.

#include <QString>

class JournalPosition {
public:
    // One or more decimal digits, optionally followed by "." and one or more
    // digits. No sign, blanks or exponent.
    static bool IsDecimal(const QString& text);

    // The position just after commitTime; empty when it is not decimal.
    static QString After(const QString& commitTime);
};
