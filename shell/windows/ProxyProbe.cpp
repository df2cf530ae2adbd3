#include "shell/windows/ProxyProbe.h"

#include "foundation/log/PeltaLog.h"

#include <curl/curl.h>

#include <memory>

namespace {

struct HandleCloser {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};

std::size_t Discard(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
}

}  // namespace

bool ProxyProbe::Try(const QString& server, int port, const QString& url)
{
    std::unique_ptr<CURL, HandleCloser> handle(curl_easy_init());
    if (!handle)
        return false;
    const QByteArray target = url.toUtf8();
    const QByteArray proxy = QStringLiteral("http://%1:%2").arg(server).arg(port).toUtf8();
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, target.constData());
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.constData());
    curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>((ConnectTimeout + ReadTimeout).count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        AppLog.Write(QStringLiteral("ProxyProbe: %1:%2 failed: %3")
                         .arg(server)
                         .arg(port)
                         .arg(QString::fromUtf8(curl_easy_strerror(result))),
                     LogHTTP);
        return false;
    }
    return true;
}
