#include "tests/fakeservice/FakeService.h"

#include "tests/fakeservice/ConnectionCutter.h"
#include "tests/fakeservice/FakeMessages.h"
#include "tests/fakeservice/FormDecoder.h"
#include "tests/fakeservice/JsonReply.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* Host = "127.0.0.1";
constexpr const char* JsonType = "application/json; charset=utf-8";
constexpr const char* HtmlType = "text/html; charset=UTF-8";

// What a PHP service prints ahead of its output when a notice goes wrong.
constexpr const char* WarningLine =
    "<br />\n<b>Warning</b>:  Undefined variable $cache in <b>/srv/api/index.php</b> on line <b>42</b><br />\n";

constexpr const char* ErrorPage =
    "<html><head><title>503 Service Unavailable</title></head>"
    "<body><h1>Service Unavailable</h1></body></html>";

// Faults that need the real reply to strike.
bool NeedsReply(FaultKind kind)
{
    return kind == FaultKind::Delay || kind == FaultKind::WarningLine || kind == FaultKind::DropAfterBytes;
}

// Announces the whole body, sends its first bytes and cuts the connection.
// With bytes at or past the body's length the client gets the whole reply.
void ReplyCutAfter(std::size_t bytes, std::string body, const httplib::Request& request,
                   httplib::Response& response)
{
    const std::size_t sent = std::min(bytes, body.size());
    const int localPort = request.local_port;
    const int remotePort = request.remote_port;
    const std::size_t length = body.size();
    response.set_content_provider(
        length, JsonType,
        [body = std::move(body), sent, localPort, remotePort](std::size_t, std::size_t, httplib::DataSink& sink) {
            if (sent > 0)
                sink.write(body.data(), sent);
            ConnectionCutter::Cut(localPort, remotePort);
            return false;
        });
}

}  // namespace

FakeService::FakeService(FakeServiceOptions options) : options_(std::move(options))
{
    server_ = std::make_unique<httplib::Server>();
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        Handle(request, response);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    const auto timeout = static_cast<time_t>(options_.ioTimeout.count());
    server_->set_read_timeout(timeout);
    server_->set_write_timeout(timeout);

    port_ = options_.port == 0 ? server_->bind_to_any_port(Host)
                               : (server_->bind_to_port(Host, options_.port) ? options_.port : -1);
    if (port_ <= 0) {
        port_ = 0;
        return;
    }
    agent_ = std::make_unique<AgentInterface>(state_, QString::fromStdString(BaseUrl()));
    signedApi_ = std::make_unique<SignedApi>(state_, options_.apiKey, options_.apiSecret);
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
    // The socket listens already; wait until the loop runs so that a stop
    // cannot come before it and be missed.
    for (int i = 0; i < 500 && !server_->is_running() && !listenEnded_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

FakeService::~FakeService()
{
    Stop();
}

bool FakeService::IsRunning() const
{
    return port_ != 0 && !Stopping();
}

std::string FakeService::BaseUrl() const
{
    return std::string("http://") + Host + ":" + std::to_string(port_);
}

std::string FakeService::ApiUrl() const
{
    return BaseUrl() + "/api.php";
}

std::vector<FakeCall> FakeService::Calls() const
{
    std::lock_guard<std::mutex> lock(logMutex_);
    return calls_;
}

std::size_t FakeService::CallCount(const std::string& method) const
{
    std::lock_guard<std::mutex> lock(logMutex_);
    return std::count_if(calls_.begin(), calls_.end(),
                         [&](const FakeCall& call) { return call.method == method; });
}

std::vector<std::string> FakeService::UnknownTargets() const
{
    std::lock_guard<std::mutex> lock(logMutex_);
    return unknownTargets_;
}

void FakeService::Stop()
{
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        if (stopping_)
            return;
        stopping_ = true;
    }
    stopped_.notify_all();
    if (!thread_.joinable())
        return;
    server_->stop();
    // Idle keep-alive connections and stalled peers would hold the library's
    // threads for their time-outs; cut them until the listen loop has ended.
    while (!listenEnded_) {
        ConnectionCutter::CutAll(port_);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
}

void FakeService::Handle(const httplib::Request& request, httplib::Response& response)
{
    const std::optional<MethodRouter::Route> route = router_.Match(request.target);
    const bool known = route && (route->method == MethodRouter::SignedApi || AgentInterface::Handles(route->method));
    const std::string method =
        !known ? std::string()
               : route->method == MethodRouter::SignedApi ? SignedApi::MethodName(route->rest) : route->method;
    Record(request, method);
    if (!known) {
        RecordUnknown(request);
        response.status = 404;
        response.set_content("not found", "text/plain");
        return;
    }
    if (Stopping()) {
        Cut(request);
        return;
    }
    const std::optional<Fault> fault = faults_.Take(method);
    if (fault && fault->kind == FaultKind::Delay && !WaitFor(fault->hold)) {
        Cut(request);
        return;
    }
    const bool process = !fault || fault->processed || NeedsReply(fault->kind);
    std::string body = process ? Dispatch(*route, request) : std::string();
    if (fault && fault->kind != FaultKind::Delay) {
        ApplyFault(*fault, method, request, response, std::move(body));
        return;
    }
    response.status = 200;
    response.set_content(body, JsonType);
}

std::string FakeService::Dispatch(const MethodRouter::Route& route, const httplib::Request& request)
{
    if (route.method == MethodRouter::SignedApi)
        return signedApi_->Handle(route.rest);
    return DispatchAgent(route, request);
}

std::string FakeService::DispatchAgent(const MethodRouter::Route& route, const httplib::Request& request)
{
    const QByteArray body = QByteArray::fromStdString(request.body);
    const FormDecoder::Result decoded = FormDecoder::Decode(body, options_.strictFormEncoding);
    if (!decoded.fields) {
        std::fprintf(stderr, "fake service: %s: %s: %s\n", route.method.c_str(), qPrintable(decoded.error),
                     request.body.c_str());
        return JsonReply::Error(FakeMessages::FormEncodingError);
    }
    return agent_->Handle(route.method, QString::fromStdString(route.userId), *decoded.fields);
}

void FakeService::ApplyFault(const Fault& fault, const std::string& method, const httplib::Request& request,
                             httplib::Response& response, std::string body)
{
    response.status = 200;
    switch (fault.kind) {
    case FaultKind::Delay:
        response.set_content(body, JsonType);
        return;
    case FaultKind::DropBeforeReply:
        Cut(request);
        return;
    case FaultKind::DropAfterBytes:
        ReplyCutAfter(fault.bytes, std::move(body), request, response);
        return;
    case FaultKind::Http500:
        response.status = 500;
        response.set_content("Internal Server Error", "text/plain");
        return;
    case FaultKind::WarningLine:
        response.set_content(WarningLine + body, HtmlType);
        return;
    case FaultKind::NonJson:
        response.set_content(ErrorPage, HtmlType);
        return;
    case FaultKind::Message:
        response.set_content(method == "getQuota"
                                 ? SignedApi::Failure(fault.message, QStringLiteral("injected failure"))
                                 : JsonReply::Error(fault.message),
                             JsonType);
        return;
    case FaultKind::Timeout:
        WaitFor(fault.hold);
        Cut(request);
        return;
    }
}

void FakeService::Record(const httplib::Request& request, const std::string& method)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    calls_.push_back(FakeCall{request.method, request.target, method, request.body});
}

void FakeService::RecordUnknown(const httplib::Request& request)
{
    std::fprintf(stderr, "fake service: not served: %s %s\n", request.method.c_str(), request.target.c_str());
    std::lock_guard<std::mutex> lock(logMutex_);
    unknownTargets_.push_back(request.target);
}

void FakeService::Cut(const httplib::Request& request) const
{
    ConnectionCutter::Cut(request.local_port, request.remote_port);
}

bool FakeService::WaitFor(std::chrono::milliseconds duration)
{
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopped_.wait_for(lock, duration, [this] { return stopping_; });
}

bool FakeService::Stopping() const
{
    std::lock_guard<std::mutex> lock(stopMutex_);
    return stopping_;
}
