#pragma once

// The member sign-in of a window (the first-run wizard, the login form): runs
// on the window's own login thread, so the user-interface thread never waits
// on the network, and reports each step's code on the user-interface thread
// while the window still exists. One sign-in at a time; Abort stops the one
// in progress, which then reports its failure.
//
// Made and used on the user-interface thread; the control form and the
// receiver outlive it.

#include "platform/Event.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class PeltaLoginThread;
class QObject;
class TFrmControl;
class UiThreadPost;
class XApLogin;

class WindowLogin {
public:
    using Result = std::function<void(int code, const QString& message)>;

    // receiver: the window whose life bounds the reports.
    WindowLogin(TFrmControl& control, QObject* receiver);
    ~WindowLogin();
    WindowLogin(const WindowLogin&) = delete;
    WindowLogin& operator=(const WindowLogin&) = delete;

    // Starts a sign-in; false (nothing started) while one runs.
    bool Start(const QString& login, const QString& password, Result result);
    void Abort();
    bool Busy() const;

private:
    TFrmControl& control_;
    QPointer<QObject> receiver_;
    std::shared_ptr<UiThreadPost> post_;
    Event trigger_{QStringLiteral("WindowLogin"), Event::ResetKind::Automatic};
    std::unique_ptr<XApLogin> client_;
    std::unique_ptr<PeltaLoginThread> thread_;
};
