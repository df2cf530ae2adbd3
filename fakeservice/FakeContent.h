#pragma once

// The bytes of a stored file or of an upload buffer, kept in ContentFiles
// (memory while small, an unnamed file once large): a content grows by
// appending to its last file, an append of other content shares that
// content's files instead of copying them, and a download reads the bytes
// piece by piece through one buffer.
//
// A value: copies are cheap and independent. They share the files, whose
// bytes never change; an append that finds its file grown by another copy
// starts a file of its own.

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

class ContentFile;

class FakeContent {
public:
    // Other content at least this large is shared by an append, smaller
    // content is copied (so that many small appends do not make many files).
    static constexpr qint64 ShareFrom = qint64(4) << 20;
    // The buffer that Read uses when it is given none.
    static constexpr qint64 PieceSize = qint64(256) << 10;

    // Takes one piece; false stops the reading.
    using PieceWriter = std::function<bool(const char* data, qint64 length)>;

    FakeContent() = default;
    explicit FakeContent(const QByteArray& bytes);

    qint64 Size() const { return size_; }
    bool IsEmpty() const { return size_ == 0; }

    void Append(const char* data, qint64 length);
    void Append(const QByteArray& bytes);
    void Append(const FakeContent& other);

    // Keeps the first size bytes.
    void Truncate(qint64 size);

    // Hands the bytes from offset on, up to length of them (clamped to the
    // content), to write in consecutive pieces of at most the buffer's size,
    // each read into buffer (made PieceSize large when empty). False when
    // write stopped or the bytes could not be read.
    bool Read(qint64 offset, qint64 length, std::vector<char>& buffer, const PieceWriter& write) const;

    // Up to length bytes from offset, in one array.
    QByteArray Mid(qint64 offset, qint64 length) const;
    // All of it in one array: for small contents and for tests.
    QByteArray Bytes() const;
    // The lower-case hex MD5 of all of it, read piece by piece.
    QByteArray Md5Hex() const;

private:
    struct Segment {
        std::shared_ptr<ContentFile> file;
        qint64 offset = 0;  // within the file
        qint64 length = 0;
    };

    // Calls visit(segment, offset within it, length) for each segment that
    // the range touches, in order; stops when visit returns false.
    bool ForEachSegment(qint64 offset, qint64 length,
                        const std::function<bool(const Segment&, qint64, qint64)>& visit) const;

    std::vector<Segment> segments_;
    qint64 size_ = 0;
};
