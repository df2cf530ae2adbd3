#pragma once

// Tells whether the client of a held request has gone away, so that a reply
// held back for it (a long poll) is not handed to a connection nobody reads.

class ConnectionProbe {
public:
    // True when the peer of the connection between the two ports has closed
    // or reset it, or when the connection no longer exists.
    static bool PeerGone(int localPort, int remotePort);
};
