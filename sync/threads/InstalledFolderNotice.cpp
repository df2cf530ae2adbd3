#include "sync/threads/InstalledFolderNotice.h"

#include "sync/engine/EngineNotices.h"

void InstalledFolderNotice::SyncFolderUnavailable(const QString& folder, const QString& reason)
{
    if (const auto notices = EngineNotices::Installed())
        notices->SyncFolderUnavailable(folder, reason);
}

void InstalledFolderNotice::SyncFolderAvailable(const QString& folder)
{
    if (const auto notices = EngineNotices::Installed())
        notices->SyncFolderAvailable(folder);
}
