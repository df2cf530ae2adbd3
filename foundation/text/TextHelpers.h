#pragma once

// Splitting texts at delimiter characters and comparing dotted version
// numbers. No state, no locks: any thread may call them.

#include <QString>
#include <QStringList>

#include <stdexcept>

// Raised by CompareVersion when a part it compares is not a decimal integer
// (such as "2b"). Only the version check calls CompareVersion, and it catches
// this.
class VersionFormatError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The tokens of text in order: every maximal run of characters that holds no
// character of delimiters. Runs of delimiters count as one separator and
// leading or trailing delimiters are ignored, so no token is empty; an empty
// text or one made only of delimiters gives an empty list.
QStringList SplitString(const QString& text, const QString& delimiters);

// 1 when version a is newer than b, -1 when older, 0 when equal. The parts
// (split at ".", empty parts skipped) are compared as integers up to the
// shorter part count, so "1.2" equals "1.2.1" and "" equals every version.
// Throws VersionFormatError when a compared part is not an integer.
int CompareVersion(const QString& a, const QString& b);

// The first n dotted parts of version joined by "." (n = 0 gives ""), or
// version unchanged when it has n parts or fewer. A negative n counts as 0.
QString VersionPrefix(const QString& version, int n);
