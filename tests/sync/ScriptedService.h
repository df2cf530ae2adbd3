#pragma once

// A stand-in for the service base that answers every request with the next
// scripted body, for replies the fake service never gives (a success
// without the fields the engine reads, a path that would leave the sync
// folder). Tests point the process's service base at it for a step and back.

#include <QByteArray>
#include <QString>

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class Server;
}

class ScriptedService {
public:
    ScriptedService();
    ~ScriptedService();
    ScriptedService(const ScriptedService&) = delete;
    ScriptedService& operator=(const ScriptedService&) = delete;

    QString BaseUrl() const;
    // The body of the next answer; without any, {"status":"0","msg":"no script"}.
    void Push(const QByteArray& body);
    int Answered() const;

private:
    QByteArray Next();

    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::deque<QByteArray> script_;
    int answered_ = 0;
};
