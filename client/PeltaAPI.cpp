#include "client/PeltaAPI.h"

#include "client/SecretMask.h"
#include "foundation/ProcessState.h"

#include <QStringList>

#include <optional>

namespace {

bool KeptByFormEncoding(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
           || byte == '*' || byte == '-' || byte == '.' || byte == '_';
}

QByteArray FormEncode(const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (KeptByFormEncoding(byte)) {
            out.append(c);
        } else if (byte == ' ') {
            out.append('+');
        } else {
            out.append('%');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 0xF]);
        }
    }
    return out;
}

// A reply of the form a=b&c=d read as a JSON object: its "msg".
QString MessageOfPairs(const QString& reply)
{
    QString json = QStringLiteral("{\"") + reply + QStringLiteral("\"}");
    json.replace(u'&', QStringLiteral("\",\""));
    json.replace(u'=', QStringLiteral("\":\""));
    QString msg;
    PeltaJSON::CheckStatus(json, msg);
    return msg;
}

// Runs the request on the owned client, or on a spare one while another
// thread holds the owned one.
HttpResponse PerformOn(HttpClient& owned, std::mutex& mutex, const std::atomic<bool>* abortFlag,
                       const HttpSettings& settings, const HttpRequest& request)
{
    std::unique_lock<std::mutex> lock(mutex, std::try_to_lock);
    std::optional<HttpClient> spare;
    HttpClient* client = &owned;
    if (!lock.owns_lock()) {
        client = &spare.emplace();
        client->SetAbortFlag(abortFlag);
    }
    client->Configure(settings);
    return client->Perform(request);
}

}  // namespace

const QString PeltaAPI::RefusedFieldText = QStringLiteral("request refused: a field would not reach the service intact");
const QString PeltaAPI::FreshKeyNeededText =
    QStringLiteral("upload refused: the service holds more than the file; start again from 0 under a fresh journal key");

PeltaAPI::PeltaAPI(PeltaReg* reg, PeltaSyncAgentSetting* setting)
    : reg_(reg),
      setting_(setting),
      http_(std::make_unique<HttpClient>()),
      transferHttp_(std::make_unique<HttpClient>())
{
    http_->SetAbortFlag(&abort_);
    transferHttp_->SetAbortFlag(&abort_);
}

PeltaAPI::~PeltaAPI() = default;

void PeltaAPI::SetAgentSetting(PeltaSyncAgentSetting* setting)
{
    setting_ = setting;
}

void PeltaAPI::Abort()
{
    abort_ = true;
    http_->Wake();
    transferHttp_->Wake();
}

void PeltaAPI::ClearAbort()
{
    abort_ = false;
}

HttpSettings PeltaAPI::FormPostSettings() const
{
    HttpSettings settings;
    settings.connectTimeout = FormConnectTimeout;
    settings.idleTimeout = idleTimeout_.load();
    settings.headers = {"Connection: keep-alive", "Proxy-Connection: keep-alive", "Cache-Control: no-cache",
                        "Pragma: no-cache"};
    return settings;
}

HttpResponse PeltaAPI::PostOnClient(const HttpRequest& request)
{
    return PerformOn(*http_, httpMutex_, &abort_, FormPostSettings(), request);
}

HttpResponse PeltaAPI::PerformTransfer(const HttpRequest& request, const HttpSettings& settings)
{
    return PerformOn(*transferHttp_, transferMutex_, &abort_, settings, request);
}

QString PeltaAPI::HTTPPostForm(const QString& url, const QString& body, bool log, CallEffect effect)
{
    if (log) {
        Log(QStringLiteral("\n") + SecretMask::MaskUrl(url), LogHTTP);
        if (DebugMode)
            LogRequestBody(body);
    }
    // Exiting or stopped: nothing is sent and nothing counts as a failure.
    if (AppState == XAPPExit || Aborted())
        return QString();

    HttpRequest request;
    request.method = HttpRequest::Method::Post;
    request.url = url;
    request.body = FormWireBody(body);
    request.headers = {"Content-Type: application/x-www-form-urlencoded"};
    request.progress = &PeltaAPI::OnFormWork;
    request.repeatable = effect == CallEffect::OnlyReads;
    const HttpResponse response = PostOnClient(request);

    QString reply;
    if (response.Ok()) {
        NetFailCount = 0;
        reply = QString::fromUtf8(response.body);
    } else {
        LogHttpDump(url, response);
        Log(QStringLiteral("PeltaAPI:HTTPPostForm:") + response.error, LogHTTP);
        ++NetFailCount;
    }
    if (log)
        Log(SecretMask::MaskJson(reply), LogHTTP);
    return reply;
}

bool PeltaAPI::CallAgentAPI(const QString& url, const QString& body, bool log, QString& out, CallEffect effect)
{
    const QString reply = HTTPPostForm(url, body, log, effect);
    QString msg;
    if (CheckStatus(reply, msg)) {
        out = reply;
        return true;
    }
    if (!msg.isEmpty()) {
        out = msg;
        return false;
    }
    if (reply.contains(QLatin1String("<br/>"), Qt::CaseInsensitive)) {
        out = reply;
        return false;
    }
    if (reply.contains(QLatin1String("<br />"), Qt::CaseInsensitive)) {
        // A server warning printed ahead of the JSON: the JSON decides.
        Log(QStringLiteral("Orig:\n") + SecretMask::MaskJson(reply));
        const QString cleaned = ExtractJsonLines(reply);
        Log(QStringLiteral("New:\n") + SecretMask::MaskJson(cleaned));
        QString cleanedMsg;
        if (CheckStatus(cleaned, cleanedMsg)) {
            out = cleaned;
            return true;
        }
        out = cleanedMsg;
        return false;
    }
    out = MessageOfPairs(reply);
    return false;
}

bool PeltaAPI::CallAgentAPIWithParams(const QString& url, const XMap& params, QString& out, CallEffect effect)
{
    QString body;
    if (!MapBody("CallAgentAPIWithParams", params, body)) {
        out = RefusedFieldText;
        return false;
    }
    return CallAgentAPI(url, body, true, out, effect);
}

QString PeltaAPI::EncodeParams(const XMap& params)
{
    QString text;
    bool first = true;
    for (const auto& [key, value] : params) {
        if (!first)
            text += u'&';
        first = false;
        text += key + u'=' + value;
    }
    return text;
}

bool PeltaAPI::FieldsTravelIntact(const std::vector<std::pair<QString, QString>>& fields, QString& problem)
{
    for (const auto& [key, value] : fields) {
        if (key.contains(u'&') || key.contains(u'=') || value.contains(u'&')) {
            problem = key;
            return false;
        }
    }
    return true;
}

bool PeltaAPI::FieldsTravelIntact(const XMap& params, QString& problem)
{
    return FieldsTravelIntact(std::vector<std::pair<QString, QString>>(params.begin(), params.end()), problem);
}

QByteArray PeltaAPI::FormWireBody(const QString& body)
{
    const QByteArray bytes = body.toUtf8();
    const qsizetype equals = bytes.indexOf('=');
    if (equals < 0)
        return FormEncode(bytes);
    return FormEncode(bytes.left(equals)) + '=' + FormEncode(bytes.mid(equals + 1));
}

QString PeltaAPI::ExtractJsonLines(const QString& text)
{
    QStringList kept;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.contains(u'{'))
            kept.append(line);
    }
    return kept.isEmpty() ? text : kept.join(u'\n');
}

bool PeltaAPI::OnFormWork(std::int64_t, std::int64_t)
{
    return AppState != XAPPExit;
}

PeltaAPI::OnlineSwitch PeltaAPI::UpdateOnlineState()
{
    XAPPState expected = XAPPOnline;
    if (NetFailCount > 5)
        return AppState.compare_exchange_strong(expected, XAPPOffline) ? OnlineSwitch::WentOffline
                                                                        : OnlineSwitch::None;
    expected = XAPPOffline;
    if (NetFailCount <= 0)
        return AppState.compare_exchange_strong(expected, XAPPOnline) ? OnlineSwitch::WentOnline
                                                                       : OnlineSwitch::None;
    return OnlineSwitch::None;
}
