#pragma once

// Reads the body of one request for a handler that takes it piece by piece.
//
// The HTTP library reads a body 4 KiB at a time, with a wait and a receive
// for each piece (the size is fixed in the library as built), which would
// make the fake the slowest part of a large upload. So for a body of known
// length from BodyReader::DirectFrom bytes on, only the first piece comes
// through the library (it may already hold those bytes in its own buffer,
// and it hands them over whole); the rest is received here straight from
// the connection's socket in large pieces, and the library is then told to
// stop. The request is read exactly to its end, so the connection goes on
// with the next request as usual; the library takes the stop for a refused
// body and sets the answer's status to 400, so the handler sets the status
// it means. Smaller bodies, bodies without a Content-Length and connections
// whose socket is not found are read through the library.

#include <chrono>
#include <cstddef>
#include <optional>
#include <utility>

namespace httplib {
class ContentReader;
struct Request;
}  // namespace httplib

class BodyReader {
public:
    static constexpr std::size_t DirectFrom = std::size_t(256) << 10;

    // Where the body goes.
    class Sink {
    public:
        virtual ~Sink() = default;
        // Bytes that the library read.
        virtual void Append(const char* data, std::size_t length) = 0;
        // Where bytes may be received straight into (at least one byte),
        // and then how many were.
        virtual std::pair<char*, std::size_t> Room() = 0;
        virtual void Filled(std::size_t length) = 0;
    };

    // limit: the reading stops after that many bytes; timeout: how long to
    // wait for the peer's next bytes.
    BodyReader(const httplib::Request& request, std::size_t limit, std::chrono::milliseconds timeout);

    // Puts the body into the sink, in order. True when the whole body
    // arrived (false also when the limit ended the reading first).
    bool Read(const httplib::ContentReader& reader, Sink& sink);

    // The request's Content-Length; std::nullopt when it has none (or is
    // sent in chunks).
    static std::optional<std::size_t> ContentLength(const httplib::Request& request);

private:
    // The piece the library handed over; false stops the library.
    bool TakeFromLibrary(const char* data, std::size_t length, Sink& sink);
    // Receives the rest of the body from the socket; true when it arrived.
    bool ReceiveRest(int fd, Sink& sink);
    std::optional<int> Socket() const;

    const httplib::Request& request_;
    std::size_t limit_;
    std::chrono::milliseconds timeout_;
    std::optional<std::size_t> length_;  // Content-Length, when the body has one
    std::size_t received_ = 0;
    std::optional<bool> direct_;  // set once the rest was received here: whether it arrived
};
