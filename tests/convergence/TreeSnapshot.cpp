#include "tests/convergence/TreeSnapshot.h"

#include "fakeservice/FakeState.h"
#include "foundation/Constants.h"
#include "sync/filter/FileFilter.h"
#include "sync/rules/PathGuard.h"
#include "tests/support/FileContents.h"

#include <QDirIterator>
#include <QFileInfo>

namespace {

QString Describe(const TreeSnapshot::Entry* entry)
{
    if (!entry)
        return QStringLiteral("nothing");
    if (entry->folder)
        return QStringLiteral("a folder");
    return QStringLiteral("a file \"%1\" (%2 bytes)")
        .arg(QString::fromUtf8(entry->content.left(40)))
        .arg(entry->content.size());
}

bool IsWithin(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

}  // namespace

TreeSnapshot TreeSnapshot::OfLocal(const QString& syncRoot)
{
    TreeSnapshot tree;
    const QString cache = QLatin1Char('/') + CacheFolderName;
    QDirIterator it(syncRoot, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString full = it.next();
        const QString path = full.mid(syncRoot.size());
        if (IsWithin(path, cache))
            continue;
        QString relative = path;
        relative.replace(QLatin1Char('/'), QLatin1Char('\\'));
        if (FileFilter::IsIgnored(relative))
            continue;
        const QFileInfo info(full);
        Entry entry;
        entry.folder = info.isDir() && !info.isSymLink();
        if (!entry.folder)
            entry.content = ReadFileBytes(full);
        tree.entries_[path] = entry;
    }
    return tree;
}

TreeSnapshot TreeSnapshot::OfService(const FakeState& state, const QString& userId)
{
    TreeSnapshot tree;
    for (const FakeItem& item : state.Items(userId)) {
        if (item.recycled || item.path == QLatin1String("/") || item.path.isEmpty())
            continue;
        tree.entries_[item.path] = Entry{item.isFolder, item.isFolder ? QByteArray() : item.content.Bytes()};
    }
    return tree;
}

std::set<QByteArray> TreeSnapshot::Contents() const
{
    std::set<QByteArray> contents;
    for (const auto& [path, entry] : entries_) {
        if (!entry.folder)
            contents.insert(entry.content);
    }
    return contents;
}

QStringList TreeSnapshot::Below(const QString& path) const
{
    QStringList paths;
    for (const auto& [candidate, entry] : entries_) {
        if (IsWithin(candidate, path))
            paths << candidate;
    }
    return paths;
}

QStringList TreeSnapshot::Differences(const TreeSnapshot& other, const QString& mine, const QString& theirs) const
{
    std::set<QString> paths;
    for (const auto& [path, entry] : entries_)
        paths.insert(path);
    for (const auto& [path, entry] : other.entries_)
        paths.insert(path);
    QStringList differences;
    for (const QString& path : paths) {
        const auto here = entries_.find(path);
        const auto there = other.entries_.find(path);
        const Entry* a = here == entries_.end() ? nullptr : &here->second;
        const Entry* b = there == other.entries_.end() ? nullptr : &there->second;
        if (a && b && *a == *b)
            continue;
        differences << path + QStringLiteral(": ") + mine + QStringLiteral(" has ") + Describe(a) +
                           QStringLiteral(", ") + theirs + QStringLiteral(" has ") + Describe(b);
    }
    return differences;
}

QStringList TreeSnapshot::LeaveOutUnrepresentable()
{
    QStringList leftOut;
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        QString reason;
        PathGuard::FromServicePath(entry->first, reason);
        if (reason.isEmpty()) {
            ++entry;
            continue;
        }
        QString shown = entry->first;
        for (QChar& c : shown) {
            if (c.unicode() < 0x20)
                c = QLatin1Char('?');
        }
        leftOut << shown + QStringLiteral(": ") + reason;
        entry = entries_.erase(entry);
    }
    return leftOut;
}
