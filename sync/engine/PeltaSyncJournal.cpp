// The journal replay: what other agents of the account committed, brought
// into the folder and the store.

#include "sync/engine/PeltaSync.h"

// The replay is not here yet: this only tells the caller that the engine
// found nothing to replay, so no position is ever stored from it.
int PeltaSync::ResyncJournal(const QString& position, int mode, bool /*flag*/)
{
    if (!IsRunning())
        return -1;
    if (mode == 1)
        Log(QStringLiteral("ResyncJournal:") + position, LogGeneral);
    return 0;
}
