#pragma once

// Paths as the monitor and the merging thread use them: relative to the sync
// folder, "\"-separated, with a leading "\" ("\" alone is the sync folder
// itself). "/" appears only in the full paths handed to the file system.

#include <QByteArray>
#include <QString>

class MonitorPath {
public:
    // "\" + name below the sync folder, folder + "\" + name elsewhere.
    static QString Join(const QString& folder, const QString& name);

    // The folder part of a relative path: "\a\b" gives "\a", "\a" gives "\".
    static QString Parent(const QString& path);

    // The last component: "\a\b" gives "b".
    static QString Name(const QString& path);

    // True for path itself and for everything below it.
    static bool IsWithin(const QString& path, const QString& folder);

    // The cache folder directly below the sync folder, or anything inside it.
    static bool IsCacheFolder(const QString& path);

    // The file-system path of a relative path below root ("/"-separated).
    static QString ToFileSystem(const QString& root, const QString& path);
    static QByteArray ToFileSystemBytes(const QString& root, const QString& path);

    // Decodes one name as the file system gives it. False, with the reason,
    // when the name cannot be represented inside the system: not valid UTF-8,
    // holding "\", empty, or longer than 255 bytes.
    static bool DecodeName(const QByteArray& bytes, QString& name, QString& reason);
};
