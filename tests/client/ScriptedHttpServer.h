#pragma once

// A minimal HTTP/1.1 server on 127.0.0.1 for the client's tests: it answers
// every request with the next scripted reply (or the default one), keeps
// connections alive (an HTTP/1.0 one only when it asks to), records each request as it arrived and counts the
// connections it accepted. Replies the fake service cannot give (any body,
// any status) come from here.

#include <QByteArray>
#include <QList>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class ScriptedHttpServer {
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        bool drop = false;  // close the connection without answering
    };

    struct Request {
        QByteArray requestLine;
        QList<QByteArray> headers;
        QByteArray body;
    };

    ScriptedHttpServer();
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    QByteArray BaseUrl() const;

    void Push(Reply reply);
    void SetDefault(Reply reply);

    std::vector<Request> Requests() const;
    int AcceptedConnections() const { return accepted_.load(); }

private:
    void AcceptLoop();
    void Serve(int socket);
    Reply NextReply();

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::deque<Reply> script_;
    Reply default_;
    std::vector<Request> requests_;
    std::vector<int> sockets_;
    std::vector<std::thread> workers_;
};
