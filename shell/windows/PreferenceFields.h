#pragma once

// The checks of the preferences' typed fields, made before anything is
// applied: a bandwidth is a whole number of KB/s from 0 ("0": unlimited) to
// MaxBandwidth; a proxy port, when a proxy server is given, is a number from
// 1 to 65535. Blanks around a number are ignored.

#include <QString>

#include <cstdint>
#include <optional>

class PreferenceFields {
public:
    static constexpr std::int64_t MaxBandwidth = 10'000'000;  // KB/s, about 10 GB/s
    static constexpr int MaxPort = 65535;

    // The tab a refused field is on.
    enum Tab : int { GeneralTab = 0, ProxyTab = 1, BandwidthTab = 2, LinksTab = 3 };

    struct Input {
        QString upload;
        QString download;
        QString proxyServer;
        QString proxyPort;
    };

    struct Values {
        std::int64_t upload = 0;
        std::int64_t download = 0;
        bool proxyGiven = false;  // a server was typed: the proxy is saved
        QString proxyServer;
        int proxyPort = 0;
    };

    struct Outcome {
        bool valid = false;
        Values values;
        Tab tab = GeneralTab;  // where the refused field is
        QString message;       // why it was refused
    };

    static std::optional<std::int64_t> Bandwidth(const QString& text);
    static std::optional<int> ProxyPort(const QString& text);
    // Every field checked; valid only when all of them are.
    static Outcome Check(const Input& input);
};
