#pragma once

// One HTTP listener of the fake service on 127.0.0.1: a port (ephemeral
// unless one is given) and the library's server with its threads. It binds
// at construction, and starts and stops in two steps each so that several
// listeners start and stop side by side: Start() runs the listen loop and
// WaitStarted() waits until it runs (a stop before that would be missed);
// RequestStop() ends the accepting, Join() cuts the remaining connections
// (idle keep-alive ones and stalled peers would otherwise hold the
// library's threads for their time-outs) until the listen loop has ended,
// then joins it.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}  // namespace httplib

class HttpListener {
public:
    using Routes = std::function<void(httplib::Server&)>;

    // threads: the size of the library's thread pool (0: its default); each
    // connection being served holds one thread.
    HttpListener(int port, std::chrono::seconds ioTimeout, std::size_t threads, const Routes& routes);
    ~HttpListener();

    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // False when the port could not be bound.
    bool IsBound() const { return port_ != 0; }
    int Port() const { return port_; }

    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;

    void Start();
    void WaitStarted();
    void RequestStop();
    void Join();

private:
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> listenEnded_{false};
};
