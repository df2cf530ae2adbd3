#pragma once

// Commit times are decimal texts "seconds.fraction". They must be compared as
// decimal numbers, never as texts: "1000.05" lies before "1000.5", and
// "999.9" before "1000.0".

#include <QString>

#include <optional>

// True for one or more ASCII digits and nothing else.
bool AllDigits(QStringView text);

// True for one or more ASCII digits, optionally followed by "." and one or
// more ASCII digits.
bool IsDecimalText(const QString& text);

// -1, 0 or 1 as a is below, equal to or above b; std::nullopt when either is
// not a decimal text. Leading zeros of the whole part and trailing zeros of
// the fraction do not count ("01.50" equals "1.5").
std::optional<int> CompareDecimalText(const QString& a, const QString& b);
