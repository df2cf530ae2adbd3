#include "fakeservice/UploadBody.h"

#include <algorithm>
#include <utility>

UploadBody::UploadBody(std::string contentType, std::size_t headLength)
    : contentType_(std::move(contentType)), headLength_(headLength)
{
    if (const std::optional<QByteArray> boundary = MultipartBody::Boundary(contentType_))
        multipart_.emplace(*boundary);
}

void UploadBody::Append(const char* data, std::size_t length)
{
    head_.append(data, std::min(length, headLength_ - head_.size()));
    size_ += length;
    if (length >= BufferSize / 4) {  // large enough to go on as it is
        HandOn();
        HandOn(data, length);
        return;
    }
    if (buffer_.capacity() == 0)
        buffer_.reserve(BufferSize);
    while (length > 0) {
        const std::size_t take = std::min(length, BufferSize - buffer_.size());
        buffer_.insert(buffer_.end(), data, data + take);
        data += take;
        length -= take;
        if (buffer_.size() == BufferSize)
            HandOn();
    }
}

void UploadBody::Finish()
{
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
    HandOn(buffer_.data(), buffer_.size());
    buffer_.clear();
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
