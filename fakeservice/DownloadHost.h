#pragma once

// The download host: the address that getFileCheck returns as get_url,
// "/download/<item key>?u=<user_id>&v=<version>", answered with the file's
// current content (the address names the item, not the version). A GET
// without Range gets 200 and the whole file; a single byte range gets 206,
// exactly those bytes and a Content-Range; a range that starts past the end
// gets 416. Bodies stream from the stored content piece by piece through
// one buffer per request, so large files cost no memory per request.
//
// The faults of the method "download": DropAfterBytes cuts after that many
// bytes of the body; DropBeforeReply, Http500, NonJson (a short HTML error
// page with 200), Message (a short JSON error with 200) and Timeout answer
// as elsewhere; IgnoreRange answers 200 with the whole file; RangeFrom
// answers a range with 206 from another start (as its Content-Range says);
// ChangeContent gives the file a new version first; WarningLine puts the
// warning line ahead of the bytes.

#include "fakeservice/FakeFaults.h"
#include "fakeservice/FakeState.h"
#include "fakeservice/FaultReply.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

class DownloadHost {
public:
    static constexpr const char* Method = "download";
    // The agent that the ChangeContent fault commits as.
    static constexpr const char* EditorAgent = "fake-service-editor";

    DownloadHost(FakeState& state, const FaultReply& faults);

    // The path and query of an item's download address.
    static std::string PathFor(const QString& userId, const FakeItem& item);

    static bool Matches(const std::string& target);

    // Answers one GET; fault is the one the call took (a Delay has been
    // waited out already).
    void Serve(const httplib::Request& request, httplib::Response& response, const std::optional<Fault>& fault);

    // The file bytes sent so far, over all answers.
    std::int64_t SentBytes() const { return sent_; }

private:
    struct Target {
        QString userId;
        QString key;
    };

    static std::optional<Target> ParseTarget(const std::string& target);
    static bool AnswersWithoutFile(FaultKind kind);
    void ChangeContent(const Target& target, const QByteArray& content);

    FakeState& state_;
    const FaultReply& faults_;
    std::atomic<std::int64_t> sent_{0};
};
