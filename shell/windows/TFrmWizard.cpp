#include "shell/windows/TFrmWizard.h"

#include "shell/control/TFrmControl.h"
#include "shell/windows/Prompter.h"
#include "shell/windows/WindowLogin.h"

#include "client/XApLogin.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString PageLogin = QStringLiteral("Login");
const QString PageSetting = QStringLiteral("Setting");
const QString PageDone = QStringLiteral("Done");
const QString PageStep1 = QStringLiteral("Step1");
const QString PageStep2 = QStringLiteral("Step2");
const QString NextCaption = QStringLiteral("下一步");

QString AppName()
{
    return Xi18n::Text(XText::_APPName);
}

QString T(XText name)
{
    return Xi18n::Text(name);
}

QLabel* LinkLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

void SetLinkText(QLabel* label, const QString& text)
{
    label->setText(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()));
}

QPlainTextEdit* Memo(QWidget* parent)
{
    auto* memo = new QPlainTextEdit(parent);
    memo->setReadOnly(true);
    memo->setTabChangesFocus(true);
    // A few lines high, from the font, so the pages stay compact at any scale.
    memo->setMaximumHeight(memo->fontMetrics().lineSpacing() * 4 + 2 * memo->frameWidth() + 8);
    return memo;
}

}  // namespace

TFrmWizard::TFrmWizard(TFrmControl& control, Prompter& prompter, FolderChooser& chooser, QWidget* parent)
    : QDialog(parent), control_(control), prompter_(prompter), chooser_(chooser),
      openUrl_([](const QString& url) { QDesktopServices::openUrl(QUrl(url)); }),
      settingsCopy_(std::make_unique<PeltaSyncAgentSetting>())
{
    setObjectName(QStringLiteral("FrmWizard"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont font = this->font();
    font.setPointSize(12);
    setFont(font);

    notebook_ = new QStackedWidget(this);
    notebook_->addWidget(BuildLoginPage());
    notebook_->addWidget(BuildSettingPage());
    notebook_->addWidget(BuildDonePage());
    notebook_->addWidget(BuildStep1Page());
    notebook_->addWidget(BuildStep2Page());

    btnPrev_ = new QPushButton(QStringLiteral("上一步"), this);
    btnPrev_->setObjectName(QStringLiteral("btnPrev"));
    btnPrev_->setAutoDefault(false);
    btnPrev_->setVisible(false);
    btnNext_ = new QPushButton(NextCaption, this);
    btnNext_->setObjectName(QStringLiteral("btnNext"));
    btnNext_->setDefault(true);
    progress_ = new QProgressBar(this);
    progress_->setVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addStretch();
    buttons->addWidget(btnPrev_);
    buttons->addWidget(btnNext_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notebook_, 1);
    layout->addLayout(buttons);

    connect(btnNext_, &QPushButton::clicked, this, [this] { btnNextClick(); });
    connect(btnPrev_, &QPushButton::clicked, this, [this] { btnPrevClick(); });
    setTabOrder(edtLogin_, edtPass_);
    setTabOrder(edtPass_, edtComputerName_);
    setTabOrder(edtComputerName_, btnNext_);
    ResetWizard();
}

TFrmWizard::~TFrmWizard()
{
    signIn_.reset();
}

// ---- Pages -------------------------------------------------------------------------------

QWidget* TFrmWizard::BuildLoginPage()
{
    auto* page = new QWidget;
    page->setObjectName(PageLogin);
    lblLoginTitle_ = new QLabel(page);
    QFont title = lblLoginTitle_->font();
    title.setBold(true);
    lblLoginTitle_->setFont(title);
    edtLogin_ = new QLineEdit(page);
    edtLogin_->setObjectName(QStringLiteral("edtLogin"));
    edtPass_ = new QLineEdit(page);
    edtPass_->setObjectName(QStringLiteral("edtPass"));
    edtPass_->setEchoMode(QLineEdit::Password);
    edtComputerName_ = new QLineEdit(page);
    edtComputerName_->setObjectName(QStringLiteral("edtComputerName"));
    lblLoginStatus_ = new QLabel(page);
    lblLoginStatus_->setWordWrap(true);
    lblAgreement_ = LinkLabel(QStringLiteral("使用者條款"), page);
    lblAgreement_->setVisible(false);
    lblRegister_ = LinkLabel(QStringLiteral("申請帳號"), page);
    lblActivate_ = LinkLabel(QString(), page);
    lblActivate_->setVisible(false);
    lblGuide_ = LinkLabel(QStringLiteral("?"), page);
    lblGuide_->setToolTip(QStringLiteral("申請帳號"));
    cbUserAgreement_ = new QCheckBox(QStringLiteral("我已經閱讀並同意"), page);
    cbUserAgreement_->setVisible(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("帳號："), edtLogin_);
    form->addRow(QStringLiteral("密碼："), edtPass_);
    form->addRow(QStringLiteral("電腦名稱："), edtComputerName_);
    auto* links = new QHBoxLayout;
    links->addWidget(cbUserAgreement_);
    links->addWidget(lblAgreement_);
    links->addStretch();
    links->addWidget(lblActivate_);
    links->addWidget(lblRegister_);
    links->addWidget(lblGuide_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lblLoginTitle_);
    layout->addLayout(form);
    layout->addWidget(lblLoginStatus_);
    layout->addStretch();
    layout->addLayout(links);

    connect(edtLogin_, &QLineEdit::textChanged, this, [this] { CheckFields(); });
    connect(edtPass_, &QLineEdit::textChanged, this, [this] { CheckFields(); });
    connect(edtComputerName_, &QLineEdit::textChanged, this, [this] { CheckFields(); });
    for (QLineEdit* field : {edtLogin_, edtPass_, edtComputerName_})
        connect(field, &QLineEdit::returnPressed, this, [this, field] { OnFieldEnter(field); });
    connect(cbUserAgreement_, &QCheckBox::clicked, this, [this] { CheckFields(); });
    connect(lblRegister_, &QLabel::linkActivated, this, [this] { Open(MemberRegisterUrl); });
    connect(lblActivate_, &QLabel::linkActivated, this, [this] { Open(WebSyncPageUrl); });
    connect(lblGuide_, &QLabel::linkActivated, this, [this] { Open(RegisterGuideUrl); });
    connect(lblAgreement_, &QLabel::linkActivated, this, [this] {
        QMap<QString, QString> methods;
        PeltaReg::FillApiMethodMap(methods);
        Open(WebHomeUrl + methods.value(QStringLiteral("APIagreement")));
    });
    return page;
}

QWidget* TFrmWizard::BuildSettingPage()
{
    auto* page = new QWidget;
    page->setObjectName(PageSetting);
    auto* question = new QLabel(QStringLiteral("使用之前的設定?"), page);
    memoSetting_ = Memo(page);
    rbReuse_ = new QRadioButton(QStringLiteral("使用之前的設定(建議)"), page);
    rbNewDevice_ = new QRadioButton(QStringLiteral("設定為新裝置"), page);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(question);
    layout->addWidget(memoSetting_, 1);
    layout->addWidget(rbReuse_);
    layout->addWidget(rbNewDevice_);
    connect(rbReuse_, &QRadioButton::toggled, this, [this] { PageSettingCheck(); });
    connect(rbNewDevice_, &QRadioButton::toggled, this, [this] { PageSettingCheck(); });
    return page;
}

QWidget* TFrmWizard::BuildDonePage()
{
    auto* page = new QWidget;
    page->setObjectName(PageDone);
    lblDoneTitle_ = new QLabel(page);
    QFont title = lblDoneTitle_->font();
    title.setBold(true);
    lblDoneTitle_->setFont(title);
    lblDoneStatus_ = new QLabel(page);
    lblDoneStatus_->setWordWrap(true);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lblDoneTitle_);
    layout->addWidget(lblDoneStatus_);
    layout->addStretch();
    return page;
}

QWidget* TFrmWizard::BuildStep1Page()
{
    auto* page = new QWidget;
    page->setObjectName(PageStep1);
    auto* question = new QLabel(QStringLiteral("請選擇設定方式"), page);
    rbNormal_ = new QRadioButton(QStringLiteral("一般"), page);
    rbCustom_ = new QRadioButton(QStringLiteral("自訂"), page);
    lblDefaultFolder_ = new QLabel(page);
    lblDefaultFolder_->setWordWrap(true);
    memoDefaultFolder_ = Memo(page);
    folderPanel_ = new QWidget(page);
    edtChosenFolder_ = new QLineEdit(folderPanel_);
    edtChosenFolder_->setReadOnly(true);
    btnChangeDir2_ = new QPushButton(QStringLiteral("選擇"), folderPanel_);
    btnChangeDir2_->setObjectName(QStringLiteral("btnChangeDir2"));
    btnChangeDir2_->setAutoDefault(false);
    auto* panel = new QHBoxLayout(folderPanel_);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(edtChosenFolder_, 1);
    panel->addWidget(btnChangeDir2_);
    folderPanel_->setVisible(false);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(question);
    layout->addWidget(rbNormal_);
    layout->addWidget(lblDefaultFolder_);
    layout->addWidget(memoDefaultFolder_, 1);
    layout->addWidget(rbCustom_);
    layout->addWidget(folderPanel_);
    connect(rbCustom_, &QRadioButton::toggled, this, [this] { PageStep1Check(); });
    connect(btnChangeDir2_, &QPushButton::clicked, this, [this] { btnChangeDir2Click(); });
    return page;
}

QWidget* TFrmWizard::BuildStep2Page()
{
    auto* page = new QWidget;
    page->setObjectName(PageStep2);
    lblStep2Title_ = new QLabel(page);
    rbDefaultPlace_ = new QRadioButton(page);
    rbOwnPlace_ = new QRadioButton(QStringLiteral("我要自己選擇"), page);
    btnChangeDir_ = new QPushButton(QStringLiteral("變更"), page);
    btnChangeDir_->setObjectName(QStringLiteral("btnChangeDir"));
    btnChangeDir_->setAutoDefault(false);
    memoPlace_ = Memo(page);
    memoStep2Folder_ = Memo(page);
    auto* own = new QHBoxLayout;
    own->addWidget(rbOwnPlace_);
    own->addStretch();
    own->addWidget(btnChangeDir_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lblStep2Title_);
    layout->addWidget(rbDefaultPlace_);
    layout->addWidget(memoPlace_, 1);
    layout->addLayout(own);
    layout->addWidget(memoStep2Folder_, 1);
    connect(rbDefaultPlace_, &QRadioButton::toggled, this, [this] { PageStep2Check(); });
    connect(btnChangeDir_, &QPushButton::clicked, this, [this] { btnChangeDirClick(); });
    return page;
}

// ---- Showing and resetting -------------------------------------------------------------------

void TFrmWizard::ShowWizard(int mode)
{
    mode_ = mode;
    setWindowModality(Qt::ApplicationModal);
    if (isVisible()) {
        FormShow();
        raise();
        activateWindow();
        return;
    }
    show();
    FormShow();
}

QString TFrmWizard::FolderPlace(const QString& folder)
{
    QString place = QDir::cleanPath(folder);
    if (QFileInfo(place).fileName().compare(ProgramName, Qt::CaseInsensitive) == 0)
        place = QFileInfo(place).path();
    while (place.size() > 1 && place.endsWith(u'/'))
        place.chop(1);
    return place;
}

void TFrmWizard::ReadCaptions()
{
    setWindowTitle(T(XText::_ML0519) + AppName());
    lblLoginTitle_->setText(T(XText::_ML0520) + AppName());
    SetLinkText(lblActivate_, T(XText::_ML0521) + AppName());
    lblDoneTitle_->setText(T(XText::_ML0522) + AppName());
    lblDefaultFolder_->setText(FormatText(T(XText::_ML0523), {AppName()}));
    lblStep2Title_->setText(FormatText(T(XText::_ML0524), {AppName()}));
    rbDefaultPlace_->setText(FormatText(T(XText::_ML0525), {AppName()}));
}

void TFrmWizard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ReadCaptions();
    QDialog::changeEvent(event);
}

void TFrmWizard::ResetWizard()
{
    ReadCaptions();

    finished_ = activateMode_ = reuseOffered_ = newDevice_ = reuseChosen_ = customFolder_ = false;
    settingsCopy_ = std::make_unique<PeltaSyncAgentSetting>();

    PeltaReg& reg = control_.Reg();
    if (reg.IsConfigured()) {
        login_ = reg.GetLogin();
        password_ = reg.GetPass();
    }
    edtLogin_->setText(login_);
    edtPass_->setText(password_);
    computerName_ = reg.GetAgentName().trimmed();
    edtComputerName_->setText(computerName_);

    chosenFolder_ = reg.GetDefaultSyncFolder();
    memoDefaultFolder_->setPlainText(FolderPlace(chosenFolder_));
    rbNormal_->setChecked(true);
    rbDefaultPlace_->setChecked(true);
    lblLoginStatus_->clear();
    lblDoneStatus_->clear();
    lastPage_.clear();
    progress_->setVisible(false);
    progress_->setValue(0);
    lblActivate_->setVisible(false);
    btnNext_->setText(NextCaption);
}

void TFrmWizard::FormShow()
{
    ResetWizard();
    GotoPage(PageLogin);
    edtLogin_->setFocus();
    CheckFields();
    if (mode_ == ModeWrongPassword)
        reuseOffered_ = true;
    if (mode_ == ModeNotActivated) {
        OnWizardLoginResult(XApLogin::CodeNotActivated, QString());
        mode_ = ModeNormal;
    }
}

QString TFrmWizard::PageName() const
{
    return notebook_->currentWidget()->objectName();
}

void TFrmWizard::GotoPage(const QString& name)
{
    for (int i = 0; i < notebook_->count(); ++i) {
        if (notebook_->widget(i)->objectName() == name) {
            notebook_->setCurrentIndex(i);
            Notebook1PageChanged();
            return;
        }
    }
}

void TFrmWizard::PreviewPage(const QString& name)
{
    lastPage_ = name;
    for (int i = 0; i < notebook_->count(); ++i) {
        if (notebook_->widget(i)->objectName() == name)
            notebook_->setCurrentIndex(i);
    }
    EnableButtons(true);
    btnNext_->setText(NextCaption);
    btnPrev_->setVisible(name == PageStep1 || name == PageStep2);
    progress_->setVisible(false);
    if (name == PageSetting) {
        memoSetting_->setPlainText(FormatText(T(XText::_ML0501), {edtLogin_->text()}));
        rbReuse_->setChecked(true);
    } else if (name == PageStep1) {
        rbCustom_->setChecked(true);
        edtChosenFolder_->setText(chosenFolder_);
        folderPanel_->setVisible(true);
    } else if (name == PageStep2) {
        memoPlace_->setPlainText(FolderPlace(chosenFolder_));
        memoStep2Folder_->setPlainText(chosenFolder_);
    } else if (name == PageDone) {
        btnNext_->setText(T(XText::_ML0502));
        btnPrev_->setVisible(false);
        progress_->setVisible(true);
        progress_->setRange(0, 4);
        progress_->setValue(4);
        SetStatus(lblDoneStatus_, T(XText::_ML0504));
    }
}

void TFrmWizard::EnableButtons(bool on)
{
    btnNext_->setEnabled(on);
    btnPrev_->setEnabled(on);
}

void TFrmWizard::SetStatus(QLabel* label, const QString& text)
{
    label->setVisible(true);
    label->setText(text);
}

bool TFrmWizard::FieldsComplete() const
{
    return !edtLogin_->text().isEmpty() && !edtPass_->text().isEmpty() && !edtComputerName_->text().isEmpty();
}

void TFrmWizard::CheckFields()
{
    if (PageName() == PageLogin && !loginBusy_ && FieldsComplete())
        btnNext_->setEnabled(true);
}

void TFrmWizard::Open(const QString& url)
{
    if (openUrl_)
        openUrl_(url);
}

// ---- Buttons ------------------------------------------------------------------------------

void TFrmWizard::btnNextClick()
{
    const QString page = PageName();
    if (page == PageLogin) {
        if (edtLogin_->text().isEmpty() || edtPass_->text().isEmpty()) {
            prompter_.Tell(this, T(XText::_ML0506));
            return;
        }
        if (edtComputerName_->text().trimmed().isEmpty()) {
            prompter_.Tell(this, T(XText::_ML0507));
            return;
        }
        if (activateMode_) {
            Open(WebSyncPageUrl);
            EnableButtons(true);
            btnNext_->setText(T(XText::_ML0509));
            activateMode_ = false;
            return;
        }
        EnableButtons(false);
        btnNext_->setText(NextCaption);
        login_ = edtLogin_->text();
        password_ = edtPass_->text();
        computerName_ = edtComputerName_->text().trimmed();
        DoWizardLogin(login_, password_);
        return;
    }
    if (page == PageSetting) {
        newDevice_ = reuseChosen_ = false;
        if (rbReuse_->isChecked()) {
            reuseChosen_ = true;
            GotoPage(PageDone);
        } else if (rbNewDevice_->isChecked()) {
            newDevice_ = true;
            GotoPage(PageStep1);
        }
        return;
    }
    if (page == PageDone) {
        finished_ = true;
        close();
        control_.OpenSyncFolder();
        return;
    }
    if (page == PageStep1) {
        if (rbNormal_->isChecked() && QFileInfo(chosenFolder_).exists() &&
            !prompter_.AskYesNo(this, T(XText::_ML0511), FormatText(T(XText::_ML0510), {AppName()})))
            return;
        if (rbNormal_->isChecked() || rbCustom_->isChecked()) {
            if (rbNormal_->isChecked()) {
                const QString refusal = FolderChooser::Refusal(chosenFolder_, control_.Reg().InstallDir(),
                                                               control_.Reg().ProgramFolder());
                if (!refusal.isEmpty()) {
                    prompter_.Tell(this, refusal);
                    return;
                }
            }
            GotoPage(PageDone);
        }
        return;
    }
    if (page == PageStep2)
        GotoPage(PageDone);
}

void TFrmWizard::btnPrevClick()
{
    const QString page = PageName();
    if (page == PageStep1 && reuseOffered_)
        GotoPage(PageSetting);
    else if (page == PageStep2)
        GotoPage(PageStep1);
}

void TFrmWizard::PageSettingCheck()
{
    if (rbReuse_->isChecked() || rbNewDevice_->isChecked())
        EnableButtons(true);
}

void TFrmWizard::PageStep1Check()
{
    folderPanel_->setVisible(rbCustom_->isChecked());
}

void TFrmWizard::PageStep2Check()
{
    const bool own = rbOwnPlace_->isChecked();
    btnChangeDir_->setEnabled(own);
    customFolder_ = own;
}

void TFrmWizard::btnChangeDirClick()
{
    ChooseFolder(btnChangeDir_, true);
}

void TFrmWizard::btnChangeDir2Click()
{
    ChooseFolder(btnChangeDir2_, false);
}

void TFrmWizard::ChooseFolder(QPushButton* button, bool newFolder)
{
    button->setEnabled(false);
    QString folder;
    const bool chosen = newFolder ? chooser_.SelectNewSyncFolder(this, chosenFolder_, folder)
                                  : chooser_.SelectSyncFolder(this, chosenFolder_, control_.Reg().InstallDir(), folder);
    if (chosen) {
        edtChosenFolder_->setText(folder);
        memoStep2Folder_->setPlainText(folder);
        if (folder != chosenFolder_) {
            chosenFolder_ = folder;
            customFolder_ = true;
        }
    }
    button->setEnabled(true);
}

// ---- Page changes and the binding -----------------------------------------------------------

void TFrmWizard::Notebook1PageChanged()
{
    progress_->setVisible(false);
    const QString page = PageName();
    if (page == lastPage_)
        return;
    lastPage_ = page;
    EnableButtons(false);
    if (page == PageLogin) {
        edtLogin_->setText(login_);
        edtPass_->setText(password_);
        CheckFields();
    } else if (page == PageSetting) {
        btnPrev_->setVisible(false);
        EnableButtons(true);
        memoSetting_->setPlainText(FormatText(T(XText::_ML0501), {settingsCopy_->Get(QStringLiteral("login"))}));
    } else if (page == PageStep1) {
        EnableButtons(true);
        btnPrev_->setVisible(reuseOffered_);
        edtChosenFolder_->setText(chosenFolder_);
        folderPanel_->setVisible(false);
        rbNormal_->setChecked(true);
    } else if (page == PageStep2) {
        EnableButtons(true);
        memoPlace_->setPlainText(FolderPlace(chosenFolder_));
        memoStep2Folder_->setPlainText(chosenFolder_);
    } else if (page == PageDone) {
        btnNext_->setText(T(XText::_ML0502));
        btnPrev_->setVisible(false);
        btnNext_->setEnabled(false);
        progress_->setVisible(true);
        if (reuseChosen_)
            BindReusedSettings();
        else
            BindNewDevice();
    }
}

void TFrmWizard::BindReusedSettings()
{
    progress_->setRange(0, 2);
    progress_->setValue(1);
    SetStatus(lblDoneStatus_, T(XText::_ML0503));
    control_.SaveBinding(login_, password_, computerName_);
    progress_->setValue(2);
    SetStatus(lblDoneStatus_, T(XText::_ML0504));
    AppState = XAPPOnline;
    control_.DeferGotoStep(XGOMain);
    btnNext_->setEnabled(true);
}

void TFrmWizard::BindNewDevice()
{
    progress_->setRange(0, 4);
    progress_->setValue(1);
    SetStatus(lblDoneStatus_, T(XText::_ML0503));
    control_.ImportRegistrySettings();
    progress_->setValue(2);
    control_.SaveBinding(login_, password_, computerName_);
    progress_->setValue(3);
    AppState = XAPPOnline;
    control_.SetSetting(QStringLiteral("agent_name"), computerName_);
    bindingBusy_ = true;
    QPointer<TFrmWizard> self(this);
    control_.ChangeSyncFolder(chosenFolder_, true, [self](bool registered) {
        if (self)
            self->OnFolderRegistered(registered);
    });
}

void TFrmWizard::OnFolderRegistered(bool registered)
{
    bindingBusy_ = false;
    if (registered) {
        progress_->setValue(4);
        SetStatus(lblDoneStatus_, T(XText::_ML0504));
        btnNext_->setEnabled(true);
        control_.DeferGotoStep(XGOMain);
        return;
    }
    progress_->setValue(0);
    SetStatus(lblDoneStatus_, T(XText::_ML0505));
    prompter_.Tell(this, T(XText::_ML0505));
    ResetWizard();
    control_.DeferGotoStep(XGOLogin);
}

// ---- The sign-in ---------------------------------------------------------------------------

void TFrmWizard::DoWizardLogin(const QString& login, const QString& password)
{
    if (!signIn_)
        signIn_ = std::make_unique<WindowLogin>(control_, this);
    const bool started = signIn_->Start(login, password, [this](int code, const QString& message) {
        OnWizardLoginResult(code, message);
    });
    if (!started)
        return;
    loginBusy_ = true;
    OnWizardLoginResult(0, QString());
}

void TFrmWizard::CancelLogin()
{
    if (loginBusy_ && signIn_)
        signIn_->Abort();
}

void TFrmWizard::OnWizardLoginResult(int code, const QString& message)
{
    lblLoginStatus_->setVisible(true);
    if (!message.isEmpty())
        lblLoginStatus_->setText(message);
    if (code >= XApLogin::CodeSuccess)
        loginBusy_ = false;
    switch (code) {
    case 0: lblLoginStatus_->setText(T(XText::_Connecting)); break;
    case XApLogin::CodeConnecting: lblLoginStatus_->setText(T(XText::_ML0512)); break;
    case XApLogin::CodeAuthenticating: lblLoginStatus_->setText(T(XText::_ML0513)); break;
    case XApLogin::CodeSuccess: {
        lblLoginStatus_->setText(T(XText::_ML0515));
        control_.Reg().LoadSettings(*settingsCopy_);
        if (settingsCopy_->Get(QStringLiteral("login")) == edtLogin_->text() &&
            settingsCopy_->Get(QStringLiteral("agent_name")) == edtComputerName_->text().trimmed()) {
            reuseOffered_ = true;
            GotoPage(PageSetting);
        } else {
            GotoPage(PageStep1);
        }
        break;
    }
    case XApLogin::CodeWrongPassword:
        lblLoginStatus_->setText(T(XText::_ML0514));
        EnableButtons(true);
        break;
    case XApLogin::CodeNotActivated:
        EnableButtons(true);
        btnNext_->setText(T(XText::_ML0516));
        activateMode_ = true;
        btnPrev_->setVisible(false);
        lblLoginStatus_->setVisible(false);
        lblActivate_->setVisible(true);
        break;
    case XApLogin::CodeFailed:
        lblLoginStatus_->setText(T(XText::_ConnectFail) + T(XText::_Comma) + T(XText::_ConfirmNetwork));
        EnableButtons(true);
        break;
    default: break;
    }
}

// ---- Keys and closing ----------------------------------------------------------------------

void TFrmWizard::keyPressEvent(QKeyEvent* event)
{
    // Enter on the login page belongs to its fields (see BuildLoginPage), not
    // to the default button.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && PageName() == PageLogin) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFrmWizard::OnFieldEnter(QLineEdit* field)
{
    if (field == edtLogin_) {
        CheckFields();
        edtPass_->setFocus();
        return;
    }
    if (FieldsComplete() && btnNext_->isEnabled())
        btnNext_->click();
}

void TFrmWizard::reject()
{
    if (loginBusy_) {
        CancelLogin();
        return;
    }
    close();
}

void TFrmWizard::closeEvent(QCloseEvent* event)
{
    if (finished_) {
        event->accept();
        return;
    }
    if (!prompter_.AskOkCancel(this, QStringLiteral("%1 %2").arg(T(XText::_ML0518), AppName()),
                               QStringLiteral("%1 %2").arg(T(XText::_ML0517), AppName()))) {
        event->ignore();
        return;
    }
    CancelLogin();
    event->accept();
    control_.DeferGotoStep(XGOExit);
}
