#include "sync/engine/SyncFolders.h"

#include "foundation/Constants.h"

SyncFolders::SyncFolders(const QString& folder)
{
    QString cleaned = folder;
    while (cleaned.size() > 1 && cleaned.endsWith(QLatin1Char('/')))
        cleaned.chop(1);
    if (!cleaned.startsWith(QLatin1Char('/')) || cleaned == QLatin1String("/"))
        return;
    syncFolder_ = cleaned;
    cacheDir_ = syncFolder_ + QLatin1Char('/') + CacheFolderName;
}
