// The uploads: the one-shot multipart POST, the resumable POST in parts, the
// chunked PUT and the PUT size query. File content is streamed from the file
// into the request, so memory stays at one library buffer per transfer
// whatever the part or file size.

#include "client/FileSlice.h"
#include "client/PeltaAPI.h"
#include "client/SecretMask.h"
#include "client/TransferScope.h"
#include "client/TransferSettings.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace {

// What a resumable upload does after opening its file.
enum class ResumeStep { Send, Done, Fail };

// Opens the file of a resumable upload and settles where it starts, which
// the status object learns. The start is the length the service holds
// under the journal key, and the service appends what it is sent:
//  - at the end of a non-empty file the service holds it whole (the reply
//    to its last piece was lost): Done, nothing to send, reply untouched;
//  - beyond the end the service's bytes are not this file's, and sending
//    it again under the same key would add to them: Fail with reply
//    FreshKeyNeededText, nothing sent;
//  - a negative start is read as 0.
// Fail also when the file cannot be opened or the program is closing.
// reply is cleared unless the step is Done.
ResumeStep BeginResumable(const char* operation, QFile& file, std::int64_t& start, QString& reply)
{
    const QString earlier = std::exchange(reply, QString());
    if (!file.open(QIODevice::ReadOnly))
        return ResumeStep::Fail;
    const std::int64_t size = file.size();
    if (start > size) {
        PeltaAPI::Log(QStringLiteral("%1: the service holds %2 bytes of a %3-byte file, so they are not this "
                                     "file's; nothing sent, the upload needs a fresh journal key")
                          .arg(QLatin1String(operation))
                          .arg(start)
                          .arg(size));
        reply = PeltaAPI::FreshKeyNeededText;
        return ResumeStep::Fail;
    }
    if (start < 0) {
        PeltaAPI::Log(QStringLiteral("%1: start %2 is before the file, sending from 0")
                          .arg(QLatin1String(operation))
                          .arg(start));
        start = 0;
    }
    RequestObject.ResumeAt(start);
    if (AppState.load() == XAPPExit)
        return ResumeStep::Fail;
    if (size > 0 && start == size) {
        PeltaAPI::Log(QStringLiteral("%1: the service holds the whole file (%2 bytes); nothing to send")
                          .arg(QLatin1String(operation))
                          .arg(size));
        reply = earlier;
        return ResumeStep::Done;
    }
    return ResumeStep::Send;
}

HttpFormPart TextPart(const QString& name, const QString& value)
{
    HttpFormPart part;
    part.name = name.toUtf8();
    part.data = value.toUtf8();
    part.contentType = "text/plain";
    part.encoding = "quoted-printable";
    return part;
}

void AddFieldParts(const XMap& fields, QList<HttpFormPart>& parts)
{
    for (auto it = fields.begin(); it != fields.end(); ++it)
        parts.append(TextPart(it->first, it->second));
}

HttpFormPart FilePart(const QByteArray& fileName, const QByteArray& contentType, FileSlice& slice)
{
    HttpFormPart part;
    part.name = "upload_file";
    part.fileName = fileName;
    part.contentType = contentType;
    part.encoding = "binary";
    part.size = slice.Length();
    part.source = slice.Source();
    return part;
}

// The current size of the file at path, -1 when it is gone.
std::int64_t SizeNow(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

QString Masked(const QString& url)
{
    return SecretMask::MaskUrl(url);
}

bool Accepted(const QString& reply)
{
    QString msg;
    return PeltaJSON::CheckStatus(reply, msg);
}

void LogChangedFile(const QString& path, std::int64_t expected)
{
    PeltaAPI::Log(QStringLiteral("upload failed: %1 changed while it was sent (%2 bytes expected, now %3)")
                      .arg(path)
                      .arg(expected)
                      .arg(SizeNow(path)));
}

const QByteArray PartContentType = "application/octet-stream; charset=ISO-8859-1";

}  // namespace

std::int64_t PeltaAPI::ChunksPerPart(std::int64_t partSize, std::int64_t chunk)
{
    return std::clamp<std::int64_t>(partSize / chunk, 1, MaxChunksPerPart);
}

std::int64_t PeltaAPI::GrownPartSize(std::int64_t partSize, std::int64_t chunk)
{
    if (partSize < chunk)
        return chunk;
    return std::min(partSize + chunk, MaxChunksPerPart * chunk);
}

std::int64_t PeltaAPI::ShrunkPartSize(std::int64_t partSize, std::int64_t chunk)
{
    if (partSize < chunk)
        return chunk;
    return partSize - chunk;
}

bool PeltaAPI::OnTransferWork(const std::atomic<bool>* cancel, std::int64_t position)
{
    if (AppState.load() != XAPPOnline) {
        Log(QStringLiteral("PeltaAPI:Transfer abort by XAPPOnline=false"));
        return false;
    }
    if (cancel && cancel->load()) {
        Log(QStringLiteral("PeltaAPI:Transfer abort by URL"));
        return false;
    }
    RequestObject.UpdateTransferred(position);
    return true;
}

bool PeltaAPI::HTTPPost(const QString& url, const QString& path, QString& reply, const XMap& fields,
                        const QString& transferKey)
{
    Log(QStringLiteral("\n") + Masked(url), LogHTTP);
    Log(QStringLiteral("HTTPPost:") + Masked(url), LogHTTP);
    Log(SecretMask::MaskFields(EncodeParams(fields)), LogHTTP);
    reply.clear();
    if (!QFileInfo::exists(path)) {
        Log(path + QStringLiteral(" not exists"));
        return false;
    }
    TransferScope scope(transferKey);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Log(QStringLiteral("HTTPPost: cannot open ") + path + QStringLiteral(": ") + file.errorString(), LogHTTP);
        ++NetFailCount;
        return false;
    }
    const std::int64_t size = file.size();
    FileSlice slice(file, 0, size);
    HttpRequest request;
    request.method = HttpRequest::Method::Post;
    request.url = url;
    AddFieldParts(fields, request.parts);
    request.parts.append(FilePart(QFileInfo(path).fileName().toUtf8(), "application/octet-stream", slice));
    request.progress = scope.Progress();
    if (AppState.load() == XAPPExit || Aborted())
        return false;

    HttpClient client;
    client.SetAbortFlag(&abort_);
    client.Configure(TransferSettings::MultipartUpload());
    const HttpResponse response = client.Perform(request);
    reply = QString::fromUtf8(response.body);
    if (slice.Failed() || SizeNow(path) != size) {
        LogChangedFile(path, size);
        ++NetFailCount;
        return false;
    }
    if (!response.Ok()) {
        LogHttpDump(url, response);
        Log(SecretMask::MaskJson(reply) + QStringLiteral("\n") + response.error, LogHTTP);
        ++NetFailCount;
        return false;
    }
    NetFailCount = 0;
    return true;
}

bool PeltaAPI::PostFile2(const QString& url, const QString& path, const QString& transferKey, QString& reply,
                         std::int64_t start, const XMap& fields)
{
    Log(QStringLiteral("PostFile2:%1, position=%2").arg(path).arg(start));
    if (!QFileInfo::exists(path)) {
        reply.clear();
        Log(path + QStringLiteral(" not exists"));
        return false;
    }
    TransferScope scope(transferKey);
    QFile file(path);
    const ResumeStep step = BeginResumable("PostFile2", file, start, reply);
    if (step == ResumeStep::Done)
        RequestObject.ResetTransfer();
    if (step != ResumeStep::Send)
        return step == ResumeStep::Done;
    const std::int64_t size = file.size();

    HttpClient client;
    client.SetAbortFlag(&abort_);
    client.Configure(TransferSettings::MultipartUpload());
    std::int64_t position = start;
    std::int64_t sentTotal = 0;
    do {
        if (AppState.load() == XAPPExit || Aborted())
            return false;
        if (SizeNow(path) != size) {
            LogChangedFile(path, size);
            return false;
        }
        const std::int64_t n =
            std::min(size - position, ChunksPerPart(UploadPartSize.load()) * TransferChunk);
        FileSlice slice(file, position, n);
        HttpRequest request;
        request.method = HttpRequest::Method::Post;
        request.url = url;
        request.progress = scope.Progress();
        AddFieldParts(fields, request.parts);
        request.parts.append(TextPart(QStringLiteral("p_size"), QString::number(n)));
        request.parts.append(TextPart(QStringLiteral("p_checksum"), QString()));
        request.parts.append(FilePart("upload_file", PartContentType, slice));

        XMap logged = fields;
        logged[QStringLiteral("p_size")] = QString::number(n);
        logged[QStringLiteral("p_checksum")] = QString();
        if (size == 0)
            logged[QStringLiteral("upload_file")] = QStringLiteral("application/octet-stream data");
        Log(Masked(url), LogHTTP);
        LogParamMap(logged);

        const HttpResponse response = client.Perform(request);
        if (slice.Failed()) {
            LogChangedFile(path, size);
            return false;
        }
        if (!response.Ok()) {
            LogHttpDump(url, response);
            Log(QStringLiteral("Response:%1\nException:%2").arg(SecretMask::MaskJson(QString::fromUtf8(response.body)),
                                                                 response.error),
                LogHTTP);
            UploadPartSize = ShrunkPartSize(UploadPartSize.load());
            return false;
        }
        reply = QString::fromUtf8(response.body);
        sentTotal += n;
        Log(QStringLiteral("postFile2:from %1 %2 bytes, total: %3\n%4")
                .arg(position)
                .arg(n)
                .arg(sentTotal)
                .arg(SecretMask::MaskJson(reply)),
            LogHTTP);
        if (!Accepted(reply))
            return false;
        RequestObject.AddTransferred(n);
        UploadPartSize = GrownPartSize(UploadPartSize.load());
        position += n;
    } while (position < size);

    if (SizeNow(path) != size) {
        LogChangedFile(path, size);
        return false;
    }
    RequestObject.ResetTransfer();
    return true;
}

bool PeltaAPI::PutFile(const QString& url, const QString& path, QString& reply, std::int64_t start,
                       const QString& transferKey)
{
    Log(QStringLiteral(" ") + Masked(url));
    if (!QFileInfo::exists(path)) {
        reply.clear();
        return false;
    }
    TransferScope scope(transferKey);
    QFile file(path);
    const ResumeStep step = BeginResumable("putFile", file, start, reply);
    if (step != ResumeStep::Send)
        return step == ResumeStep::Done;
    const std::int64_t size = file.size();

    HttpClient client;
    client.SetAbortFlag(&abort_);
    client.Configure(TransferSettings::ChunkedPut());
    for (std::int64_t position = start; position < size;) {
        const std::int64_t n = std::min(TransferChunk, size - position);
        FileSlice slice(file, position, n);
        HttpRequest request;
        request.method = HttpRequest::Method::Put;
        request.url = url;
        request.bodySource = slice.Source();
        request.bodySize = n;
        request.progress = scope.Progress();
        const HttpResponse response = client.Perform(request);
        if (slice.Failed()) {
            LogChangedFile(path, size);
            return false;
        }
        reply = QString::fromUtf8(response.body);
        Log(QStringLiteral("putFile %1 bytes").arg(n));
        if (!response.Ok() || !Accepted(reply)) {
            // The service holds everything before this chunk; nothing behind
            // a refused chunk may follow it.
            LogHttpDump(url, response);
            Log(SecretMask::MaskJson(reply) + QStringLiteral("\n") + response.error);
            return false;
        }
        RequestObject.AddTransferred(n);
        position += n;
    }
    Log(SecretMask::MaskJson(reply));
    if (SizeNow(path) != size) {
        LogChangedFile(path, size);
        return false;
    }
    return true;
}

bool PeltaAPI::HTTPPut(const QString& url, QString& reply)
{
    Log(QStringLiteral(" ") + Masked(url));
    reply.clear();
    if (AppState.load() == XAPPExit || Aborted())
        return false;
    HttpRequest request;
    request.method = HttpRequest::Method::Put;
    request.url = url;
    request.bodySource = [](char*, std::size_t) { return std::size_t(0); };
    request.bodySize = 0;
    request.progress = &PeltaAPI::OnFormWork;
    HttpClient client;
    client.SetAbortFlag(&abort_);
    client.Configure(TransferSettings::EmptyPut());
    const HttpResponse response = client.Perform(request);
    if (!response.Ok())
        return false;
    reply = QString::fromUtf8(response.body);
    Log(QStringLiteral("put finish:") + SecretMask::MaskJson(reply));
    return true;
}
