#pragma once

// Opening things on the desktop: web pages and folders in the user's
// applications, and a file selected in the file manager. The file manager
// is asked over D-Bus (org.freedesktop.FileManager1), which brings a window
// that already shows the folder to the front; without an answer, the folder
// is opened the usual way. Nothing here waits for the answer.

#include <QString>

#include <functional>

class DesktopOpener {
public:
    static void OpenUrl(const QString& url);
    // Shows the folder in the file manager, or opens it.
    static void ShowFolder(const QString& folder);
    // Shows the file selected, or opens its folder.
    static void SelectFile(const QString& path);

private:
    static void AskFileManager(const QString& method, const QString& path, std::function<void()> fallback);
};
