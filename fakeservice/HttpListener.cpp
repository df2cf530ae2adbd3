#include "fakeservice/HttpListener.h"

#include "fakeservice/ConnectionCutter.h"

#include <httplib.h>

namespace {

constexpr const char* Host = "127.0.0.1";
constexpr std::size_t KeepAliveRequests = 100;

}  // namespace

HttpListener::HttpListener(int port, std::chrono::seconds ioTimeout, std::size_t threads, const Routes& routes)
    : server_(std::make_unique<httplib::Server>())
{
    if (threads > 0) {
        // The library takes ownership of the queue it is handed.
        server_->new_task_queue = [threads] { return std::make_unique<httplib::ThreadPool>(threads).release(); };
    }
    routes(*server_);
    const auto timeout = static_cast<time_t>(ioTimeout.count());
    server_->set_read_timeout(timeout);
    server_->set_write_timeout(timeout);
    // Like a production server: an answer's header and body leave at once
    // (with Nagle's rule the body would wait for the client's delayed
    // acknowledgement, 40 ms per request), and a connection serves many
    // requests before it is closed.
    server_->set_tcp_nodelay(true);
    server_->set_keep_alive_max_count(KeepAliveRequests);
    port_ = port == 0 ? server_->bind_to_any_port(Host) : (server_->bind_to_port(Host, port) ? port : -1);
    if (port_ <= 0)
        port_ = 0;
}

HttpListener::~HttpListener()
{
    WaitStarted();
    RequestStop();
    Join();
}

std::string HttpListener::BaseUrl() const
{
    return std::string("http://") + Host + ":" + std::to_string(port_);
}

void HttpListener::Start()
{
    if (!IsBound() || thread_.joinable())
        return;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
}

void HttpListener::WaitStarted()
{
    if (!thread_.joinable())
        return;
    for (int i = 0; i < 5000 && !server_->is_running() && !listenEnded_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpListener::RequestStop()
{
    if (thread_.joinable())
        server_->stop();
}

void HttpListener::Join()
{
    if (!thread_.joinable())
        return;
    while (!listenEnded_) {
        ConnectionCutter::CutAll(port_);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
}
