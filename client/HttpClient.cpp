#include "client/HttpClient.h"

#include "foundation/settings/PeltaProxy.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace {

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void Append(const QByteArray& line) { list = curl_slist_append(list, line.constData()); }
};

struct MimeFree {
    void operator()(curl_mime* mime) const noexcept { curl_mime_free(mime); }
};

static_assert(HttpFormPart::AbortRead == CURL_READFUNC_ABORT);

std::size_t ReadPart(char* buffer, std::size_t size, std::size_t count, void* arg)
{
    return static_cast<const HttpFormPart*>(arg)->source(buffer, size * count);
}

// A streamed body is read once: the library may not go back to its start,
// so it can never send the request a second time.
int RefuseSeek(void*, curl_off_t, int)
{
    return CURL_SEEKFUNC_CANTSEEK;
}

// Whether the request's body comes from a source rather than from memory.
bool Streamed(const HttpRequest& request)
{
    if (!request.parts.isEmpty())
        return std::any_of(request.parts.begin(), request.parts.end(),
                           [](const HttpFormPart& part) { return bool(part.source); });
    return bool(request.bodySource);
}

// Quoted-printable text of bytes, lines of at most 76 characters joined by
// soft line breaks. Encoded here rather than by the library, so that the
// body's length is known in advance and it goes out with a Content-Length.
QByteArray QuotedPrintable(const QByteArray& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    qsizetype lineLength = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool last = i + 1 == bytes.size();
        const bool plain = (byte >= 33 && byte <= 126 && byte != '=') || ((byte == ' ' || byte == '\t') && !last);
        const qsizetype width = plain ? 1 : 3;
        if (lineLength + width > 75) {
            out.append("=\r\n");
            lineLength = 0;
        }
        if (plain) {
            out.append(char(byte));
        } else {
            out.append('=');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 0xF]);
        }
        lineLength += width;
    }
    return out;
}

// The status of an "HTTP/x y reason" line; 0 when it has none.
long StatusOfLine(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    return words.size() >= 2 ? words[1].toLong() : 0;
}

QByteArray TrimLine(const char* data, std::size_t size)
{
    return QByteArray(data, static_cast<qsizetype>(size)).trimmed();
}

}  // namespace

// State of one request, reachable from libcurl's callbacks.
struct HttpClient::Transfer {
    const HttpRequest* request = nullptr;
    const std::atomic<bool>* abortFlag = nullptr;
    HttpResponse* response = nullptr;
    HeaderList headers;
    std::unique_ptr<curl_mime, MimeFree> mime;
    long headerStatus = 0;  // of the header block being read
    bool aborted = false;
    bool idledOut = false;
    std::int64_t received = 0;
    std::int64_t sent = 0;
    std::chrono::milliseconds idleLimit{0};  // 0: none
    std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();

    void Touch() { lastActivity = std::chrono::steady_clock::now(); }
    // True (and marked aborted or idled out) when the flag is up, the
    // caller's progress callback asks to stop, or no byte moved for the idle
    // limit.
    bool ShouldStop();

    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* self);
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static int OnProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow);
    static int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self);
};

std::size_t HttpClient::Transfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* transfer = static_cast<Transfer*>(self);
    transfer->Touch();
    const std::size_t bytes = size * count;
    if (!transfer->request->bodySink) {
        transfer->response->body.append(data, static_cast<qsizetype>(bytes));
        return bytes;
    }
    if (transfer->request->bodySink(data, bytes))
        return bytes;
    transfer->aborted = true;
    return 0;  // makes libcurl stop with a write error
}

std::size_t HttpClient::Transfer::OnRead(char* buffer, std::size_t size, std::size_t count, void* self)
{
    auto* transfer = static_cast<Transfer*>(self);
    transfer->Touch();
    return transfer->request->bodySource(buffer, size * count);
}

std::size_t HttpClient::Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* transfer = static_cast<Transfer*>(self);
    transfer->Touch();
    const QByteArray line = TrimLine(data, size * count);
    if (line.startsWith("HTTP/")) {
        transfer->response->responseHeaders.clear();  // a new response (redirect, 100 Continue)
        transfer->headerStatus = StatusOfLine(line);
    }
    if (!line.isEmpty()) {
        transfer->response->responseHeaders.append(line);
        return size * count;
    }
    const auto& done = transfer->request->headersDone;
    if (done && transfer->headerStatus >= 200 && !done(transfer->headerStatus, transfer->response->responseHeaders)) {
        transfer->aborted = true;
        return 0;
    }
    return size * count;
}

bool HttpClient::Transfer::ShouldStop()
{
    if (aborted || idledOut)
        return true;
    if (abortFlag && abortFlag->load())
        aborted = true;
    else if (request->progress && !request->progress(received, sent))
        aborted = true;
    else if (idleLimit.count() > 0 && std::chrono::steady_clock::now() - lastActivity >= idleLimit)
        idledOut = true;
    return aborted || idledOut;
}

int HttpClient::Transfer::OnProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow)
{
    auto* transfer = static_cast<Transfer*>(self);
    if (dlNow != transfer->received || ulNow != transfer->sent)
        transfer->Touch();
    transfer->received = dlNow;
    transfer->sent = ulNow;
    return transfer->ShouldStop() ? 1 : 0;
}

int HttpClient::Transfer::OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self)
{
    if (type != CURLINFO_HEADER_OUT)
        return 0;
    auto* transfer = static_cast<Transfer*>(self);
    transfer->response->requestHeaders.clear();
    for (const QByteArray& line : QByteArray(data, static_cast<qsizetype>(size)).split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            transfer->response->requestHeaders.append(trimmed);
    }
    return 0;
}

void HttpClient::HandleCloser::operator()(CURL* handle) const noexcept
{
    curl_easy_cleanup(handle);
}

void HttpClient::MultiCloser::operator()(CURLM* multi) const noexcept
{
    curl_multi_cleanup(multi);
}

HttpClient::HttpClient()
{
    GlobalInit();
    multi_.reset(curl_multi_init());
    handle_.reset(curl_easy_init());
}

void HttpClient::Wake()
{
    if (multi_)
        curl_multi_wakeup(multi_.get());
}

HttpClient::~HttpClient() = default;

void HttpClient::ApplySettings()
{
    CURL* handle = handle_.get();
    if (settings_.connectTimeout.count() > 0)
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connectTimeout.count()));

    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION,
                     settings_.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, settings_.followRedirects ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    if (settings_.receiveBufferBytes > 0)
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, settings_.receiveBufferBytes);
    if (settings_.sendBufferBytes > 0)
        curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, settings_.sendBufferBytes);
    if (settings_.maxSendBytesPerSecond > 0)
        curl_easy_setopt(handle, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(settings_.maxSendBytesPerSecond));
    if (settings_.maxRecvBytesPerSecond > 0)
        curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(settings_.maxRecvBytesPerSecond));
}

bool HttpClient::Prepare(const HttpRequest& request, Transfer& transfer, QString& error)
{
    CURL* handle = handle_.get();
    // Reset drops every option of the previous request but keeps the open
    // connections, so a batch of calls reuses them.
    curl_easy_reset(handle);
    ApplySettings();
    // libcurl sends a request again, unasked, when the kept connection it
    // went out on closes before any byte of the reply, giving the body from
    // its start once more. A POST or a PUT may have been carried out by
    // then: one whose body is held in memory opens a connection of its own
    // and keeps none, unless sending it twice is harmless. A streamed body
    // cannot be given twice (its seek is refused), so such a request fails
    // instead and may share a connection.
    if (request.method != HttpRequest::Method::Get && !request.repeatable && !Streamed(request)) {
        curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    }
    if (!AppProxy.Get().Apply(handle)) {
        error = QStringLiteral("the proxy settings were refused");
        return false;
    }

    const QByteArray url = request.url.toUtf8();
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    for (const QByteArray& header : settings_.headers)
        transfer.headers.Append(header);
    for (const QByteArray& header : request.headers)
        transfer.headers.Append(header);

    switch (request.method) {
    case HttpRequest::Method::Get:
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        break;
    case HttpRequest::Method::Post:
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        break;
    case HttpRequest::Method::Put:
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
        transfer.headers.Append("Expect:");
        break;
    }
    if (request.method == HttpRequest::Method::Post && !request.parts.isEmpty()) {
        transfer.headers.Append("Expect:");  // no wait for a "100 Continue" before the body
        if (!AttachParts(request, transfer)) {
            error = QStringLiteral("the multipart body could not be built");
            return false;
        }
    } else if (request.method != HttpRequest::Method::Get) {
        if (request.bodySource) {
            curl_easy_setopt(handle, CURLOPT_READFUNCTION, &Transfer::OnRead);
            curl_easy_setopt(handle, CURLOPT_READDATA, &transfer);
            curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &RefuseSeek);
            const auto size = static_cast<curl_off_t>(std::max<std::int64_t>(0, request.bodySize));
            curl_easy_setopt(handle, request.method == HttpRequest::Method::Put ? CURLOPT_INFILESIZE_LARGE
                                                                                 : CURLOPT_POSTFIELDSIZE_LARGE,
                             size);
        } else if (request.method == HttpRequest::Method::Put) {
            error = QStringLiteral("a PUT needs a body source");
            return false;
        } else {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.constData());
        }
    }

    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, transfer.headers.list);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &Transfer::OnDebug);
    curl_easy_setopt(handle, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);  // feeds OnDebug the request headers only
    return true;
}

bool HttpClient::AttachParts(const HttpRequest& request, Transfer& transfer)
{
    CURL* handle = handle_.get();
    transfer.mime.reset(curl_mime_init(handle));
    if (!transfer.mime)
        return false;
    for (const HttpFormPart& part : request.parts) {
        curl_mimepart* mimePart = curl_mime_addpart(transfer.mime.get());
        if (!mimePart || curl_mime_name(mimePart, part.name.constData()) != CURLE_OK)
            return false;
        const bool quoted = part.encoding.compare("quoted-printable", Qt::CaseInsensitive) == 0;
        const QByteArray text = quoted ? QuotedPrintable(part.data) : part.data;
        const CURLcode data =
            part.source ? curl_mime_data_cb(mimePart, static_cast<curl_off_t>(part.size), &ReadPart, &RefuseSeek,
                                            nullptr, const_cast<HttpFormPart*>(&part))
                        : curl_mime_data(mimePart, text.constData(), static_cast<std::size_t>(text.size()));
        if (data != CURLE_OK)
            return false;
        // The encoding is declared by a header of our own: the library's
        // encoders would send the part in small pieces of unknown length.
        if (!part.encoding.isEmpty()) {
            const QByteArray line = "Content-Transfer-Encoding: " + part.encoding;
            curl_slist* header = curl_slist_append(nullptr, line.constData());
            if (!header || curl_mime_headers(mimePart, header, 1) != CURLE_OK) {
                curl_slist_free_all(header);
                return false;
            }
        }
        if (!part.fileName.isEmpty() && curl_mime_filename(mimePart, part.fileName.constData()) != CURLE_OK)
            return false;
        if (!part.contentType.isEmpty() && curl_mime_type(mimePart, part.contentType.constData()) != CURLE_OK)
            return false;
    }
    return curl_easy_setopt(handle, CURLOPT_MIMEPOST, transfer.mime.get()) == CURLE_OK;
}

int HttpClient::Run(Transfer& transfer)
{
    CURLM* multi = multi_.get();
    CURL* handle = handle_.get();
    if (curl_multi_add_handle(multi, handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == handle)
                    result = message->data.result;
            }
            break;
        }
        // libcurl calls the progress callback only when it gets to the
        // handle; checking here too bounds the time a stalled request takes
        // to notice the flag or its idle limit.
        if (transfer.ShouldStop()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(PollInterval.count()), nullptr);
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.response->status);
    curl_easy_getinfo(handle, CURLINFO_NUM_CONNECTS, &transfer.response->newConnections);
    // Removing a handle mid-transfer closes its connection; a finished one
    // stays in the multi handle's cache for the next request.
    curl_multi_remove_handle(multi, handle);
    return result;
}

HttpResponse HttpClient::Perform(const HttpRequest& request)
{
    HttpResponse response;
    if (!handle_ || !multi_) {
        response.error = QStringLiteral("the HTTP library could not be started");
        return response;
    }
    Transfer transfer;
    transfer.request = &request;
    transfer.abortFlag = abortFlag_;
    transfer.response = &response;
    // A read time-out and the idle limit both mean "no byte moved for this
    // long"; the shorter one applies.
    const auto read = settings_.readTimeout;
    transfer.idleLimit = settings_.idleTimeout;
    if (read.count() > 0 && (transfer.idleLimit.count() <= 0 || read < transfer.idleLimit))
        transfer.idleLimit = read;
    if (!Prepare(request, transfer, response.error))
        return response;
    transfer.Touch();

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle_.get(), CURLOPT_ERRORBUFFER, errorText);
    const auto result = static_cast<CURLcode>(Run(transfer));
    curl_easy_setopt(handle_.get(), CURLOPT_ERRORBUFFER, nullptr);

    if (result == CURLE_OK) {
        response.completed = true;
        if (response.status >= 400)
            response.error = QStringLiteral("HTTP status %1").arg(response.status);
        return response;
    }
    if (transfer.idledOut)
        response.error = QStringLiteral("no data moved for %1 ms").arg(transfer.idleLimit.count());
    else if (transfer.aborted)
        response.error = QStringLiteral("aborted");
    else
        response.error = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(result));
    return response;
}

HttpResponse HttpClient::PostForm(const QString& url, const QByteArray& encodedBody)
{
    HttpRequest request;
    request.method = HttpRequest::Method::Post;
    request.url = url;
    request.body = encodedBody;
    request.headers.append("Content-Type: application/x-www-form-urlencoded");
    return Perform(request);
}

HttpResponse HttpClient::Get(const QString& url)
{
    HttpRequest request;
    request.url = url;
    return Perform(request);
}
