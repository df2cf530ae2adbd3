#pragma once

#include <QString>

// The data folder holds every file the agent keeps for itself (the two
// database files, the debug and log files, the cache and marker files):
// $TESSARON_HOME when that is set, otherwise the per-user application data
// folder ($XDG_DATA_HOME/Pelta/Tessaron, normally ~/.local/share/Pelta/Tessaron).

// The data folder, created (mode 0700) when it does not exist yet. A folder
// that cannot be created is logged; the path is returned all the same, so the
// first file operation in it reports the failure to its caller.
QString DataFolder();

// The path of the named file in the data folder. Every path into the data
// folder is built here.
QString DataFilePath(const QString& name);
