#include "fakeservice/CallLog.h"

#include <algorithm>
#include <cstdio>
#include <utility>

void CallLog::Record(FakeCall call)
{
    call.bodySize = std::max(call.bodySize, call.body.size());
    if (call.body.size() > MaxBody)
        call.body.resize(MaxBody);
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
}

void CallLog::RecordUnknown(const std::string& httpMethod, const std::string& target)
{
    std::fprintf(stderr, "fake service: not served: %s %s\n", httpMethod.c_str(), target.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    unknownTargets_.push_back(target);
}

std::vector<FakeCall> CallLog::Calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::size_t CallLog::Count(const std::string& method) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::count_if(calls_.begin(), calls_.end(), [&](const FakeCall& call) { return call.method == method; });
}

std::vector<std::string> CallLog::UnknownTargets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return unknownTargets_;
}
