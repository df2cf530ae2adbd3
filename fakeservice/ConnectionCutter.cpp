#include "fakeservice/ConnectionCutter.h"

#include "fakeservice/ServerSockets.h"

#include <sys/socket.h>

namespace {

bool ShutDown(int fd)
{
    return shutdown(fd, SHUT_RDWR) == 0;
}

}  // namespace

bool ConnectionCutter::Cut(int localPort, int remotePort)
{
    return ServerSockets::ForEach(localPort, remotePort, ShutDown) > 0;
}

int ConnectionCutter::CutAll(int localPort)
{
    return ServerSockets::ForEach(localPort, ServerSockets::AnyPeer, ShutDown);
}
