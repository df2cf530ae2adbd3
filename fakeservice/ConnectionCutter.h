#pragma once

// Cuts the fake service's TCP connections from outside the HTTP library,
// which offers no handle on them: the sockets are found by their addresses
// (ServerSockets) and shut down (not closed; the library still owns and
// closes them). A cut connection ends at once for both sides: the client
// sees a dropped connection, and a library thread blocked on it returns.

class ConnectionCutter {
public:
    // The server-side socket of the connection between the local port and
    // the peer's port; false when there is none.
    static bool Cut(int localPort, int remotePort);

    // Every connected socket whose local port is the given one (the
    // listening socket has no peer and stays). Returns how many were cut.
    static int CutAll(int localPort);
};
