#include "client/XApLogin.h"

#include "client/PeltaAPI.h"
#include "client/SecretMask.h"
#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/text/PeltaJSON.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/ProcessState.h"
#include "foundation/text/Xi18n.h"

#include <QUrl>

#include <initializer_list>

namespace {

const QString ResultOk = QStringLiteral("1");

// Secrets shorter than this are left to the structural masking: replacing a
// short text everywhere would garble the log.
constexpr qsizetype MinScrubLength = 6;

QString Value(const XMap& map, const char* name)
{
    const auto it = map.find(QLatin1String(name));
    return it == map.end() ? QString() : it->second;
}

// The result code as an integer, -1 when it is none.
int ResultCode(const QString& result)
{
    bool ok = false;
    const int code = result.trimmed().toInt(&ok);
    return ok ? code : -1;
}

QByteArray FormValue(const QString& value)
{
    return QUrl::toPercentEncoding(value, QByteArray(), "~");
}

QString HeaderBlock(const QList<QByteArray>& lines)
{
    QStringList masked;
    for (const QByteArray& line : lines)
        masked.append(QString::fromUtf8(SecretMask::MaskHeader(line)));
    return masked.join(u'\n');
}

// The refusal text of a signed-API reply: its "msg", an array's elements
// joined by ": " (the service sends the failure code and its text).
QString RefusalText(const QString& reply)
{
    const std::optional<JsonValue> array = JsonValue::Parse(reply).FindArray(QStringLiteral("msg"));
    if (!array || array->Size() == 0)
        return Value(PeltaJSON::ParseToMap(reply), "msg");
    QStringList parts;
    for (std::size_t i = 0; i < array->Size(); ++i)
        parts.append(PeltaJSON::ValueToString(array->At(i)));
    return parts.join(QStringLiteral(": "));
}

}  // namespace

const QString XApLogin::SiteId = QStringLiteral("66895");
const QString XApLogin::AccessMethod = QStringLiteral("pelta.mirdo.private.tessaron.PCAgentRequestAccess");

XApLogin::XApLogin() : memberTokenUrl_(MemberTokenUrl), clientAuthUrl_(ClientAuthUrl)
{
}

XApLogin::~XApLogin()
{
    store_ = nullptr;
    facade_ = nullptr;
}

void XApLogin::SetCredentials(const QString& login, const QString& password)
{
    login_ = login;
    password_ = password;
}

void XApLogin::SetAccountUrls(const QString& memberTokenUrl, const QString& clientAuthUrl)
{
    memberTokenUrl_ = memberTokenUrl;
    clientAuthUrl_ = clientAuthUrl;
}

void XApLogin::Abort()
{
    abort_ = true;
    std::lock_guard<std::mutex> guard(httpLock_);
    if (http_)
        http_->Wake();
}

QString XApLogin::Checksum(const QString& authToken, const QString& login, const QString& password)
{
    // The ASCII bytes of the text; a character outside ASCII counts as "?".
    QByteArray source;
    for (const QChar c : SiteId + authToken + login + password + QStringLiteral("jsonclientauth"))
        source.append(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
    return QString::fromLatin1(Md5HexBytes(source));
}

QByteArray XApLogin::ClientAuthBody(const QString& authToken, const QString& login, const QString& password)
{
    return "siteid=" + FormValue(SiteId) + "&authtoken=" + FormValue(authToken) + "&uid=" + FormValue(login)
           + "&pw=" + FormValue(password) + "&type=json&chsm="
           + FormValue(Checksum(authToken, login, password));
}

QString XApLogin::ClientAuthMessage(int code)
{
    switch (code) {
    case -91: return Xi18n::Text(XText::_MBR91);
    case -92: return Xi18n::Text(XText::_MBR92);
    case -93: return Xi18n::Text(XText::_MBR93);
    case -94: return Xi18n::Text(XText::_MBR94);
    case -95: return Xi18n::Text(XText::_MBR95);
    case -96: return Xi18n::Text(XText::_MBR96);
    case -99: return Xi18n::Text(XText::_MBR99);
    default: return Xi18n::Text(XText::_MBR00);
    }
}

QString XApLogin::GrantMessage(int code)
{
    switch (code) {
    case 900001: return Xi18n::Text(XText::_MY900001);
    case 100002: return Xi18n::Text(XText::_MY100002);
    case 100012: return Xi18n::Text(XText::_MY100012);
    case 100014: return Xi18n::Text(XText::_MY100014);
    default: return Xi18n::Text(XText::_MY000000);
    }
}

// ---- The run ---------------------------------------------------------------------

std::unique_ptr<HttpClient> XApLogin::MakeClient() const
{
    HttpSettings settings;
    settings.connectTimeout = ConnectTimeout;
    settings.readTimeout = readTimeout_;
    settings.headers = {"Connection: keep-alive", "Proxy-Connection: keep-alive", "Cache-Control: no-cache",
                        "Pragma: no-cache"};
    auto http = std::make_unique<HttpClient>();
    http->Configure(settings);
    return http;
}

bool XApLogin::Login()
{
    step_ = StepToken;
    authtoken_.clear();
    otpw_.clear();
    accessToken_.clear();
    key_.clear();
    uid_.clear();
    abort_ = false;
    if (!store_ || !facade_) {
        Log(QStringLiteral("XApLogin: no settings store or facade"));
        Report(CodeFailed);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(httpLock_);
        http_ = MakeClient();
        http_->SetAbortFlag(&abort_);
    }
    RequestObject.SetMessage(Xi18n::Text(XText::_Connecting));

    bool done = false;
    while (!done) {
        if (step_ == StepToken)
            Report(CodeConnecting);
        else if (step_ == StepClientAuth)
            Report(CodeAuthenticating);
        if (AppState == XAPPExit)
            break;
        QString reply;
        if (!Exchange(BuildRequest(), reply))
            break;
        if (AppState == XAPPExit || HandleReply(reply) == Outcome::Failed)
            break;
        if (step_ == StepDone) {
            Report(CodeSuccess);
            done = true;
        }
    }
    std::lock_guard<std::mutex> guard(httpLock_);
    http_.reset();
    return done;
}

XApLogin::Request XApLogin::BuildRequest() const
{
    switch (step_) {
    case StepToken:
        return {false, memberTokenUrl_ + QStringLiteral("?method=invoke_auth"), {}};
    case StepClientAuth:
        return {true, clientAuthUrl_, ClientAuthBody(authtoken_, login_, password_)};
    case StepGrant:
        return {false,
                memberTokenUrl_ + QStringLiteral("?method=grant_auth&otpw=") + otpw_ + QStringLiteral("&client_id=")
                    + ApiKey,
                {}};
    case StepAccess:
        // The source is secret + key + token + method; only the method may be shown.
        Log(QStringLiteral("Signature source:") + SecretMask::Mask + SecretMask::Mask + SecretMask::Mask
            + AccessMethod);
        return {false, PeltaAPI::SignedCallUrl(accessToken_, AccessMethod), {}};
    default:
        return {false, ServiceUrl + QStringLiteral("/_agent/login2?") + login_ + u'&' + otpw_, {}};
    }
}

bool XApLogin::Exchange(const Request& request, QString& reply)
{
    HttpRequest http;
    http.url = request.url;
    http.progress = [](std::int64_t, std::int64_t) { return AppState != XAPPExit; };
    if (request.post) {
        Log(Scrub(SecretMask::MaskUrl(request.url)));
        Log(QStringLiteral("PostData:") + Scrub(SecretMask::MaskFields(QString::fromUtf8(request.body))));
        http.method = HttpRequest::Method::Post;
        http.body = request.body;
        http.headers = {"Content-Type: application/x-www-form-urlencoded"};
    } else {
        Log(Scrub(SecretMask::MaskUrl(request.url)));
    }
    const HttpResponse response = http_->Perform(http);
    if (!response.Ok()) {
        if (AppState == XAPPExit)
            return false;
        Log(QStringLiteral("Exception, ") + response.error + QStringLiteral("\nRequest:")
            + HeaderBlock(response.requestHeaders) + QStringLiteral("\nResponse:")
            + HeaderBlock(response.responseHeaders));
        Report(CodeFailed);
        return false;
    }
    reply = QString::fromUtf8(response.body);
    Log(QStringLiteral("Response:") + Scrub(SecretMask::MaskJson(reply)) + u'\n');
    return true;
}

XApLogin::Outcome XApLogin::HandleReply(const QString& reply)
{
    switch (step_) {
    case StepToken: return HandleToken(PeltaJSON::ParseToMap(reply));
    case StepClientAuth: return HandleClientAuth(PeltaJSON::ParseToMap(reply));
    case StepGrant: return HandleGrant(PeltaJSON::ParseToMap(reply));
    case StepAccess: return HandleAccess(reply);
    default: return HandleDevLogin(reply);
    }
}

XApLogin::Outcome XApLogin::HandleToken(const XMap& reply)
{
    const QString result = Value(reply, "result");
    if (result == ResultOk) {
        authtoken_ = Value(reply, "authtoken");
        step_ = StepClientAuth;
        return Outcome::Next;
    }
    const QString message = Xi18n::Text(XText::_ML0401);
    Fail(QStringLiteral("登入X1:errcode(") + result + QStringLiteral("):") + message, CodeFailed, message);
    return Outcome::Failed;
}

XApLogin::Outcome XApLogin::HandleClientAuth(const XMap& reply)
{
    const QString result = Value(reply, "result");
    if (result == ResultOk) {
        otpw_ = Value(reply, "otpw");
        step_ = StepGrant;
        return Outcome::Next;
    }
    const int code = ResultCode(result);
    const QString message = ClientAuthMessage(code);
    const QString logLine = QStringLiteral("登入A2:errcode(") + result + QStringLiteral("):") + message;
    if (code == -93)
        Fail(logLine, CodeWrongPassword, message);
    else
        Fail(logLine, CodeFailed, message + u'(' + QString::number(code) + u')');
    return Outcome::Failed;
}

XApLogin::Outcome XApLogin::HandleGrant(const XMap& reply)
{
    const QString result = Value(reply, "result");
    if (result == ResultOk) {
        accessToken_ = Value(reply, "access_token");
        uid_ = Value(reply, "uid");
        store_->Set(QStringLiteral("user_id"), uid_);
        step_ = ServerProfile == QLatin1String("DEV") ? StepDevLogin : StepAccess;
        return Outcome::Next;
    }
    const int code = ResultCode(result);
    const QString message = GrantMessage(code);
    Fail(QStringLiteral("登入X3:errcode(") + result + QStringLiteral("):") + message,
         code == 100014 ? CodeNotActivated : CodeFailed, message);
    return Outcome::Failed;
}

XApLogin::Outcome XApLogin::HandleAccess(const QString& reply)
{
    if (PeltaJSON::ParseToMap(reply)[QStringLiteral("ok")] != QLatin1String("true")) {
        QString message = RefusalText(reply);
        if (message.isEmpty())
            message = Xi18n::Text(XText::_MY000000);
        Fail(QStringLiteral("登入X4:") + message, CodeFailed, message);
        return Outcome::Failed;
    }
    const JsonValue rsp = PeltaJSON::ParseFindObject(reply, QStringLiteral("rsp"));
    const XMap rspMap = rsp.ObjectToMap();
    if (Value(rspMap, "status") != ResultOk) {
        // Refused access is no login: without a key nothing can be synced.
        QString message = Value(rspMap, "msg");
        if (message.isEmpty())
            message = Xi18n::Text(XText::_MY000000);
        Fail(QStringLiteral("登入X4:status(") + Value(rspMap, "status") + QStringLiteral("):") + message, CodeFailed,
             message);
        return Outcome::Failed;
    }
    if (StoreAccessKey(PeltaJSON::FindObject(rsp, QStringLiteral("access_key_arr")).ObjectToMap(),
                       Value(rspMap, "sn"))
        == Outcome::Failed)
        return Outcome::Failed;
    store_->Set(QStringLiteral("member_access_token"), accessToken_);
    step_ = StepDone;
    return Outcome::Next;
}

XApLogin::Outcome XApLogin::HandleDevLogin(const QString& reply)
{
    const XMap map = PeltaJSON::ParseToMap(reply);
    if (Value(map, "status") != ResultOk) {
        const QString message = Xi18n::Text(XText::_MY000000);
        Fail(QStringLiteral("登入X5:errcode(") + Value(map, "result") + QStringLiteral("):") + message, CodeFailed,
             message);
        return Outcome::Failed;
    }
    if (StoreAccessKey(PeltaJSON::ParseFindObject(reply, QStringLiteral("access_key_arr")).ObjectToMap(),
                       Value(map, "sn"))
        == Outcome::Failed)
        return Outcome::Failed;
    step_ = StepDone;
    return Outcome::Next;
}

XApLogin::Outcome XApLogin::StoreAccessKey(const XMap& keyArr, const QString& userSn)
{
    const QString key = Value(keyArr, "key");
    bool integer = false;
    const std::int64_t expire = Value(keyArr, "expire").trimmed().toLongLong(&integer);
    const QString message = Xi18n::Text(XText::_MY000000);
    if (key.isEmpty() || !integer) {
        Fail(QStringLiteral("登入X6:access key missing or malformed:") + message, CodeFailed, message);
        return Outcome::Failed;
    }
    // SetAccessKey refuses a key that has expired already.
    if (!facade_->SetAccessKey(key, expire, Value(keyArr, "checksum"))) {
        Fail(QStringLiteral("登入X6:access key expired(") + QString::number(expire) + QStringLiteral("):") + message,
             CodeFailed, message);
        return Outcome::Failed;
    }
    key_ = key;
    store_->Set(QStringLiteral("user_sn"), userSn);
    facade_->SetCachedLogin(login_);
    return Outcome::Next;
}

// ---- Reports and log ---------------------------------------------------------------

void XApLogin::Report(int code, const QString& message) const
{
    if (callback_)
        callback_(code, message);
}

void XApLogin::Fail(const QString& logLine, int code, const QString& message) const
{
    Log(logLine);
    Report(code, message);
}

QString XApLogin::Scrub(const QString& text) const
{
    QString out = text;
    for (const QString* secret : std::initializer_list<const QString*>{&password_, &authtoken_, &otpw_, &accessToken_, &key_, &ApiKey, &ApiSecret}) {
        if (secret->size() >= MinScrubLength)
            out.replace(*secret, SecretMask::Mask);
    }
    return out;
}

void XApLogin::Log(const QString& text) const
{
    AppLog.Write(text, LogGeneral);
}
