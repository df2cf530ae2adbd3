#include "fakeservice/FakeService.h"

#include "fakeservice/BodyReader.h"
#include "fakeservice/ConnectionProbe.h"
#include "fakeservice/FakeMessages.h"
#include "fakeservice/FormDecoder.h"
#include "fakeservice/JsonReply.h"
#include "fakeservice/QueryText.h"
#include "fakeservice/RequestTweaks.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

constexpr const char* PushPath = "/0/";
constexpr std::size_t Unlimited = std::numeric_limits<std::size_t>::max();

}  // namespace

FakeService::FakeService(FakeServiceOptions options)
    : options_(std::move(options)),
      replies_(stop_),
      accounts_(state_, options_.apiKey),
      signedApi_(state_, accounts_, options_.apiKey, options_.apiSecret),
      uploads_(state_, options_.strictFormEncoding),
      downloads_(state_, replies_),
      push_(options_.strictFormEncoding)
{
    service_ = Listen(options_.port, 0, AllMethods(&FakeService::HandleService));
    upload_ = Listen(options_.uploadPort, 0, UploadRoutes());
    download_ = Listen(options_.downloadPort, 0, AllMethods(&FakeService::HandleDownload));
    account_ = Listen(options_.accountPort, 0, AllMethods(&FakeService::HandleAccount));
    pushListener_ = Listen(options_.pushPort, options_.pushThreads, AllMethods(&FakeService::HandlePush));
    agent_ = std::make_unique<AgentInterface>(state_, QString::fromStdString(DownloadUrl()));
    for (HttpListener* listener : Listeners())
        listener->Start();
    for (HttpListener* listener : Listeners())
        listener->WaitStarted();
}

FakeService::~FakeService()
{
    Stop();
}

bool FakeService::IsRunning() const
{
    const std::vector<HttpListener*> listeners = Listeners();
    const bool bound = std::all_of(listeners.begin(), listeners.end(),
                                   [](const HttpListener* listener) { return listener->IsBound(); });
    return bound && !stop_.Raised();
}

int FakeService::Port() const
{
    return service_->Port();
}

std::string FakeService::BaseUrl() const
{
    return service_->BaseUrl();
}

std::string FakeService::ApiUrl() const
{
    return BaseUrl() + "/api.php";
}

std::string FakeService::UploadUrl() const
{
    return upload_->BaseUrl();
}

std::string FakeService::DownloadUrl() const
{
    return download_->BaseUrl();
}

std::string FakeService::AccountUrl() const
{
    return account_->BaseUrl();
}

std::string FakeService::MemberTokenUrl() const
{
    return AccountUrl() + AccountServer::MemberTokenPath;
}

std::string FakeService::ClientAuthUrl() const
{
    return AccountUrl() + AccountServer::ClientAuthPath;
}

std::string FakeService::PushUrl() const
{
    return pushListener_->BaseUrl() + PushPath + "?";
}

std::vector<FakeCall> FakeService::Calls() const
{
    return log_.Calls();
}

std::size_t FakeService::CallCount(const std::string& method) const
{
    return log_.Count(method);
}

std::vector<std::string> FakeService::UnknownTargets() const
{
    return log_.UnknownTargets();
}

void FakeService::Stop()
{
    stop_.Raise();
    push_.Stop();
    const std::vector<HttpListener*> listeners = Listeners();
    for (HttpListener* listener : listeners)
        listener->RequestStop();
    for (HttpListener* listener : listeners)
        listener->Join();
}

// ---- The listeners' handlers ----------------------------------------------------

void FakeService::HandleService(const httplib::Request& request, httplib::Response& response)
{
    const std::optional<MethodRouter::Route> route = router_.Match(request.target);
    const std::string method = ServiceMethod(route);
    if (method.empty()) {
        NotServed(request, response, "service");
        return;
    }
    Record(request, method, "service");
    Answer(faults_.Take(method), method, request, response, [&] { return DispatchService(*route, request); });
}

void FakeService::HandleUpload(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader)
{
    const std::optional<MethodRouter::Route> route = router_.Match(request.target);
    const std::string method = route ? route->method : std::string();
    UploadBody body(RequestTweaks::TakeBodyAsPlainBytes(request), CallLog::MaxBody,
                    BodyReader::ContentLength(request).value_or(0));
    const bool served = UploadHost::Handles(method) && request.method == UploadHost::HttpMethodOf(method);
    const std::optional<Fault> fault = served ? faults_.Take(method) : std::nullopt;
    const bool cutEarly = fault && fault->kind == FaultKind::DropAfterRequestBytes;
    BodyReader bodyReader(request, cutEarly ? fault->bytes : Unlimited, options_.ioTimeout);
    const bool whole = bodyReader.Read(reader, body);
    body.Finish();
    if (!served) {
        NotServed(request, response, "upload");
        return;
    }
    log_.Record(FakeCall{request.method, request.target, method, body.Head(), "upload", body.Size()});
    if (cutEarly || !whole) {
        FaultReply::Cut(request);
        return;
    }
    Answer(fault, method, request, response,
           [&] { return uploads_.Handle(*route, body); });
}

void FakeService::HandleDownload(const httplib::Request& request, httplib::Response& response)
{
    if (request.method != "GET" || !DownloadHost::Matches(request.target)) {
        NotServed(request, response, "download");
        return;
    }
    Record(request, DownloadHost::Method, "download");
    const std::optional<Fault> fault = faults_.Take(DownloadHost::Method);
    if (stop_.Raised() || (fault && fault->kind == FaultKind::Delay && !stop_.WaitFor(fault->hold))) {
        FaultReply::Cut(request);
        return;
    }
    downloads_.Serve(request, response, fault);
}

void FakeService::HandleAccount(const httplib::Request& request, httplib::Response& response)
{
    const std::string step = AccountServer::StepOf(request.method, request.target);
    if (step.empty()) {
        NotServed(request, response, "account");
        return;
    }
    Record(request, step, "account");
    Answer(faults_.Take(step), step, request, response,
           [&] { return accounts_.Handle(step, request.target, request.body); });
}

void FakeService::HandlePush(const httplib::Request& request, httplib::Response& response)
{
    if (request.method != "POST" || QueryText::PathOf(request.target) != PushPath) {
        NotServed(request, response, "push");
        return;
    }
    const std::string method = push_.MethodOf(request.body);
    Record(request, method, "push");
    const int localPort = request.local_port;
    const int remotePort = request.remote_port;
    Answer(faults_.Take(method), method, request, response, [&] {
        return push_.Handle(request.body, [=] { return ConnectionProbe::PeerGone(localPort, remotePort); });
    });
}

// ---- Service base -----------------------------------------------------------------

std::string FakeService::ServiceMethod(const std::optional<MethodRouter::Route>& route) const
{
    if (!route)
        return std::string();
    if (route->method == MethodRouter::SignedApi)
        return SignedApi::MethodName(route->rest);
    if (route->method == MethodRouter::DevLogin || AgentInterface::Handles(route->method))
        return route->method;
    return std::string();
}

std::string FakeService::DispatchService(const MethodRouter::Route& route, const httplib::Request& request)
{
    if (route.method == MethodRouter::SignedApi)
        return signedApi_.Handle(route.rest);
    if (route.method == MethodRouter::DevLogin)
        return accounts_.DevLogin(route.rest);
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

// ---- Shared -------------------------------------------------------------------------

void FakeService::Answer(const std::optional<Fault>& fault, const std::string& method,
                         const httplib::Request& request, httplib::Response& response, const Produce& produce)
{
    if (stop_.Raised()) {
        FaultReply::Cut(request);
        return;
    }
    if (fault && fault->kind == FaultKind::Delay && !stop_.WaitFor(fault->hold)) {
        FaultReply::Cut(request);
        return;
    }
    std::string body = !fault || FaultReply::NeedsReply(*fault) ? produce() : std::string();
    if (fault && fault->kind != FaultKind::Delay) {
        replies_.Apply(*fault, method, request, response, std::move(body));
        return;
    }
    response.status = 200;
    response.set_content(body, FaultReply::JsonType);
}

void FakeService::Record(const httplib::Request& request, const std::string& method, const char* host)
{
    log_.Record(FakeCall{request.method, request.target, method, request.body, host, request.body.size()});
}

void FakeService::NotServed(const httplib::Request& request, httplib::Response& response, const char* host)
{
    Record(request, std::string(), host);
    log_.RecordUnknown(request.method, request.target);
    response.status = 404;
    response.set_content("not found", "text/plain");
}

std::unique_ptr<HttpListener> FakeService::Listen(int port, std::size_t threads, const HttpListener::Routes& routes)
{
    return std::make_unique<HttpListener>(port, options_.ioTimeout, threads, routes);
}

HttpListener::Routes FakeService::AllMethods(Handler handle)
{
    return [this, handle](httplib::Server& server) {
        const auto handler = [this, handle](const httplib::Request& request, httplib::Response& response) {
            (this->*handle)(request, response);
        };
        server.Get(".*", handler);
        server.Post(".*", handler);
        server.Put(".*", handler);
    };
}

HttpListener::Routes FakeService::UploadRoutes()
{
    return [this](httplib::Server& server) {
        // Bodies are read by the handler itself, so that a fault can cut one
        // halfway.
        const auto handler = [this](const httplib::Request& request, httplib::Response& response,
                                    const httplib::ContentReader& reader) { HandleUpload(request, response, reader); };
        server.Post(".*", handler);
        server.Put(".*", handler);
        server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            NotServed(request, response, "upload");
        });
    };
}

std::vector<HttpListener*> FakeService::Listeners() const
{
    return {service_.get(), upload_.get(), download_.get(), account_.get(), pushListener_.get()};
}
