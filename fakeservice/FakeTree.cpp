#include "fakeservice/FakeTree.h"

#include "fakeservice/ServicePath.h"

#include "foundation/Constants.h"

#include <utility>

FakeTree::FakeTree(QString userSn) : userSn_(std::move(userSn)) {}

const FakeItem* FakeTree::Find(const QString& path) const
{
    const auto it = items_.find(path);
    return it == items_.end() ? nullptr : &it->second;
}

const FakeItem* FakeTree::FindLive(const QString& path) const
{
    const FakeItem* item = Find(path);
    return item && !item->recycled ? item : nullptr;
}

const FakeItem* FakeTree::FindLiveByKey(const QString& key) const
{
    for (const auto& [path, item] : items_) {
        if (item.key == key && !item.recycled)
            return &item;
    }
    return nullptr;
}

bool FakeTree::IsLiveFolder(const QString& path) const
{
    if (path == ServicePath::Root)
        return true;
    const FakeItem* item = FindLive(path);
    return item && item->isFolder;
}

std::vector<FakeItem> FakeTree::Children(const QString& folder, bool withRecycled) const
{
    std::vector<FakeItem> children;
    for (const auto& [path, item] : items_) {
        if (path == ServicePath::Root || ServicePath::Parent(path) != folder)
            continue;
        if (item.recycled && !withRecycled)
            continue;
        children.push_back(item);
    }
    return children;
}

std::vector<FakeItem> FakeTree::Items() const
{
    std::vector<FakeItem> all;
    all.reserve(items_.size());
    for (const auto& entry : items_)
        all.push_back(entry.second);
    return all;
}

std::int64_t FakeTree::UsedBytes() const
{
    std::int64_t used = 0;
    for (const auto& entry : items_) {
        if (!entry.second.isFolder && !entry.second.recycled)
            used += entry.second.size;
    }
    return used;
}

const FakeItem& FakeTree::Store(const QString& path, bool isFolder, std::int64_t localMtime,
                                std::int64_t size, const FakeContent& content)
{
    const FakeItem* existing = Find(path);
    if (existing && existing->isFolder && !isFolder)
        EraseBelow(path);  // a recycled folder's leftovers under a new file
    FakeItem& item = items_[path];
    if (item.path.isEmpty())
        SetPath(item, path);
    item.isFolder = isFolder;
    item.version += 1;
    item.localMtime = localMtime;
    item.size = isFolder ? 0 : size;
    item.content = isFolder ? FakeContent() : content;
    item.recycled = false;
    return item;
}

const FakeItem& FakeTree::Recycle(const QString& path)
{
    for (auto& [itemPath, item] : items_) {
        if (ServicePath::IsWithin(itemPath, path))
            item.recycled = true;
    }
    FakeItem& item = items_.at(path);
    item.version += 1;
    return item;
}

const FakeItem& FakeTree::Move(const QString& from, const QString& to)
{
    std::vector<FakeItem> moved;
    for (auto it = items_.begin(); it != items_.end();) {
        if (ServicePath::IsWithin(it->first, from)) {
            moved.push_back(std::move(it->second));
            it = items_.erase(it);
        } else {
            ++it;
        }
    }
    EraseWithin(to);
    for (FakeItem& item : moved) {
        const QString path = ServicePath::Rebase(item.path, from, to);
        SetPath(item, path);
        items_[path] = std::move(item);
    }
    FakeItem& item = items_.at(to);
    item.version += 1;
    return item;
}

QString FakeTree::ParentKeyOf(const QString& path) const
{
    const QString parent = ServicePath::Parent(path);
    if (parent == ServicePath::Root)
        return SyncRootParentKey;
    return ServicePath::ItemKey(userSn_, parent);
}

void FakeTree::SetPath(FakeItem& item, const QString& path) const
{
    item.path = path;
    item.key = ServicePath::ItemKey(userSn_, path);
    item.parentKey = ParentKeyOf(path);
}

void FakeTree::EraseWithin(const QString& folder)
{
    for (auto it = items_.begin(); it != items_.end();) {
        if (ServicePath::IsWithin(it->first, folder))
            it = items_.erase(it);
        else
            ++it;
    }
}

void FakeTree::EraseBelow(const QString& folder)
{
    for (auto it = items_.begin(); it != items_.end();) {
        if (it->first != folder && ServicePath::IsWithin(it->first, folder))
            it = items_.erase(it);
        else
            ++it;
    }
}
