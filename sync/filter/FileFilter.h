#pragma once

// Files that are never synchronised, judged by their name alone: lock and
// temporary files of office programs and editors, partial downloads, the
// shell's folder settings and thumbnail caches, and short hex-digit names
// that programs use for scratch files. No side effects, no disk access; any
// thread may call it.

#include <QString>

class FileFilter {
public:
    // path may be relative ("\" separators) or full ("/"); only its last
    // name and that name's extension (from the last "." on) are looked at.
    static bool IsIgnored(const QString& path);

private:
    static bool IsIgnoredTmp(const QString& name, const QString& lowerName);
    static bool IsIgnoredOther(const QString& name, const QString& lowerName, const QString& lowerExt);
    // Whole-text match of one of the two patterns; false when the library
    // gives up on the text.
    static bool MatchesTmpPattern(const QString& lowerName);
    static bool MatchesHexPattern(const QString& name);
};
