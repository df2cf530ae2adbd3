#pragma once

// Binds this computer to a member account without the first-run wizard, the
// way the wizard binds a new device: signs in with the member login,
// imports the registry settings (a new agent key, the install and sync
// folders), stores the binding, and registers the agent and its sync folder
// with the service. The hosts are those of the debug file in the data
// folder. For the local demo and for scripted set-ups:
//
//   tessaron-bind --login L --password P [--agent-name N] [--sync-folder F]

#include <QString>

class ConsoleBinding {
public:
    struct Request {
        QString login;
        QString password;
        QString agentName;   // the computer's name when empty
        QString syncFolder;  // the stored or default sync folder when empty
    };

    static int Run(int argc, char** argv);

    // Needs an application object. True with the bound sync folder in
    // folder; false with the reason in error.
    static bool Bind(const Request& request, QString& folder, QString& error);
};
