#pragma once

// The start-up check of the TLS support: the HTTP library must be able to
// speak HTTPS. Nothing is downloaded; the libraries are those of the system.

class TlsCheck {
public:
    static bool Available();
};
