#pragma once

// Faults that the fake service injects into its replies, set by tests for
// the next call of a method or for all its calls.
//
// Methods are named as on the wire: "setAgentInfo", "getMetadata", ...,
// "getQuota"; the upload host's "postFile", "postFile2" (the size query
// too) and "putFile" (both actions); "download" for the download host; the
// login steps "invoke_auth", "ClientAuthentication", "grant_auth",
// "PCAgentRequestAccess" (signed API) and "login2"; the push channel's
// exchanges by their first command, "CONNECT", "CHECK" or "SEND". "*"
// stands for every method. A call takes, in this order, the oldest one-shot
// fault of its method, the oldest one-shot fault of "*", the lasting fault
// of its method, the lasting fault of "*". A fault of a kind that does not
// apply to the call's host is used up and the call answered as without it.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

enum class FaultKind {
    Delay,            // wait, then answer normally
    DropBeforeReply,  // close the connection without a byte of reply
    DropAfterBytes,   // send the headers and the first bytes of the body, then close
    Http500,          // HTTP 500 with a short body
    WarningLine,      // a PHP-style warning line holding "<br />" before the JSON
    NonJson,          // an HTML page instead of JSON
    Message,          // {"status":"0","msg":<message>}
    Timeout,          // hold the reply past the client's idle limit, then close
    // Upload host only: read the first bytes of the request body, then close
    // (with the whole body when it is shorter); nothing of it is kept.
    DropAfterRequestBytes,
    // Download host only: answer 200 with the whole file whatever the Range.
    IgnoreRange,
    // Download host only: answer a Range with 206 for the bytes from another
    // start (Fault::bytes) to the end asked, with the Content-Range of those.
    RangeFrom,
    // Download host only: the file gets a new version holding the given
    // content (committed as another agent's edit) before this answer.
    ChangeContent,
};

struct Fault {
    FaultKind kind = FaultKind::Delay;
    std::chrono::milliseconds hold{0};  // Delay and Timeout
    std::size_t bytes = 0;              // DropAfterBytes, DropAfterRequestBytes; RangeFrom: its start
    QString message;                    // Message
    QByteArray content;                 // ChangeContent
    // Whether the service carries the request out before the fault strikes;
    // false leaves the state as it was.
    bool processed = true;

    static Fault Delay(std::chrono::milliseconds hold);
    static Fault DropBeforeReply();
    static Fault DropAfterBytes(std::size_t bytes);
    static Fault Http500();
    static Fault WarningLine();
    static Fault NonJson();
    static Fault Message(const QString& message);
    static Fault Timeout(std::chrono::milliseconds hold);
    static Fault DropAfterRequestBytes(std::size_t bytes);
    static Fault IgnoreRange();
    static Fault RangeFrom(std::size_t first);
    static Fault ChangeContent(const QByteArray& content);
};

class FakeFaults {
public:
    static constexpr const char* AnyMethod = "*";

    // A fault for the next call of the method; several queue up in order.
    void SetNext(const std::string& method, const Fault& fault);

    // A fault for every call of the method until cleared.
    void SetAlways(const std::string& method, const Fault& fault);

    void Clear(const std::string& method);
    void ClearAll();

    // The fault for one call of the method, taking a one-shot one.
    std::optional<Fault> Take(const std::string& method);

private:
    std::optional<Fault> TakeNext(const std::string& method);
    std::optional<Fault> Lasting(const std::string& method) const;

    std::mutex mutex_;
    std::map<std::string, std::deque<Fault>> next_;
    std::map<std::string, Fault> always_;
};
