// The journal replay: what other agents of the account committed, brought
// into the folder and the store.

#include "sync/engine/PeltaSync.h"

#include "sync/engine/JournalReplay.h"

int PeltaSync::ResyncJournal(const QString& position, int mode, bool /*flag*/)
{
    JournalReplay replay(*this);
    return replay.Run(position, mode);
}
