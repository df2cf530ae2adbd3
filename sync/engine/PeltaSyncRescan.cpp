// PeltaSync: the local rescan.

#include "sync/engine/PeltaSync.h"

// Entry point of the rescan pass. The pass itself is not here yet: this only
// logs its start, so a moved folder's contents are not compared until it is.
void PeltaSync::ResyncLocal(const QString& path, bool checkFile, bool /*removeMissing*/, bool /*unused*/)
{
    Log(QStringLiteral("PeltaSync::ResyncLocal Start:") + path + QStringLiteral(", checkFile=") +
            (checkFile ? QStringLiteral("true") : QStringLiteral("false")),
        LogSync);
}
