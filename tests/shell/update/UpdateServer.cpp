#include "tests/shell/update/UpdateServer.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

UpdateServer::UpdateServer()
{
    if (!dir_.isValid() || !MakeCertificate())
        return;
    plain_ = std::make_unique<httplib::Server>();
    secure_ = std::make_unique<httplib::SSLServer>(CaFile().toLocal8Bit().constData(),
                                                   dir_.filePath(QStringLiteral("key.pem")).toLocal8Bit().constData());
    Route(*plain_);
    Route(*secure_);
    plainPort_ = plain_->bind_to_any_port("127.0.0.1");
    securePort_ = secure_->bind_to_any_port("127.0.0.1");
    if (plainPort_ <= 0 || securePort_ <= 0)
        return;
    plainThread_ = std::thread([this] { plain_->listen_after_bind(); });
    secureThread_ = std::thread([this] { secure_->listen_after_bind(); });
    ready_ = true;
}

UpdateServer::~UpdateServer()
{
    if (plain_)
        plain_->stop();
    if (secure_)
        secure_->stop();
    if (plainThread_.joinable())
        plainThread_.join();
    if (secureThread_.joinable())
        secureThread_.join();
}

bool UpdateServer::MakeCertificate()
{
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, CertFree> cert(X509_new());
    if (!key || !cert)
        return false;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                               -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
    for (const char* extension : {"IP:127.0.0.1", "critical,CA:TRUE"}) {
        const int nid = extension[0] == 'I' ? NID_subject_alt_name : NID_basic_constraints;
        X509_EXTENSION* made = X509V3_EXT_conf_nid(nullptr, &context, nid, extension);
        if (!made)
            return false;
        X509_add_ext(cert.get(), made, -1);
        X509_EXTENSION_free(made);
    }
    if (!X509_sign(cert.get(), key.get(), EVP_sha256()))
        return false;
    std::unique_ptr<std::FILE, FileClose> certFile(std::fopen(CaFile().toLocal8Bit().constData(), "w"));
    std::unique_ptr<std::FILE, FileClose> keyFile(
        std::fopen(dir_.filePath(QStringLiteral("key.pem")).toLocal8Bit().constData(), "w"));
    return certFile && keyFile && PEM_write_X509(certFile.get(), cert.get()) &&
           PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
}

void UpdateServer::Route(httplib::Server& server)
{
    server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard<std::mutex> guard(mutex_);
        ++requests_[request.path];
        const auto found = bodies_.find(request.path);
        if (found == bodies_.end()) {
            response.status = 404;
            return;
        }
        const QByteArray body = found->second.first;
        if (!found->second.second) {
            response.set_content(body.toStdString(), "application/octet-stream");
            return;
        }
        response.set_content_provider(static_cast<std::size_t>(body.size()) + 100, "application/octet-stream",
                                      [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (offset >= static_cast<std::size_t>(body.size()))
                                              return false;
                                          sink.write(body.constData(), static_cast<std::size_t>(body.size()));
                                          return true;
                                      });
    });
}

void UpdateServer::Serve(const std::string& path, const QByteArray& body, bool shortBody)
{
    std::lock_guard<std::mutex> guard(mutex_);
    bodies_[path] = {body, shortBody};
}

QString UpdateServer::PlainUrl(const std::string& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(plainPort_).arg(QString::fromStdString(path));
}

QString UpdateServer::SecureUrl(const std::string& path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(securePort_).arg(QString::fromStdString(path));
}

int UpdateServer::Requests(const std::string& path) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
}
