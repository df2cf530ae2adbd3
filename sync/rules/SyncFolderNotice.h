#pragma once

// What the engine tells the user about the sync folder itself. The shell
// implements it; the engine's threads call it from their own threads, so an
// implementation hands the notice on without blocking (for instance through
// UserMessageSink) and never waits for the user-interface thread.

#include <QString>

class SyncFolderNotice {
public:
    virtual ~SyncFolderNotice();

    // The sync folder is not available (its disk is gone, or an empty mount
    // point is in its place): syncing is paused until it is back. reason is
    // a short text for the log and the message.
    virtual void SyncFolderUnavailable(const QString& folder, const QString& reason) = 0;

    // The sync folder is back and syncing goes on.
    virtual void SyncFolderAvailable(const QString& folder) = 0;
};
