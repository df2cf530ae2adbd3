#pragma once

// The first-run wizard: binds this computer to a member account. The user
// gives the account's login and password and a name for this computer; the
// sign-in runs on the wizard's own login thread (the window stays usable,
// Escape stops a sign-in in progress); an earlier binding of the same account
// and computer name can be reused; otherwise the sync folder is chosen and the
// control form stores the binding, registers the agent and its folder with
// the service and goes to the main step.
//
// Pages, by name: "Login", "Setting" (reuse the earlier binding?), "Done",
// "Step1" (default or own folder), "Step2" (place of the folder).
//
// User-interface thread only. The control form, the prompter and the folder
// chooser outlive the wizard.

#include "shell/windows/FolderChooser.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class PeltaSyncAgentSetting;
class Prompter;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QWidget;
class TFrmControl;
class WindowLogin;

class TFrmWizard : public QDialog {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QString& url)>;

    enum Mode : int { ModeNormal = 0, ModeNotActivated = 7, ModeWrongPassword = 10 };

    TFrmWizard(TFrmControl& control, Prompter& prompter, FolderChooser& chooser, QWidget* parent = nullptr);
    ~TFrmWizard() override;

    // Shows the wizard modal to the application, in a mode; the event loop
    // goes on (no nested loop).
    void ShowWizard(int mode);
    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }

    // Handlers.
    void FormShow();
    // The captions taken from the texts; again when the language changes.
    void ReadCaptions();
    void btnNextClick();
    void btnPrevClick();
    void Notebook1PageChanged();
    void btnChangeDirClick();
    void btnChangeDir2Click();
    // A sign-in's progress and outcome (the login's codes; 0 before it starts).
    void OnWizardLoginResult(int code, const QString& message);
    // Stops a sign-in in progress; the wizard stays open.
    void CancelLogin();

    // For the program, the tests and the screenshots.
    QString PageName() const;
    void GotoPage(const QString& name);
    // Shows a page as the user sees it without running what entering it
    // does (no sign-in, no binding): for pictures of the pages.
    void PreviewPage(const QString& name);
    bool Finished() const { return finished_; }
    bool LoginBusy() const { return loginBusy_; }
    const QString& ChosenFolder() const { return chosenFolder_; }
    bool CustomFolder() const { return customFolder_; }
    QLineEdit* LoginEdit() const { return edtLogin_; }
    QLineEdit* PasswordEdit() const { return edtPass_; }
    QLineEdit* ComputerNameEdit() const { return edtComputerName_; }
    QLabel* LoginStatus() const { return lblLoginStatus_; }
    QLabel* DoneStatus() const { return lblDoneStatus_; }
    QLabel* DefaultFolderLabel() const { return lblDefaultFolder_; }
    QPushButton* NextButton() const { return btnNext_; }
    QPushButton* BackButton() const { return btnPrev_; }
    QRadioButton* ReuseButton() const { return rbReuse_; }
    QRadioButton* NewDeviceButton() const { return rbNewDevice_; }
    QRadioButton* NormalButton() const { return rbNormal_; }
    QRadioButton* CustomButton() const { return rbCustom_; }
    QPushButton* ChooseButton() const { return btnChangeDir2_; }
    QProgressBar* Progress() const { return progress_; }

    // The folder shown as the place of the default sync folder: the folder
    // without a last component named like the program (any letter case) and
    // without a trailing separator.
    static QString FolderPlace(const QString& folder);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* BuildLoginPage();
    QWidget* BuildSettingPage();
    QWidget* BuildDonePage();
    QWidget* BuildStep1Page();
    QWidget* BuildStep2Page();

    void ResetWizard();
    void CheckFields();
    void OnFieldEnter(QLineEdit* field);
    bool FieldsComplete() const;
    void EnableButtons(bool on);
    void SetStatus(QLabel* label, const QString& text);
    void DoWizardLogin(const QString& login, const QString& password);
    void BindReusedSettings();
    void BindNewDevice();
    void OnFolderRegistered(bool registered);
    void ChooseFolder(QPushButton* button, bool newFolder);
    void PageSettingCheck();
    void PageStep1Check();
    void PageStep2Check();
    void Open(const QString& url);

    TFrmControl& control_;
    Prompter& prompter_;
    FolderChooser& chooser_;
    UrlOpener openUrl_;

    QString login_;
    QString password_;
    QString computerName_;
    QString chosenFolder_;
    QString lastPage_;
    int mode_ = ModeNormal;
    bool finished_ = false;
    bool activateMode_ = false;
    bool reuseOffered_ = false;
    bool newDevice_ = false;
    bool reuseChosen_ = false;
    bool customFolder_ = false;
    bool loginBusy_ = false;
    bool bindingBusy_ = false;
    std::unique_ptr<PeltaSyncAgentSetting> settingsCopy_;

    std::unique_ptr<WindowLogin> signIn_;

    QStackedWidget* notebook_ = nullptr;
    QLabel* lblLoginTitle_ = nullptr;
    QLineEdit* edtLogin_ = nullptr;
    QLineEdit* edtPass_ = nullptr;
    QLineEdit* edtComputerName_ = nullptr;
    QLabel* lblLoginStatus_ = nullptr;
    QLabel* lblAgreement_ = nullptr;
    QLabel* lblRegister_ = nullptr;
    QLabel* lblActivate_ = nullptr;
    QLabel* lblGuide_ = nullptr;
    QCheckBox* cbUserAgreement_ = nullptr;
    QPlainTextEdit* memoSetting_ = nullptr;
    QRadioButton* rbReuse_ = nullptr;
    QRadioButton* rbNewDevice_ = nullptr;
    QLabel* lblDoneTitle_ = nullptr;
    QLabel* lblDoneStatus_ = nullptr;
    QLabel* lblDefaultFolder_ = nullptr;
    QRadioButton* rbNormal_ = nullptr;
    QRadioButton* rbCustom_ = nullptr;
    QPlainTextEdit* memoDefaultFolder_ = nullptr;
    QWidget* folderPanel_ = nullptr;
    QLineEdit* edtChosenFolder_ = nullptr;
    QPushButton* btnChangeDir2_ = nullptr;
    QLabel* lblStep2Title_ = nullptr;
    QRadioButton* rbDefaultPlace_ = nullptr;
    QRadioButton* rbOwnPlace_ = nullptr;
    QPushButton* btnChangeDir_ = nullptr;
    QPlainTextEdit* memoPlace_ = nullptr;
    QPlainTextEdit* memoStep2Folder_ = nullptr;
    QPushButton* btnNext_ = nullptr;
    QPushButton* btnPrev_ = nullptr;
    QProgressBar* progress_ = nullptr;
};
