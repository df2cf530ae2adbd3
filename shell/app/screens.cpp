// Renders every window of the agent and every page of the first-run wizard
// into PNG files, on Qt's offscreen platform, so that they can be looked at
// without a desktop. The agent runs against a data folder of its own made
// for the run; nothing reaches the network.
//
//   tessaron-screens OUTPUT_FOLDER

#include "shell/control/TFrmControl.h"
#include "shell/entry/LogView.h"
#include "shell/windows/FolderChooser.h"
#include "shell/windows/Prompter.h"
#include "shell/windows/TFrmLog.h"
#include "shell/windows/TFrmLogin.h"
#include "shell/windows/TFrmPreference.h"
#include "shell/windows/TFrmWizard.h"

#include "foundation/log/PeltaLog.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"
#include "platform/RegistryStore.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Questions are answered No; nothing is shown.
class SilentPrompter : public Prompter {
public:
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    bool AskOkCancel(QWidget*, const QString&, const QString&) override { return false; }
    void Tell(QWidget*, const QString&) override {}
};

class Camera {
public:
    explicit Camera(QString folder) : folder_(std::move(folder)) {}

    bool Take(QWidget& window, const QString& name)
    {
        if (!window.isVisible())
            window.show();
        window.adjustSize();
        window.resize(window.sizeHint().expandedTo(window.minimumSizeHint()).expandedTo(QSize(520, 0)));
        QApplication::processEvents();
        const QString path = QDir(folder_).filePath(name + QStringLiteral(".png"));
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "tessaron-screens: %s could not be written\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
        ++taken_;
        return true;
    }

    int Taken() const { return taken_; }

private:
    const QString folder_;
    int taken_ = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessaron-screens OUTPUT_FOLDER\n");
        return 2;
    }
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir().mkpath(output) || !QDir().mkpath(scratch.filePath(QStringLiteral("data"))) ||
        !QDir().mkpath(scratch.filePath(QStringLiteral("home")))) {
        std::fprintf(stderr, "tessaron-screens: the folders cannot be made\n");
        return 1;
    }
    qputenv("TESSARON_HOME", scratch.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("HOME", scratch.filePath(QStringLiteral("home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(Xi18n::Text(XText::_APPName));
    const std::unique_ptr<RegistryStore> registry = RegistryStore::InMemory();
    LogView view;
    TFrmControl::Options options;
    options.registry = registry.get();
    TFrmControl control(view, options);
    SilentPrompter prompter;
    FolderChooser chooser(prompter, scratch.filePath(QStringLiteral("data")));
    Camera camera(output);

    {
        TFrmWizard wizard(control, prompter, chooser);
        wizard.show();
        wizard.FormShow();
        wizard.LoginEdit()->setText(QStringLiteral("demo"));
        wizard.PasswordEdit()->setText(QStringLiteral("password"));
        const QStringList pages = {QStringLiteral("Login"), QStringLiteral("Setting"), QStringLiteral("Step1"),
                                   QStringLiteral("Step2"), QStringLiteral("Done")};
        int number = 0;
        for (const QString& page : pages) {
            wizard.PreviewPage(page);
            camera.Take(wizard, QStringLiteral("wizard-%1-%2").arg(++number).arg(page.toLower()));
        }
        wizard.hide();
    }
    {
        TFrmPreference preferences(control, prompter, chooser);
        const QStringList tabs = {QStringLiteral("general"), QStringLiteral("proxy"), QStringLiteral("bandwidth"),
                                  QStringLiteral("links")};
        for (int tab = 0; tab < tabs.size(); ++tab) {
            preferences.ShowAt(tab);
            camera.Take(preferences, QStringLiteral("preferences-%1-%2").arg(tab + 1).arg(tabs[tab]));
        }
        preferences.hide();
    }
    {
        TFrmLog log(control, QString());
        log.AddLog(QStringLiteral("120000 FrmControl::GotoStep::XGOSplash\n120001 FrmControl::GotoStep::XGOLogin\n"));
        camera.Take(log, QStringLiteral("log-window"));
        log.hide();
    }
    {
        TFrmLogin login(control, prompter);
        login.LoadReg();
        camera.Take(login, QStringLiteral("login-form"));
        login.hide();
    }
    {
        QFileDialog browser(nullptr, FormatText(Xi18n::Text(XText::_ML0701), {Xi18n::Text(XText::_APPName)}),
                            scratch.filePath(QStringLiteral("home")));
        browser.setFileMode(QFileDialog::Directory);
        browser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        camera.Take(browser, QStringLiteral("folder-chooser"));
        browser.hide();
    }
    control.FormClose();
    std::printf("tessaron-screens: %d pictures in %s\n", camera.Taken(), qPrintable(output));
    return camera.Taken() == 12 ? 0 : 1;
}
