#include "platform/FileWriteBack.h"

#include "tests/support/FileContents.h"
#include "tests/support/PatternData.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <ostream>
#include <vector>

namespace {

constexpr std::int64_t Window = FileWriteBack::Window;
constexpr std::int64_t Lag = FileWriteBack::Lag;
constexpr unsigned Start = SYNC_FILE_RANGE_WRITE;
constexpr unsigned Settle = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;

// One range handed to the disk.
struct Handed {
    std::int64_t offset;
    std::int64_t length;
    unsigned flags;

    bool operator==(const Handed&) const = default;
};

void PrintTo(const Handed& handed, std::ostream* out)
{
    *out << "{" << handed.offset << ", " << handed.length << ", "
         << (handed.flags == Start ? "start" : handed.flags == Settle ? "settle" : "other flags") << "}";
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
    const QByteArray head = PatternData(300000, 1);
    const QByteArray tail = PatternData(2 * Window + 12345, 2);
    ASSERT_TRUE(WriteFileBytes(path, head));

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

    EXPECT_TRUE(ReadFileBytes(path) == head + tail);
}

// What goes to the disk while a resumed download runs: each window as soon
// as it is complete, without waiting, and everything more than Lag behind
// the writer waited for. Every range handed over is this file's and has
// already left the file's own buffer (handing over data the kernel has not
// yet seen does nothing). The writer jumps ahead over holes, so the file
// stays small on the disk.
TEST(FileWriteBack, HandsEachFinishedWindowToTheDiskAndWaitsOnlyBeyondTheLag)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("partial"));
    constexpr std::int64_t From = 300000;
    ASSERT_TRUE(WriteFileBytes(path, PatternData(From, 1)));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));

    std::vector<Handed> handed;
    FileWriteBack writeBack(From, [&](int fd, std::int64_t offset, std::int64_t length, unsigned flags) {
        EXPECT_EQ(fd, file.handle());
        struct stat info {};
        EXPECT_EQ(::fstat(fd, &info), 0);
        EXPECT_GE(info.st_size, offset + length) << "handed over while still in the file's buffer";
        handed.push_back({offset, length, flags});
    });

    const struct {
        std::int64_t written;  // the writer's position, from From on
        std::vector<Handed> expected;
    } steps[] = {
        {1 << 20, {}},
        {Window - 1, {}},
        {Window + 5, {{From, Window + 5, Start}}},
        {2 * Window, {}},  // less than a window since the last one
        {3 * Window, {{From + Window + 5, 2 * Window - 5, Start}}},
        {Lag + 2 * Window, {{From + 3 * Window, Lag - Window, Start}, {From, 2 * Window, Settle}}},
        {Lag + 2 * Window + Window / 2, {}},
        {Lag + 4 * Window, {{From + Lag + 2 * Window, 2 * Window, Start}, {From + 2 * Window, 2 * Window, Settle}}},
    };
    const QByteArray piece = PatternData(4096, 3);  // stays in the file's buffer until flushed
    for (const auto& step : steps) {
        SCOPED_TRACE(step.written);
        ASSERT_TRUE(file.seek(From + step.written - piece.size()));
        ASSERT_EQ(file.write(piece), piece.size());
        handed.clear();
        writeBack.Wrote(file);
        EXPECT_EQ(handed, step.expected);
    }
}

TEST(FileWriteBack, FlushOfAFileThatIsNotOpenFails)
{
    QFile closed(QStringLiteral("/nonexistent/never-opened"));
    EXPECT_FALSE(FileWriteBack::FlushToDisk(closed));
}
