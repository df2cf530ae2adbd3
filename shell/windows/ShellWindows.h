#pragma once

// The agent's windows in the program: the first-run wizard, the preferences,
// the login form and, in debug mode, the log window with its log thread.
// Made after the control form and gone before it; user-interface thread
// only.

#include "shell/windows/FolderChooser.h"

#include <QString>

#include <memory>

class PeltaLogThread;
class Prompter;
class TFrmControl;
class TFrmLog;
class TFrmLogin;
class TFrmPreference;
class TFrmWizard;
class UiThreadPost;
class QObject;

class ShellWindows {
public:
    // startStamp: the control form's start time as "yyyyMMddHHmm", which
    // names the log window's file.
    ShellWindows(TFrmControl& control, const QString& startStamp);
    ~ShellWindows();
    ShellWindows(const ShellWindows&) = delete;
    ShellWindows& operator=(const ShellWindows&) = delete;

    void ShowWizard(int mode);
    void ShowPreference(int page);
    // In debug mode: shows the log window and starts moving the log into it.
    void ShowLogWindow();

    TFrmWizard& Wizard() { return *wizard_; }
    TFrmPreference& Preference() { return *preference_; }
    TFrmLogin& Login() { return *login_; }
    TFrmLog& LogWindow() { return *log_; }

private:
    [[maybe_unused]] TFrmControl& control_;
    Prompter& prompter_;
    FolderChooser chooser_;
    std::unique_ptr<QObject> receiver_;
    std::shared_ptr<UiThreadPost> post_;
    std::unique_ptr<TFrmWizard> wizard_;
    std::unique_ptr<TFrmPreference> preference_;
    std::unique_ptr<TFrmLogin> login_;
    std::unique_ptr<TFrmLog> log_;
    std::unique_ptr<PeltaLogThread> logThread_;
};
