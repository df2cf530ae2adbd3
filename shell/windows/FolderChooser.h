#pragma once

// Lets the user pick a folder with the platform's folder browser: either the
// place in which the sync folder is to be made (the result is that place +
// "/" + ProgramName) or an existing folder (the result is the folder itself).
//
// A sync folder is refused, with a message and the browser shown again, when
// it is the program's installation folder, lies in or holds the data folder,
// sits directly in the root folder, is in a place that no longer exists (a
// removable device that is gone) or cannot be written. One that exists
// already is taken only after the user agreed.
//
// User-interface thread only; the browser is modal to the owner.

#include <QString>

#include <functional>

class Prompter;
class QWidget;

class FolderChooser {
public:
    enum Mode : int {
        SyncFolderMode = 0,      // the place of a new sync folder
        ExistingFolderMode = 1,  // any existing folder
    };

    // Shows the browser; returns the chosen folder, empty when cancelled.
    using Browser = std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

    // dataFolder: the agent's data folder, never part of a sync folder.
    FolderChooser(Prompter& prompter, QString dataFolder, Browser browser = {});

    // True with the folder in out when one was accepted; false (out holds
    // the start folder) when the user cancelled.
    bool SelectFolderDialog(QWidget* owner, const QString& start, const QString& installFolder, QString& out,
                            int mode);
    bool SelectSyncFolder(QWidget* owner, const QString& start, const QString& installFolder, QString& out);
    bool SelectNewSyncFolder(QWidget* owner, const QString& start, QString& out);
    bool SelectFolder(QWidget* owner, const QString& start, QString& out, int mode);

    // Why the sync folder cannot be used; empty when it can.
    static QString Refusal(const QString& candidate, const QString& installFolder, const QString& dataFolder);

    // The selection the browser opens at: the start of the last
    // existing-folder choice (empty before one).
    const QString& InitialSelection() const { return initialSelection_; }

    // Qt's folder dialog.
    static QString BrowseWithDialog(QWidget* owner, const QString& title, const QString& start);

private:
    Prompter& prompter_;
    const QString dataFolder_;
    Browser browser_;
    QString initialSelection_;
};
