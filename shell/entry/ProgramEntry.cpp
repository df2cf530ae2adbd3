#include "shell/entry/ProgramEntry.h"

#include "shell/control/TFrmControl.h"
#include "shell/entry/CommandLine.h"
#include "shell/entry/InstanceLock.h"
#include "shell/entry/StopSignals.h"
#include "shell/tray/DesktopOpener.h"
#include "shell/tray/TrayView.h"
#include "shell/update/UpdateChecker.h"
#include "shell/windows/Prompter.h"
#include "shell/windows/ShellWindows.h"
#ifdef TESSARON_HAVE_SYNC_ENGINE
#include "shell/engine/SyncEngineControl.h"
#endif

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/DataFolder.h"
#include "foundation/text/Xi18n.h"
#include "platform/RegistryStore.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

void Say(const QString& text)
{
    std::fprintf(stderr, "tessaron: %s\n", qPrintable(text));
    AppLog.Write(QStringLiteral("ProgramEntry: ") + text, LogGeneral);
}

// Without a display the agent runs on Qt's offscreen platform: no tray, no
// windows, the log on the terminal.
bool NoDisplay()
{
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The sync folder as the registry holds it; empty when there is none.
QString RegistrySyncFolder()
{
    return RegistryStore::Shared().ReadString(ProgramRegKey, QStringLiteral("sync_folder")).value_or(QString());
}

void ShowHomeFolder()
{
    const QString folder = RegistrySyncFolder();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        DesktopOpener::ShowFolder(folder);
}

bool DataFolderUsable()
{
    const QFileInfo data(DataFolder());
    if (data.isDir() && data.isWritable())
        return true;
    Say(QStringLiteral("the data folder %1 cannot be made or written; the agent cannot run").arg(data.filePath()));
    return false;
}

TFrmControl::Options ControlOptions(bool logToTerminal)
{
    TFrmControl::Options options;
    options.logToTerminal = logToTerminal;
#ifdef TESSARON_HAVE_SYNC_ENGINE
    options.engineFactory = [](PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices) {
        return std::make_unique<SyncEngineControl>(reg, settings, std::move(notices));
    };
#endif
    return options;
}

}  // namespace

int ProgramEntry::Run(int argc, char** argv)
{
    const CommandLine commandLine(argc, argv);
    const bool headless = NoDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Pelta"));
    QApplication::setApplicationName(QStringLiteral("Tessaron"));
    QApplication::setApplicationDisplayName(Xi18n::Text(XText::_APPName));
    QApplication::setQuitOnLastWindowClosed(false);

    if (!DataFolderUsable())
        return 1;
    InstanceLock lock;
    if (commandLine.mode() == CommandLine::Mode::Update) {
        if (!lock.WaitAndAcquire(std::chrono::seconds(UpdateWaitSeconds))) {
            Say(QStringLiteral("the running agent did not end within %1 s; this start ends").arg(UpdateWaitSeconds));
            return 1;
        }
    } else if (!lock.TryAcquire()) {
        if (commandLine.mode() == CommandLine::Mode::Home)
            ShowHomeFolder();
        Say(QStringLiteral("the agent runs already (%1)").arg(lock.Path()));
        return 0;
    } else if (commandLine.mode() == CommandLine::Mode::Home) {
        ShowHomeFolder();
    }

    const bool offscreen = QApplication::platformName() == QLatin1String("offscreen");
    TrayView view(TrayView::Options{!offscreen, !offscreen});
    std::unique_ptr<ShellWindows> windows;
    std::unique_ptr<UpdateChecker> updates;
    TFrmControl::Options options = ControlOptions(!view.HasTray());
    if (!offscreen) {
        options.showPreference = [&windows](int page) {
            if (windows)
                windows->ShowPreference(page);
        };
        options.versionCheck = [&updates](bool reportNone) {
            if (updates)
                updates->Start(reportNone);
        };
    }
    TFrmControl control(view, std::move(options));
    view.Bind(control);
    if (!offscreen) {
        // The windows need a display; without one the agent runs from its
        // stored binding (tessaron-bind) only.
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmm"));
        windows = std::make_unique<ShellWindows>(control, stamp);
        updates = std::make_unique<UpdateChecker>(control, MessageBoxPrompter::Shared(), UpdateChecker::Options{});
        view.SetBindingPagesHandler([&windows](int mode) { windows->ShowWizard(mode); });
        if (view.HasTray())
            windows->ShowLogWindow();
    }
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &control,
                     [&control](int) { control.GotoStep(XGOExit); });
    AppLog.Write(QStringLiteral("From Create Success"), LogGeneral);
    if (headless)
        AppLog.Write(QStringLiteral("ProgramEntry: no display; the agent runs without a tray"), LogGeneral);

    control.GotoStep(XGOSplash);
    QApplication::exec();
    control.FormClose();
    updates.reset();
    windows.reset();
    return 0;
}
