#include "sync/threads/ResyncRequests.h"

#include "foundation/Constants.h"

#include <algorithm>

namespace {

const QString kRoot = QStringLiteral("\\");

}  // namespace

int ResyncRequests::StagesOf(int kind)
{
    switch (kind) {
    case XMOResyncLocal:
    case XMOResyncLocalNoRemoval:
        return LocalStage;
    case XMOResyncRemote:
        return RemoteStage;
    case XMOResyncFull:
        return LocalStage | RemoteStage;
    case XMOResyncAppStart:
        return LocalStage | JournalStage;
    default:
        return 0;
    }
}

bool ResyncRequests::MayRemove(int kind)
{
    return kind == XMOResyncLocal || kind == XMOResyncAppStart;
}

QString ResyncRequests::PathOf(int kind, const QString& path)
{
    const bool ownPath = kind == XMOResyncLocal || kind == XMOResyncLocalNoRemoval || kind == XMOResyncRemote;
    if (!ownPath || path.isEmpty() || path == QLatin1String("0"))
        return kRoot;
    return path;
}

bool ResyncRequests::Ask(int kind, const QString& path)
{
    const int stages = StagesOf(kind);
    if (stages == 0)
        return false;
    const QString where = PathOf(kind, path);
    std::lock_guard lock(mutex_);
    if (const int index = Find(kind, where); index >= 0) {
        entries_[index].request.stages = stages;
        entries_[index].due = SteadyTime{};
        return true;
    }
    entries_.push_back({{kind, where, stages}, SteadyTime{}});
    return true;
}

void ResyncRequests::Retry(const Request& request, SteadyTime due)
{
    if (request.stages == 0)
        return;
    std::lock_guard lock(mutex_);
    if (const int index = Find(request.kind, request.path); index >= 0) {
        entries_[index].request.stages |= request.stages;
        return;
    }
    entries_.push_back({request, due});
}

std::optional<ResyncRequests::Request> ResyncRequests::TakeDue(SteadyTime now, bool withRemoval)
{
    std::lock_guard lock(mutex_);
    const auto taken = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return entry.due <= now && (withRemoval || !MayRemove(entry.request.kind));
    });
    if (taken == entries_.end())
        return std::nullopt;
    const Request request = taken->request;
    entries_.erase(taken);
    return request;
}

SteadyTime ResyncRequests::NextDue(bool withRemoval) const
{
    std::lock_guard lock(mutex_);
    SteadyTime next = SteadyTime::max();
    for (const Entry& entry : entries_) {
        if (withRemoval || !MayRemove(entry.request.kind))
            next = std::min(next, entry.due);
    }
    return next;
}

void ResyncRequests::Forget(int kind)
{
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [kind](const Entry& entry) { return entry.request.kind == kind; });
}

bool ResyncRequests::IsPending(int kind, const QString& path) const
{
    std::lock_guard lock(mutex_);
    return Find(kind, PathOf(kind, path)) >= 0;
}

int ResyncRequests::Count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

std::vector<ResyncRequests::Request> ResyncRequests::Pending() const
{
    std::lock_guard lock(mutex_);
    std::vector<Request> requests;
    for (const Entry& entry : entries_)
        requests.push_back(entry.request);
    return requests;
}

int ResyncRequests::Find(int kind, const QString& path) const
{
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (entries_[index].request.kind == kind && entries_[index].request.path == path)
            return static_cast<int>(index);
    }
    return -1;
}
