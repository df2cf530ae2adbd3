#include "fakeservice/FakeFaults.h"

namespace {

Fault Make(FaultKind kind, bool processed)
{
    Fault fault;
    fault.kind = kind;
    fault.processed = processed;
    return fault;
}

Fault Holding(FaultKind kind, std::chrono::milliseconds hold)
{
    Fault fault = Make(kind, true);
    fault.hold = hold;
    return fault;
}

Fault Counting(FaultKind kind, bool processed, std::size_t bytes)
{
    Fault fault = Make(kind, processed);
    fault.bytes = bytes;
    return fault;
}

}  // namespace

Fault Fault::Delay(std::chrono::milliseconds hold)
{
    return Holding(FaultKind::Delay, hold);
}

Fault Fault::DropBeforeReply()
{
    return Make(FaultKind::DropBeforeReply, true);
}

Fault Fault::DropAfterBytes(std::size_t bytes)
{
    return Counting(FaultKind::DropAfterBytes, true, bytes);
}

Fault Fault::Http500()
{
    return Make(FaultKind::Http500, false);
}

Fault Fault::WarningLine()
{
    return Make(FaultKind::WarningLine, true);
}

Fault Fault::NonJson()
{
    return Make(FaultKind::NonJson, false);
}

Fault Fault::Message(const QString& message)
{
    Fault fault = Make(FaultKind::Message, false);
    fault.message = message;
    return fault;
}

Fault Fault::Timeout(std::chrono::milliseconds hold)
{
    return Holding(FaultKind::Timeout, hold);
}

Fault Fault::DropAfterRequestBytes(std::size_t bytes)
{
    return Counting(FaultKind::DropAfterRequestBytes, false, bytes);
}

Fault Fault::IgnoreRange()
{
    return Make(FaultKind::IgnoreRange, true);
}

Fault Fault::RangeFrom(std::size_t first)
{
    return Counting(FaultKind::RangeFrom, true, first);
}

Fault Fault::ChangeContent(const QByteArray& content)
{
    Fault fault = Make(FaultKind::ChangeContent, true);
    fault.content = content;
    return fault;
}

void FakeFaults::SetNext(const std::string& method, const Fault& fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    next_[method].push_back(fault);
}

void FakeFaults::SetAlways(const std::string& method, const Fault& fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    always_[method] = fault;
}

void FakeFaults::Clear(const std::string& method)
{
    std::lock_guard<std::mutex> lock(mutex_);
    next_.erase(method);
    always_.erase(method);
}

void FakeFaults::ClearAll()
{
    std::lock_guard<std::mutex> lock(mutex_);
    next_.clear();
    always_.clear();
}

std::optional<Fault> FakeFaults::Take(const std::string& method)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::optional<Fault> fault = TakeNext(method))
        return fault;
    if (std::optional<Fault> fault = TakeNext(AnyMethod))
        return fault;
    if (std::optional<Fault> fault = Lasting(method))
        return fault;
    return Lasting(AnyMethod);
}

std::optional<Fault> FakeFaults::TakeNext(const std::string& method)
{
    const auto it = next_.find(method);
    if (it == next_.end() || it->second.empty())
        return std::nullopt;
    Fault fault = it->second.front();
    it->second.pop_front();
    return fault;
}

std::optional<Fault> FakeFaults::Lasting(const std::string& method) const
{
    const auto it = always_.find(method);
    return it == always_.end() ? std::nullopt : std::optional<Fault>(it->second);
}
