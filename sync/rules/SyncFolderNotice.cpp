#include "sync/rules/SyncFolderNotice.h"

SyncFolderNotice::~SyncFolderNotice() = default;
