#pragma once

// The HTTP, digest and file work of the version check. The version list may
// come over plain HTTP; a file is downloaded only from an https address with
// the peer verified, into a temporary name in the update folder, and takes
// its name only once its MD5 matches the list (a short or altered download
// replaces nothing). Every transfer has time-outs and ends when the agent
// leaves the online state or the stop flag is raised.
//
// Used by the check's thread only.

#include "shell/update/VersionList.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <vector>

class PeltaVersion {
public:
    struct Options {
        QString listUrl;       // "%d" takes the current Unix time
        QString caFile;        // certificates to trust beyond the system's (tests); empty: the system's
        const std::atomic<bool>* stop = nullptr;
        std::chrono::milliseconds listTimeout{5000};
        std::chrono::milliseconds connectTimeout{10000};
        std::chrono::milliseconds readTimeout{30000};
    };

    explicit PeltaVersion(Options options);

    // Fetches and parses the list; false with the reason in error.
    bool FetchVersions(std::vector<VersionList::Entry>& entries, QString& error);
    // The list's text; empty on failure.
    QByteArray HttpGetText(const QString& url);
    // Downloads the address (https only, see VersionList::SecureUrl) to
    // target when the bytes have the digest; false (target untouched) when
    // there is no secure address, the transfer fails or the digest differs.
    bool DownloadVerified(const QString& url, const QString& md5sum, const QString& target, QString& error);

    // Lower-case hex MD5 of the file; empty when it cannot be read.
    static QString FileMD5(const QString& path);

private:
    bool Transfer(const QString& url, bool secureOnly, std::chrono::milliseconds total,
                  const std::function<bool(const char*, std::size_t)>& sink, QString& error);

    Options options_;
};
