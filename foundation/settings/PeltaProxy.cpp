#include "foundation/settings/PeltaProxy.h"

#include <QByteArray>

#include <utility>

SharedProxy AppProxy;

bool PeltaProxy::InUse() const
{
    return enable && type >= 1 && type <= 3;
}

bool PeltaProxy::Apply(CURL* handle) const
{
    const bool inUse = InUse();
    const bool withCredentials = inUse && type != 1 && req_auth;
    const QByteArray host = inUse ? server.toUtf8() : QByteArray();
    const QByteArray user = login.toUtf8();
    const QByteArray password = pass.toUtf8();

    // libcurl copies string options, so the buffers need not outlive the calls.
    bool ok = curl_easy_setopt(handle, CURLOPT_PROXY, host.constData()) == CURLE_OK;
    ok = curl_easy_setopt(handle, CURLOPT_NOPROXY, "") == CURLE_OK && ok;
    ok = curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, withCredentials ? user.constData() : nullptr) == CURLE_OK
         && ok;
    ok = curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, withCredentials ? password.constData() : nullptr)
             == CURLE_OK
         && ok;
    if (!inUse)
        return ok;
    ok = curl_easy_setopt(handle, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)) == CURLE_OK && ok;
    return curl_easy_setopt(handle, CURLOPT_PROXYPORT, static_cast<long>(port)) == CURLE_OK && ok;
}

PeltaProxy SharedProxy::Get() const
{
    std::lock_guard lock(mutex_);
    return proxy_;
}

void SharedProxy::Set(PeltaProxy proxy)
{
    std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}
