#include "shell/settings/Bandwidth.h"

#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"

#include <limits>

std::int64_t Bandwidth::Rate(const QString& limitSwitch, const QString& value)
{
    if (limitSwitch != QLatin1String("1"))
        return 0;
    bool converted = false;
    const std::int64_t amount = value.trimmed().toLongLong(&converted);
    if (!converted || amount <= 0)
        return 0;
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    if (amount > largest / Factor)
        return largest;
    return amount * Factor;
}

void Bandwidth::Apply(const PeltaSyncAgentSetting& settings)
{
    UploadBitRate = Rate(settings.Get(QStringLiteral("bw_upload_limit")), settings.Get(QStringLiteral("bw_upload")));
    DownloadBitRate =
        Rate(settings.Get(QStringLiteral("bw_download_limit")), settings.Get(QStringLiteral("bw_download")));
}
