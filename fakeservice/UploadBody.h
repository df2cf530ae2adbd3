#pragma once

// The body of one upload request as it arrives, chunk by chunk, gathered in
// a fixed buffer and handed on in large chunks (ChunkRelay, which hands a
// large body on from a thread of its own, so that it is stored while the
// next bytes arrive): a multipart body is split into its parts on the way
// (MultipartBody), any other body kept as it came; either way in
// FakeContent, never in one growing array. The first bytes are also kept
// apart, for the call log.

#include "fakeservice/BodyReader.h"
#include "fakeservice/FakeContent.h"
#include "fakeservice/MultipartBody.h"
#include "fakeservice/ChunkRelay.h"

#include <cstddef>
#include <optional>
#include <string>

class UploadBody : public BodyReader::Sink {
public:
    // The library hands over a few KiB at a time; gathering them spares a
    // write and a search for every few KiB.
    static constexpr std::size_t BufferSize = std::size_t(1) << 20;
    // Bodies announced at this length or more are stored on a thread of
    // their own.
    static constexpr std::size_t RelayFrom = std::size_t(1) << 20;

    // contentType: the request's, as it arrived; headLength: how many of the
    // first bytes Head() keeps; expectedLength: the announced length (0 when
    // unknown).
    UploadBody(std::string contentType, std::size_t headLength, std::size_t expectedLength);

    UploadBody(const UploadBody&) = delete;
    UploadBody& operator=(const UploadBody&) = delete;

    void Append(const char* data, std::size_t length) override;
    std::pair<char*, std::size_t> Room() override;
    void Filled(std::size_t length) override;
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
    void HandOn(const char* data, std::size_t length);
    // Counts bytes that arrived, keeping the first ones as the head.
    void Count(const char* data, std::size_t length);

    std::string contentType_;
    std::size_t headLength_;
    std::optional<MultipartBody> multipart_;
    FakeContent content_;
    std::string head_;
    std::size_t size_ = 0;
    ChunkRelay relay_;  // last: its thread uses the members above
};
