#include "foundation/PeltaTrackConflict.h"

#include <iterator>

bool PeltaTrackConflict::Add(const QString& path, const PeltaRecVfsSyncFile& record)
{
    std::lock_guard lock(mutex_);
    entries_[path].Assign(&record);
    return true;
}

void PeltaTrackConflict::Remove(const QString& path)
{
    std::lock_guard lock(mutex_);
    entries_.erase(path);
}

bool PeltaTrackConflict::Exists(const QString& path) const
{
    std::lock_guard lock(mutex_);
    return entries_.contains(path);
}

bool PeltaTrackConflict::Get(const QString& path, PeltaRecVfsSyncFile& record) const
{
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(path);
    if (found == entries_.end())
        return false;
    record.Assign(&found->second);
    return true;
}

QString PeltaTrackConflict::KeyAt(int position) const
{
    std::lock_guard lock(mutex_);
    if (position < 0 || static_cast<std::size_t>(position) >= entries_.size())
        return QString();
    return std::next(entries_.begin(), position)->first;
}

int PeltaTrackConflict::Count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

PeltaTrackConflict TrackConflict;
