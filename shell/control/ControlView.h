#pragma once

// What the control form shows: the tray icon with its tool-tip, balloons and
// menu, message boxes, and what it opens on the desktop. The control form
// decides; the view only shows. Called on the user-interface thread only.
// The program's view is the tray (TrayView); tests record the calls.

#include <QString>

class ControlView {
public:
    virtual ~ControlView() = default;

    // One of the five tray icons: 0 idle, 1 offline, 2 in sync, 3 and 4
    // synchronising.
    virtual void SetTrayIcon(int index) = 0;
    virtual void SetToolTip(const QString& text) = 0;
    // A balloon; its click comes back as TFrmControl::OnBalloonClicked.
    virtual void ShowBalloon(const QString& title, const QString& text) = 0;
    // A message box that does not wait for the user.
    virtual void ShowMessage(const QString& title, const QString& text) = 0;

    // Menu items.
    virtual void SetQuotaItems(bool enabled, const QString& caption) = 0;
    virtual void SetResyncItem(bool enabled, const QString& caption) = 0;
    virtual void SetHomePageCaption(const QString& caption) = 0;
    virtual void SetLogItemVisible(bool visible) = 0;

    // The desktop.
    virtual void OpenUrl(const QString& url) = 0;
    virtual void OpenFolder(const QString& folder) = 0;
    // Shows the file selected in the file manager, or its folder.
    virtual void SelectFile(const QString& path) = 0;

    // The binding pages of the first-run wizard, in a mode (0 normal, 7 the
    // account is not activated, 10 the stored password was refused).
    virtual void ShowBindingPages(int mode) = 0;

    // Ends the application's event loop (the control form has closed).
    virtual void Quit() = 0;
};
