#pragma once

// Shapes one reply of the fake service by the fault that its call took: the
// broken connections, error statuses, damaged and substituted bodies that
// FakeFaults describes. Waits end early when the service stops.

#include "fakeservice/FakeFaults.h"
#include "fakeservice/StopSignal.h"

#include <string>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

class FaultReply {
public:
    static constexpr const char* JsonType = "application/json; charset=utf-8";
    static constexpr const char* HtmlType = "text/html; charset=UTF-8";

    // What a PHP service prints ahead of its output when a notice goes wrong.
    static const char* const WarningLine;
    // A short error page of a front server.
    static const char* const ErrorPage;

    explicit FaultReply(StopSignal& stop);

    // Whether the service must work out its reply before the fault strikes:
    // when the fault leaves the request carried out, or needs the reply.
    static bool NeedsReply(const Fault& fault);

    // Answers the request as the fault says; body is the service's reply
    // (empty when it was not worked out). Kinds that do not apply here answer
    // the body as it is.
    void Apply(const Fault& fault, const std::string& method, const httplib::Request& request,
               httplib::Response& response, std::string body) const;

    // Announces the whole body, sends its first bytes and cuts the
    // connection; with bytes at or past the body's length the client gets
    // the whole reply.
    static void ReplyCutAfter(std::size_t bytes, std::string body, const httplib::Request& request,
                              httplib::Response& response);

    static void Cut(const httplib::Request& request);

private:
    StopSignal& stop_;
};
