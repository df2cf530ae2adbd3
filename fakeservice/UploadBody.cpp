#include "fakeservice/UploadBody.h"

#include <algorithm>
#include <cstring>
#include <utility>

UploadBody::UploadBody(std::string contentType, std::size_t headLength, std::size_t expectedLength)
    : contentType_(std::move(contentType)), headLength_(headLength)
{
    if (const std::optional<QByteArray> boundary = MultipartBody::Boundary(contentType_))
        multipart_.emplace(*boundary);
    if (expectedLength >= RelayFrom) {
        relay_ = std::make_unique<PieceRelay>(BufferSize,
                                              [this](const char* data, std::size_t length) { HandOn(data, length); });
    }
}

void UploadBody::Append(const char* data, std::size_t length)
{
    while (length > 0) {
        const auto [room, space] = Room();
        const std::size_t take = std::min(length, space);
        std::memcpy(room, data, take);
        Filled(take);
        data += take;
        length -= take;
    }
}

std::pair<char*, std::size_t> UploadBody::Room()
{
    if (relay_)
        return relay_->Room();
    if (buffer_.empty())
        buffer_.resize(BufferSize);
    if (buffered_ == buffer_.size())
        HandOn();
    return {buffer_.data() + buffered_, buffer_.size() - buffered_};
}

void UploadBody::Filled(std::size_t length)
{
    // The room is where it was when it was asked for: not full, so not
    // handed on since.
    Count(Room().first, length);
    if (relay_)
        relay_->Filled(length);
    else
        buffered_ += length;
}

void UploadBody::Finish()
{
    if (relay_)
        relay_->Finish();
    HandOn();
}

MultipartBody::Result UploadBody::TakeParts()
{
    if (!multipart_)
        return MultipartBody::Result{std::nullopt, QStringLiteral("not a multipart body")};
    return multipart_->Finish();
}

void UploadBody::HandOn()
{
    HandOn(buffer_.data(), buffered_);
    buffered_ = 0;
}

void UploadBody::HandOn(const char* data, std::size_t length)
{
    if (length == 0)
        return;
    if (multipart_)
        multipart_->Append(data, qsizetype(length));
    else
        content_.Append(data, qint64(length));
}

void UploadBody::Count(const char* data, std::size_t length)
{
    head_.append(data, std::min(length, headLength_ - head_.size()));
    size_ += length;
}
