// PeltaSync: facts of local items, files in use and their snapshots, and
// stored modification times.

#include "sync/engine/PeltaSync.h"

#include "foundation/db/PeltaDb.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/FileCopy.h"
#include "sync/rules/FileInUse.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/RecordKey.h"
#include "sync/rules/UploadSnapshot.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFolderAttempts = 3;
constexpr std::chrono::milliseconds kFolderRetryPause{100};

QString ErrorSuffix(int error)
{
    return LocalItem::ErrorText(error) + QLatin1Char('(') + QString::number(error) + QLatin1Char(')');
}

}  // namespace

bool PeltaSync::LocalFolderExists(const QString& path) const
{
    const auto folders = Folders();
    const QString full = Full(*folders, Relative(*folders, path, QStringLiteral("PeltaSync::LocalFolderExists")));
    return !full.isEmpty() && LocalItem::Stat(folders->SyncFolder(), full).kind == LocalKind::Folder;
}

int PeltaSync::GetLocalInfo(PeltaRecVfsSyncFile& record)
{
    const auto folders = Folders();
    const QString full = Full(*folders, Relative(*folders, record.path, QStringLiteral("PeltaSync::GetLocalInfo")));
    if (full.isEmpty())
        return InfoMissing;
    const LocalFacts facts = LocalItem::Stat(folders->SyncFolder(), full);
    switch (facts.kind) {
    case LocalKind::Folder:
        record.kind = XFSFolder;
        return ReadFolderInfo(*folders, full, record);
    case LocalKind::File:
        record.kind = XFSFile;
        return ReadFileInfo(*folders, full, record);
    case LocalKind::Other:
        Log(QStringLiteral("PeltaSync::GetLocalInfo:skipped:") + full + QLatin1Char(':') + facts.what, LogGeneral);
        return InfoMissing;
    case LocalKind::Unknown:
        Log(QStringLiteral("PeltaSync::GetLocalInfo:Err:") + full + QLatin1Char(':') + ErrorSuffix(facts.error),
            LogGeneral);
        return InfoFailed;
    case LocalKind::Missing:
        break;
    }
    return InfoMissing;
}

int PeltaSync::GetFileInfo(const QString& full, PeltaRecVfsSyncFile& record)
{
    return ReadFileInfo(*Folders(), full, record);
}

int PeltaSync::ReadFileInfo(const SyncFolders& folders, const QString& full, PeltaRecVfsSyncFile& record)
{
    record.found = false;
    record.error = false;
    int error = 0;
    const FileDescriptor file = LocalItem::OpenFile(folders.SyncFolder(), full, error);
    if (file.IsOpen() && FileInUse::Check(file.Get(), full))
        error = EBUSY;
    LocalFacts facts;
    if (file.IsOpen() && error == 0) {
        facts = LocalItem::FactsOf(file.Get());
        if (facts.kind != LocalKind::File)
            error = facts.kind == LocalKind::Unknown ? facts.error : EINVAL;
    }
    if (!file.IsOpen() || error != 0) {
        Log(QStringLiteral("GetFileInfo:Err:") + full + QLatin1Char(':') + ErrorSuffix(error), LogGeneral);
        return InfoFailed;
    }
    record.kind = XFSFile;
    record.ctime = static_cast<std::int32_t>(facts.ctime);
    record.mtime = static_cast<std::int32_t>(facts.mtime);
    record.size = facts.size;
    record.found = true;
    return InfoFound;
}

int PeltaSync::GetFolderInfo(const QString& full, PeltaRecVfsSyncFile& record)
{
    return ReadFolderInfo(*Folders(), full, record);
}

int PeltaSync::ReadFolderInfo(const SyncFolders& folders, const QString& full, PeltaRecVfsSyncFile& record)
{
    for (int attempt = 1; attempt <= kFolderAttempts; ++attempt) {
        int error = 0;
        const FileDescriptor folder = LocalItem::OpenFolder(folders.SyncFolder(), full, error);
        LocalFacts facts;
        if (folder.IsOpen()) {
            facts = LocalItem::FactsOf(folder.Get());
            if (facts.kind != LocalKind::Folder)
                error = facts.kind == LocalKind::Unknown ? facts.error : ENOTDIR;
        }
        if (folder.IsOpen() && error == 0) {
            record.kind = XFSFolder;
            record.ctime = static_cast<std::int32_t>(facts.ctime);
            record.mtime = static_cast<std::int32_t>(facts.mtime);
            record.found = true;
            return InfoFound;
        }
        Log(QStringLiteral("GetFolderInfo:Err:") + full + QLatin1Char(':') + ErrorSuffix(error), LogGeneral);
        record.found = false;
        if (attempt < kFolderAttempts)
            std::this_thread::sleep_for(kFolderRetryPause);
    }
    return InfoFailed;
}

int PeltaSync::SetFileInfo(const QString& full, std::int64_t mtime, std::int64_t* readBack)
{
    const QString root = SyncFolder();
    int error = 0;
    if (!LocalItem::SetModificationTime(root, full, mtime, error)) {
        Log(QStringLiteral("SetFileInfo:Err:") + full + QLatin1Char(':') + ErrorSuffix(error), LogGeneral);
        return InfoFailed;
    }
    // File systems that keep coarser or narrower times (FAT, exFAT, some
    // network mounts) hold a time near mtime, not mtime itself; storing mtime
    // would make the file look changed at every later comparison.
    const LocalFacts facts = LocalItem::Stat(root, full);
    if (readBack != nullptr)
        *readBack = facts.kind == LocalKind::File ? facts.mtime : mtime;
    return InfoFound;
}

bool PeltaSync::IsFileLocked(const QString& full)
{
    int error = 0;
    const FileDescriptor file = LocalItem::OpenFile(SyncFolder(), full, error);
    return !file.IsOpen() || FileInUse::Check(file.Get(), full);
}

bool PeltaSync::SnapshotLockedFile(PeltaRecVfsSyncFile& record)
{
    if (record.kind != XFSFile)
        return false;
    if (!RecordKey::IsValid(record.key)) {
        Log(QStringLiteral("PeltaSync::SnapshotLockedFile:no key:") + record.path, LogGeneral);
        return false;
    }
    const auto folders = Folders();
    const QString source =
        Full(*folders, Relative(*folders, record.path, QStringLiteral("PeltaSync::SnapshotLockedFile")));
    if (source.isEmpty() || !EnsureCacheDir())
        return false;
    // No row exists yet: the copy has the key alone and goes to the row that
    // registers the file next.
    const QString snapshot = UploadSnapshot::PendingPathOf(folders->CacheDir(), record.key);
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    int error = 0;
    if (!FileCopy::Replacing(folders->SyncFolder(), source, snapshot, size, mtime, error)) {
        Log(QStringLiteral("PeltaSync::SnapshotLockedFile:Err:") + source + QLatin1Char(':') + ErrorSuffix(error),
            LogGeneral);
        return false;
    }
    const LocalFacts facts = LocalItem::Stat(folders->SyncFolder(), snapshot);
    record.mtime = static_cast<std::int32_t>(mtime);
    record.ctime = static_cast<std::int32_t>(facts.kind == LocalKind::File ? facts.ctime : mtime);
    record.size = size;
    SetFileMessage(record.path, FileStateInUse);
    return true;
}

bool PeltaSync::EnsureCacheDir()
{
    const auto folders = Folders();
    if (!folders->IsUsable())
        return false;
    const LocalFacts facts = LocalItem::Stat(folders->SyncFolder(), folders->CacheDir());
    if (facts.kind == LocalKind::Folder)
        return true;
    int error = facts.kind == LocalKind::Unknown ? facts.error : EEXIST;
    if (facts.kind == LocalKind::Missing && LocalItem::MakeFolder(folders->SyncFolder(), folders->CacheDir(), error))
        return true;
    Log(QStringLiteral("PeltaSync::EnsureCacheDir:Err:") + folders->CacheDir() + QLatin1Char(':') + ErrorSuffix(error),
        LogGeneral);
    return false;
}

void PeltaSync::HideFile(const QString& /*full*/) {}

void PeltaSync::SetFileMessage(const QString& path, int state)
{
    status_.SetFileState(path, state);
}

void PeltaSync::UpdateFileMTime(const QString& path, int kind)
{
    const auto folders = Folders();
    const QString full = Full(*folders, Relative(*folders, path, QStringLiteral("PeltaSync::UpdateFileMTime")));
    if (full.isEmpty())
        return;
    const LocalKind wanted = kind == XFSFile ? LocalKind::File : LocalKind::Folder;
    if (LocalItem::Stat(folders->SyncFolder(), full).kind != wanted)
        return;
    PeltaRecVfsSyncFile record;
    record.kind = kind;
    record.path = path;
    GetLocalInfo(record);
    if (!record.found || record.kind != kind)
        return;
    FillRecordKeys(record);
    if (Guarded("PeltaSync::UpdateFileMTime", [&] { db_->RecSetMtime(record.key, kind, record.mtime); }))
        Log(QStringLiteral("PeltaSync::UpdateFileMTime::") + path + QLatin1Char(',') + QString::number(record.mtime),
            LogSync);
}
