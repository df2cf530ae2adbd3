#include "tests/sync/TreeListing.h"

#include "foundation/Constants.h"
#include "tests/support/FileContents.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

QString Line(const QString& relative, bool folder, const QByteArray& content, std::int64_t mtime,
             TreeListing::Form form)
{
    if (folder)
        return relative + form.folderMark;
    QString line = relative + QLatin1Char('|') + QString::fromUtf8(content);
    if (form.withTimes)
        line += QLatin1Char('|') + QString::number(mtime);
    return line;
}

}  // namespace

QString TreeListing::ServicePathOf(const QString& relative)
{
    QString path = relative;
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString TreeListing::RelativeOf(const QString& servicePath)
{
    QString path = servicePath;
    return path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QStringList TreeListing::Local(const QString& root, Form form)
{
    QStringList tree;
    QDirIterator items(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (items.hasNext()) {
        const QString full = items.next();
        const QString relative = RelativeOf(full.mid(root.size()));
        if (relative.startsWith(QLatin1Char('\\') + CacheFolderName))
            continue;
        const QFileInfo info = items.fileInfo();
        tree << Line(relative, info.isDir(), info.isDir() ? QByteArray() : ReadFileBytes(full),
                     info.lastModified().toSecsSinceEpoch(), form);
    }
    tree.sort();
    return tree;
}

QStringList TreeListing::Service(const FakeState& state, const QString& userId, Form form)
{
    QStringList tree;
    for (const FakeItem& item : state.Items(userId)) {
        if (item.recycled || item.path == QLatin1String("/"))
            continue;
        tree << Line(RelativeOf(item.path), item.isFolder, item.content.Bytes(), item.localMtime, form);
    }
    tree.sort();
    return tree;
}
