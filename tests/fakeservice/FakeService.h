#pragma once

// The fake cloud service that tests, benchmarks and the local demo run
// against. It listens on 127.0.0.1 (an ephemeral port unless one is given)
// on threads of its own from construction until Stop() or destruction, and
// answers the agent interface's form posts and the signed API from a
// FakeState, with the faults of a FakeFaults injected on request.
//
// Requests are routed by their target (path and query, as sent) against the
// plain method table; a target that names no method the fake implements is
// logged to stderr, kept in UnknownTargets() and answered 404 (a network
// failure for the client).

#include "foundation/Constants.h"
#include "tests/fakeservice/AgentInterface.h"
#include "tests/fakeservice/FakeFaults.h"
#include "tests/fakeservice/FakeState.h"
#include "tests/fakeservice/MethodRouter.h"
#include "tests/fakeservice/SignedApi.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

struct FakeServiceOptions {
    int port = 0;  // 0: an ephemeral port
    // The program's signed-API key and shared secret.
    QString apiKey = ProgramApiKey;
    QString apiSecret = ProgramApiSecret;
    // Refuse agent-interface bodies whose later separators were not form
    // encoded (see FormDecoder).
    bool strictFormEncoding = true;
    // How long a connection may wait for the peer to read or write.
    std::chrono::seconds ioTimeout{2};
};

// One request as it arrived.
struct FakeCall {
    std::string httpMethod;
    std::string target;
    std::string method;  // the service method; empty when the target names none
    std::string body;
};

class FakeService {
public:
    explicit FakeService(FakeServiceOptions options = FakeServiceOptions());
    ~FakeService();

    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // False when the port could not be bound.
    bool IsRunning() const;
    int Port() const { return port_; }

    // "http://127.0.0.1:<port>": the service base, the upload host and the
    // download host at once.
    std::string BaseUrl() const;

    // The signed API's address, BaseUrl() + "/api.php".
    std::string ApiUrl() const;

    FakeState& State() { return state_; }
    FakeFaults& Faults() { return faults_; }

    std::vector<FakeCall> Calls() const;
    std::size_t CallCount(const std::string& method) const;
    std::vector<std::string> UnknownTargets() const;

    // Stops listening, ends held connections and joins the threads; prompt
    // even while a fault holds a reply. Called by the destructor.
    void Stop();

private:
    void Handle(const httplib::Request& request, httplib::Response& response);
    std::string Dispatch(const MethodRouter::Route& route, const httplib::Request& request);
    std::string DispatchAgent(const MethodRouter::Route& route, const httplib::Request& request);
    void ApplyFault(const Fault& fault, const std::string& method, const httplib::Request& request,
                    httplib::Response& response, std::string body);
    void Record(const httplib::Request& request, const std::string& method);
    void RecordUnknown(const httplib::Request& request);
    void Cut(const httplib::Request& request) const;

    // Waits unless the service stops first; false when it stopped.
    bool WaitFor(std::chrono::milliseconds duration);
    bool Stopping() const;

    FakeServiceOptions options_;
    FakeState state_;
    FakeFaults faults_;
    MethodRouter router_;
    std::unique_ptr<AgentInterface> agent_;
    std::unique_ptr<SignedApi> signedApi_;
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> listenEnded_{false};

    mutable std::mutex stopMutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;

    mutable std::mutex logMutex_;
    std::vector<FakeCall> calls_;
    std::vector<std::string> unknownTargets_;
};
