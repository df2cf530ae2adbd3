#include "fakeservice/FaultReply.h"

#include "fakeservice/ConnectionCutter.h"
#include "fakeservice/JsonReply.h"
#include "fakeservice/SignedApi.h"

#include <httplib.h>

#include <algorithm>
#include <utility>

const char* const FaultReply::WarningLine =
    "<br />\n<b>Warning</b>:  Undefined variable $cache in <b>/srv/api/index.php</b> on line <b>42</b><br />\n";

const char* const FaultReply::ErrorPage =
    "<html><head><title>503 Service Unavailable</title></head>"
    "<body><h1>Service Unavailable</h1></body></html>";

FaultReply::FaultReply(StopSignal& stop) : stop_(stop)
{
}

bool FaultReply::NeedsReply(const Fault& fault)
{
    return fault.processed || fault.kind == FaultKind::Delay || fault.kind == FaultKind::WarningLine ||
           fault.kind == FaultKind::DropAfterBytes;
}

void FaultReply::Apply(const Fault& fault, const std::string& method, const httplib::Request& request,
                       httplib::Response& response, std::string body) const
{
    response.status = 200;
    switch (fault.kind) {
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
        response.set_content(SignedApi::IsSignedMethod(method)
                                 ? SignedApi::Failure(fault.message, QStringLiteral("injected failure"))
                                 : JsonReply::Error(fault.message),
                             JsonType);
        return;
    case FaultKind::Timeout:
        stop_.WaitFor(fault.hold);
        Cut(request);
        return;
    case FaultKind::Delay:
    case FaultKind::DropAfterRequestBytes:
    case FaultKind::IgnoreRange:
    case FaultKind::RangeFrom:
    case FaultKind::ChangeContent:
        response.set_content(body, JsonType);
        return;
    }
}

void FaultReply::ReplyCutAfter(std::size_t bytes, std::string body, const httplib::Request& request,
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

void FaultReply::Cut(const httplib::Request& request)
{
    ConnectionCutter::Cut(request.local_port, request.remote_port);
}
