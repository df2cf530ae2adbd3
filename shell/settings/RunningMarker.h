#pragma once

// The running marker ".tessaron" in the marker folder: present while the
// agent runs, holding the Unix time it was written. Nothing is made or
// removed when the marker folder does not exist.

#include <QString>

class RunningMarker {
public:
    static const QString FileName;  // ".tessaron"

    // markerFolder ends with "/".
    static void Set(const QString& markerFolder, bool on);
};
