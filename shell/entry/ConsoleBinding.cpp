#include "shell/entry/ConsoleBinding.h"

#include "shell/control/TFrmControl.h"
#include "shell/entry/LogView.h"

#include "client/XApLogin.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/DataFolder.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>
#include <optional>

namespace {

bool SignIn(TFrmControl& control, const ConsoleBinding::Request& request, QString& error)
{
    XApLogin login;
    if (!control.Debug().accountServer.isEmpty())
        login.SetAccountUrls(control.Debug().MemberTokenUrl(), control.Debug().ClientAuthUrl());
    login.SetStore(&control.Settings());
    login.SetFacade(&control.Reg());
    login.SetCredentials(request.login, request.password);
    QString message;
    login.SetCallback([&message](int code, const QString& text) {
        if (code >= XApLogin::CodeWrongPassword)
            message = text.isEmpty() ? QStringLiteral("login failed (code %1)").arg(code) : text;
    });
    if (login.Login())
        return true;
    error = message.isEmpty() ? QStringLiteral("login failed") : message;
    return false;
}

bool RegisterFolder(TFrmControl& control, const QString& folder, QString& error)
{
    std::optional<bool> registered;
    QEventLoop loop;
    control.ChangeSyncFolder(folder, true, [&](bool changed) {
        registered = changed;
        loop.quit();
    });
    if (!registered)
        loop.exec();
    if (*registered)
        return true;
    error = QStringLiteral("the service did not take the agent and its sync folder ") + folder;
    return false;
}

}  // namespace

bool ConsoleBinding::Bind(const Request& request, QString& folder, QString& error)
{
    LogView view;
    TFrmControl control(view, TFrmControl::Options{});
    if (!SignIn(control, request, error))
        return false;
    control.ImportRegistrySettings();
    const QString agentName = request.agentName.isEmpty() ? control.Reg().GetComputerName() : request.agentName;
    control.SaveBinding(request.login, request.password, agentName);
    AppState = XAPPOnline;
    folder = request.syncFolder.isEmpty() ? control.Reg().GetSyncFolder() : request.syncFolder;
    const bool bound = RegisterFolder(control, folder, error);
    control.FormClose();
    return bound;
}

int ConsoleBinding::Run(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Pelta"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaron"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Binds this computer to a member account."));
    parser.addHelpOption();
    const QCommandLineOption login(QStringLiteral("login"), QStringLiteral("The account's login."), QStringLiteral("login"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("The account's password."),
                                      QStringLiteral("password"));
    const QCommandLineOption agentName(QStringLiteral("agent-name"), QStringLiteral("This computer's name."),
                                       QStringLiteral("name"));
    const QCommandLineOption syncFolder(QStringLiteral("sync-folder"), QStringLiteral("The sync folder."),
                                        QStringLiteral("folder"));
    parser.addOptions({login, password, agentName, syncFolder});
    parser.process(application);
    if (!parser.isSet(login) || !parser.isSet(password)) {
        std::fprintf(stderr, "tessaron-bind: --login and --password are needed\n");
        return 2;
    }
    if (!QFileInfo(DataFolder()).isDir()) {
        std::fprintf(stderr, "tessaron-bind: the data folder %s cannot be made\n", qPrintable(DataFolder()));
        return 1;
    }
    QString folder;
    QString error;
    QString chosenFolder = parser.value(syncFolder);
    if (!chosenFolder.isEmpty())
        chosenFolder = QDir::cleanPath(QFileInfo(chosenFolder).absoluteFilePath());  // relative to here
    const Request request{parser.value(login), parser.value(password), parser.value(agentName), chosenFolder};
    if (!Bind(request, folder, error)) {
        std::fprintf(stderr, "tessaron-bind: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("tessaron-bind: this computer is bound to %s; sync folder %s\n", qPrintable(request.login),
                qPrintable(folder));
    return 0;
}
