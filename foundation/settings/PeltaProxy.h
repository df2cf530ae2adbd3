#pragma once

// The proxy settings that every HTTP client of the agent applies, and the
// process-wide copy of them (AppProxy).

#include <QString>

#include <curl/curl.h>

#include <mutex>

class PeltaProxy {
public:
    QString server;         // proxy host
    int port = 0;
    bool enable = false;
    bool req_auth = false;  // the proxy needs credentials
    int type = 0;           // 0 none; 1 without credentials; 2, 3 with credentials when req_auth
    QString login;
    QString pass;           // kept in plain text

    // True when a proxy is to be used: enabled with a type from 1 to 3.
    bool InUse() const;

    // Sets the handle's proxy options. The proxy is always set explicitly (an
    // empty text when none applies), so proxies named in the environment
    // (http_proxy, no_proxy, ...) never take effect. Credentials are passed
    // only for types 2 and 3 with req_auth; otherwise they are cleared.
    // False when libcurl refused an option (e.g. a port out of range).
    bool Apply(CURL* handle) const;
};

// The process-wide proxy settings. Set() replaces them as a whole; readers take
// a copy with Get() when they configure a client, so a reload is never seen
// half done.
class SharedProxy {
public:
    PeltaProxy Get() const;
    void Set(PeltaProxy proxy);

private:
    mutable std::mutex mutex_;
    PeltaProxy proxy_;
};

extern SharedProxy AppProxy;
