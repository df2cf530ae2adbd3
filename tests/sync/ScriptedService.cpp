#include "tests/sync/ScriptedService.h"

#include <httplib.h>

ScriptedService::ScriptedService() : server_(std::make_unique<httplib::Server>())
{
    const auto answer = [this](const httplib::Request&, httplib::Response& response) {
        const QByteArray body = Next();
        response.set_content(body.toStdString(), "application/json");
    };
    server_->Get(".*", answer);
    server_->Post(".*", answer);
    server_->Put(".*", answer);
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

ScriptedService::~ScriptedService()
{
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

QString ScriptedService::BaseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

void ScriptedService::Push(const QByteArray& body)
{
    std::lock_guard lock(mutex_);
    script_.push_back(body);
}

int ScriptedService::Answered() const
{
    std::lock_guard lock(mutex_);
    return answered_;
}

QByteArray ScriptedService::Next()
{
    std::lock_guard lock(mutex_);
    ++answered_;
    if (script_.empty())
        return R"({"status":"0","msg":"no script"})";
    QByteArray body = script_.front();
    script_.pop_front();
    return body;
}
