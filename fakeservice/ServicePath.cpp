#include "fakeservice/ServicePath.h"

#include "foundation/crypto/Crypto.h"
#include "fakeservice/FormDecoder.h"

#include <QStringDecoder>
#include <QStringList>

namespace ServicePath {

namespace {

bool IsValidName(const QString& name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    return !name.contains(u'\\') && !name.contains(QChar(0));
}

bool IsValidPath(const QString& path)
{
    if (path == Root)
        return true;
    if (!path.startsWith(u'/') || path.endsWith(u'/'))
        return false;
    const QStringList names = path.mid(1).split(u'/');
    for (const QString& name : names) {
        if (!IsValidName(name))
            return false;
    }
    return true;
}

}  // namespace

std::optional<QString> FromWire(const QString& base64Url)
{
    const std::optional<QByteArray> bytes = Base64UrlDecode(base64Url.toLatin1());
    if (!bytes || bytes->isEmpty())
        return std::nullopt;
    std::optional<QString> path = FormDecoder::StrictUtf8(*bytes);
    if (!path || !IsValidPath(*path))
        return std::nullopt;
    return path;
}

QString ToWire(const QString& path)
{
    return PathToBase64Url(path);
}

QString Parent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? Root : path.left(slash);
}

QString Name(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString Join(const QString& folder, const QString& name)
{
    return folder == Root ? Root + name : folder + u'/' + name;
}

bool IsWithin(const QString& path, const QString& folder)
{
    if (folder == Root || path == folder)
        return true;
    return path.startsWith(folder) && path.at(folder.size()) == u'/';
}

QString Rebase(const QString& path, const QString& from, const QString& to)
{
    if (path == from)
        return to;
    const QString rest = from == Root ? path.mid(1) : path.mid(from.size() + 1);
    return Join(to, rest);
}

QString ItemKey(const QString& userSn, const QString& path)
{
    return Md5Hex(userSn + u'_' + path);
}

QString ConflictName(const QString& name, int number)
{
    const QString mark = QStringLiteral(" (conflict %1)").arg(number);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return name + mark;
    return name.left(dot) + mark + name.mid(dot);
}

}  // namespace ServicePath
