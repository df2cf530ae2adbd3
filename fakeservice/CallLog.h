#pragma once

// The requests that reached the fake service, in the order they arrived,
// and the targets it did not serve. Safe to use from any thread.

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// One request as it arrived.
struct FakeCall {
    std::string httpMethod;
    std::string target;
    std::string method;  // the service method; empty when the target names none
    // The body; of a body longer than CallLog::MaxBody only its first bytes.
    std::string body;
    // Which listener took it: "service", "upload", "download", "account" or "push".
    std::string host;
    std::size_t bodySize = 0;  // the whole body's length
};

class CallLog {
public:
    // Bodies are kept up to this length: the fields of an upload, not the
    // file behind them.
    static constexpr std::size_t MaxBody = std::size_t(64) << 10;

    void Record(FakeCall call);
    void RecordUnknown(const std::string& httpMethod, const std::string& target);

    std::vector<FakeCall> Calls() const;
    std::size_t Count(const std::string& method) const;
    std::vector<std::string> UnknownTargets() const;

private:
    mutable std::mutex mutex_;
    std::vector<FakeCall> calls_;
    std::vector<std::string> unknownTargets_;
};
