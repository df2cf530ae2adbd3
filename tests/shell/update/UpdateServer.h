#pragma once

// A small update server for tests: serves the version list and files on
// loopback over plain HTTP and over TLS with a certificate made for the run
// (CaFile() is what the client is told to trust). Each path has a body;
// a path may be served short (its length announced, part of it sent).

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

class UpdateServer {
public:
    UpdateServer();
    ~UpdateServer();

    bool Ready() const { return ready_; }
    void Serve(const std::string& path, const QByteArray& body, bool shortBody = false);
    QString PlainUrl(const std::string& path) const;
    QString SecureUrl(const std::string& path) const;
    QString CaFile() const { return dir_.filePath(QStringLiteral("cert.pem")); }
    int Requests(const std::string& path) const;

private:
    bool MakeCertificate();
    void Route(httplib::Server& server);

    QTemporaryDir dir_;
    bool ready_ = false;
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<QByteArray, bool>> bodies_;
    std::map<std::string, int> requests_;
    std::unique_ptr<httplib::Server> plain_;
    std::unique_ptr<httplib::Server> secure_;
    int plainPort_ = 0;
    int securePort_ = 0;
    std::thread plainThread_;
    std::thread secureThread_;
};
