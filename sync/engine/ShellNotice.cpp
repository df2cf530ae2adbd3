#include "sync/engine/ShellNotice.h"

void ShellNotice::ItemUpdated(const QString& /*relativePath*/) {}

void ShellNotice::AllChanged() {}
