// PeltaSync: queueing the download of a stored file for the request worker.

#include "sync/engine/PeltaSync.h"

#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "sync/rules/RecordKey.h"

bool PeltaSync::QueueFileGet(const PeltaRecVfsSyncFile& record)
{
    const QString path = ToRelativePath(record.path);
    if (path.isEmpty() || path == QLatin1String("\\") || path != record.path) {
        Log(QStringLiteral("PeltaSync:QueueFileGet:not an item path:") + record.path, LogGeneral);
        return false;
    }
    if (!RecordKey::IsValid(record.key)) {
        Log(QStringLiteral("PeltaSync:QueueFileGet:stored row without a valid key:") + path, LogGeneral);
        return false;
    }
    const QString action = XSYNCName(XSYNCFileGet);
    bool open = false;
    bool queued = false;
    Guarded("PeltaSync:QueueFileGet", [&] {
        open = db_->RequestPending(path, XSYNCFileGet, 0);
        if (!open)
            queued = open = db_->AddSyncRequest(record, XSYNCFileGet, false);
    });
    if (!queued) {
        Log(QStringLiteral("Add queue fail:") + action + QLatin1Char(':') + path +
                (open ? QStringLiteral(":already exists") : QString()),
            LogGeneral);
        return open;
    }
    Log(QStringLiteral("Add queue success:") + action + QLatin1Char(':') + path, LogGeneral);
    Log(QStringLiteral("PeltaSync:event:evtRequestFileTransfer"), LogEvent);
    evtRequestFileTransfer.Set();
    return true;
}
