#include "shell/update/PeltaCheckVersionThread.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/TextHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

void Log(const QString& text)
{
    AppLog.Write(QStringLiteral("PeltaCheckVersionThread: ") + text, LogGeneral);
}

bool IsProgram(const QString& name)
{
    return name == QLatin1String("Tessaron.exe") || name == QLatin1String("tessaron.exe");
}

bool IsDevProgram(const QString& name)
{
    return name == QLatin1String("Tessaron.dev.exe") || name == QLatin1String("tessaron.dev.exe");
}

}  // namespace

PeltaCheckVersionThread::PeltaCheckVersionThread(Setup setup)
    : WorkerThread(QStringLiteral("CheckVersion")), setup_(std::move(setup))
{
    setup_.http.stop = &stop_;
}

PeltaCheckVersionThread::~PeltaCheckVersionThread()
{
    stop_ = true;
    StopAndJoin();
}

std::mutex& PeltaCheckVersionThread::ReplaceLock()
{
    static std::mutex lock;
    return lock;
}

bool PeltaCheckVersionThread::Stopping() const
{
    return Terminated() || AppState.load() == XAPPExit;
}

void PeltaCheckVersionThread::Report(const QString& type, const QString& version) const
{
    if (setup_.callback)
        setup_.callback(type, version);
}

void PeltaCheckVersionThread::Execute()
{
    try {
        Pass();
    } catch (const VersionFormatError& failure) {
        Log(QStringLiteral("a version cannot be compared; the check ends: ") + QString::fromUtf8(failure.what()));
    }
}

bool PeltaCheckVersionThread::Needed(const VersionList::Entry& entry) const
{
    const QString& name = entry.name;
    if (name.toLower() == QLatin1String("baseinstall"))
        return setup_.baseInstallVersion.isEmpty() || CompareVersion(entry.version, setup_.baseInstallVersion) >= 0;
    // The running program's version is known; other files carry none, so
    // they are compared by their digests.
    if (IsProgram(name))
        return CompareVersion(entry.version, setup_.runningVersion3) > 0;
    if (setup_.dev && IsDevProgram(name))
        return CompareVersion(entry.version, setup_.runningVersion4) > 0;
    QString installed = name;
    if (setup_.dev && name.contains(QLatin1String(".dev.exe")))
        installed.replace(QLatin1String(".dev"), QString());
    const QString path = setup_.updateFolder + u'/' + installed;
    if (!QFileInfo::exists(path) && !QFileInfo::exists(path.toLower()))
        return true;
    return PeltaVersion::FileMD5(path) != entry.md5sum;
}

void PeltaCheckVersionThread::Pass()
{
    PeltaVersion http(setup_.http);
    std::vector<VersionList::Entry> entries;
    QString error;
    if (!http.FetchVersions(entries, error)) {
        Log(error);
        if (setup_.reportNone)
            Report(QStringLiteral("Failed"), QString());
        return;
    }
    if (!QDir().mkpath(setup_.updateFolder)) {
        Log(QStringLiteral("the update folder %1 cannot be made").arg(setup_.updateFolder));
        return;
    }
    std::lock_guard<std::mutex> replacing(ReplaceLock());
    bool found = false;
    QString notice;
    for (const VersionList::Entry& entry : entries) {
        if (Stopping())
            return;
        if (!VersionList::SafeName(entry.name)) {
            Log(QStringLiteral("an entry whose name is not a plain file name is skipped"));
            continue;
        }
        if (!Needed(entry))
            continue;
        const bool base = entry.name.toLower() == QLatin1String("baseinstall");
        const QString target = setup_.updateFolder + u'/' +
                               (base ? ProgramName + u'_' + entry.version + QStringLiteral(".exe")
                                     : u'~' + entry.name);
        if (!(QFileInfo::exists(target) && PeltaVersion::FileMD5(target) == entry.md5sum)) {
            if (!http.DownloadVerified(entry.url, entry.md5sum, target, error)) {
                Log(QStringLiteral("%1 is not used: %2").arg(entry.name, error));
                if (base || IsProgram(entry.name))
                    notice = entry.version;
                if (Stopping())
                    return;
                continue;
            }
        }
        if (Stopping())
            return;
        HandOff(entry, target, found);
    }
    if (found)
        return;
    if (!notice.isEmpty())
        Report(QStringLiteral("Notice"), notice);
    else if (setup_.reportNone)
        Report(QString(), QString());
}

void PeltaCheckVersionThread::HandOff(const VersionList::Entry& entry, const QString& target, bool& found)
{
    const QString& name = entry.name;
    if (name.toLower() == QLatin1String("baseinstall")) {
        if (setup_.baseInstallVersion.isEmpty() || CompareVersion(entry.version, setup_.baseInstallVersion) == 1) {
            Report(QStringLiteral("BaseInstall"), entry.version);
            found = true;
        }
        return;
    }
    if (IsProgram(name)) {
        if (CompareVersion(entry.version, setup_.runningVersion3) > 0) {
            Report(QStringLiteral("Tessaron"), entry.version);
            found = true;
        }
        return;
    }
    if (setup_.dev && IsDevProgram(name)) {
        if (CompareVersion(entry.version, setup_.runningVersion4) > 0) {
            Report(QStringLiteral("Tessaron.dev"), entry.version);
            found = true;
        }
        return;
    }
    if ((setup_.dev && name == QLatin1String("Updater.dev.exe")) || name == QLatin1String("Updater.exe"))
        ReplaceUpdater(target, entry.md5sum);
}

void PeltaCheckVersionThread::ReplaceUpdater(const QString& target, const QString& md5sum)
{
    const QString installed = setup_.updateFolder + QStringLiteral("/Updater.exe");
    const QString backup = setup_.updateFolder + QStringLiteral("/Updater.bak");
    if (QFileInfo::exists(installed)) {
        if (PeltaVersion::FileMD5(installed) == md5sum)
            return;
        QFile::remove(backup);
        if (!QFile::rename(installed, backup)) {
            Log(QStringLiteral("the updater cannot be kept as Updater.bak; it stays as it is"));
            return;
        }
    }
    if (!QFile::rename(target, installed)) {
        Log(QStringLiteral("the new updater cannot take its name; the previous one is put back"));
        if (!QFileInfo::exists(installed))
            QFile::rename(backup, installed);
        return;
    }
    Log(QStringLiteral("the updater was replaced"));
}
