#pragma once

// The folders and files of one account, by path. Keys and parent keys follow
// from the paths, so a move gives the moved items new keys. Recycled items
// stay in the tree, flagged, until an item is stored or moved onto their
// path. Not thread-safe: the owner holds its own lock.

#include "fakeservice/FakeRecords.h"

#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class FakeTree {
public:
    explicit FakeTree(QString userSn);

    const QString& UserSn() const { return userSn_; }

    // The item at the path, live or recycled; nullptr when there is none.
    const FakeItem* Find(const QString& path) const;

    // The item when it is not recycled.
    const FakeItem* FindLive(const QString& path) const;

    // The live item with the key; nullptr when there is none.
    const FakeItem* FindLiveByKey(const QString& key) const;

    // True for the root and for a live folder.
    bool IsLiveFolder(const QString& path) const;

    // The items directly in the folder, in path order.
    std::vector<FakeItem> Children(const QString& folder, bool withRecycled) const;

    std::vector<FakeItem> Items() const;

    // Total size of the live files.
    std::int64_t UsedBytes() const;

    // Stores an item at the path: a new one gets version 1, an existing one
    // (live or recycled) is replaced and gets its next version.
    const FakeItem& Store(const QString& path, bool isFolder, std::int64_t localMtime,
                          std::int64_t size, const FakeContent& content);

    // Flags the item and everything below it as recycled; the item gets its
    // next version. The item must exist.
    const FakeItem& Recycle(const QString& path);

    // Moves the item and everything below it to the destination; the item
    // gets its next version. Recycled items in the way are dropped. The item
    // must exist and no live item may hold the destination.
    const FakeItem& Move(const QString& from, const QString& to);

private:
    QString ParentKeyOf(const QString& path) const;
    void SetPath(FakeItem& item, const QString& path) const;
    void EraseWithin(const QString& folder);
    void EraseBelow(const QString& folder);

    QString userSn_;
    std::map<QString, FakeItem> items_;
};
