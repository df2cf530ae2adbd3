#include "shell/update/VersionList.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

bool IsHexDigest(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{32}$"));
    return hex.match(text).hasMatch();
}

}  // namespace

bool VersionList::Parse(const QByteArray& text, std::vector<Entry>& entries, QString& error)
{
    entries.clear();
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        error = QStringLiteral("the version list is not a JSON object");
        return false;
    }
    const QJsonObject list = document.object();
    std::vector<Entry> parsed;
    for (auto it = list.begin(); it != list.end(); ++it) {
        const QJsonObject item = it.value().toObject();
        const QJsonValue version = item.value(QStringLiteral("version"));
        const QJsonValue url = item.value(QStringLiteral("url"));
        const QJsonValue md5 = item.value(QStringLiteral("md5sum"));
        if (!it.value().isObject() || !version.isString() || !url.isString() || !md5.isString() ||
            !ValidVersion(version.toString()) || !IsHexDigest(md5.toString())) {
            error = QStringLiteral("the version list's entry \"%1\" is not an object of a version, an address and "
                                   "an MD5 digest")
                        .arg(it.key().left(64));
            return false;
        }
        parsed.push_back(Entry{it.key(), version.toString(), url.toString(), md5.toString().toLower()});
    }
    std::sort(parsed.begin(), parsed.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    entries = std::move(parsed);
    return true;
}

bool VersionList::SafeName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name.toUtf8().size() > 255)
        return false;
    if (name.contains(u'/') || name.contains(u'\\') || name.contains(QLatin1String("..")))
        return false;
    return std::none_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control;
    });
}

QString VersionList::SecureUrl(const QString& url)
{
    QUrl address(url.trimmed());
    if (!address.isValid() || address.host().isEmpty())
        return {};
    const QString scheme = address.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return address.toString();
    if (scheme != QLatin1String("http"))
        return {};
    address.setScheme(QStringLiteral("https"));
    if (address.port() == 80)
        address.setPort(-1);
    return address.toString();
}

bool VersionList::ValidVersion(const QString& version)
{
    static const QRegularExpression dotted(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9})*$"));
    return dotted.match(version).hasMatch();
}
