#pragma once

// The agent's shortcuts as freedesktop files: a desktop entry
// "Tessaron.desktop" on the user's desktop that runs the program with
// "/home" (working folder: the sync folder), and a bookmark of the sync
// folder in the file manager's bookmarks file
// ($XDG_CONFIG_HOME/gtk-3.0/bookmarks) when that file exists. Each replaces
// the one it wrote before; nothing else in the bookmarks file changes.

#include <QString>

class Shortcuts {
public:
    static const QString EntryName;      // "Tessaron.desktop"
    static const QString BookmarkLabel;  // "Tessaron"

    // The desktop entry is written only when the desktop folder exists.
    // program: the executable's full path. Failures are logged.
    static void Create(const QString& program, const QString& syncFolder);

    static QString DesktopEntryPath();
    static QString BookmarksPath();
    // The entry's text; empty when a path cannot be written into it.
    static QString DesktopEntryText(const QString& program, const QString& syncFolder);

private:
    static void WriteDesktopEntry(const QString& program, const QString& syncFolder);
    static void WriteBookmark(const QString& syncFolder);
};
