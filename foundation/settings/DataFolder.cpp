#include "foundation/settings/DataFolder.h"

#include "foundation/log/PeltaLog.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <system_error>

#include <sys/stat.h>

namespace {

QString ChosenFolder()
{
    const QString home = qEnvironmentVariable("TESSARON_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    // The same folder as AppLocalDataLocation for organisation "Pelta" and
    // application "Tessaron", whether or not the application set those names.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::cleanPath(data + QStringLiteral("/Pelta/Tessaron"));
}

void LogCreateFailure(const QString& folder, const std::string& reason)
{
    AppLog.Write(QStringLiteral("DataFolder: cannot create %1: %2").arg(folder, QString::fromStdString(reason)),
                 LogGeneral);
}

void CreateFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return;
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent)) {
        LogCreateFailure(parent, "the parent folder cannot be made");
        return;
    }
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        LogCreateFailure(folder, std::error_code(errno, std::generic_category()).message());
        return;
    }
    ::chmod(native.constData(), 0700);  // whatever the umask left of it
}

}  // namespace

QString DataFolder()
{
    const QString folder = ChosenFolder();
    CreateFolder(folder);
    return folder;
}

QString DataFilePath(const QString& name)
{
    return QDir(DataFolder()).filePath(name);
}
