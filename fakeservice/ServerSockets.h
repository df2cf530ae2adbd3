#pragma once

// Finds the fake service's connected TCP sockets, which the HTTP library
// keeps to itself, by their addresses: the descriptors of this process are
// walked and each socket's local and peer ports compared.

#include <functional>

namespace ServerSockets {

// Matches every peer port.
inline constexpr int AnyPeer = -1;

// Calls the action for every connected socket whose local port is the given
// one and whose peer port is remotePort (or any, for AnyPeer); the listening
// socket has no peer and is never passed. Returns how many calls returned
// true.
int ForEach(int localPort, int remotePort, const std::function<bool(int fd)>& action);

}  // namespace ServerSockets
