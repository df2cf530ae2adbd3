#pragma once

// What a thread's look at the sync folder tells (gone, back), handed to the
// engine notices installed at the time; nothing when none are installed.

#include "sync/rules/SyncFolderNotice.h"

class InstalledFolderNotice : public SyncFolderNotice {
public:
    void SyncFolderUnavailable(const QString& folder, const QString& reason) override;
    void SyncFolderAvailable(const QString& folder) override;
};
