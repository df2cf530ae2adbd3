#pragma once

// The key of a file or folder record: 32 lower-case hex digits of the MD5 of
// the member serial number, "_" and the relative path with every "\" turned
// into "/". Keys read back from the store or received from elsewhere are
// checked with IsValid before they are used.

#include <QString>

class RecordKey {
public:
    static QString Of(const QString& userSn, const QString& relativePath);

    // Exactly 32 hex digits.
    static bool IsValid(const QString& key);
    // A valid key, or "\" (the parent of an item directly in the sync folder).
    static bool IsValidParent(const QString& parent);
};
