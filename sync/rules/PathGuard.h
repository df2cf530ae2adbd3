#pragma once

// Paths stay inside the sync folder. Every path that comes from the disk or
// from the service passes here before it touches the disk.
//
// Inside the engine a path is relative to the sync folder and written with
// "\": "\Docs\a.txt", and "\" alone is the sync folder itself. A relative
// path is accepted when it begins with "\" and each of its names
//   - is not empty, "." or "..";
//   - holds no NUL or other control character and no "/" (a "\" cannot be
//     inside a name: it is the separator);
//   - is valid UTF-16 (hence valid UTF-8 once written) and at most 255 UTF-8
//     bytes long.
// A full path lies inside the sync folder when it is the folder itself or
// begins with the folder followed by "/"; a bare prefix is not enough, and
// letter case counts.
//
// Every check returns the reason for a refusal, empty when the path is
// accepted. No state, no locks: any thread may call these.

#include <QByteArray>
#include <QString>

class PathGuard {
public:
    static constexpr int MaxNameBytes = 255;

    // A relative path with "\" separators ("\" alone is accepted).
    static QString CheckRelative(const QString& relative);

    // One name of a local item, as the engine holds it.
    static QString CheckName(const QString& name);

    // One name as the file system gives it: valid UTF-8, then CheckName. A
    // name that contains "\" or is not UTF-8 cannot be represented inside
    // the engine.
    static QString CheckDiskName(const QByteArray& name);

    // A path of the service (decoded, "/" separators, "/" alone the whole
    // folder) as a relative path; empty with reason set when refused. A "\"
    // in the service's text is refused: it would become a separator here.
    static QString FromServicePath(const QString& servicePath, QString& reason);

    // True when full is folder itself or lies below it. folder is an
    // absolute path; a trailing "/" on it is ignored.
    static bool IsInside(const QString& folder, const QString& full);

    // Logs a refusal: "<where>:refused:<path>:<reason>".
    static void LogRefused(const QString& where, const QString& path, const QString& reason);
};
