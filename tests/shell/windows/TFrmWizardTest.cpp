#include "shell/windows/TFrmWizard.h"
#include "tests/shell/windows/WindowFixture.h"

#include "client/XApLogin.h"
#include "fakeservice/FakeFaults.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>

using namespace std::chrono_literals;

namespace {

class TFrmWizardTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        MakeFakeControl();
        wizard_ = std::make_unique<TFrmWizard>(*control_, prompter_, *chooser_);
        wizard_->SetUrlOpener([this](const QString& url) { urls_ << url; });
    }

    void TearDown() override
    {
        wizard_.reset();
        WindowFixture::TearDown();
    }

    void Fill(const QString& login, const QString& password, const QString& name)
    {
        wizard_->LoginEdit()->setText(login);
        wizard_->PasswordEdit()->setText(password);
        wizard_->ComputerNameEdit()->setText(name);
    }

    bool WaitForPage(const QString& page) { return Pump([&] { return wizard_->PageName() == page; }); }

    std::unique_ptr<TFrmWizard> wizard_;
};

TEST_F(TFrmWizardTest, ANewComputerSignsInChoosesTheDefaultFolderAndIsBound)
{
    wizard_->ShowWizard(TFrmWizard::ModeNormal);
    ASSERT_EQ(wizard_->PageName(), QStringLiteral("Login"));
    Fill(TestAccount::Login, TestAccount::Password, QStringLiteral("laptop"));

    PressEnter(wizard_->PasswordEdit());
    EXPECT_TRUE(wizard_->LoginBusy());  // the sign-in runs on its thread, the window goes on
    EXPECT_FALSE(wizard_->NextButton()->isEnabled());
    EXPECT_EQ(wizard_->LoginStatus()->text(), Xi18n::Text(XText::_Connecting));

    ASSERT_TRUE(WaitForPage(QStringLiteral("Step1"))) << TakeLog().toStdString();
    EXPECT_FALSE(wizard_->LoginBusy());
    EXPECT_FALSE(wizard_->BackButton()->isVisible());
    EXPECT_TRUE(wizard_->NormalButton()->isChecked());

    prompter_.answers = {true};  // the default folder exists already: use it
    wizard_->NextButton()->click();
    EXPECT_EQ(prompter_.asked, QStringList{FormatText(Xi18n::Text(XText::_ML0510), {Xi18n::Text(XText::_APPName)})});
    ASSERT_EQ(wizard_->PageName(), QStringLiteral("Done"));
    ASSERT_TRUE(Pump([&] { return wizard_->DoneStatus()->text() == Xi18n::Text(XText::_ML0504); }))
        << TakeLog().toStdString();
    EXPECT_EQ(wizard_->Progress()->value(), 4);
    EXPECT_TRUE(wizard_->NextButton()->isEnabled());
    EXPECT_EQ(wizard_->NextButton()->text(), Xi18n::Text(XText::_ML0502));

    const PeltaSyncAgentSetting& settings = control_->Settings();
    EXPECT_EQ(settings.Get(QStringLiteral("login")), TestAccount::Login);
    EXPECT_EQ(settings.Get(QStringLiteral("agent_name")), QStringLiteral("laptop"));
    EXPECT_EQ(settings.Get(QStringLiteral("sync_folder")), HomePath(ProgramName));
    EXPECT_TRUE(service_.State().Agent(UserId, settings.Get(QStringLiteral("agent_key"))).has_value());
    EXPECT_TRUE(control_->Reg().bound);
    ASSERT_TRUE(Pump([&] { return engine_->running; })) << TakeLog().toStdString();

    wizard_->NextButton()->click();
    EXPECT_TRUE(wizard_->Finished());
    EXPECT_FALSE(wizard_->isVisible());
    EXPECT_EQ(prompter_.asked.size(), 1);  // finishing does not ask to leave
    EXPECT_TRUE(view_.opened.contains(HomePath(ProgramName)));
}

TEST_F(TFrmWizardTest, TheSameAccountAndComputerNameMayReuseTheEarlierBinding)
{
    wizard_.reset();
    BindAndRestart();
    wizard_ = std::make_unique<TFrmWizard>(*control_, prompter_, *chooser_);
    wizard_->ShowWizard(TFrmWizard::ModeWrongPassword);
    EXPECT_EQ(wizard_->LoginEdit()->text(), TestAccount::Login);  // the stored binding fills the fields
    EXPECT_EQ(wizard_->ComputerNameEdit()->text(), QStringLiteral("laptop"));
    wizard_->NextButton()->click();
    ASSERT_TRUE(WaitForPage(QStringLiteral("Setting"))) << TakeLog().toStdString();
    const QString agentKey = control_->Settings().Get(QStringLiteral("agent_key"));

    wizard_->ReuseButton()->setChecked(true);
    wizard_->NextButton()->click();
    ASSERT_EQ(wizard_->PageName(), QStringLiteral("Done"));
    EXPECT_EQ(wizard_->DoneStatus()->text(), Xi18n::Text(XText::_ML0504));
    EXPECT_EQ(wizard_->Progress()->value(), 2);
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("agent_key")), agentKey);  // no new agent
    ASSERT_TRUE(Pump([&] { return engine_->running; })) << TakeLog().toStdString();
}

TEST_F(TFrmWizardTest, AWrongPasswordIsToldAndTheUserMayTryAgain)
{
    wizard_->ShowWizard(TFrmWizard::ModeNormal);
    Fill(TestAccount::Login, QStringLiteral("wrong"), QStringLiteral("laptop"));
    wizard_->NextButton()->click();
    ASSERT_TRUE(Pump([&] { return !wizard_->LoginBusy(); }));
    EXPECT_EQ(wizard_->PageName(), QStringLiteral("Login"));
    EXPECT_EQ(wizard_->LoginStatus()->text(), Xi18n::Text(XText::_ML0514));
    EXPECT_TRUE(wizard_->NextButton()->isEnabled());
    EXPECT_FALSE(control_->Reg().bound);
}

TEST_F(TFrmWizardTest, EmptyFieldsAreRefusedBeforeAnyNetworkCall)
{
    wizard_->ShowWizard(TFrmWizard::ModeNormal);
    const std::size_t calls = service_.Calls().size();
    Fill(TestAccount::Login, QString(), QStringLiteral("laptop"));
    wizard_->btnNextClick();
    Fill(TestAccount::Login, TestAccount::Password, QStringLiteral("   "));
    wizard_->btnNextClick();
    EXPECT_EQ(prompter_.told, (QStringList{Xi18n::Text(XText::_ML0506), Xi18n::Text(XText::_ML0507)}));
    EXPECT_FALSE(wizard_->LoginBusy());
    EXPECT_EQ(service_.Calls().size(), calls);
}

TEST_F(TFrmWizardTest, EscapeStopsASignInThatHangsAndTheWindowStaysUsable)
{
    service_.Faults().SetNext("invoke_auth", Fault::Delay(5000ms));
    wizard_->ShowWizard(TFrmWizard::ModeNormal);
    Fill(TestAccount::Login, TestAccount::Password, QStringLiteral("laptop"));
    wizard_->NextButton()->click();
    ASSERT_TRUE(Pump([&] { return wizard_->LoginStatus()->text() == Xi18n::Text(XText::_ML0513); }));

    const auto start = std::chrono::steady_clock::now();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(wizard_.get(), &escape);
    ASSERT_TRUE(Pump([&] { return !wizard_->LoginBusy(); }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_TRUE(wizard_->isVisible());
    EXPECT_TRUE(prompter_.asked.isEmpty());  // stopping the sign-in is not leaving
    EXPECT_TRUE(wizard_->NextButton()->isEnabled());
    EXPECT_EQ(wizard_->PageName(), QStringLiteral("Login"));
}

TEST_F(TFrmWizardTest, ClosingAsksFirstAndOkEndsTheProgram)
{
    wizard_->ShowWizard(TFrmWizard::ModeNormal);
    prompter_.answers = {false, true};
    wizard_->close();
    EXPECT_TRUE(wizard_->isVisible());
    EXPECT_EQ(control_->DeferredStep(), XGONone);
    wizard_->close();
    EXPECT_FALSE(wizard_->isVisible());
    EXPECT_EQ(prompter_.asked.size(), 2);
    EXPECT_EQ(prompter_.asked.front(),
              QStringLiteral("%1 %2").arg(Xi18n::Text(XText::_ML0517), Xi18n::Text(XText::_APPName)));
    EXPECT_EQ(control_->DeferredStep(), XGOExit);
}

TEST_F(TFrmWizardTest, AnAccountWithoutTheServiceSwitchesToActivation)
{
    wizard_->ShowWizard(TFrmWizard::ModeNotActivated);
    Fill(TestAccount::Login, TestAccount::Password, QStringLiteral("laptop"));
    EXPECT_EQ(wizard_->NextButton()->text(), Xi18n::Text(XText::_ML0516));
    wizard_->NextButton()->click();
    EXPECT_EQ(urls_, QStringList{WebSyncPageUrl});
    EXPECT_EQ(wizard_->NextButton()->text(), Xi18n::Text(XText::_ML0509));
    EXPECT_FALSE(wizard_->LoginBusy());
}

TEST_F(TFrmWizardTest, AFailedFolderRegistrationStartsOverAtTheLogin)
{
    service_.Faults().SetAlways("setAgentInfo", Fault::Message(QStringLiteral("refused")));
    wizard_->ShowWizard(TFrmWizard::ModeNormal);
    Fill(TestAccount::Login, TestAccount::Password, QStringLiteral("laptop"));
    wizard_->NextButton()->click();
    ASSERT_TRUE(WaitForPage(QStringLiteral("Step1"))) << TakeLog().toStdString();
    prompter_.fallback = true;
    wizard_->NextButton()->click();
    ASSERT_TRUE(Pump([&] { return prompter_.told.contains(Xi18n::Text(XText::_ML0505)); })) << TakeLog().toStdString();
    EXPECT_EQ(wizard_->Progress()->value(), 0);
    EXPECT_EQ(control_->DeferredStep(), XGOLogin);
}

TEST(TFrmWizardFolderPlaceTest, TheDefaultFolderIsShownAsThePlaceItIsMadeIn)
{
    EXPECT_EQ(TFrmWizard::FolderPlace(QStringLiteral("/home/u/tessaron")), QStringLiteral("/home/u"));
    EXPECT_EQ(TFrmWizard::FolderPlace(QStringLiteral("/home/u/TESSARON/")), QStringLiteral("/home/u"));
    EXPECT_EQ(TFrmWizard::FolderPlace(QStringLiteral("/home/u/sync/")), QStringLiteral("/home/u/sync"));
    EXPECT_EQ(TFrmWizard::FolderPlace(QStringLiteral("/tessaron")), QStringLiteral("/"));
}

}  // namespace
