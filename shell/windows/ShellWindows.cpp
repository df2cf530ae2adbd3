#include "shell/windows/ShellWindows.h"

#include "shell/control/TFrmControl.h"
#include "shell/control/UiThreadPost.h"
#include "shell/windows/PeltaLogThread.h"
#include "shell/windows/Prompter.h"
#include "shell/windows/TFrmLog.h"
#include "shell/windows/TFrmLogin.h"
#include "shell/windows/TFrmPreference.h"
#include "shell/windows/TFrmWizard.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"

#include <QObject>
#include <QPointer>

ShellWindows::ShellWindows(TFrmControl& control, const QString& startStamp)
    : control_(control), prompter_(MessageBoxPrompter::Shared()), chooser_(prompter_, control.Reg().ProgramFolder()),
      receiver_(std::make_unique<QObject>()), post_(std::make_shared<UiThreadPost>(receiver_.get())),
      wizard_(std::make_unique<TFrmWizard>(control, prompter_, chooser_)),
      preference_(std::make_unique<TFrmPreference>(control, prompter_, chooser_)),
      login_(std::make_unique<TFrmLogin>(control, prompter_)),
      log_(std::make_unique<TFrmLog>(control, control.Reg().ProgramFolder() + QStringLiteral("/debug_") +
                                                  startStamp + QStringLiteral(".log")))
{
    login_->SetPreferenceOpener([this](int page) { ShowPreference(page); });
    control_.SetLoginForm(login_.get());
}

ShellWindows::~ShellWindows()
{
    control_.SetLoginForm(nullptr);
    post_->Close();
    if (logThread_) {
        logThread_->StopAndJoin();
        log_->SetShown(false);
        if (DebugMode.load())
            log_->SaveLog(false);
    }
}

void ShellWindows::ShowWizard(int mode)
{
    preference_->hide();
    wizard_->ShowWizard(mode);
}

void ShellWindows::ShowPreference(int page)
{
    preference_->ShowAt(page);
}

void ShellWindows::ShowLogWindow()
{
    if (!DebugMode.load())
        return;
    log_->show();
    if (logThread_)
        return;
    logThread_ = std::make_unique<PeltaLogThread>(
        AppLog, evtLog, [post = post_, window = QPointer<TFrmLog>(log_.get())](const QString& text) {
            post->Post([window, text] {
                if (window && window->Shown())
                    window->AddLog(text);
            });
        });
    logThread_->Start();
}
