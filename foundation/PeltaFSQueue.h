#pragma once

#include <QString>

// One work item between the folder-event threads: a folder event (added,
// removed, modified, renamed or moved) or a resync command, with its paths
// relative to the sync folder.
class PeltaFSQueue {
public:
    PeltaFSQueue() = default;
    PeltaFSQueue(int kind, QString path);
    PeltaFSQueue(int kind, QString path, QString path2);

    void CopyTo(PeltaFSQueue& other) const;
    void Clear();

    int status = 0;  // an XMOKind
    QString path;
    QString path2;   // the new path of a rename or move
};
