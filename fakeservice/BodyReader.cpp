#include "fakeservice/BodyReader.h"

#include "fakeservice/ServerSockets.h"

#include <httplib.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

BodyReader::BodyReader(const httplib::Request& request, std::size_t limit, std::chrono::milliseconds timeout)
    : request_(request), limit_(limit), timeout_(timeout), length_(ContentLength(request))
{
}

std::optional<std::size_t> BodyReader::ContentLength(const httplib::Request& request)
{
    if (request.has_header("Transfer-Encoding") || !request.has_header("Content-Length"))
        return std::nullopt;
    const std::string text = request.get_header_value("Content-Length");
    char* end = nullptr;
    const unsigned long long length = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0')
        return std::nullopt;
    return std::size_t(length);
}

bool BodyReader::Read(const httplib::ContentReader& reader, Sink& sink)
{
    const bool whole =
        reader([&](const char* data, std::size_t length) { return TakeFromLibrary(data, length, sink); });
    return direct_ ? *direct_ : whole;
}

bool BodyReader::TakeFromLibrary(const char* data, std::size_t length, Sink& sink)
{
    const std::size_t used = std::min(length, limit_ - received_);
    sink.Append(data, used);
    received_ += used;
    if (received_ >= limit_)
        return false;
    if (!length_ || *length_ < DirectFrom || received_ >= *length_)
        return true;
    const std::optional<int> fd = Socket();
    if (!fd)
        return true;
    direct_ = ReceiveRest(*fd, sink);
    return false;
}

bool BodyReader::ReceiveRest(int fd, Sink& sink)
{
    const std::size_t end = std::min(*length_, limit_);
    while (received_ < end) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, int(timeout_.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const auto [room, space] = sink.Room();
        const ssize_t got = ::recv(fd, room, std::min(space, end - received_), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        sink.Filled(std::size_t(got));
        received_ += std::size_t(got);
    }
    return received_ == *length_;
}

std::optional<int> BodyReader::Socket() const
{
    std::optional<int> found;
    const int count = ServerSockets::ForEach(request_.local_port, request_.remote_port, [&](int fd) {
        found = fd;
        return true;
    });
    return count == 1 ? found : std::nullopt;
}
