#include "bench/support/PatternFile.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>

void PatternFile::Fill(char* data, qint64 from, qint64 count)
{
    for (qint64 i = 0; i < count; ++i) {
        const qint64 at = from + i;
        data[i] = char((at * 31 + at / 251) % 256);
    }
}

QByteArray PatternFile::Md5(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block(Block, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += Block) {
        const qint64 n = std::min(Block, size - at);
        Fill(block.data(), at, n);
        hash.addData(QByteArrayView(block.constData(), n));
    }
    return hash.result().toHex();
}

bool PatternFile::Write(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(Block, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += Block) {
        const qint64 n = std::min(Block, size - at);
        Fill(block.data(), at, n);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    return true;
}

QByteArray PatternFile::FileMd5(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return "<unreadable>";
    return hash.result().toHex();
}
