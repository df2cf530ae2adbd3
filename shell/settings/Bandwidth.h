#pragma once

// The bandwidth limits of the transfers. A limit is on when its switch
// (bw_upload_limit, bw_download_limit) is "1"; its value (bw_upload,
// bw_download) times Factor is the rate handed to the transfers. A value
// that is no decimal number gives 0, which means unlimited. The product is
// taken in 64 bits and clamped, so a large value never turns into a negative
// rate, and a negative value counts as 0.

#include <QString>

#include <cstdint>

class PeltaSyncAgentSetting;

class Bandwidth {
public:
    static constexpr std::int64_t Factor = 8196;

    static std::int64_t Rate(const QString& limitSwitch, const QString& value);

    // Sets UploadBitRate and DownloadBitRate from the settings.
    static void Apply(const PeltaSyncAgentSetting& settings);
};
