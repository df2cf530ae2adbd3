#pragma once

// The body of one upload request as it arrives, piece by piece: small
// pieces are gathered in a fixed buffer and handed on in large ones; a
// multipart body is split into its parts on the way (MultipartBody), any
// other body kept as it came; either way in FakeContent, never in one
// growing array. The first bytes are also kept apart, for the call log.

#include "fakeservice/FakeContent.h"
#include "fakeservice/MultipartBody.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class UploadBody {
public:
    // The library hands over a few KiB at a time; gathering them spares a
    // write and a search for every few KiB.
    static constexpr std::size_t BufferSize = std::size_t(256) << 10;

    // contentType: the request's, as it arrived; headLength: how many of the
    // first bytes Head() keeps.
    UploadBody(std::string contentType, std::size_t headLength);

    void Append(const char* data, std::size_t length);
    // After the last piece.
    void Finish();

    const std::string& ContentType() const { return contentType_; }
    std::size_t Size() const { return size_; }
    const std::string& Head() const { return head_; }

    bool IsMultipart() const { return multipart_.has_value(); }
    // The parts of a multipart body, after Finish().
    MultipartBody::Result TakeParts();
    // Any other body, after Finish().
    const FakeContent& Content() const { return content_; }

private:
    // Hands on what the buffer holds, or the given bytes.
    void HandOn();
    void HandOn(const char* data, std::size_t length);

    std::string contentType_;
    std::size_t headLength_;
    std::optional<MultipartBody> multipart_;
    FakeContent content_;
    std::vector<char> buffer_;
    std::string head_;
    std::size_t size_ = 0;
};
