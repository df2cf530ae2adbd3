#pragma once

// Tries an HTTP proxy as the user typed it: one GET through it with short
// time-outs. Any answer of the far end counts as success; a refused, timed
// out or broken exchange as failure. Saves nothing. Any thread.

#include <QString>

#include <chrono>

class ProxyProbe {
public:
    static constexpr std::chrono::milliseconds ConnectTimeout{2000};
    static constexpr std::chrono::milliseconds ReadTimeout{2000};

    static bool Try(const QString& server, int port, const QString& url);
};
