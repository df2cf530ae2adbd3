#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

using CURL = void;
using CURLM = void;

// How one kind of request is sent: a row of the client settings table.
struct HttpSettings {
    // 0 leaves the library's own connect time-out.
    std::chrono::milliseconds connectTimeout{0};
    // No byte received or sent for this long fails the request; 0 = none.
    // Checked at least every PollInterval, so it holds to about that much.
    std::chrono::milliseconds readTimeout{0};
    // Every request has this limit too, so nothing hangs forever; 0 = none.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(120)};
    bool http10 = false;
    bool followRedirects = true;
    QList<QByteArray> headers;  // "Name: value"; "Name:" removes a default header
    std::int64_t maxSendBytesPerSecond = 0;  // 0 = unlimited
    std::int64_t maxRecvBytesPerSecond = 0;  // 0 = unlimited
    // The library's receive and send buffers; 0 leaves its defaults. Larger
    // buffers mean fewer calls per byte on fast links; under a receive limit
    // a small one keeps the library from reading a burst past the limit.
    long receiveBufferBytes = 0;
    long sendBufferBytes = 0;
};

// One part of a "multipart/form-data" body. A text part carries `data`; a
// file part streams its `size` bytes from `source` (returning the bytes
// written, 0 at the end), so the part is never held in memory.
struct HttpFormPart {
    // What a source returns to abort the request.
    static constexpr std::size_t AbortRead = 0x10000000;

    QByteArray name;
    QByteArray data;
    std::function<std::size_t(char* buffer, std::size_t size)> source;
    std::int64_t size = 0;
    QByteArray fileName;     // empty: no file name
    QByteArray contentType;  // empty: the library's default
    // Content-Transfer-Encoding: "quoted-printable" (text parts, encoded
    // here) or one that leaves the bytes as they are ("binary", "8bit");
    // empty: none.
    QByteArray encoding;
};

// One request. Either `body`, `bodySource` or `parts` carries what is sent.
struct HttpRequest {
    enum class Method { Get, Post, Put };

    Method method = Method::Get;
    QString url;
    QByteArray body;
    // Streams the body: fills the buffer, returns the bytes written (0 at the
    // end). bodySize must then be the total length.
    std::function<std::size_t(char* buffer, std::size_t size)> bodySource;
    std::int64_t bodySize = -1;
    // Receives the response body piece by piece instead of keeping it in
    // HttpResponse::body; returning false aborts the request.
    std::function<bool(const char* data, std::size_t size)> bodySink;
    // Called with the running byte counts, several times a second while the
    // request runs; returning false aborts.
    std::function<bool(std::int64_t received, std::int64_t sent)> progress;
    // Sent after the headers of the settings ("Name: value").
    QList<QByteArray> headers;
    // A POST with these parts is sent as "multipart/form-data".
    QList<HttpFormPart> parts;
    // Called at the end of each response's header block (also of a redirect)
    // with its status and header lines, before any of its body reaches the
    // sink; returning false aborts.
    std::function<bool(long status, const QList<QByteArray>& headers)> headersDone;
    // Harmless to send twice (the call only reads): a POST or a PUT so
    // marked may go out on a kept connection and keep its own.
    bool repeatable = false;
};

struct HttpResponse {
    bool completed = false;   // the exchange finished (any HTTP status)
    long status = 0;          // HTTP status, 0 when none arrived
    QByteArray body;          // unless a sink took it
    QString error;            // why it failed; empty on success
    QList<QByteArray> requestHeaders;
    QList<QByteArray> responseHeaders;
    long newConnections = 0;  // connections opened for this request (0: one was reused)

    // Completed with a status below 400.
    bool Ok() const { return completed && status > 0 && status < 400; }
};

// A reusable HTTP client over one libcurl handle. Reusing one object for a
// batch of calls keeps their connection open between them. One thread at a
// time runs requests; Wake() may be called from any thread. TLS is 1.2 or
// newer with peer and host verification; only http and https are spoken
// (also after redirects); the process's proxy settings are applied to every
// request, and proxies named in the environment never are.
//
// A POST or a PUT is sent at most once; a lost connection is its failure.
// The library would send a request again by itself when the kept
// connection it went out on turns out closed, so a POST or PUT whose body
// is held in memory never goes out on a kept connection and keeps none,
// unless the request is marked repeatable. A streamed body (a body source,
// a part with a source) is read only once: once any of it has gone out the
// request cannot be sent again, so such a request shares the connection.
//
// A request ends when it completes, fails, or is stopped: the abort flag and
// the request's progress callback are checked at least every PollInterval,
// so a raised flag ends a stalled request within that time (at once after
// Wake()).
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void Configure(const HttpSettings& settings) { settings_ = settings; }
    const HttpSettings& Settings() const { return settings_; }

    // A flag that, once raised, stops the pending request promptly (checked
    // at every progress callback). Not owned; may be null.
    void SetAbortFlag(const std::atomic<bool>* flag) { abortFlag_ = flag; }

    // Makes a pending request look at its abort flag now. Any thread.
    void Wake();

    static constexpr std::chrono::milliseconds PollInterval{100};

    HttpResponse Perform(const HttpRequest& request);

    // "application/x-www-form-urlencoded" POST of an already encoded body.
    HttpResponse PostForm(const QString& url, const QByteArray& encodedBody);
    HttpResponse Get(const QString& url);

private:
    struct Transfer;
    bool Prepare(const HttpRequest& request, Transfer& transfer, QString& error);
    bool AttachParts(const HttpRequest& request, Transfer& transfer);
    void ApplySettings();
    // Runs the prepared handle to its end; the libcurl result.
    int Run(Transfer& transfer);

    struct HandleCloser {
        void operator()(CURL* handle) const noexcept;
    };
    struct MultiCloser {
        void operator()(CURLM* multi) const noexcept;
    };
    // The multi handle holds the connection cache, so it outlives requests.
    std::unique_ptr<CURLM, MultiCloser> multi_;
    std::unique_ptr<CURL, HandleCloser> handle_;
    HttpSettings settings_;
    const std::atomic<bool>* abortFlag_ = nullptr;
};
