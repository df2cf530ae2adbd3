#pragma once

// The fake cloud service that tests, benchmarks and the local demo run
// against. It listens on 127.0.0.1 with one listener per host of the real
// service, each on a port of its own (ephemeral unless given), on threads of
// its own from construction until Stop() or destruction:
//  - the service base: the agent interface's form posts, the signed API
//    ("/api.php") and the development login ("/_agent/login2", "DEV");
//  - the upload host: postFile, postFile2 and putFile (UploadHost);
//  - the download host: the get_url of getFileCheck (DownloadHost);
//  - the account server: the member login's first steps (AccountServer);
//  - the push channel's server (PushChannel).
// Everything is answered from one FakeState, with the faults of a FakeFaults
// injected on request.
//
// Requests are routed by their target (path and query, as sent); a target
// that a listener does not serve is logged to stderr, kept in
// UnknownTargets() and answered 404 (a network failure for the client).

#include "foundation/Constants.h"
#include "fakeservice/AccountServer.h"
#include "fakeservice/AgentInterface.h"
#include "fakeservice/CallLog.h"
#include "fakeservice/DownloadHost.h"
#include "fakeservice/FakeFaults.h"
#include "fakeservice/FakeState.h"
#include "fakeservice/FaultReply.h"
#include "fakeservice/HttpListener.h"
#include "fakeservice/MethodRouter.h"
#include "fakeservice/PushChannel.h"
#include "fakeservice/SignedApi.h"
#include "fakeservice/StopSignal.h"
#include "fakeservice/UploadHost.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace httplib {
class ContentReader;
class Server;
struct Request;
struct Response;
}  // namespace httplib

struct FakeServiceOptions {
    int port = 0;  // the service base's; 0: an ephemeral port
    int uploadPort = 0;
    int downloadPort = 0;
    int accountPort = 0;
    int pushPort = 0;
    // The program's signed-API key and shared secret; the key is also the
    // client_id that the login's grant step expects.
    QString apiKey = ProgramApiKey;
    QString apiSecret = ProgramApiSecret;
    // Refuse agent-interface bodies (and the postFile2 size query) whose
    // later separators were not form encoded (see FormDecoder), and push
    // bodies that were not form encoded.
    bool strictFormEncoding = true;
    // How long a connection may wait for the peer to read or write.
    std::chrono::seconds ioTimeout{2};
    // Exchanges the push channel serves at once (held CHECKs included).
    std::size_t pushThreads = 16;
};

class FakeService {
public:
    explicit FakeService(FakeServiceOptions options = FakeServiceOptions());
    ~FakeService();

    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // False when a port could not be bound.
    bool IsRunning() const;
    int Port() const;  // the service base's

    // "http://127.0.0.1:<port>": the service base.
    std::string BaseUrl() const;
    // The signed API's address, BaseUrl() + "/api.php".
    std::string ApiUrl() const;
    // The upload host, "http://127.0.0.1:<port>".
    std::string UploadUrl() const;
    // The download host, which the get_url of getFileCheck starts with.
    std::string DownloadUrl() const;
    // The account server, and its two addresses of the login.
    std::string AccountUrl() const;
    std::string MemberTokenUrl() const;
    std::string ClientAuthUrl() const;
    // The push channel's address, "http://127.0.0.1:<port>/0/?": what the
    // push-host suffix of a "DEV" profile holds (a suffix with "http" in it
    // is the address itself).
    std::string PushUrl() const;

    FakeState& State() { return state_; }
    FakeFaults& Faults() { return faults_; }
    // The login's switches and state.
    AccountServer& Accounts() { return accounts_; }
    PushChannel& Push() { return push_; }

    std::vector<FakeCall> Calls() const;
    std::size_t CallCount(const std::string& method) const;
    // The file bytes the download host has sent so far.
    std::int64_t DownloadedBytes() const { return downloads_.SentBytes(); }
    std::vector<std::string> UnknownTargets() const;

    // Stops listening, ends held connections and joins the threads; prompt
    // even while a fault or a long poll holds a reply. Called by the
    // destructor.
    void Stop();

private:
    using Produce = std::function<std::string()>;
    using Handler = void (FakeService::*)(const httplib::Request&, httplib::Response&);

    void HandleService(const httplib::Request& request, httplib::Response& response);
    void HandleUpload(const httplib::Request& request, httplib::Response& response,
                      const httplib::ContentReader& reader);
    void HandleDownload(const httplib::Request& request, httplib::Response& response);
    void HandleAccount(const httplib::Request& request, httplib::Response& response);
    void HandlePush(const httplib::Request& request, httplib::Response& response);

    std::string ServiceMethod(const std::optional<MethodRouter::Route>& route) const;
    std::string DispatchService(const MethodRouter::Route& route, const httplib::Request& request);
    std::string DispatchAgent(const MethodRouter::Route& route, const httplib::Request& request);

    // Answers with what produce gives, shaped by the fault the call took.
    void Answer(const std::optional<Fault>& fault, const std::string& method, const httplib::Request& request,
                httplib::Response& response, const Produce& produce);
    void Record(const httplib::Request& request, const std::string& method, const char* host);
    void NotServed(const httplib::Request& request, httplib::Response& response, const char* host);

    std::unique_ptr<HttpListener> Listen(int port, std::size_t threads, const HttpListener::Routes& routes);
    // Routes every GET, POST and PUT to the handler.
    HttpListener::Routes AllMethods(Handler handle);
    HttpListener::Routes UploadRoutes();
    std::vector<HttpListener*> Listeners() const;

    FakeServiceOptions options_;
    FakeState state_;
    FakeFaults faults_;
    StopSignal stop_;
    CallLog log_;
    MethodRouter router_;
    FaultReply replies_;
    AccountServer accounts_;
    SignedApi signedApi_;
    UploadHost uploads_;
    DownloadHost downloads_;
    PushChannel push_;
    std::unique_ptr<AgentInterface> agent_;
    std::unique_ptr<HttpListener> service_;
    std::unique_ptr<HttpListener> upload_;
    std::unique_ptr<HttpListener> download_;
    std::unique_ptr<HttpListener> account_;
    std::unique_ptr<HttpListener> pushListener_;
};
