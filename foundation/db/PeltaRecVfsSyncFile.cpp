#include "foundation/db/PeltaRecVfsSyncFile.h"

void PeltaRecVfsSyncFile::Clear()
{
    *this = PeltaRecVfsSyncFile();
}

void PeltaRecVfsSyncFile::Assign(const PeltaRecVfsSyncFile* source)
{
    if (!source) {
        Clear();
        return;
    }
    *this = *source;
}
