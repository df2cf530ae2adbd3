#include "fakeservice/UploadBody.h"

#include <algorithm>
#include <utility>

UploadBody::UploadBody(std::string contentType, std::size_t headLength, std::size_t expectedLength)
    : contentType_(std::move(contentType)),
      headLength_(headLength),
      relay_(BufferSize, [this](const char* data, std::size_t length) { HandOn(data, length); },
             expectedLength >= RelayFrom)
{
    if (const std::optional<QByteArray> boundary = MultipartBody::Boundary(contentType_))
        multipart_.emplace(*boundary);
}

void UploadBody::Append(const char* data, std::size_t length)
{
    Count(data, length);
    relay_.Append(data, length);
}

std::pair<char*, std::size_t> UploadBody::Room()
{
    return relay_.Room();
}

void UploadBody::Filled(std::size_t length)
{
    // The room is where it was when it was asked for: not full, so not
    // handed on since.
    Count(relay_.Room().first, length);
    relay_.Filled(length);
}

void UploadBody::Finish()
{
    relay_.Finish();
}

MultipartBody::Result UploadBody::TakeParts()
{
    if (!multipart_)
        return MultipartBody::Result{std::nullopt, QStringLiteral("not a multipart body")};
    return multipart_->Finish();
}

void UploadBody::HandOn(const char* data, std::size_t length)
{
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
