#pragma once

// Copies of files below the sync folder, reached through LocalItem (no link
// is followed). A copy is written to a temporary name beside its destination,
// flushed to disk with the source's modification time, and only then renamed
// into place, so a reader never sees half a copy and a crash leaves at most
// the temporary file.

#include <QString>

#include <cstdint>

class FileCopy {
public:
    // The temporary name of a copy on its way to destination; the file filter
    // ignores it, should it lie in the sync folder.
    static QString TemporaryOf(const QString& destination);

    // Copies the regular file source to destination (both below root),
    // replacing what destination held. size and mtime receive the copy's. The
    // errno of a failure in error; nothing is left at the temporary name.
    static bool Replacing(const QString& root, const QString& source, const QString& destination, std::int64_t& size,
                          std::int64_t& mtime, int& error);

    // As Replacing, but the copy is put at destination only when nothing is
    // there (EEXIST otherwise).
    static bool NoReplace(const QString& root, const QString& source, const QString& destination, int& error);

    // Copies the rest of one open file into another; 0 or the errno.
    static int Content(int from, int to);

private:
    static bool ToTemporary(const QString& root, const QString& source, const QString& temporary,
                            std::int64_t& size, std::int64_t& mtime, int& error);
};
