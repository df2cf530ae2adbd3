#include "tests/fakeservice/SignedApi.h"

#include "foundation/Crypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <map>
#include <utility>

namespace {

std::map<QString, QString> RawQuery(const std::string& query)
{
    std::map<QString, QString> values;
    const QStringList pairs = QString::fromUtf8(query).split(u'&', Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const qsizetype equals = pair.indexOf(u'=');
        const QString name = equals < 0 ? pair : pair.left(equals);
        if (values.count(name) == 0)
            values[name] = equals < 0 ? QString() : pair.mid(equals + 1);
    }
    return values;
}

QString Value(const std::map<QString, QString>& values, const char* name)
{
    const auto it = values.find(QLatin1String(name));
    return it == values.end() ? QString() : it->second;
}

// Bytes as MB, up to two decimals, trailing zeros dropped.
QString Megabytes(std::int64_t bytes)
{
    QString text = QString::number(double(bytes) / 1048576.0, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

std::string Text(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace

SignedApi::SignedApi(FakeState& state, QString apiKey, QString apiSecret)
    : state_(state), apiKey_(std::move(apiKey)), apiSecret_(std::move(apiSecret))
{
}

QString SignedApi::Signature(const QString& secret, const QString& apiKey, const QString& auth,
                             const QString& method)
{
    // Characters outside ASCII count as "?".
    QByteArray source;
    for (const QChar c : secret + apiKey + auth + method)
        source.append(c.unicode() < 0x80 ? char(c.unicode()) : '?');
    return QString::fromLatin1(Md5HexBytes(source));
}

std::string SignedApi::MethodName(const std::string& query)
{
    const QString method = Value(RawQuery(query), "method");
    if (method == QLatin1String(QuotaMethod))
        return "getQuota";
    return method.toStdString();
}

std::string SignedApi::Handle(const std::string& query)
{
    const std::map<QString, QString> values = RawQuery(query);
    const QString apiKey = Value(values, "api_key");
    const QString auth = Value(values, "auth");
    const QString method = Value(values, "method");
    if (apiKey != apiKey_)
        return Failure(BadApiKeyCode, QStringLiteral("invalid api_key"));
    if (Value(values, "api_sig") != Signature(apiSecret_, apiKey, auth, method))
        return Failure(BadSignatureCode, QStringLiteral("invalid api_sig"));
    if (method == QLatin1String(QuotaMethod))
        return GetQuota(auth);
    return Failure(UnknownMethodCode, QStringLiteral("unknown method"));
}

std::string SignedApi::Failure(const QString& code, const QString& text)
{
    return Text(QJsonObject{{QStringLiteral("ok"), QStringLiteral("false")},
                            {QStringLiteral("msg"), QJsonArray{code, text}}});
}

std::string SignedApi::GetQuota(const QString& auth)
{
    const FakeState::MemberLookup member = state_.FindByMemberToken(auth);
    if (!member.account)
        return Failure(UnknownTokenCode, QStringLiteral("invalid auth token"));
    if (member.expired)
        return Failure(ExpiredTokenCode, QStringLiteral("auth token expired"));
    const QJsonObject rsp{{QStringLiteral("total"), Megabytes(member.account->quotaTotalBytes)},
                          {QStringLiteral("used"), Megabytes(member.usedBytes)},
                          {QStringLiteral("max_fs"), Megabytes(member.account->maxFileSizeBytes)}};
    return Text(QJsonObject{{QStringLiteral("ok"), QStringLiteral("true")}, {QStringLiteral("rsp"), rsp}});
}
