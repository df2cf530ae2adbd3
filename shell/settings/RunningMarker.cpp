#include "shell/settings/RunningMarker.h"

#include "foundation/log/PeltaLog.h"
#include "foundation/text/TimeHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

const QString RunningMarker::FileName = QStringLiteral(".tessaron");

void RunningMarker::Set(const QString& markerFolder, bool on)
{
    if (!QFileInfo(markerFolder).isDir())
        return;
    const QString path = markerFolder + FileName;
    const bool exists = QFileInfo::exists(path);
    if (on && !exists) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(UnixTimeNow())) < 0 || !file.commit())
            AppLog.Write(QStringLiteral("RunningMarker: cannot write ") + path + QStringLiteral(": ") + file.errorString(),
                         LogGeneral);
    } else if (!on && exists) {
        QFile file(path);
        if (!file.remove())
            AppLog.Write(QStringLiteral("RunningMarker: cannot delete ") + path + QStringLiteral(": ") + file.errorString(),
                         LogGeneral);
    }
}
