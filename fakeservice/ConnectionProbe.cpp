#include "fakeservice/ConnectionProbe.h"

#include "fakeservice/ServerSockets.h"

#include <poll.h>

namespace {

bool HungUp(int fd)
{
    pollfd entry{fd, POLLRDHUP, 0};
    if (poll(&entry, 1, 0) < 0)
        return true;
    return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

bool ConnectionProbe::PeerGone(int localPort, int remotePort)
{
    bool found = false;
    bool gone = false;
    ServerSockets::ForEach(localPort, remotePort, [&](int fd) {
        found = true;
        gone = gone || HungUp(fd);
        return true;
    });
    return !found || gone;
}
