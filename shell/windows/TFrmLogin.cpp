#include "shell/windows/TFrmLogin.h"

#include "shell/control/TFrmControl.h"
#include "shell/windows/Prompter.h"
#include "shell/windows/WindowLogin.h"

#include "client/XApLogin.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString Connecting = QStringLiteral("連線中");
const QString ConnectFailed = QStringLiteral("連線失敗");
const QString ConnectFailedMessage = QStringLiteral("連線失敗，請確認您的網路連線狀態");
const QString RegistrationPath = QStringLiteral("/QVNRegi/member_reg_select.jsp");

// The account server's address: scheme and host of the member login's address.
QString AccountServer()
{
    const QUrl url(MemberRegisterUrl);
    return url.scheme() + QStringLiteral("://") + url.authority();
}

}  // namespace

TFrmLogin::TFrmLogin(TFrmControl& control, Prompter& prompter, QWidget* parent)
    : QDialog(parent), control_(control), prompter_(prompter),
      openUrl_([](const QString& url) { QDesktopServices::openUrl(QUrl(url)); })
{
    setObjectName(QStringLiteral("FrmLogin"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ReadCaptions();
    auto* welcome = new QLabel(QStringLiteral("歡迎使用Tessaron服務"), this);
    QFont bold = welcome->font();
    bold.setBold(true);
    welcome->setFont(bold);
    lblStatus_ = new QLabel(this);
    lblStatus_->setWordWrap(true);
    txtLogin_ = new QLineEdit(this);
    txtPass_ = new QLineEdit(this);
    txtPass_->setEchoMode(QLineEdit::Password);
    txtComputerName_ = new QLineEdit(this);
    btnSignIn_ = new QPushButton(QStringLiteral("系統登入"), this);
    btnSignIn_->setDefault(true);
    btnNetwork_ = new QPushButton(QStringLiteral("網路設定"), this);
    btnNetwork_->setAutoDefault(false);
    btnNetwork_->setVisible(false);
    btnRegister_ = new QPushButton(QStringLiteral("註冊岱霖通聯會員"), this);
    btnRegister_->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("帳號："), txtLogin_);
    form->addRow(QStringLiteral("密碼："), txtPass_);
    form->addRow(QStringLiteral("電腦名稱："), txtComputerName_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnRegister_);
    buttons->addWidget(btnNetwork_);
    buttons->addStretch();
    buttons->addWidget(btnSignIn_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(welcome);
    layout->addWidget(new QLabel(QStringLiteral("請輸入岱霖通聯會員帳號"), this));
    layout->addLayout(form);
    layout->addWidget(lblStatus_);
    layout->addLayout(buttons);
    setTabOrder(txtLogin_, txtPass_);
    setTabOrder(txtPass_, txtComputerName_);
    setTabOrder(txtComputerName_, btnSignIn_);

    connect(btnSignIn_, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(btnNetwork_, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(btnRegister_, &QPushButton::clicked, this, [this] { Button3Click(); });
}

TFrmLogin::~TFrmLogin() = default;

void TFrmLogin::ReadCaptions()
{
    setWindowTitle(QStringLiteral("使用者登入 ") + ServerProfile);
}

void TFrmLogin::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ReadCaptions();
    QDialog::changeEvent(event);
}

bool TFrmLogin::Busy() const
{
    return signIn_ && signIn_->Busy();
}

void TFrmLogin::LoadReg()
{
    PeltaReg& reg = control_.Reg();
    txtLogin_->setText(reg.GetLogin());
    txtPass_->setText(reg.GetPass());
    txtComputerName_->setText(reg.GetAgentName());
}

void TFrmLogin::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TFrmLogin::FormShow()
{
    if (txtLogin_->text().trimmed().isEmpty())
        txtLogin_->setFocus();
    else if (txtPass_->text().trimmed().isEmpty())
        txtPass_->setFocus();
    else
        btnSignIn_->setFocus();
    if (lblStatus_->text() == Connecting)
        lblStatus_->clear();
}

void TFrmLogin::keyPressEvent(QKeyEvent* event)
{
    // Enter in the login field moves to the password; elsewhere it signs in
    // (the default button).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && focusWidget() == txtLogin_) {
        txtPass_->setFocus();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFrmLogin::Button1Click()
{
    if (!control_.CheckOpenSSLDlls())
        return;
    if (txtLogin_->text().isEmpty() || txtPass_->text().isEmpty()) {
        prompter_.Tell(this, QStringLiteral("請輸入帳號密碼"));
        return;
    }
    if (LoginMode != QLatin1String("0")) {
        control_.DoWebLogin(txtLogin_->text(), txtPass_->text());
        return;
    }
    if (!signIn_)
        signIn_ = std::make_unique<WindowLogin>(control_, this);
    if (signIn_->Start(txtLogin_->text(), txtPass_->text(),
                       [this](int code, const QString& message) { OnLoginResult(code, message); })) {
        lblStatus_->setText(Connecting);
        btnSignIn_->setEnabled(false);
    }
}

void TFrmLogin::Button2Click()
{
    if (showPreference_)
        showPreference_(1);
}

void TFrmLogin::Button3Click()
{
    if (openUrl_)
        openUrl_(AccountServer() + RegistrationPath);
}

void TFrmLogin::OnLoginResult(int code, const QString& message)
{
    if (!message.isEmpty())
        lblStatus_->setText(message);
    if (code >= XApLogin::CodeSuccess)
        btnSignIn_->setEnabled(true);
    switch (code) {
    case XApLogin::CodeSuccess: {
        hide();
        PeltaReg& reg = control_.Reg();
        reg.SetCachedPass(txtPass_->text());
        reg.SetCachedLogin(txtLogin_->text());
        reg.SetCachedAgentName(txtComputerName_->text().trimmed());
        reg.account_valid = true;
        control_.ImportRegistrySettings();
        control_.SaveBinding(txtLogin_->text(), txtPass_->text(), txtComputerName_->text().trimmed());
        XAPPState state = AppState.load();
        while (state != XAPPExit && !AppState.compare_exchange_weak(state, XAPPOnline)) {
        }
        QPointer<TFrmLogin> self(this);
        control_.ChangeSyncFolder(reg.GetSyncFolder(), true, [self](bool registered) {
            if (self)
                self->OnRegistered(registered);
        });
        break;
    }
    case XApLogin::CodeWrongPassword:
        lblStatus_->setText(QStringLiteral("帳號密碼錯誤, 請重新輸入"));
        prompter_.Tell(this, QStringLiteral("帳號密碼錯誤, 請重新輸入"));
        control_.DeferGotoStep(XGOLogin);
        break;
    case XApLogin::CodeNotActivated:
        lblStatus_->setText(QStringLiteral("請先啟用Pelta帳號"));
        if (prompter_.AskYesNo(this, QStringLiteral("啟用Pelta帳號"), QStringLiteral("您現在要啟用Pelta帳號嗎?")) &&
            openUrl_)
            openUrl_(WebSyncPageUrl);
        control_.DeferGotoStep(XGOLogin);
        break;
    case XApLogin::CodeFailed: prompter_.Tell(this, ConnectFailedMessage); break;
    default: break;
    }
}

void TFrmLogin::ShowLoginStatus(const QString& text)
{
    lblStatus_->setText(text);
}

void TFrmLogin::OnRegistered(bool registered)
{
    if (registered) {
        control_.DeferGotoStep(XGOMain);
        lblStatus_->clear();
        return;
    }
    lblStatus_->setText(ConnectFailed);
    prompter_.Tell(this, ConnectFailedMessage);
}

void TFrmLogin::closeEvent(QCloseEvent* event)
{
    if (signIn_)
        signIn_->Abort();
    btnNetwork_->setVisible(false);
    if (!control_.Reg().bound)
        control_.DeferGotoStep(XGOExit);
    QDialog::closeEvent(event);
}
