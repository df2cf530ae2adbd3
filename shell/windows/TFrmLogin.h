#pragma once

// The compact sign-in form: login, password and computer name, a sign-in
// button, a hidden network-settings button and a button that opens the
// member registration page. It signs in on its own login thread and, on
// success, stores the binding, registers the agent with the service and
// goes to the main step. Its texts are fixed, not resource texts. The
// control form's step machine reports to it as a LoginFormView: the outcome
// of a stored login in the status line, and the form hidden at the main step.
//
// User-interface thread only.

#include "shell/control/LoginFormView.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class Prompter;
class QLabel;
class QLineEdit;
class QPushButton;
class TFrmControl;
class WindowLogin;

class TFrmLogin : public QDialog, public LoginFormView {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QString& url)>;
    using PreferenceOpener = std::function<void(int page)>;

    TFrmLogin(TFrmControl& control, Prompter& prompter, QWidget* parent = nullptr);
    ~TFrmLogin() override;

    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    void SetPreferenceOpener(PreferenceOpener opener) { showPreference_ = std::move(opener); }

    void LoadReg();
    void FormShow();
    // The caption; again when the language changes.
    void ReadCaptions();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void OnLoginResult(int code, const QString& message);

    // LoginFormView.
    void ShowLoginStatus(const QString& text) override;
    void HideLoginForm() override { hide(); }

    QLineEdit* LoginEdit() const { return txtLogin_; }
    QLineEdit* PasswordEdit() const { return txtPass_; }
    QLineEdit* ComputerNameEdit() const { return txtComputerName_; }
    QLabel* Status() const { return lblStatus_; }
    QPushButton* SignInButton() const { return btnSignIn_; }
    QPushButton* NetworkButton() const { return btnNetwork_; }
    bool Busy() const;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnRegistered(bool registered);

    TFrmControl& control_;
    Prompter& prompter_;
    UrlOpener openUrl_;
    PreferenceOpener showPreference_;
    std::unique_ptr<WindowLogin> signIn_;

    QLabel* lblStatus_ = nullptr;
    QLineEdit* txtLogin_ = nullptr;
    QLineEdit* txtPass_ = nullptr;
    QLineEdit* txtComputerName_ = nullptr;
    QPushButton* btnSignIn_ = nullptr;
    QPushButton* btnNetwork_ = nullptr;
    QPushButton* btnRegister_ = nullptr;
};
