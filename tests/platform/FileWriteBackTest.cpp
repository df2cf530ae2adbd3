#include "platform/FileWriteBack.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Block(qint64 size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(seed + i % 251);
    return bytes;
}

}  // namespace

// A resumed download: the file already holds a head, the rest is written
// behind it in pieces that do not line up with the windows, through the
// file's own buffer. What reaches the disk must be exactly what was written.
TEST(FileWriteBack, FileWrittenAcrossWindowsFromAResumePositionReadsBackWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("partial"));
    const QByteArray head = Block(300000, 'h');
    const QByteArray tail = Block(2 * FileWriteBack::Window + 12345, 't');
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(head), head.size());
    }

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(file.size()));
    FileWriteBack writeBack(file.pos());
    constexpr qint64 Piece = 777777;
    for (qint64 at = 0; at < tail.size(); at += Piece) {
        const QByteArray piece = tail.mid(at, Piece);
        ASSERT_EQ(file.write(piece), piece.size());
        writeBack.Wrote(file);
    }
    ASSERT_TRUE(FileWriteBack::FlushToDisk(file));
    file.close();

    QFile back(path);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_TRUE(back.readAll() == head + tail);
}

TEST(FileWriteBack, FlushOfAFileThatIsNotOpenFails)
{
    QFile closed(QStringLiteral("/nonexistent/never-opened"));
    EXPECT_FALSE(FileWriteBack::FlushToDisk(closed));
}
