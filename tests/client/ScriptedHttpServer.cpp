#include "tests/client/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace {

// Reads until the buffer holds `needed` bytes; false when the peer is gone.
bool ReadUntil(int socket, QByteArray& buffer, qsizetype needed)
{
    char chunk[4096];
    while (buffer.size() < needed) {
        const ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, static_cast<qsizetype>(got));
    }
    return true;
}

bool ReadHead(int socket, QByteArray& buffer, qsizetype& headEnd)
{
    char chunk[4096];
    while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0) {
        const ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, static_cast<qsizetype>(got));
    }
    return true;
}

void SendAll(int socket, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(listener_, 16) != 0
        || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    stopping_ = true;
    if (acceptThread_.joinable())
        acceptThread_.join();
    {
        std::lock_guard lock(mutex_);
        for (const int socket : sockets_)
            ::shutdown(socket, SHUT_RDWR);
    }
    for (std::thread& worker : workers_)
        worker.join();
    for (const int socket : sockets_)
        ::close(socket);
    ::close(listener_);
}

QByteArray ScriptedHttpServer::BaseUrl() const
{
    return "http://127.0.0.1:" + QByteArray::number(port_);
}

void ScriptedHttpServer::Push(Reply reply)
{
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(reply));
}

void ScriptedHttpServer::SetDefault(Reply reply)
{
    std::lock_guard lock(mutex_);
    default_ = std::move(reply);
}

std::vector<ScriptedHttpServer::Request> ScriptedHttpServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

ScriptedHttpServer::Reply ScriptedHttpServer::NextReply()
{
    std::lock_guard lock(mutex_);
    if (script_.empty())
        return default_;
    Reply reply = std::move(script_.front());
    script_.pop_front();
    return reply;
}

void ScriptedHttpServer::AcceptLoop()
{
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0)
            continue;
        const int socket = ::accept(listener_, nullptr, nullptr);
        if (socket < 0)
            continue;
        ++accepted_;
        std::lock_guard lock(mutex_);
        sockets_.push_back(socket);
        workers_.emplace_back([this, socket] { Serve(socket); });
    }
}

void ScriptedHttpServer::Serve(int socket)
{
    QByteArray buffer;
    for (;;) {
        qsizetype headEnd = -1;
        if (!ReadHead(socket, buffer, headEnd))
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        request.requestLine = lines.value(0).trimmed();
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            request.headers.append(line);
            if (line.toLower().startsWith("content-length:"))
                contentLength = line.mid(15).trimmed().toLongLong();
        }
        const qsizetype total = headEnd + 4 + contentLength;
        if (!ReadUntil(socket, buffer, total))
            return;
        request.body = buffer.mid(headEnd + 4, contentLength);
        buffer.remove(0, total);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        const Reply reply = NextReply();
        if (reply.drop) {
            ::shutdown(socket, SHUT_RDWR);
            return;
        }
        // An HTTP/1.0 request keeps its connection only when it asks to.
        const bool close = request.requestLine.endsWith("HTTP/1.0") &&
                           !request.headers.contains(QByteArray("Connection: Keep-Alive"));
        SendAll(socket, "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\nContent-Type: text/plain\r\n"
                            + (close ? "Connection: close\r\n" : "") + "Content-Length: "
                            + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body);
        if (close) {
            ::shutdown(socket, SHUT_RDWR);
            return;
        }
    }
}
