#include "shell/tray/DesktopOpener.h"

#include "foundation/log/PeltaLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

constexpr int FileManagerTimeoutMs = 3000;

void OpenLocal(const QString& path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        AppLog.Write(QStringLiteral("DesktopOpener: cannot open ") + path, LogGeneral);
}

}  // namespace

void DesktopOpener::OpenUrl(const QString& url)
{
    if (!QDesktopServices::openUrl(QUrl(url.trimmed())))
        AppLog.Write(QStringLiteral("DesktopOpener: cannot open ") + url, LogGeneral);
}

void DesktopOpener::ShowFolder(const QString& folder)
{
    AskFileManager(QStringLiteral("ShowFolders"), folder, [folder] { OpenLocal(folder); });
}

void DesktopOpener::SelectFile(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    AskFileManager(QStringLiteral("ShowItems"), path, [folder] { OpenLocal(folder); });
}

void DesktopOpener::AskFileManager(const QString& method, const QString& path, std::function<void()> fallback)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || QCoreApplication::instance() == nullptr) {
        fallback();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), method);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, FileManagerTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallback = std::move(fallback)](QDBusPendingCallWatcher* done) {
                         if (done->isError())
                             fallback();
                         done->deleteLater();
                     });
}
