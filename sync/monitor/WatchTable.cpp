#include "sync/monitor/WatchTable.h"

#include "sync/monitor/MonitorPath.h"

bool WatchTable::Add(int wd, const QString& path)
{
    const auto known = paths_.find(wd);
    if (known != paths_.end())
        return known->second == path;
    const auto earlier = watches_.constFind(path);
    if (earlier != watches_.constEnd())
        paths_.erase(earlier.value());
    paths_[wd] = path;
    watches_[path] = wd;
    return true;
}

std::optional<QString> WatchTable::PathOf(int wd) const
{
    const auto found = paths_.find(wd);
    if (found == paths_.end())
        return std::nullopt;
    return found->second;
}

std::optional<int> WatchTable::WatchOf(const QString& path) const
{
    const auto found = watches_.constFind(path);
    if (found == watches_.constEnd())
        return std::nullopt;
    return found.value();
}

std::optional<QString> WatchTable::Remove(int wd)
{
    const auto found = paths_.find(wd);
    if (found == paths_.end())
        return std::nullopt;
    QString path = found->second;
    paths_.erase(found);
    if (watches_.value(path, -1) == wd)
        watches_.remove(path);
    return path;
}

std::vector<int> WatchTable::RemoveSubtree(const QString& folder)
{
    std::vector<int> removed;
    for (auto it = paths_.begin(); it != paths_.end();) {
        if (!MonitorPath::IsWithin(it->second, folder)) {
            ++it;
            continue;
        }
        removed.push_back(it->first);
        watches_.remove(it->second);
        it = paths_.erase(it);
    }
    return removed;
}

void WatchTable::MoveSubtree(const QString& from, const QString& to)
{
    if (from == to)
        return;
    // A folder that the move replaced is gone with everything below it.
    RemoveSubtree(to);
    std::vector<std::pair<int, QString>> moved;
    for (auto& [wd, path] : paths_) {
        if (MonitorPath::IsWithin(path, from))
            moved.emplace_back(wd, to + path.mid(from.size()));
    }
    for (const auto& [wd, path] : moved) {
        watches_.remove(paths_[wd]);
        paths_[wd] = path;
    }
    for (const auto& [wd, path] : moved)
        watches_[path] = wd;
}

std::vector<int> WatchTable::Watches() const
{
    std::vector<int> all;
    all.reserve(paths_.size());
    for (const auto& entry : paths_)
        all.push_back(entry.first);
    return all;
}

void WatchTable::Clear()
{
    paths_.clear();
    watches_.clear();
}
