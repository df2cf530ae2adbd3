// The service client's log lines. Every text that may hold a secret passes
// through SecretMask first.

#include "client/PeltaAPI.h"
#include "client/SecretMask.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/ProcessState.h"

#include <QStringList>

namespace {

const QString PathField = QStringLiteral("my_base64_full_path_name");
const QString DescField = QStringLiteral("req_desc");

QString Number2(int number)
{
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

QString DecodedPath(const QString& value)
{
    return Base64UrlDecodeText(value).value_or(QString());
}

bool IsPathName(const QString& key)
{
    return key == PathField || key == QLatin1String("my_base64_orig_full_path_name")
           || key == QLatin1String("my_base64_dest_full_path_name");
}

QString DescLines(const QString& json)
{
    QString lines;
    int number = 0;
    for (const auto& [key, value] : PeltaJSON::ParseToMap(json)) {
        ++number;
        const QString shown = SecretMask::IsSecretName(key) ? SecretMask::Mask : value;
        lines += QStringLiteral("    %1:%2=%3").arg(number).arg(key, shown);
        if (IsPathName(key))
            lines += QStringLiteral("  (%1)").arg(DecodedPath(value));
        lines += u'\n';
    }
    return lines;
}

QString BodyItem(int number, const QString& item)
{
    const qsizetype equals = item.indexOf(u'=');
    const QString key = equals < 0 ? QString() : item.left(equals);
    const QString value = equals < 0 ? QString() : item.mid(equals + 1);
    if (key == PathField)
        return QStringLiteral("  %1:%2=%3  (%4)\n").arg(Number2(number), key, value, DecodedPath(value));
    if (key == DescField)
        return QStringLiteral("  %1:%2\n").arg(Number2(number), key) + DescLines(value);
    return QStringLiteral("  %1:%2\n").arg(Number2(number), SecretMask::MaskFields(item));
}

// The request line's target masked like a URL; other lines by header name.
QString RequestHeaderLine(const QByteArray& line, bool first)
{
    if (!first)
        return QString::fromUtf8(SecretMask::MaskHeader(line));
    QStringList parts = QString::fromUtf8(line).split(u' ');
    if (parts.size() >= 2)
        parts[1] = SecretMask::MaskUrl(parts[1]);
    return parts.join(u' ');
}

QString PathAndQuery(const QString& url)
{
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    const qsizetype path = scheme < 0 ? 0 : url.indexOf(u'/', scheme + 3);
    return path < 0 ? QStringLiteral("/") : url.mid(path);
}

}  // namespace

void PeltaAPI::Log(const QString& text, LogCategory category)
{
    AppLog.Write(text, category);
}

void PeltaAPI::LogRequestBody(const QString& body)
{
    if (!DebugMode)
        return;
    QString listing;
    int number = 0;
    for (const QString& item : body.split(u'&', Qt::SkipEmptyParts))
        listing += BodyItem(++number, item);
    Log(listing + u'\n', LogHTTP);
}

void PeltaAPI::LogParamMap(const XMap& params)
{
    QString listing;
    int number = 0;
    for (const auto& [key, value] : params) {
        const QString shown = SecretMask::IsSecretName(key) ? SecretMask::Mask : value;
        listing += QStringLiteral("    %1:%2=%3\n").arg(++number).arg(key, shown);
    }
    Log(listing, LogHTTP);
}

void PeltaAPI::LogHttpDump(const QString& url, const HttpResponse& response)
{
    QString dump = QStringLiteral("Url:") + SecretMask::MaskUrl(PathAndQuery(url)) + u'\n';
    dump += QStringLiteral("Request Header\n");
    for (qsizetype i = 0; i < response.requestHeaders.size(); ++i)
        dump += RequestHeaderLine(response.requestHeaders[i], i == 0) + u'\n';
    dump += QStringLiteral("\nResponse Header\n");
    for (const QByteArray& line : response.responseHeaders)
        dump += QString::fromUtf8(SecretMask::MaskHeader(line)) + u'\n';
    Log(dump + u'\n', LogHTTP);
}
