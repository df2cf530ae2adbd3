#include "shell/windows/TFrmLogin.h"
#include "tests/shell/windows/WindowFixture.h"

#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/Xi18n.h"
#include "client/XApLogin.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

class TFrmLoginTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        MakeFakeControl();
        form_ = std::make_unique<TFrmLogin>(*control_, prompter_);
        form_->SetUrlOpener([this](const QString& url) { urls_ << url; });
    }

    void TearDown() override
    {
        form_.reset();
        WindowFixture::TearDown();
    }

    std::unique_ptr<TFrmLogin> form_;
};

TEST_F(TFrmLoginTest, AnEmptyPasswordIsRefusedWithoutANetworkCall)
{
    const std::size_t calls = service_.Calls().size();
    form_->LoginEdit()->setText(TestAccount::Login);
    form_->SignInButton()->click();
    EXPECT_EQ(prompter_.told, QStringList{QStringLiteral("請輸入帳號密碼")});
    EXPECT_FALSE(form_->Busy());
    EXPECT_EQ(service_.Calls().size(), calls);
}

TEST_F(TFrmLoginTest, ASignInBindsTheComputerAndGoesToTheMainStep)
{
    form_->show();
    form_->LoginEdit()->setText(TestAccount::Login);
    form_->PasswordEdit()->setText(TestAccount::Password);
    form_->ComputerNameEdit()->setText(QStringLiteral("desk"));
    form_->SignInButton()->click();
    EXPECT_EQ(form_->Status()->text(), QStringLiteral("連線中"));
    ASSERT_TRUE(Pump([&] { return engine_->running; })) << TakeLog().toStdString();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(form_->Status()->text().isEmpty());
    const PeltaSyncAgentSetting& settings = control_->Settings();
    EXPECT_EQ(settings.Get(QStringLiteral("agent_name")), QStringLiteral("desk"));
    EXPECT_TRUE(service_.State().Agent(UserId, settings.Get(QStringLiteral("agent_key"))).has_value());
}

TEST_F(TFrmLoginTest, AWrongPasswordIsToldAndTheLoginStepFollows)
{
    form_->LoginEdit()->setText(TestAccount::Login);
    form_->PasswordEdit()->setText(QStringLiteral("wrong"));
    form_->SignInButton()->click();
    ASSERT_TRUE(Pump([&] { return !prompter_.told.isEmpty(); })) << TakeLog().toStdString();
    EXPECT_EQ(prompter_.told, QStringList{QStringLiteral("帳號密碼錯誤, 請重新輸入")});
    EXPECT_EQ(control_->DeferredStep(), XGOLogin);
}

TEST_F(TFrmLoginTest, ClosingWhileTheComputerIsNotBoundEndsTheProgram)
{
    form_->show();
    form_->NetworkButton()->setVisible(true);
    form_->close();
    EXPECT_EQ(control_->DeferredStep(), XGOExit);
    EXPECT_FALSE(form_->NetworkButton()->isVisible());
}

TEST_F(TFrmLoginTest, TheRegistrationButtonOpensTheMemberPage)
{
    form_->Button3Click();
    ASSERT_EQ(urls_.size(), 1);
    EXPECT_TRUE(urls_.front().endsWith(QStringLiteral("/QVNRegi/member_reg_select.jsp")));
}

// The control form's step machine reports the stored login and the agent
// check in the login form's status line and hides the form once signed in.
class TFrmLoginStatusTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        BindAndRestart();
        Attach();
    }

    void TearDown() override
    {
        control_->SetLoginForm(nullptr);
        form_.reset();
        WindowFixture::TearDown();
    }

    void Attach()
    {
        form_ = std::make_unique<TFrmLogin>(*control_, prompter_);
        control_->SetLoginForm(form_.get());
        form_->show();
    }

    QString Status() const { return form_->Status()->text(); }

    std::unique_ptr<TFrmLogin> form_;
};

TEST_F(TFrmLoginStatusTest, EveryThirdNetworkFailureShowsTheServicesMessageOrAskToCheckTheNetwork)
{
    struct Case {
        QString message;
        QString shown;
    };
    const Case cases[] = {
        {QString(), Xi18n::Text(XText::_ConnectFail) + Xi18n::Text(XText::_Comma) +
                        Xi18n::Text(XText::_ConfirmNetwork)},
        {QStringLiteral("service paused"), QStringLiteral("service paused")},
    };
    for (const Case& c : cases) {
        form_->Status()->clear();
        for (int failure = 1; failure <= 2; ++failure)
            control_->OnLoginResult(XApLogin::CodeFailed, c.message);
        EXPECT_TRUE(Status().isEmpty()) << Status().toStdString();
        control_->OnLoginResult(XApLogin::CodeFailed, c.message);
        EXPECT_EQ(Status(), c.shown);
    }
}

TEST_F(TFrmLoginStatusTest, AnUnreachableAccountServerIsShownAfterTheThirdAttempt)
{
    service_.Faults().SetAlways("invoke_auth", Fault::DropBeforeReply());
    control_->GotoStep(XGOSplash);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(Pump([this] { return control_->LoginTimerActive(); })) << "attempt " << attempt;
        if (attempt < 3) {
            EXPECT_TRUE(Status().isEmpty());
            control_->TimerLoginTimer();
        }
    }
    EXPECT_EQ(Status(), Xi18n::Text(XText::_ConnectFail) + Xi18n::Text(XText::_Comma) +
                            Xi18n::Text(XText::_ConfirmNetwork));
    EXPECT_TRUE(form_->isVisible());
}

TEST_F(TFrmLoginStatusTest, AFailedAgentCheckIsShownAndASignedInAgentHidesTheForm)
{
    service_.Faults().SetNext("getAgentInfo", Fault::Http500());
    control_->GotoStep(XGOSplash);
    ASSERT_TRUE(Pump([this] { return control_->LoginTimerActive() && !control_->AgentCheckPending(); }))
        << TakeLog().toStdString();
    EXPECT_EQ(Status(), Xi18n::Text(XText::_ConnectFail));
    EXPECT_EQ(engine_->made, 0);

    form_->show();
    control_->TimerLoginTimer();  // the stored login again, and the check passes
    ASSERT_TRUE(Pump([&] { return engine_->running; })) << TakeLog().toStdString();
    EXPECT_FALSE(form_->isVisible());
}

}  // namespace
