#include "client/TransferSettings.h"

#include "foundation/ProcessState.h"

namespace {

const QList<QByteArray> TransferHeaders = {
    "Accept: text/html, application/xhtml+xml, */*",
    "Accept-Language: en-us,en;q=0.5",
    "Accept-Encoding:",
    "Connection: Keep-Alive",
    "Cache-Control: no-cache",
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)",
};

// The transfers' library buffers: few calls per byte, still a bounded
// amount of memory per transfer.
constexpr long TransferBufferBytes = 512 * 1024;

// Under a limit the library's small default buffers keep the rate even;
// large ones would let it burst.
void SetLimits(HttpSettings& settings)
{
    settings.maxSendBytesPerSecond = UploadBitRate.load() / 8;
    settings.maxRecvBytesPerSecond = DownloadBitRate.load() / 8;
    if (settings.maxSendBytesPerSecond == 0 && settings.maxRecvBytesPerSecond == 0)
        settings.bufferBytes = TransferBufferBytes;
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
    settings.connectTimeout = std::chrono::milliseconds(5000);
    settings.readTimeout = readTimeout;
    SetLimits(settings);
    return settings;
}

}  // namespace TransferSettings
