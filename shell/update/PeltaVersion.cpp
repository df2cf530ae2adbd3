#include "shell/update/PeltaVersion.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaProxy.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <curl/curl.h>

#include <functional>
#include <memory>

namespace {

struct HandleCloser {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};

struct TransferState {
    const std::function<bool(const char*, std::size_t)>* sink = nullptr;
    const std::atomic<bool>* stop = nullptr;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* state = static_cast<TransferState*>(user);
    return (*state->sink)(data, size * count) ? size * count : 0;
}

// Ends the transfer when the agent leaves the online state or is told to stop.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* state = static_cast<TransferState*>(user);
    if (AppState.load() != XAPPOnline || (state->stop && state->stop->load()))
        return 1;
    return 0;
}

}  // namespace

PeltaVersion::PeltaVersion(Options options) : options_(std::move(options)) {}

bool PeltaVersion::Transfer(const QString& url, bool secureOnly, std::chrono::milliseconds total,
                            const std::function<bool(const char*, std::size_t)>& sink, QString& error)
{
    std::unique_ptr<CURL, HandleCloser> handle(curl_easy_init());
    if (!handle) {
        error = QStringLiteral("no HTTP handle");
        return false;
    }
    CURL* curl = handle.get();
    const QByteArray address = QString(url).remove(u'\n').toUtf8();
    const QByteArray caFile = options_.caFile.toLocal8Bit();
    TransferState state{&sink, options_.stop};
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, secureOnly ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secureOnly ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(total.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     std::max(1L, static_cast<long>(options_.readTimeout.count() / 1000)));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    if (!AppProxy.Get().Apply(curl)) {
        error = QStringLiteral("the proxy settings were refused");
        return false;
    }
    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        error = QString::fromUtf8(curl_easy_strerror(result));
        return false;
    }
    return true;
}

QByteArray PeltaVersion::HttpGetText(const QString& url)
{
    QByteArray body;
    QString error;
    const auto sink = [&body](const char* data, std::size_t size) {
        if (body.size() + static_cast<qsizetype>(size) > 1024 * 1024)
            return false;  // no version list is that long
        body.append(data, static_cast<qsizetype>(size));
        return true;
    };
    if (!Transfer(url, false, options_.listTimeout * 2, sink, error)) {
        AppLog.Write(QStringLiteral("PeltaVersion: the version list could not be fetched: ") + error, LogGeneral);
        return {};
    }
    return body;
}

bool PeltaVersion::FetchVersions(std::vector<VersionList::Entry>& entries, QString& error)
{
    const QString url = QString(options_.listUrl)
                            .replace(QStringLiteral("%d"), QString::number(QDateTime::currentSecsSinceEpoch()));
    const QByteArray text = HttpGetText(url);
    if (text.isEmpty()) {
        error = QStringLiteral("the version list could not be fetched");
        return false;
    }
    return VersionList::Parse(text, entries, error);
}

bool PeltaVersion::DownloadVerified(const QString& url, const QString& md5sum, const QString& target, QString& error)
{
    const QString secure = VersionList::SecureUrl(url);
    if (secure.isEmpty()) {
        error = QStringLiteral("no https address for ") + url;
        return false;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1 cannot be written").arg(target);
        return false;
    }
    QCryptographicHash md5(QCryptographicHash::Md5);
    const auto sink = [&file, &md5](const char* data, std::size_t size) {
        md5.addData(QByteArrayView(data, static_cast<qsizetype>(size)));
        return file.write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
    };
    const auto total = options_.connectTimeout + std::chrono::minutes(30);
    if (!Transfer(secure, true, total, sink, error)) {
        file.cancelWriting();
        return false;
    }
    if (QString::fromLatin1(md5.result().toHex()) != md5sum.toLower()) {
        file.cancelWriting();
        error = QStringLiteral("the MD5 of %1 differs from the list").arg(secure);
        return false;
    }
    if (!file.commit()) {
        error = QStringLiteral("%1 cannot be written").arg(target);
        return false;
    }
    return true;
}

QString PeltaVersion::FileMD5(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (!md5.addData(&file))
        return {};
    return QString::fromLatin1(md5.result().toHex());
}
