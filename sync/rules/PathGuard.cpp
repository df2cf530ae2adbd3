#include "sync/rules/PathGuard.h"

#include "foundation/log/PeltaLog.h"

#include <QStringDecoder>

namespace {

bool IsControl(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

// A path text shown in a log line: control characters as "?", so a refused
// name cannot break the line.
QString Printable(const QString& path)
{
    QString shown = path;
    for (QChar& c : shown) {
        if (IsControl(c.unicode()))
            c = QLatin1Char('?');
    }
    return shown;
}

}  // namespace

QString PathGuard::CheckName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("empty name");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("relative name");
    for (const QChar c : name) {
        if (IsControl(c.unicode()))
            return QStringLiteral("control character in name");
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QStringLiteral("separator in name");
    }
    if (!name.isValidUtf16())
        return QStringLiteral("name is not valid Unicode");
    if (name.toUtf8().size() > MaxNameBytes)
        return QStringLiteral("name longer than 255 bytes");
    return QString();
}

QString PathGuard::CheckDiskName(const QByteArray& name)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(name);
    if (decoder.hasError())
        return QStringLiteral("name is not UTF-8");
    return CheckName(text);
}

QString PathGuard::CheckRelative(const QString& relative)
{
    if (!relative.startsWith(QLatin1Char('\\')))
        return QStringLiteral("not a relative path");
    if (relative.size() == 1)
        return QString();
    const QStringList names = relative.mid(1).split(QLatin1Char('\\'));
    for (const QString& name : names) {
        const QString reason = CheckName(name);
        if (!reason.isEmpty())
            return reason;
    }
    return QString();
}

QString PathGuard::FromServicePath(const QString& servicePath, QString& reason)
{
    if (!servicePath.startsWith(QLatin1Char('/'))) {
        reason = QStringLiteral("not a service path");
        return QString();
    }
    if (servicePath.contains(QLatin1Char('\\'))) {
        reason = QStringLiteral("separator in name");
        return QString();
    }
    QString relative = servicePath;
    relative.replace(QLatin1Char('/'), QLatin1Char('\\'));
    reason = CheckRelative(relative);
    return reason.isEmpty() ? relative : QString();
}

bool PathGuard::IsInside(const QString& folder, const QString& full)
{
    if (!folder.startsWith(QLatin1Char('/')))
        return false;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    const QString bare = prefix.chopped(1);
    return (!bare.isEmpty() && full == bare) || full.startsWith(prefix);
}

void PathGuard::LogRefused(const QString& where, const QString& path, const QString& reason)
{
    AppLog.Write(where + QStringLiteral(":refused:") + Printable(path) + QLatin1Char(':') + reason, LogGeneral);
}
