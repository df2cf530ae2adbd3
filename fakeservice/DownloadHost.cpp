#include "fakeservice/DownloadHost.h"

#include "fakeservice/ConnectionCutter.h"
#include "fakeservice/QueryText.h"
#include "fakeservice/RangeRequest.h"
#include "fakeservice/RequestTweaks.h"

#include <httplib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <regex>
#include <vector>

namespace {

constexpr const char* OctetStream = "application/octet-stream";
constexpr std::size_t Chunk = std::size_t(1) << 20;
constexpr std::size_t NoCut = std::numeric_limits<std::size_t>::max();

void NotFound(httplib::Response& response)
{
    response.status = 404;
    response.set_content("file not found", "text/plain");
}

// Streams length bytes of content from first, piece by piece through one
// buffer, cutting the connection once cutAfter bytes are out (NoCut: never);
// adds the bytes sent to sent.
void Stream(httplib::Response& response, const FakeContent& content, std::int64_t first, std::int64_t length,
            std::size_t cutAfter, const httplib::Request& request, std::atomic<std::int64_t>& sent)
{
    if (length == 0 && cutAfter == NoCut) {
        response.set_content(std::string(), OctetStream);
        return;
    }
    const std::size_t total = std::size_t(length);
    const std::size_t limit = std::min(total, cutAfter);
    const int localPort = request.local_port;
    const int remotePort = request.remote_port;
    const auto buffer = std::make_shared<std::vector<char>>();
    const auto provide = [content, buffer, first, limit, total, localPort, remotePort, &sent](
                             std::size_t offset, std::size_t, httplib::DataSink& sink) {
        const std::size_t end = std::min(limit, offset + Chunk);
        const auto write = [&sink, &sent](const char* data, qint64 length) {
            if (!sink.write(data, std::size_t(length)))
                return false;
            sent += length;
            return true;
        };
        if (end > offset && !content.Read(first + std::int64_t(offset), std::int64_t(end - offset), *buffer, write))
            return false;
        if (end >= limit && limit < total) {
            ConnectionCutter::Cut(localPort, remotePort);
            return false;
        }
        return true;
    };
    response.set_content_provider(total, OctetStream, provide);
}

}  // namespace

DownloadHost::DownloadHost(FakeState& state, const FaultReply& faults) : state_(state), faults_(faults)
{
}

std::string DownloadHost::PathFor(const QString& userId, const FakeItem& item)
{
    return QStringLiteral("/download/%1?u=%2&v=%3").arg(item.key, userId).arg(item.version).toStdString();
}

bool DownloadHost::Matches(const std::string& target)
{
    return ParseTarget(target).has_value();
}

void DownloadHost::Serve(const httplib::Request& request, httplib::Response& response,
                         const std::optional<Fault>& fault)
{
    RequestTweaks::ForgetRanges(request);
    const std::optional<Target> target = ParseTarget(request.target);
    if (!target) {
        NotFound(response);
        return;
    }
    if (fault && fault->kind == FaultKind::ChangeContent)
        ChangeContent(*target, fault->content);
    const std::optional<FakeItem> file = state_.LiveFileByKey(target->userId, target->key);
    if (!file) {
        NotFound(response);
        return;
    }
    if (fault && AnswersWithoutFile(fault->kind)) {
        faults_.Apply(*fault, Method, request, response, std::string());
        return;
    }

    const std::int64_t size = file->content.Size();
    const bool ignoreRange = fault && fault->kind == FaultKind::IgnoreRange;
    RangeRequest::Result range =
        ignoreRange ? RangeRequest::Result{} : RangeRequest::Parse(request.get_header_value("Range"), size);
    if (fault && fault->kind == FaultKind::RangeFrom && range.kind == RangeRequest::Kind::Part) {
        range.first = std::min(std::int64_t(fault->bytes), size - 1);
        range.last = std::max(range.last, range.first);
    }
    if (range.kind == RangeRequest::Kind::Unsatisfiable) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        response.set_content(std::string(), "text/plain");
        return;
    }
    const std::int64_t first = range.kind == RangeRequest::Kind::Part ? range.first : 0;
    const std::int64_t last = range.kind == RangeRequest::Kind::Part ? range.last : size - 1;
    response.status = range.kind == RangeRequest::Kind::Part ? 206 : 200;
    if (range.kind == RangeRequest::Kind::Part) {
        response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                                 std::to_string(size));
    }
    if (fault && fault->kind == FaultKind::WarningLine) {
        response.set_content(FaultReply::WarningLine + file->content.Mid(first, last - first + 1).toStdString(),
                             OctetStream);
        return;
    }
    const bool cut = fault && fault->kind == FaultKind::DropAfterBytes;
    Stream(response, file->content, first, last - first + 1, cut ? fault->bytes : NoCut, request, sent_);
}

std::optional<DownloadHost::Target> DownloadHost::ParseTarget(const std::string& target)
{
    static const std::regex path("/download/([0-9a-f]{32})");
    std::smatch match;
    const std::string pathPart = QueryText::PathOf(target);
    if (!std::regex_match(pathPart, match, path))
        return std::nullopt;
    const auto values = QueryText::Parse(QueryText::QueryOf(target));
    const QString userId = QueryText::Value(values, "u");
    if (userId.isEmpty())
        return std::nullopt;
    return Target{userId, QString::fromStdString(match[1].str())};
}

bool DownloadHost::AnswersWithoutFile(FaultKind kind)
{
    return kind == FaultKind::DropBeforeReply || kind == FaultKind::Http500 || kind == FaultKind::NonJson ||
           kind == FaultKind::Message || kind == FaultKind::Timeout;
}

void DownloadHost::ChangeContent(const Target& target, const QByteArray& content)
{
    const std::optional<FakeItem> file = state_.LiveFileByKey(target.userId, target.key);
    if (!file)
        return;
    FakeChange change;
    change.objType = FakeObjType::File;
    change.action = FakeAction::Edit;
    change.path = file->path;
    change.localMtime = state_.Now();
    change.size = content.size();
    change.baseVersion = QString::number(file->version);
    state_.CommitChange(target.userId, QString::fromLatin1(EditorAgent), change, content);
}
