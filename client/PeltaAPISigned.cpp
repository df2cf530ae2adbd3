// The signed API: signature, call URL and the quota query.

#include "client/PeltaAPI.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/ProcessState.h"

#include <cmath>
#include <optional>

namespace {

std::optional<double> Decimal(const XMap& map, const char* name)
{
    const auto it = map.find(QLatin1String(name));
    if (it == map.end())
        return std::nullopt;
    bool ok = false;
    const double value = it->second.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

const QString PeltaAPI::QuotaMethod = QStringLiteral("pelta.mirdo.private.getQuota");
const QString PeltaAPI::InvalidTokenCode = QStringLiteral("1001010003");
const QString PeltaAPI::ExpiredTokenCode = QStringLiteral("1001010004");

QString PeltaAPI::ApiSignature(const QString& secret, const QString& apiKey, const QString& auth,
                               const QString& method)
{
    QByteArray source;
    for (const QChar c : secret + apiKey + auth + method)
        source.append(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
    return QString::fromLatin1(Md5HexBytes(source));
}

QString PeltaAPI::SignedCallUrl(const QString& auth, const QString& method)
{
    return ::SignedApiUrl + QStringLiteral("?api_sig=") + ApiSignature(ApiSecret, ApiKey, auth, method)
           + QStringLiteral("&api_key=") + ApiKey + QStringLiteral("&auth=") + auth + QStringLiteral("&method=")
           + method;
}

bool PeltaAPI::GetQuota(const QString& auth, double& total, double& used, double& maxFileSize, QString& message)
{
    message.clear();
    const QString reply = HTTPPostForm(SignedCallUrl(auth, QuotaMethod), QString(), true, CallEffect::OnlyReads);
    if (ParseToMap(reply)[QStringLiteral("ok")] == QLatin1String("true")) {
        const XMap rsp = ObjectToMap(ParseFindObject(reply, QStringLiteral("rsp")));
        const std::optional<double> totalValue = Decimal(rsp, "total");
        const std::optional<double> usedValue = Decimal(rsp, "used");
        const std::optional<double> maxValue = Decimal(rsp, "max_fs");
        if (!totalValue || !usedValue || !maxValue) {
            Log(QStringLiteral("PeltaSync::GetQuota::Exception"), LogHTTP);
            return false;
        }
        total = *totalValue;
        used = *usedValue;
        maxFileSize = *maxValue;
        return true;
    }
    const std::optional<JsonValue> msg = ParseFindArray(reply, QStringLiteral("msg"));
    if (msg && msg->Size() == 2) {
        message = ValueToString(msg->At(0));
        Log(message);
    }
    return false;
}

bool PeltaAPI::IsReloginCode(const QString& code)
{
    return code == InvalidTokenCode || code == ExpiredTokenCode;
}

PeltaAPI::QuotaResult PeltaAPI::RefreshQuota(const QString& auth, QString& message)
{
    message.clear();
    if (ServerProfile == QLatin1String("DEV"))
        return QuotaResult::Skipped;
    double total = 0;
    double used = 0;
    double maxFileSize = 0;
    if (!GetQuota(auth, total, used, maxFileSize, message))
        return IsReloginCode(message) ? QuotaResult::LoginNeeded : QuotaResult::Failed;
    QuotaTotal = static_cast<float>(total);
    QuotaUsed = static_cast<float>(used);
    QuotaMaxFileSize = static_cast<float>(maxFileSize);
    return QuotaResult::Stored;
}
