#include "shell/windows/TFrmLogin.h"
#include "tests/shell/windows/WindowFixture.h"

#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

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

}  // namespace
