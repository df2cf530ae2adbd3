// PeltaSync: the local rescan.

#include "sync/engine/PeltaSync.h"

#include "sync/engine/LocalRescan.h"

PassResult PeltaSync::ResyncLocal(const QString& path, bool checkFile, bool removeMissing, bool /*unused*/)
{
    LocalRescan pass(*this, checkFile, removeMissing);
    return pass.Run(path);
}
