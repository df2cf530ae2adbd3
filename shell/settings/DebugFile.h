#pragma once

// The debug file "pelta.debug" in the data folder. Its presence turns on
// debug mode; its lines point the agent at other hosts:
//
//   1  service base (replaces ServiceUrl)
//   2  not used
//   3  upload host (replaces UploadUrl)
//   4  push-host suffix; a blank is appended (replaces ApeHostSuffix)
//   5  optional: the server profile's name (replaces ServerProfile)
//
// followed by optional "key=value" lines for the hosts the five lines do not
// cover: account_server (the member login's host), signed_api (the address
// of "api.php") and update_server (the version list's host).
//
// Every line is trimmed. Lines 1, 3 and 4 are used only when the file has at
// least four lines, line 1 is not empty and does not begin with "#"; debug
// mode is on all the same. A line that cannot be used is named in the
// problems, for the log, and changes nothing.

#include <QString>
#include <QStringList>

#include <optional>

class DebugFile {
public:
    static const QString FileName;  // "pelta.debug"

    // The file's largest size that is read; more is ignored and reported.
    static constexpr qint64 MaxBytes = 64 * 1024;

    bool present = false;  // the file exists: debug mode
    bool endpointsReplaced = false;
    QString serviceUrl;
    QString uploadUrl;
    QString apeHostSuffix;
    std::optional<QString> profile;
    QString accountServer;  // e.g. "http://127.0.0.1:8081"; empty when not given
    QString signedApiUrl;   // e.g. "http://127.0.0.1:8080/api.php"
    QString updateServer;
    QStringList problems;

    // Reads the file at path; a missing file gives present == false.
    static DebugFile Read(const QString& path);
    // The lines of an existing file.
    static DebugFile Parse(const QStringList& lines);

    // Sets the process-wide endpoints and profile that the file replaces.
    void ApplyToProcess() const;

    // The member login's two addresses on the account server: the default
    // paths on the given host. Empty when no account server is given.
    QString MemberTokenUrl() const;
    QString ClientAuthUrl() const;

private:
    void ParseEndpoints(const QStringList& lines);
    void ParseKeyValue(const QString& line, int number);
};
