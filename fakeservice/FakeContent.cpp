#include "fakeservice/FakeContent.h"

#include "fakeservice/ContentFile.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

// The buffer of an append that copies: small, so it is reused rather than
// mapped afresh.
constexpr qint64 CopyPiece = qint64(64) << 10;

}  // namespace

FakeContent::FakeContent(const QByteArray& bytes)
{
    Append(bytes);
}

void FakeContent::Append(const char* data, qint64 length)
{
    if (length <= 0)
        return;
    if (!segments_.empty()) {
        Segment& last = segments_.back();
        if (last.file->AppendAt(last.offset + last.length, data, length)) {
            last.length += length;
            size_ += length;
            return;
        }
    }
    auto file = std::make_shared<ContentFile>();
    if (!file->AppendAt(0, data, length))
        return;  // reported by the file
    segments_.push_back(Segment{std::move(file), 0, length});
    size_ += length;
}

void FakeContent::Append(const QByteArray& bytes)
{
    Append(bytes.constData(), bytes.size());
}

void FakeContent::Append(const FakeContent& other)
{
    if (other.size_ >= ShareFrom) {
        const std::vector<Segment> shared = other.segments_;  // other may be this content
        const qint64 added = other.size_;
        segments_.insert(segments_.end(), shared.begin(), shared.end());
        size_ += added;
        return;
    }
    if (other.size_ == 0)
        return;
    const FakeContent copy = other;
    std::vector<char> buffer(std::size_t(std::min(copy.size_, CopyPiece)));
    copy.Read(0, copy.size_, buffer, [this](const char* data, qint64 length) {
        Append(data, length);
        return true;
    });
}

void FakeContent::Truncate(qint64 size)
{
    size = std::max<qint64>(size, 0);
    while (!segments_.empty() && size_ - segments_.back().length >= size) {
        size_ -= segments_.back().length;
        segments_.pop_back();
    }
    if (!segments_.empty() && size_ > size) {
        segments_.back().length -= size_ - size;
        size_ = size;
    }
}

bool FakeContent::Read(qint64 offset, qint64 length, std::vector<char>& buffer, const PieceWriter& write) const
{
    if (buffer.empty())
        buffer.resize(std::size_t(PieceSize));
    const auto bufferSize = qint64(buffer.size());
    return ForEachSegment(offset, length, [&](const Segment& segment, qint64 from, qint64 count) {
        while (count > 0) {
            const qint64 piece = std::min(count, bufferSize);
            if (!segment.file->Read(segment.offset + from, buffer.data(), piece) || !write(buffer.data(), piece))
                return false;
            from += piece;
            count -= piece;
        }
        return true;
    });
}

QByteArray FakeContent::Mid(qint64 offset, qint64 length) const
{
    offset = std::clamp<qint64>(offset, 0, size_);
    length = std::clamp<qint64>(length, 0, size_ - offset);
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    char* out = bytes.data();
    const bool read = ForEachSegment(offset, length, [&](const Segment& segment, qint64 from, qint64 count) {
        if (!segment.file->Read(segment.offset + from, out, count))
            return false;
        out += count;
        return true;
    });
    return read ? bytes : QByteArray();
}

QByteArray FakeContent::Bytes() const
{
    return Mid(0, size_);
}

QByteArray FakeContent::Md5Hex() const
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    std::vector<char> buffer;
    Read(0, size_, buffer, [&](const char* data, qint64 length) {
        hash.addData(QByteArrayView(data, length));
        return true;
    });
    return hash.result().toHex();
}

bool FakeContent::ForEachSegment(qint64 offset, qint64 length,
                                 const std::function<bool(const Segment&, qint64, qint64)>& visit) const
{
    qint64 start = 0;
    for (const Segment& segment : segments_) {
        if (length <= 0)
            break;
        const qint64 end = start + segment.length;
        if (offset < end && offset >= start) {
            const qint64 count = std::min(length, end - offset);
            if (!visit(segment, offset - start, count))
                return false;
            offset += count;
            length -= count;
        }
        start = end;
    }
    return true;
}
