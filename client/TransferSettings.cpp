#include "client/TransferSettings.h"

#include "foundation/ProcessState.h"

#include <algorithm>

namespace {

const QList<QByteArray> TransferHeaders = {
    "Accept: text/html, application/xhtml+xml, */*",
    "Accept-Language: en-us,en;q=0.5",
    "Accept-Encoding:",
    "Connection: Keep-Alive",
    "Cache-Control: no-cache",
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)",
};

// The transfers' library buffers without a limit: few calls per byte, still
// a bounded amount of memory per transfer.
constexpr long TransferBufferBytes = 512 * 1024;
constexpr long SmallestBufferBytes = 1024;

// Under a receive limit the library reads up to a hundred buffers, or a
// second's worth, each time the limit lets it, and the last such burst is
// never paid back: a buffer of a thousandth of the limit keeps that burst
// to about a tenth of a second. The send side keeps the library's default.
long ReceiveBuffer(std::int64_t limit)
{
    if (limit == 0)
        return TransferBufferBytes;
    return static_cast<long>(std::clamp<std::int64_t>(limit / 1000, SmallestBufferBytes, TransferBufferBytes));
}

void SetLimits(HttpSettings& settings)
{
    settings.maxSendBytesPerSecond = UploadBitRate.load() / 8;
    settings.maxRecvBytesPerSecond = DownloadBitRate.load() / 8;
    settings.receiveBufferBytes = ReceiveBuffer(settings.maxRecvBytesPerSecond);
    if (settings.maxSendBytesPerSecond == 0)
        settings.sendBufferBytes = TransferBufferBytes;
}

}  // namespace

namespace TransferSettings {

HttpSettings MultipartUpload()
{
    HttpSettings settings;
    settings.headers = TransferHeaders;
    SetLimits(settings);
    return settings;
}

HttpSettings ChunkedPut()
{
    HttpSettings settings = MultipartUpload();
    settings.connectTimeout = std::chrono::milliseconds(5000);
    return settings;
}

HttpSettings EmptyPut()
{
    HttpSettings settings;
    settings.headers = TransferHeaders;
    return settings;
}

HttpSettings Download(std::chrono::milliseconds readTimeout)
{
    HttpSettings settings;
    settings.http10 = true;
    // An HTTP/1.0 connection closes after its answer unless asked to stay;
    // downloads in a row then share one.
    settings.headers = {"Connection: Keep-Alive"};
    settings.connectTimeout = std::chrono::milliseconds(5000);
    settings.readTimeout = readTimeout;
    SetLimits(settings);
    return settings;
}

}  // namespace TransferSettings
