#include "shell/settings/Shortcuts.h"

#include "foundation/log/PeltaLog.h"
#include "foundation/settings/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

const QString Shortcuts::EntryName = QStringLiteral("Tessaron.desktop");
const QString Shortcuts::BookmarkLabel = QStringLiteral("Tessaron");

namespace {

void Log(const QString& text)
{
    AppLog.Write(QStringLiteral("Shortcuts: ") + text, LogGeneral);
}

bool Usable(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

bool SaveText(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    Log(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return false;
}

QString ConfigHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.config");
}

}  // namespace

QString Shortcuts::DesktopEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + u'/' + EntryName;
}

QString Shortcuts::BookmarksPath()
{
    return ConfigHome() + QStringLiteral("/gtk-3.0/bookmarks");
}

QString Shortcuts::DesktopEntryText(const QString& program, const QString& syncFolder)
{
    if (!Usable(program) || !Usable(syncFolder))
        return {};
    QString workingFolder = syncFolder;
    workingFolder.replace(u'\\', QStringLiteral("\\\\"));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tessaron\n"
                          "Exec=%1 /home\n"
                          "Path=%2\n"
                          "Icon=folder\n"
                          "Terminal=false\n")
        .arg(DesktopExecArgument(program), workingFolder);
}

void Shortcuts::Create(const QString& program, const QString& syncFolder)
{
    WriteDesktopEntry(program, syncFolder);
    WriteBookmark(syncFolder);
}

void Shortcuts::WriteDesktopEntry(const QString& program, const QString& syncFolder)
{
    const QString path = DesktopEntryPath();
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return;
    const QString text = DesktopEntryText(program, syncFolder);
    if (text.isEmpty()) {
        Log(QStringLiteral("no desktop entry for the program %1 and the folder %2").arg(program, syncFolder));
        return;
    }
    if (SaveText(path, text.toUtf8()))
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeUser);
}

void Shortcuts::WriteBookmark(const QString& syncFolder)
{
    const QString path = BookmarksPath();
    if (!QFileInfo(path).isFile() || !Usable(syncFolder))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Log(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    const QByteArray ours = ' ' + BookmarkLabel.toUtf8();
    QByteArray text;
    for (const QByteArray& line : lines) {
        if (line.isEmpty() || line.endsWith(ours))
            continue;
        text += line + '\n';
    }
    text += QUrl::fromLocalFile(syncFolder).toEncoded() + ours + '\n';
    SaveText(path, text);
}
