#pragma once

// The watches of one inotify instance: watch descriptor <-> relative path of
// the watched folder ("\" for the sync folder itself).

#include <QHash>
#include <QString>

#include <optional>
#include <unordered_map>
#include <vector>

class WatchTable {
public:
    // Records wd for path. A path watched before under another descriptor
    // loses that entry; false (and nothing changes) when wd already stands
    // for another path (the same folder reached twice).
    bool Add(int wd, const QString& path);

    std::optional<QString> PathOf(int wd) const;
    std::optional<int> WatchOf(const QString& path) const;

    // Forgets wd; returns its path when it was known.
    std::optional<QString> Remove(int wd);

    // Forgets every watch of folder and of the folders below it and returns
    // their descriptors.
    std::vector<int> RemoveSubtree(const QString& folder);

    // Renames from and every folder below it to their places below to; what
    // was recorded at to before (a folder the move replaced) is forgotten.
    void MoveSubtree(const QString& from, const QString& to);

    int Count() const { return static_cast<int>(paths_.size()); }
    std::vector<int> Watches() const;
    void Clear();

private:
    std::unordered_map<int, QString> paths_;
    QHash<QString, int> watches_;
};
