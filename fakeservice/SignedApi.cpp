#include "fakeservice/SignedApi.h"

#include "fakeservice/AccountServer.h"
#include "fakeservice/QueryText.h"

#include "foundation/crypto/Crypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <utility>

namespace {

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

SignedApi::SignedApi(FakeState& state, AccountServer& accounts, QString apiKey, QString apiSecret)
    : state_(state), accounts_(accounts), apiKey_(std::move(apiKey)), apiSecret_(std::move(apiSecret))
{
}

QString SignedApi::Signature(const QString& secret, const QString& apiKey, const QString& auth,
                             const QString& method)
{
    return AsciiMd5Hex(secret + apiKey + auth + method);
}

QString SignedApi::AsciiMd5Hex(const QString& text)
{
    QByteArray source;
    for (const QChar c : text)
        source.append(c.unicode() < 0x80 ? char(c.unicode()) : '?');
    return QString::fromLatin1(Md5HexBytes(source));
}

std::string SignedApi::MethodName(const std::string& query)
{
    const QString method = QueryText::Value(QueryText::Parse(query), "method");
    if (method == QLatin1String(QuotaMethod))
        return "getQuota";
    if (method == QLatin1String(AccessMethod))
        return "PCAgentRequestAccess";
    return method.toStdString();
}

bool SignedApi::IsSignedMethod(const std::string& method)
{
    return method == "getQuota" || method == "PCAgentRequestAccess";
}

std::string SignedApi::Handle(const std::string& query)
{
    const std::map<QString, QString> values = QueryText::Parse(query);
    const QString apiKey = QueryText::Value(values, "api_key");
    const QString auth = QueryText::Value(values, "auth");
    const QString method = QueryText::Value(values, "method");
    if (apiKey != apiKey_)
        return Failure(BadApiKeyCode, QStringLiteral("invalid api_key"));
    if (QueryText::Value(values, "api_sig") != Signature(apiSecret_, apiKey, auth, method))
        return Failure(BadSignatureCode, QStringLiteral("invalid api_sig"));
    if (method == QLatin1String(QuotaMethod))
        return GetQuota(auth);
    if (method == QLatin1String(AccessMethod))
        return RequestAccess(auth);
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

std::string SignedApi::RequestAccess(const QString& auth)
{
    const AccountServer::Access access = accounts_.RequestAccess(auth);
    if (access.refusalCode)
        return Failure(QString::fromLatin1(access.refusalCode), access.refusalText);
    return Text(QJsonObject{{QStringLiteral("ok"), QStringLiteral("true")}, {QStringLiteral("rsp"), access.rsp}});
}
