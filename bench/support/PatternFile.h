#pragma once

// The benches' file content: byte i of every file is a function of i alone,
// so a file of any size is made, and its MD5 known, without holding it.

#include <QByteArray>
#include <QString>

class PatternFile {
public:
    // Bytes from..from+count-1 of the pattern.
    static void Fill(char* data, qint64 from, qint64 count);
    // The lower-case hex MD5 of the pattern's first size bytes.
    static QByteArray Md5(qint64 size);
    // A file of the pattern's first size bytes; false when it cannot be written.
    static bool Write(const QString& path, qint64 size);
    // The lower-case hex MD5 of a file; "<unreadable>" when it cannot be read.
    static QByteArray FileMd5(const QString& path);

    // The block size the pattern is made in.
    static constexpr qint64 Block = 1048576;
};
