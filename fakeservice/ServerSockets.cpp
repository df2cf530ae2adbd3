#include "fakeservice/ServerSockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <memory>

namespace ServerSockets {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

int PortOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

bool LocalPort(int fd, int& port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    port = PortOf(address);
    return port >= 0;
}

bool PeerPort(int fd, int& port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;  // not connected: the listening socket, for one
    port = PortOf(address);
    return port >= 0;
}

bool Matches(int fd, int localPort, int remotePort)
{
    int local = -1;
    int peer = -1;
    if (!LocalPort(fd, local) || local != localPort || !PeerPort(fd, peer))
        return false;
    return remotePort == AnyPeer || peer == remotePort;
}

}  // namespace

int ForEach(int localPort, int remotePort, const std::function<bool(int fd)>& action)
{
    const std::unique_ptr<DIR, DirCloser> dir(opendir("/proc/self/fd"));
    if (!dir)
        return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir.get())) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0')
            continue;
        if (Matches(int(fd), localPort, remotePort) && action(int(fd)))
            ++count;
    }
    return count;
}

}  // namespace ServerSockets
