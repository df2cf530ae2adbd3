#include "shell/settings/DebugFile.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

const QString DebugFile::FileName = QStringLiteral("pelta.debug");

namespace {

constexpr int EndpointLines = 4;
constexpr int ProfileLine = 5;

// An absolute http or https address with a host.
bool IsWebAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QString NoTrailingSlash(QString text)
{
    while (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

// The default address's path and query on the given host.
QString OnHost(const QString& host, const QString& defaultUrl)
{
    const QUrl url(defaultUrl);
    return host + url.path() + (url.hasQuery() ? u'?' + url.query() : QString());
}

}  // namespace

DebugFile DebugFile::Read(const QString& path)
{
    DebugFile result;
    if (!QFileInfo(path).isFile())
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.present = true;
        result.problems << QStringLiteral("cannot be read (%1); the endpoints stay as they are").arg(file.errorString());
        return result;
    }
    const QByteArray bytes = file.read(MaxBytes + 1);
    QStringList lines = QString::fromUtf8(bytes.left(MaxBytes)).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    result = Parse(lines);
    if (bytes.size() > MaxBytes)
        result.problems << QStringLiteral("only the first %1 bytes are read").arg(MaxBytes);
    return result;
}

DebugFile DebugFile::Parse(const QStringList& rawLines)
{
    DebugFile result;
    result.present = true;
    QStringList lines;
    for (const QString& line : rawLines)
        lines << line.trimmed();
    result.ParseEndpoints(lines);
    for (int index = ProfileLine - 1; index < lines.size(); ++index) {
        if (index == ProfileLine - 1 && !lines[index].contains(u'='))
            continue;  // the profile's line
        result.ParseKeyValue(lines[index], index + 1);
    }
    return result;
}

void DebugFile::ParseEndpoints(const QStringList& lines)
{
    if (lines.size() < EndpointLines || lines[0].isEmpty() || lines[0].startsWith(u'#'))
        return;  // debug mode only
    if (!IsWebAddress(lines[0]) || !IsWebAddress(lines[2])) {
        problems << QStringLiteral("line 1 or 3 is no http or https address; the endpoints stay as they are");
        return;
    }
    if (lines[3].isEmpty()) {
        problems << QStringLiteral("line 4 (the push-host suffix) is empty; the endpoints stay as they are");
        return;
    }
    endpointsReplaced = true;
    serviceUrl = NoTrailingSlash(lines[0]);
    uploadUrl = NoTrailingSlash(lines[2]);
    apeHostSuffix = lines[3] + u' ';
    if (lines.size() >= ProfileLine && !lines[ProfileLine - 1].isEmpty() && !lines[ProfileLine - 1].contains(u'='))
        profile = lines[ProfileLine - 1];
}

void DebugFile::ParseKeyValue(const QString& line, int number)
{
    if (line.isEmpty() || line.startsWith(u'#'))
        return;
    const qsizetype equals = line.indexOf(u'=');
    const QString key = line.left(equals).trimmed();
    const QString value = NoTrailingSlash(line.mid(equals + 1).trimmed());
    QString* target = nullptr;
    if (key == QLatin1String("account_server"))
        target = &accountServer;
    else if (key == QLatin1String("signed_api"))
        target = &signedApiUrl;
    else if (key == QLatin1String("update_server"))
        target = &updateServer;
    if (equals < 0 || !target) {
        problems << QStringLiteral("line %1 is no known key=value line; ignored").arg(number);
        return;
    }
    if (!IsWebAddress(value)) {
        problems << QStringLiteral("line %1: %2 is no http or https address; ignored").arg(number).arg(key);
        return;
    }
    *target = value;
}

void DebugFile::ApplyToProcess() const
{
    if (endpointsReplaced) {
        ServiceUrl = serviceUrl;
        UploadUrl = uploadUrl;
        ApeHostSuffix = apeHostSuffix;
        if (profile)
            ServerProfile = *profile;
    }
    if (!signedApiUrl.isEmpty())
        SignedApiUrl = signedApiUrl;
}

QString DebugFile::MemberTokenUrl() const
{
    return accountServer.isEmpty() ? QString() : OnHost(accountServer, ::MemberTokenUrl);
}

QString DebugFile::ClientAuthUrl() const
{
    return accountServer.isEmpty() ? QString() : OnHost(accountServer, ::ClientAuthUrl);
}
