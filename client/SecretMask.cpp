#include "client/SecretMask.h"

#include <QRegularExpression>
#include <QStringList>

#include <array>

namespace {

constexpr std::array<const char*, 16> SecretNames = {
    "access_key",   "access_key_checksum", "sync_journal_key_checksum", "checksum",
    "api_sig",      "auth",                "authtoken",                 "access_token",
    "member_access_token", "otpw",         "pw",                        "pass",
    "password",     "chsm",                "proxy_pass",                "secret",
};

constexpr std::array<const char*, 5> SecretHeaders = {
    "authorization", "proxy-authorization", "cookie", "set-cookie", "x-api-key",
};

QString MaskedField(const QString& field)
{
    const qsizetype equals = field.indexOf(u'=');
    if (equals < 0 || !SecretMask::IsSecretName(field.left(equals)))
        return field;
    return field.left(equals + 1) + SecretMask::Mask;
}

}  // namespace

bool SecretMask::IsSecretName(const QString& name)
{
    for (const char* secret : SecretNames) {
        if (name.compare(QLatin1String(secret), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString SecretMask::MaskFields(const QString& text)
{
    QStringList fields = text.split(u'&');
    for (QString& field : fields)
        field = MaskedField(field);
    return fields.join(u'&');
}

QString SecretMask::MaskUrl(const QString& url)
{
    const qsizetype question = url.indexOf(u'?');
    if (question < 0)
        return url;
    return url.left(question + 1) + MaskFields(url.mid(question + 1));
}

QString SecretMask::MaskJson(const QString& text)
{
    static const QRegularExpression pair(
        QStringLiteral(R"re("([A-Za-z_]+)"(\s*:\s*)("(?:[^"\\]|\\.)*"|[-+.0-9eE]+))re"));
    static const QRegularExpression accessKeys(QStringLiteral(R"re("access_key_arr"\s*:\s*\{[^}]*\})re"));

    QString masked = text;
    masked.replace(accessKeys, QStringLiteral("\"access_key_arr\":\"***\""));
    QString out;
    qsizetype last = 0;
    for (auto it = pair.globalMatch(masked); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!IsSecretName(match.captured(1)))
            continue;
        out += QStringView(masked).mid(last, match.capturedStart(3) - last);
        out += u'"' + Mask + u'"';
        last = match.capturedEnd(3);
    }
    out += QStringView(masked).mid(last);
    return out;
}

QByteArray SecretMask::MaskHeader(const QByteArray& line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return line;
    const QByteArray name = line.left(colon).trimmed().toLower();
    for (const char* secret : SecretHeaders) {
        if (name == secret)
            return line.left(colon + 1) + " " + Mask.toLatin1();
    }
    return line;
}
