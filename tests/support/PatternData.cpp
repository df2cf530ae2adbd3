#include "tests/support/PatternData.h"

QByteArray PatternData(qint64 size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + i / 251 + seed) % 256);
    return bytes;
}
