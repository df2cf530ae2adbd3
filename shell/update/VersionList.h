#pragma once

// The update server's version list: one JSON object whose members are file
// entries, each an object with the texts "version" (dotted numbers), "url"
// and "md5sum" (hex MD5 of the file). A list that is not such an object, or
// has an entry of another shape, is refused as a whole, with the reason.
//
// Names from the list become file names in the update folder only when they
// are safe (SafeName); addresses that code is fetched from are https only
// (SecureUrl).

#include <QByteArray>
#include <QString>

#include <vector>

class VersionList {
public:
    struct Entry {
        QString name;
        QString version;
        QString url;
        QString md5sum;  // lower case
    };

    // The entries in ascending name order (ordinal).
    static bool Parse(const QByteArray& text, std::vector<Entry>& entries, QString& error);

    // A plain file name: not empty, at most 255 bytes, no "/", "\", "..",
    // control character, and not "." .
    static bool SafeName(const QString& name);

    // The address to fetch code from: an https address as it is, the https
    // form of an http one; empty for anything else.
    static QString SecureUrl(const QString& url);

    // Dotted decimal numbers ("1", "0.8.120").
    static bool ValidVersion(const QString& version);
};
