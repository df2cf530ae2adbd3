#include "shell/windows/FolderChooser.h"

#include "shell/windows/Prompter.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

QString AppName()
{
    return Xi18n::Text(XText::_APPName);
}

QString WithoutTrailingSlash(QString path)
{
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    return path;
}

// The absolute, cleaned form of a path, symbolic links resolved where they exist.
QString Canonical(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

bool Within(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

// Whether the folder can be made (it does not exist yet) or written into (it
// does): tried, since the mode bits say nothing for the superuser and
// nothing about a read-only mount. The probe leaves nothing behind.
bool CanWrite(const QString& folder, bool exists)
{
    if (exists) {
        QTemporaryFile probe(folder + QStringLiteral("/.probe-XXXXXX"));
        return probe.open();
    }
    QDir parent(QFileInfo(folder).path());
    const QString name = QFileInfo(folder).fileName();
    if (!parent.mkdir(name))
        return false;
    parent.rmdir(name);
    return true;
}

}  // namespace

FolderChooser::FolderChooser(Prompter& prompter, QString dataFolder, Browser browser)
    : prompter_(prompter), dataFolder_(std::move(dataFolder)), browser_(std::move(browser))
{
    if (!browser_)
        browser_ = &FolderChooser::BrowseWithDialog;
}

QString FolderChooser::BrowseWithDialog(QWidget* owner, const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
}

QString FolderChooser::Refusal(const QString& candidate, const QString& installFolder, const QString& dataFolder)
{
    const QFileInfo place(QFileInfo(candidate).path());
    if (!place.isDir())
        return QStringLiteral("所選的目錄已不存在，請重新選取");
    if (place.absoluteFilePath() == QDir::rootPath())
        return QStringLiteral("同步目錄不可建立在根目錄，請重新選取");
    if (!installFolder.isEmpty() && QFileInfo(installFolder).isDir() &&
        Canonical(candidate) == Canonical(installFolder))
        return Xi18n::Text(XText::_ML0705);
    const QString folder = Canonical(candidate);
    const QString data = Canonical(dataFolder);
    if (!dataFolder.isEmpty() && (Within(folder, data) || Within(data, folder)))
        return QStringLiteral("同步目錄不可與程式的資料目錄重疊，請重新選取");
    const QFileInfo existing(candidate);
    if (existing.exists() && !existing.isDir())
        return Xi18n::Text(XText::_MkdirFail);
    if (!CanWrite(candidate, existing.exists()))
        return QStringLiteral("無法寫入所選的目錄，請重新選取");
    return {};
}

bool FolderChooser::SelectFolderDialog(QWidget* owner, const QString& start, const QString& installFolder,
                                       QString& out, int mode)
{
    out = start;
    QString title = FormatText(Xi18n::Text(XText::_ML0701), {AppName()});
    QString opening = start;
    if (mode == ExistingFolderMode) {
        title = Xi18n::Text(XText::_ML0702);
        if (QFileInfo(start).isDir())
            initialSelection_ = start;
        if (!initialSelection_.isEmpty())
            opening = initialSelection_;
    }
    for (;;) {
        const QString chosen = WithoutTrailingSlash(browser_(owner, title, opening));
        if (chosen.isEmpty())
            return false;
        if (mode == ExistingFolderMode) {
            out = chosen;
            return true;
        }
        const QString candidate = chosen + u'/' + ProgramName;
        const QString refusal = Refusal(candidate, installFolder, dataFolder_);
        if (!refusal.isEmpty()) {
            AppLog.Write(QStringLiteral("FolderChooser: %1 refused: %2").arg(candidate, refusal), LogGeneral);
            prompter_.Tell(owner, refusal);
            opening = chosen;
            continue;
        }
        if (QFileInfo(candidate).isDir() &&
            !prompter_.AskYesNo(owner, Xi18n::Text(XText::_ML0704),
                                FormatText(Xi18n::Text(XText::_ML0703), {AppName()}))) {
            opening = chosen;
            continue;
        }
        out = candidate;
        return true;
    }
}

bool FolderChooser::SelectSyncFolder(QWidget* owner, const QString& start, const QString& installFolder,
                                     QString& out)
{
    return SelectFolderDialog(owner, start, installFolder, out, SyncFolderMode);
}

bool FolderChooser::SelectNewSyncFolder(QWidget* owner, const QString& start, QString& out)
{
    return SelectFolderDialog(owner, start, QString(), out, SyncFolderMode);
}

bool FolderChooser::SelectFolder(QWidget* owner, const QString& start, QString& out, int mode)
{
    return SelectFolderDialog(owner, start, QString(), out, mode);
}
