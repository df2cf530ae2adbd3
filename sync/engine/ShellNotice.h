#pragma once

// Tells the file manager that overlay states changed. Linux file managers
// read no overlay markers of ours, so both notices do nothing; the engine
// still sends each one where the shell would want it, through here only.

#include <QString>

class ShellNotice {
public:
    // One item (its relative path) changed its state.
    static void ItemUpdated(const QString& relativePath);
    // Every overlay is to be read again.
    static void AllChanged();
};
