#pragma once

// One side's tree at a moment: every folder and file by its service path
// ("/A/b.txt"), files with their bytes. The local side leaves out the cache
// folder and what the file filter ignores.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <set>

class FakeState;

class TreeSnapshot {
public:
    struct Entry {
        bool folder = false;
        QByteArray content;
        bool operator==(const Entry&) const = default;
    };

    static TreeSnapshot OfLocal(const QString& syncRoot);
    static TreeSnapshot OfService(const FakeState& state, const QString& userId);

    const std::map<QString, Entry>& Entries() const { return entries_; }
    std::set<QByteArray> Contents() const;
    // Files and folders at or below path.
    QStringList Below(const QString& path) const;
    // "path: what this side has / what the other has" for each difference.
    QStringList Differences(const TreeSnapshot& other, const QString& mine, const QString& theirs) const;
    // Drops the items whose path holds a name that cannot exist in a Linux
    // folder (and what lies below them); each as "path: why", control
    // characters shown as "?".
    QStringList LeaveOutUnrepresentable();
    bool operator==(const TreeSnapshot&) const = default;

private:
    std::map<QString, Entry> entries_;
};
