#pragma once

// The XDG autostart entry that starts the agent when the user logs in:
// $XDG_CONFIG_HOME/autostart/tessaron.desktop (~/.config when
// XDG_CONFIG_HOME is unset or not absolute). Whether autostart is on is
// whether that file exists; its contents are never inspected.

#include <QString>

// The entry's full path.
QString AutoStartEntryPath();

bool AutoStartEntryExists();

// The entry's text: a desktop entry of type Application that runs the
// executable without arguments. Empty when the path cannot be expressed on
// an Exec line (empty, relative, or holding a control character).
QString AutoStartEntryText(const QString& executablePath);

// The path as one double-quoted argument of a desktop entry's Exec line,
// escaped for that line; also used by the other desktop entries the agent
// writes.
QString DesktopExecArgument(const QString& path);

// Writes the entry for the executable, creating the autostart folder when
// missing. The file is written under a temporary name and renamed, so a
// reader never sees half an entry. False (logged) when it cannot be written.
bool WriteAutoStartEntry(const QString& executablePath);

// Deletes the entry. False (logged) when it exists and cannot be deleted.
bool RemoveAutoStartEntry();
