#include "sync/monitor/MonitorPath.h"

#include "foundation/Constants.h"

namespace {
constexpr int MaxNameBytes = 255;
const QString Separator = QStringLiteral("\\");
}  // namespace

QString MonitorPath::Join(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || folder == Separator)
        return Separator + name;
    return folder + Separator + name;
}

QString MonitorPath::Parent(const QString& path)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('\\'));
    if (cut <= 0)
        return Separator;
    return path.left(cut);
}

QString MonitorPath::Name(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
}

bool MonitorPath::IsWithin(const QString& path, const QString& folder)
{
    if (folder == Separator)
        return true;
    return path == folder || path.startsWith(folder + Separator);
}

bool MonitorPath::IsCacheFolder(const QString& path)
{
    return IsWithin(path, Separator + CacheFolderName);
}

QString MonitorPath::ToFileSystem(const QString& root, const QString& path)
{
    QString relative = path;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (relative == QLatin1String("/"))
        return root;
    if (root.endsWith(QLatin1Char('/')))
        return root + relative.mid(1);
    return root + relative;
}

QByteArray MonitorPath::ToFileSystemBytes(const QString& root, const QString& path)
{
    return ToFileSystem(root, path).toUtf8();
}

bool MonitorPath::DecodeName(const QByteArray& bytes, QString& name, QString& reason)
{
    name = QString::fromUtf8(bytes);
    if (bytes.isEmpty()) {
        reason = QStringLiteral("empty name");
        return false;
    }
    if (bytes.size() > MaxNameBytes) {
        reason = QStringLiteral("name longer than 255 bytes");
        return false;
    }
    if (name.toUtf8() != bytes) {
        reason = QStringLiteral("name is not valid UTF-8");
        return false;
    }
    if (name.contains(QLatin1Char('\\'))) {
        reason = QStringLiteral("name holds a backslash");
        return false;
    }
    return true;
}
