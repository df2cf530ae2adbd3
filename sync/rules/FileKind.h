#pragma once

// The words for a kind of item that is neither a regular file nor a folder,
// as the log lines name it when such an item is passed over.

#include <QString>

#include <sys/types.h>

class FileKind {
public:
    // "symbolic link", "FIFO", "socket", "device", or "not a regular file
    // or folder" for anything else.
    static QString Name(mode_t mode);
};
