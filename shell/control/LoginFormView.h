#pragma once

// What the step machine shows on the login form: the outcome of a stored
// login or of the agent check in its status line, and the form hidden once
// the agent is signed in. The program's login form implements it; the
// control form works without one. User-interface thread only.

#include <QString>

class LoginFormView {
public:
    virtual ~LoginFormView() = default;

    virtual void ShowLoginStatus(const QString& text) = 0;
    virtual void HideLoginForm() = 0;
};
