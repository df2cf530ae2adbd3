// The fake's stored bytes: whatever the pieces and the sharing, a content
// gives back exactly the bytes appended to it.

#include "fakeservice/FakeContent.h"

#include "fakeservice/ContentFile.h"
#include "tests/support/PatternData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr qint64 Large = FakeContent::ShareFrom + 12345;

FakeContent InPieces(const QByteArray& bytes, qint64 piece)
{
    FakeContent content;
    for (qint64 at = 0; at < bytes.size(); at += piece)
        content.Append(bytes.constData() + at, std::min<qint64>(piece, bytes.size() - at));
    return content;
}

// The bytes as Read hands them over through a buffer of this size.
QByteArray ReadThrough(const FakeContent& content, qint64 offset, qint64 length, std::size_t bufferSize)
{
    std::vector<char> buffer(bufferSize);
    QByteArray bytes;
    EXPECT_TRUE(content.Read(offset, length, buffer, [&](const char* data, qint64 count) {
        EXPECT_LE(count, qint64(bufferSize));
        bytes.append(data, count);
        return true;
    }));
    return bytes;
}

TEST(FakeContentTest, GivesBackTheBytesWhateverThePiecesAndRanges)
{
    // Past the memory limit, so the bytes move to a file on the way.
    const QByteArray bytes = PatternData(3 * ContentFile::MemoryLimit + 77);
    for (const qint64 piece : {qint64(1), qint64(4095), ContentFile::MemoryLimit + 1, bytes.size()}) {
        SCOPED_TRACE(piece);
        const FakeContent content = InPieces(bytes, piece);
        EXPECT_EQ(content.Size(), bytes.size());
        EXPECT_TRUE(content.Bytes() == bytes);
        for (const qint64 offset : {qint64(0), ContentFile::MemoryLimit - 1, bytes.size() - 3}) {
            EXPECT_TRUE(content.Mid(offset, 5000) == bytes.mid(offset, 5000)) << offset;
            EXPECT_TRUE(ReadThrough(content, offset, 70000, 1000) == bytes.mid(offset, 70000)) << offset;
        }
    }
    EXPECT_TRUE(FakeContent().Bytes().isEmpty());
    EXPECT_TRUE(FakeContent(bytes).Mid(bytes.size(), 10).isEmpty());
}

TEST(FakeContentTest, CopiesStayIndependentThroughAppendsAndTruncation)
{
    for (const qint64 size : {qint64(100), 2 * ContentFile::MemoryLimit}) {
        SCOPED_TRACE(size);
        const QByteArray start = PatternData(size);
        FakeContent first(start);
        FakeContent second = first;
        first.Append(QByteArray("first"));
        second.Append(QByteArray("second"));  // its file was grown by the first: it starts one of its own
        FakeContent third = second;
        third.Truncate(size - 10);
        third.Append(QByteArray("third"));
        EXPECT_TRUE(first.Bytes() == start + "first");
        EXPECT_TRUE(second.Bytes() == start + "second");
        EXPECT_TRUE(third.Bytes() == start.left(size - 10) + "third");
    }
}

TEST(FakeContentTest, AppendedContentIsSharedOrCopiedAndStaysIntact)
{
    for (const qint64 size : {qint64(1000), Large}) {
        SCOPED_TRACE(size);
        const QByteArray head = PatternData(300, 1);
        const QByteArray part = PatternData(size, 2);
        FakeContent buffer(head);
        FakeContent upload(part);
        buffer.Append(upload);
        upload.Append(QByteArray("later"));  // no effect on what the buffer took
        buffer.Append(QByteArray("tail"));
        EXPECT_TRUE(buffer.Bytes() == head + part + "tail");
        EXPECT_TRUE(upload.Bytes() == part + "later");
        buffer.Append(buffer);
        EXPECT_TRUE(buffer.Bytes() == (head + part + "tail").repeated(2));
    }
}

}  // namespace
