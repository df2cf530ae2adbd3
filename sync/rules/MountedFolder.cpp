#include "sync/rules/MountedFolder.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/LocalListing.h"
#include "sync/rules/SyncFolderNotice.h"

#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Log(const QString& text)
{
    AppLog.Write(QStringLiteral("MountedFolder:") + text, LogGeneral);
}

// What is at an absolute path, following links (the sync folder may be
// reached through one): 0 and the mode, or the errno.
int LookAt(const QString& path, mode_t& mode)
{
    struct statx info {};
    if (::statx(AT_FDCWD, path.toUtf8().constData(), 0, STATX_TYPE, &info) != 0)
        return errno;
    mode = info.stx_mode;
    return 0;
}

bool IsGone(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

// The folders whose absence has been told and whose return has not: the
// pause is the folder's, whichever thread's look found it and whichever
// finds it back.
std::mutex pausedLock;
std::set<QString> pausedFolders;  // guarded by pausedLock

// Marks the folder paused or not; true when that changed.
bool SetPaused(const QString& folder, bool paused)
{
    std::lock_guard lock(pausedLock);
    if (paused)
        return pausedFolders.insert(folder).second;
    return pausedFolders.erase(folder) > 0;
}

QString ParentOf(const QString& folder)
{
    const qsizetype cut = folder.lastIndexOf(QLatin1Char('/'));
    return cut <= 0 ? QStringLiteral("/") : folder.left(cut);
}

}  // namespace

const QString MountedFolder::MarkerName = QStringLiteral(".mounted");

MountedFolder::MountedFolder(QString syncFolder, SyncFolderNotice* notice)
    : folder_(std::move(syncFolder)), notice_(notice)
{
}

QString MountedFolder::MarkerPath() const
{
    return folder_ + QLatin1Char('/') + CacheFolderName + QLatin1Char('/') + MarkerName;
}

MountedFolder::State MountedFolder::Check()
{
    QString reason;
    const State state = Look(reason);
    Report(state, reason);
    return state;
}

MountedFolder::State MountedFolder::Look(QString& reason)
{
    if (!folder_.startsWith(QLatin1Char('/')) || folder_ == QLatin1String("/")) {
        reason = QStringLiteral("no usable sync folder");
        return State::NotMounted;
    }
    mode_t mode = 0;
    const int error = LookAt(folder_, mode);
    if (IsGone(error)) {
        mode_t parentMode = 0;
        const int parentError = LookAt(ParentOf(folder_), parentMode);
        if (parentError == 0 && S_ISDIR(parentMode)) {
            reason = QStringLiteral("folder missing, its parent is there");
            return State::Removed;
        }
        reason = IsGone(parentError) || parentError == 0 ? QStringLiteral("folder and its parent are missing")
                                                         : QStringLiteral("parent cannot be looked at: ") +
                                                               LocalItem::ErrorText(parentError);
        return State::NotMounted;
    }
    if (error != 0) {
        reason = QStringLiteral("cannot be looked at: ") + LocalItem::ErrorText(error);
        return State::NotMounted;
    }
    if (!S_ISDIR(mode)) {
        reason = QStringLiteral("not a folder");
        return State::NotMounted;
    }
    const LocalFacts marker = LocalItem::Stat(folder_, MarkerPath());
    if (marker.kind == LocalKind::File)
        return State::Mounted;
    if (marker.kind == LocalKind::Unknown) {
        reason = QStringLiteral("marker cannot be looked at: ") + LocalItem::ErrorText(marker.error);
        return State::NotMounted;
    }
    return LookWithoutMarker(reason);
}

MountedFolder::State MountedFolder::LookWithoutMarker(QString& reason)
{
    int error = 0;
    const bool content = LocalListing::HasEntries(folder_, CacheFolderName, error);
    if (error != 0) {
        reason = QStringLiteral("cannot be read: ") + LocalItem::ErrorText(error);
        return State::NotMounted;
    }
    if (!content) {
        reason = QStringLiteral("empty and without its marker");
        return State::NotMounted;
    }
    Log(QStringLiteral("marker missing from a folder with content, written again:") + folder_);
    WriteMarker();
    return State::Mounted;
}

void MountedFolder::Report(State state, const QString& reason)
{
    const bool changed = !checked_ || state != last_;
    checked_ = true;
    last_ = state;
    paused_ = state == State::NotMounted;
    switch (state) {
    case State::NotMounted:
        if (SetPaused(folder_, true)) {
            Log(QStringLiteral("not mounted, syncing paused:") + folder_ + QLatin1Char(':') + reason);
            if (notice_ != nullptr)
                notice_->SyncFolderUnavailable(folder_, reason);
        }
        break;
    case State::Removed:
        if (changed)
            Log(QStringLiteral("removed by the user, to be made again:") + folder_);
        break;
    case State::Mounted:
        if (SetPaused(folder_, false)) {
            Log(QStringLiteral("mounted again, syncing resumes:") + folder_);
            if (notice_ != nullptr)
                notice_->SyncFolderAvailable(folder_);
        }
        break;
    }
}

bool MountedFolder::WriteMarker()
{
    const QString cache = folder_ + QLatin1Char('/') + CacheFolderName;
    int error = 0;
    const LocalFacts folder = LocalItem::Stat(folder_, cache);
    if (folder.kind == LocalKind::Missing && !LocalItem::MakeFolder(folder_, cache, error) && error != EEXIST) {
        Log(QStringLiteral("cannot make the cache folder:") + cache + QLatin1Char(':') + LocalItem::ErrorText(error));
        return false;
    }
    const QString marker = MarkerPath();
    if (LocalItem::Stat(folder_, marker).kind == LocalKind::File)
        return true;
    const FileDescriptor file = LocalItem::CreateFile(folder_, marker, error);
    if (file.IsOpen()) {
        static const char content[] = "1\n";
        if (::write(file.Get(), content, sizeof content - 1) < 0)
            error = errno;
    }
    if (LocalItem::Stat(folder_, marker).kind != LocalKind::File) {
        Log(QStringLiteral("cannot write the marker:") + marker + QLatin1Char(':') + LocalItem::ErrorText(error));
        return false;
    }
    Log(QStringLiteral("marker written:") + marker);
    return true;
}

bool MountedFolder::Recreate()
{
    const int made = ::mkdir(folder_.toUtf8().constData(), 0777) == 0 ? 0 : errno;
    if (made != 0 && made != EEXIST) {
        Log(QStringLiteral("cannot make the sync folder again:") + folder_ + QLatin1Char(':') +
            LocalItem::ErrorText(made));
        return false;
    }
    Log(QStringLiteral("sync folder made again:") + folder_);
    return WriteMarker();
}

QString MountedFolder::StateName(State state)
{
    switch (state) {
    case State::Mounted:
        return QStringLiteral("mounted");
    case State::NotMounted:
        return QStringLiteral("not mounted");
    case State::Removed:
        return QStringLiteral("removed");
    }
    return QString();
}
