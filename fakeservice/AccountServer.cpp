#include "fakeservice/AccountServer.h"

#include "fakeservice/FormDecoder.h"
#include "fakeservice/JsonReply.h"
#include "fakeservice/QueryText.h"
#include "fakeservice/RandomText.h"
#include "fakeservice/SignedApi.h"

#include <QStringList>

#include <optional>
#include <utility>

namespace {

using Lock = std::lock_guard<std::mutex>;

const QString Success = QStringLiteral("1");

// Result codes of the client authentication.
const QString BadInput = QStringLiteral("-91");
const QString BadChecksum = QStringLiteral("-92");
const QString BadLogin = QStringLiteral("-93");
const QString UnknownAuthToken = QStringLiteral("-95");
const QString ExpiredAuthToken = QStringLiteral("-96");

// Result codes of the grant.
const QString GrantBadInput = QStringLiteral("900001");
const QString BadClientId = QStringLiteral("100002");
const QString BadOtpw = QStringLiteral("100012");
const QString NotActivated = QStringLiteral("100014");

bool IsInteger(const QString& text)
{
    bool ok = false;
    text.toLongLong(&ok);
    return ok;
}

bool HasExpired(std::int64_t expire, std::int64_t now)
{
    return expire != 0 && now > expire;
}

// The account server reads its form as web servers do: the body is split
// at "&" and each pair at its first "=", then every name and value is
// decoded, so "%26" and "%3D" in a password stay part of it. A line sent
// whole after its first "=" (no raw "&" at all) is decoded once, then split.
std::optional<FormFields> DecodeFormPairs(const QByteArray& body)
{
    if (!body.contains('&')) {
        FormDecoder::Result whole = FormDecoder::Decode(body, false);
        return whole.fields;
    }
    FormFields fields;
    for (const QByteArray& pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const std::optional<QByteArray> name = FormDecoder::PercentDecode(equals < 0 ? pair : pair.left(equals));
        const std::optional<QByteArray> value =
            FormDecoder::PercentDecode(equals < 0 ? QByteArray() : pair.mid(equals + 1));
        if (!name || !value)
            return std::nullopt;
        const std::optional<QString> nameText = FormDecoder::StrictUtf8(*name);
        const std::optional<QString> valueText = FormDecoder::StrictUtf8(*value);
        if (!nameText || !valueText)
            return std::nullopt;
        fields.Add(*nameText, *valueText);
    }
    return fields;
}

std::string DevFailure(const QString& status)
{
    return JsonReply::Text(QJsonObject{{QStringLiteral("status"), status},
                                       {QStringLiteral("msg"), QStringLiteral("login failed")}});
}

}  // namespace

AccountServer::AccountServer(FakeState& state, QString clientId) : state_(state), clientId_(std::move(clientId))
{
}

void AccountServer::SetOptions(const FakeLoginOptions& options)
{
    Lock lock(mutex_);
    options_ = options;
}

FakeLoginOptions AccountServer::Options() const
{
    Lock lock(mutex_);
    return options_;
}

std::string AccountServer::StepOf(const std::string& httpMethod, const std::string& target)
{
    const std::string path = QueryText::PathOf(target);
    if (httpMethod == "POST" && path == ClientAuthPath)
        return "ClientAuthentication";
    if (httpMethod != "GET" || path != MemberTokenPath)
        return std::string();
    const QString method = QueryText::Value(QueryText::Parse(QueryText::QueryOf(target)), "method");
    if (method == u"invoke_auth" || method == u"grant_auth")
        return method.toStdString();
    return std::string();
}

std::string AccountServer::Handle(const std::string& step, const std::string& target, const std::string& body)
{
    if (step == "invoke_auth")
        return InvokeAuth();
    if (step == "ClientAuthentication")
        return ClientAuthentication(body);
    return GrantAuth(QueryText::QueryOf(target));
}

QString AccountServer::Checksum(const QString& authToken, const QString& login, const QString& password)
{
    return SignedApi::AsciiMd5Hex(QString::fromLatin1(SiteId) + authToken + login + password +
                                  QStringLiteral("jsonclientauth"));
}

AccountServer::Access AccountServer::RequestAccess(const QString& accessToken)
{
    const FakeState::MemberLookup member = state_.FindByMemberToken(accessToken);
    if (!member.account)
        return Access{SignedApi::UnknownTokenCode, QStringLiteral("invalid auth token"), {}};
    if (member.expired)
        return Access{SignedApi::ExpiredTokenCode, QStringLiteral("auth token expired"), {}};
    const QString status = Options().accessStatus;
    if (!status.isEmpty() && status != Success)
        return Access{nullptr, QString(),
                      QJsonObject{{QStringLiteral("status"), status},
                                  {QStringLiteral("msg"), QStringLiteral("access not granted")}}};
    return Access{nullptr, QString(),
                  QJsonObject{{QStringLiteral("status"), Success},
                              {QStringLiteral("sn"), member.account->userSn},
                              {QStringLiteral("access_key_arr"), IssueAccessKey(member.account->userId)}}};
}

std::string AccountServer::DevLogin(const std::string& query)
{
    const QStringList values = QueryText::Pieces(query);  // <login>&<otpw>
    if (values.size() != 2)
        return DevFailure(QStringLiteral("0"));
    const QString userId = UserOfOtpw(values[1]);
    const std::optional<FakeAccountSpec> account = state_.Account(userId);
    if (!account || account->login != values[0])
        return DevFailure(QStringLiteral("0"));
    const QString status = Options().accessStatus;
    if (!status.isEmpty() && status != Success)
        return DevFailure(status);
    return JsonReply::Text(QJsonObject{{QStringLiteral("status"), Success},
                                       {QStringLiteral("sn"), account->userSn},
                                       {QStringLiteral("access_key_arr"), IssueAccessKey(userId)}});
}

std::string AccountServer::InvokeAuth()
{
    const FakeLoginOptions options = Options();
    if (!options.tokenResult.isEmpty())
        return Result(options.tokenResult);
    const QString token = RandomText::Hex(16);
    {
        Lock lock(mutex_);
        authTokens_[token] = state_.Now() + options.tokenLifetime;
    }
    QJsonObject reply{{QStringLiteral("result"), Code(Success)}, {QStringLiteral("authtoken"), token}};
    return JsonReply::Text(reply);
}

std::string AccountServer::ClientAuthentication(const std::string& body)
{
    const FakeLoginOptions options = Options();
    if (!options.authResult.isEmpty())
        return Result(options.authResult);
    QString userId;
    const QString refusal = CheckClientAuthentication(body, userId);
    if (!refusal.isEmpty())
        return Result(refusal);
    const QString otpw = RandomText::Hex(16);
    {
        Lock lock(mutex_);
        otpws_[otpw] = OneTimePassword{userId, state_.Now() + options.tokenLifetime};
    }
    return JsonReply::Text(QJsonObject{{QStringLiteral("result"), Code(Success)}, {QStringLiteral("otpw"), otpw}});
}

QString AccountServer::CheckClientAuthentication(const std::string& body, QString& userId)
{
    // The form line may arrive encoded or as it was written.
    const std::optional<FormFields> decoded = DecodeFormPairs(QByteArray::fromStdString(body));
    if (!decoded)
        return BadInput;
    const FormFields& fields = *decoded;
    if (!fields.FirstMissing({"siteid", "authtoken", "uid", "pw", "type", "chsm"}).isEmpty() ||
        fields.Value(QStringLiteral("siteid")) != QLatin1String(SiteId) ||
        fields.Value(QStringLiteral("type")) != u"json")
        return BadInput;
    const QString token = fields.Value(QStringLiteral("authtoken"));
    const QString login = fields.Value(QStringLiteral("uid"));
    const QString password = fields.Value(QStringLiteral("pw"));
    if (fields.Value(QStringLiteral("chsm")) != Checksum(token, login, password))
        return BadChecksum;
    {
        Lock lock(mutex_);
        const auto it = authTokens_.find(token);
        if (it == authTokens_.end())
            return UnknownAuthToken;
        if (HasExpired(it->second, state_.Now()))
            return ExpiredAuthToken;
    }
    const std::optional<FakeAccountSpec> account = state_.AccountByLogin(login);
    if (!account || account->password != password)
        return BadLogin;
    Lock lock(mutex_);
    authTokens_.erase(token);
    userId = account->userId;
    return QString();
}

std::string AccountServer::GrantAuth(const std::string& query)
{
    const FakeLoginOptions options = Options();
    if (!options.grantResult.isEmpty())
        return Result(options.grantResult);
    const auto values = QueryText::Parse(query);
    const QString otpw = QueryText::Value(values, "otpw");
    const QString clientId = QueryText::Value(values, "client_id");
    if (otpw.isEmpty() || clientId.isEmpty())
        return Result(GrantBadInput);
    if (clientId != clientId_)
        return Result(BadClientId);
    const std::optional<FakeAccountSpec> account = state_.Account(UserOfOtpw(otpw));
    if (!account)
        return Result(BadOtpw);
    if (!account->serviceActivated)
        return Result(NotActivated);
    const QString accessToken = RandomText::Hex(16);
    const std::int64_t lifetime = options.memberTokenLifetime;
    state_.SetMemberToken(account->userId, accessToken, lifetime == 0 ? 0 : state_.Now() + lifetime);
    return JsonReply::Text(QJsonObject{{QStringLiteral("result"), Code(Success)},
                                       {QStringLiteral("access_token"), accessToken},
                                       {QStringLiteral("uid"), Code(account->userId)}});
}

QString AccountServer::UserOfOtpw(const QString& otpw) const
{
    Lock lock(mutex_);
    const auto it = otpws_.find(otpw);
    if (it == otpws_.end() || HasExpired(it->second.expire, state_.Now()))
        return QString();
    return it->second.userId;
}

QJsonObject AccountServer::IssueAccessKey(const QString& userId)
{
    const FakeLoginOptions options = Options();
    const QString key = RandomText::Hex(16);
    const QString checksum = RandomText::Hex(16);
    const std::int64_t now = state_.Now();
    const std::int64_t expire = options.expiredAccessKey ? now - 60 : now + options.accessKeyLifetime;
    state_.SetAccessKey(userId, key, checksum, expire);
    return QJsonObject{{QStringLiteral("key"), key},
                       {QStringLiteral("expire"), qint64(expire)},
                       {QStringLiteral("checksum"), checksum}};
}

QJsonValue AccountServer::Code(const QString& code) const
{
    if (Options().numericValues && IsInteger(code))
        return QJsonValue(qint64(code.toLongLong()));
    return QJsonValue(code);
}

std::string AccountServer::Result(const QString& code) const
{
    return JsonReply::Text(QJsonObject{{QStringLiteral("result"), Code(code)}});
}
