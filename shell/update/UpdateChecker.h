#pragma once

// Starts the version check and acts on what it reports, on the
// user-interface thread: only one check runs at a time (a start while one
// runs is dropped); a ready program update is started only after the user
// agreed, through the updater in the update folder, detached, and the agent
// then ends; anything else is only told.
//
// Made after the control form and gone before it.

#include "shell/update/PeltaCheckVersionThread.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Prompter;
class TFrmControl;
class UiThreadPost;

class UpdateChecker : public QObject {
    Q_OBJECT

public:
    // Starts a program detached; false when it could not be started.
    using Starter = std::function<bool(const QString& program, const QStringList& arguments)>;

    struct Options {
        QString listUrl;       // empty: the version list's address of the debug file or the default
        QString caFile;        // certificates to trust beyond the system's (tests)
        QString updateFolder;  // empty: the data folder's "update"
        Starter starter;       // empty: QProcess::startDetached
    };

    UpdateChecker(TFrmControl& control, Prompter& prompter, Options options);
    ~UpdateChecker() override;

    // False (nothing started) while a check runs.
    bool Start(bool reportNone);
    bool Running() const;
    void OnReported(const QString& type, const QString& version);

    const QString& UpdateFolder() const { return options_.updateFolder; }
    // The version list's address: CheckVersionUrl on the debug file's
    // update server when it names one.
    static QString ListUrl(const QString& updateServer);

private:
    void StartUpdater(bool dev);

    TFrmControl& control_;
    Prompter& prompter_;
    Options options_;
    std::shared_ptr<UiThreadPost> post_;
    std::unique_ptr<PeltaCheckVersionThread> thread_;
};
