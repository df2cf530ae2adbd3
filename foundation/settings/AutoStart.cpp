#include "foundation/settings/AutoStart.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString ConfigHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.config"));
}

bool HasControlCharacter(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

// The path as one double-quoted argument of an Exec line. Inside the quotes
// '"', '`', '$' and '\' take a backslash; the file's own string escaping then
// doubles every backslash, and '%' is written as "%%" (field codes).
QString QuotedExecArgument(const QString& path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$')
            quoted += QStringLiteral("\\\\") + c;
        else if (c == u'\\')
            quoted += QStringLiteral("\\\\\\\\");
        else if (c == u'%')
            quoted += QStringLiteral("%%");
        else
            quoted += c;
    }
    return u'"' + quoted + u'"';
}

void LogFailure(const QString& what, const QString& reason)
{
    AppLog.Write(QStringLiteral("AutoStart: %1 %2: %3").arg(what, AutoStartEntryPath(), reason), LogGeneral);
}

}  // namespace

QString AutoStartEntryPath()
{
    return ConfigHome() + QStringLiteral("/autostart/") + ProgramName + QStringLiteral(".desktop");
}

QString DesktopExecArgument(const QString& path)
{
    return QuotedExecArgument(path);
}

bool AutoStartEntryExists()
{
    return QFileInfo::exists(AutoStartEntryPath());
}

QString AutoStartEntryText(const QString& executablePath)
{
    if (executablePath.isEmpty() || !QDir::isAbsolutePath(executablePath) || HasControlCharacter(executablePath))
        return {};
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tessaron\n"
                          "Exec=%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(QuotedExecArgument(executablePath));
}

bool WriteAutoStartEntry(const QString& executablePath)
{
    const QString text = AutoStartEntryText(executablePath);
    if (text.isEmpty()) {
        LogFailure(QStringLiteral("cannot write"), QStringLiteral("unusable executable path \"%1\"").arg(executablePath));
        return false;
    }
    const QString path = AutoStartEntryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        LogFailure(QStringLiteral("cannot write"), QStringLiteral("the autostart folder cannot be made"));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        LogFailure(QStringLiteral("cannot write"), file.errorString());
        return false;
    }
    file.write(text.toUtf8());
    if (!file.commit()) {
        LogFailure(QStringLiteral("cannot write"), file.errorString());
        return false;
    }
    return true;
}

bool RemoveAutoStartEntry()
{
    QFile file(AutoStartEntryPath());
    if (!file.exists() || file.remove())
        return true;
    LogFailure(QStringLiteral("cannot delete"), file.errorString());
    return false;
}
