#include "shell/windows/TFrmPreference.h"
#include "tests/shell/windows/WindowFixture.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaProxy.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

class TFrmPreferenceTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        MakeFakeControl();
        MakeWindow();
    }

    void TearDown() override
    {
        prefs_.reset();
        WindowFixture::TearDown();
    }

    void MakeWindow() { prefs_ = std::make_unique<TFrmPreference>(*control_, prompter_, *chooser_); }

    QString Setting(const char* name) const { return control_->Settings().Get(QString::fromLatin1(name)); }

    static void Type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        for (const QChar c : text) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(edit, &key);
        }
    }

    std::unique_ptr<TFrmPreference> prefs_;
};

struct RefusedCase {
    const char* upload;
    const char* download;
    const char* server;
    const char* port;
    int tab;
    XText message;
};

TEST_F(TFrmPreferenceTest, ARefusedFieldKeepsTheWindowOpenAndSavesNothing)
{
    const RefusedCase cases[] = {
        {"20", "-1", "proxy.example", "3128", PreferenceFields::BandwidthTab, XText::_ML0610},
        {"abc", "50", "", "", PreferenceFields::BandwidthTab, XText::_ML0610},
        {"20", "30", "proxy.example", "70000", PreferenceFields::ProxyTab, XText::_ML0613},
        {"20", "30", "proxy.example", "port", PreferenceFields::ProxyTab, XText::_ML0613},
    };
    for (const RefusedCase& c : cases) {
        prefs_->ShowAt(PreferenceFields::GeneralTab);
        const QString upload = Setting("bw_upload");
        const QString download = Setting("bw_download");
        const QString limit = Setting("bw_upload_limit");
        prefs_->UploadEdit()->setText(QString::fromLatin1(c.upload));
        prefs_->DownloadEdit()->setText(QString::fromLatin1(c.download));
        prefs_->UploadLimit()->setChecked(true);
        prefs_->ProxyServer()->setText(QString::fromLatin1(c.server));
        prefs_->ProxyPort()->setText(QString::fromLatin1(c.port));
        prompter_.told.clear();

        prefs_->btnOKClick();

        EXPECT_EQ(prompter_.told, QStringList{Xi18n::Text(c.message)}) << c.upload << ' ' << c.port;
        EXPECT_TRUE(prefs_->isVisible());
        EXPECT_EQ(prefs_->Tabs()->currentIndex(), c.tab);
        EXPECT_EQ(Setting("bw_upload"), upload);
        EXPECT_EQ(Setting("bw_download"), download);
        EXPECT_EQ(Setting("bw_upload_limit"), limit);
        EXPECT_TRUE(control_->Reg().Proxy().server.isEmpty());
        prefs_->hide();
    }
}

TEST_F(TFrmPreferenceTest, ZeroIsAValidBandwidthAndOkSavesAndCloses)
{
    prefs_->ShowAt(PreferenceFields::BandwidthTab);
    prefs_->UploadEdit()->setText(QStringLiteral("0"));
    prefs_->DownloadEdit()->setText(QStringLiteral(" 120 "));
    prefs_->DownloadLimit()->setChecked(true);
    prefs_->UploadUnlimited()->setChecked(true);
    prefs_->btnOKClick();
    EXPECT_TRUE(prompter_.told.isEmpty());
    EXPECT_FALSE(prefs_->isVisible());
    EXPECT_EQ(Setting("bw_upload"), QStringLiteral("0"));
    EXPECT_EQ(Setting("bw_download"), QStringLiteral("120"));
    EXPECT_EQ(Setting("bw_download_limit"), QStringLiteral("1"));
    EXPECT_EQ(Setting("bw_upload_limit"), QStringLiteral("0"));
    EXPECT_EQ(DownloadBitRate.load(), 120 * 8196);
    EXPECT_EQ(UploadBitRate.load(), 0);
}

TEST_F(TFrmPreferenceTest, TypingARateSelectsItsLimitAndEnablesApply)
{
    prefs_->ShowAt(PreferenceFields::BandwidthTab);
    ASSERT_TRUE(prefs_->DownloadUnlimited()->isChecked());
    ASSERT_FALSE(prefs_->ApplyButton()->isEnabled());
    Type(prefs_->DownloadEdit(), QStringLiteral("7"));
    EXPECT_TRUE(prefs_->DownloadLimit()->isChecked());
    EXPECT_TRUE(prefs_->ApplyButton()->isEnabled());
    EXPECT_FALSE(prefs_->UploadLimit()->isChecked());

    prefs_->btnApplyClick();
    EXPECT_FALSE(prefs_->ApplyButton()->isEnabled());
    EXPECT_TRUE(prefs_->isVisible());
    EXPECT_EQ(Setting("bw_download_limit"), QStringLiteral("1"));
}

TEST_F(TFrmPreferenceTest, TheProxyIsSavedOnlyWhenAServerIsGiven)
{
    prefs_->ShowAt(PreferenceFields::ProxyTab);
    prefs_->UseProxyBox()->setChecked(true);
    prefs_->ProxyServer()->clear();
    prefs_->btnApplyClick();
    EXPECT_FALSE(control_->Reg().Proxy().enable);
    EXPECT_TRUE(control_->Reg().Proxy().server.isEmpty());

    prefs_->ProxyServer()->setText(QStringLiteral("proxy.example"));
    prefs_->ProxyPort()->setText(QStringLiteral("3128"));
    prefs_->btnApplyClick();
    const PeltaProxy proxy = control_->Reg().Proxy();
    EXPECT_EQ(proxy.server, QStringLiteral("proxy.example"));
    EXPECT_EQ(proxy.port, 3128);
    EXPECT_TRUE(proxy.enable);
    EXPECT_EQ(proxy.type, 1);
    EXPECT_EQ(AppProxy.Get().server, QStringLiteral("proxy.example"));
    AppProxy.Set(PeltaProxy());
}

TEST_F(TFrmPreferenceTest, LinksAreKeptOnceRenumberedAndSavedOnlyFromTheirTab)
{
    const QString sync = Setting("sync_folder");
    ASSERT_TRUE(QDir().mkpath(sync + QStringLiteral("/Photos")));
    prefs_->ShowAt(PreferenceFields::LinksTab);
    for (const QString& path : {QStringLiteral("\\Photos"), QStringLiteral("\\Work"), QStringLiteral("\\photos")}) {
        prefs_->LinkPathEdit()->setText(path);
        prefs_->btnLinkAddClick();
    }
    EXPECT_EQ(prefs_->LinkPaths(), (QStringList{QStringLiteral("\\Photos"), QStringLiteral("\\Work")}));
    EXPECT_EQ(prefs_->LinkNumbers(), (QStringList{QStringLiteral("01"), QStringLiteral("02")}));
    EXPECT_EQ(prompter_.told,
              QStringList{FormatText(Xi18n::Text(XText::_ML0611), {QStringLiteral("\\photos")})});

    prefs_->Links()->setCurrentItem(prefs_->Links()->topLevelItem(0));
    prefs_->lvLinksSelectItem(prefs_->Links()->topLevelItem(0));
    EXPECT_EQ(prefs_->LinkPathEdit()->text(), QStringLiteral("\\Photos"));  // the folder exists
    EXPECT_TRUE(prefs_->LinkDeleteButton()->isEnabled());
    prefs_->btnLinkDeleteClick();
    EXPECT_EQ(prefs_->LinkNumbers(), QStringList{QStringLiteral("1")});

    prefs_->UploadEdit()->setText(QStringLiteral("999"));
    const QString upload = Setting("bw_upload");
    prefs_->btnOKClick();
    EXPECT_EQ(control_->Reg().GetLinks(), QStringList{QStringLiteral("\\Work")});
    EXPECT_EQ(Setting("bw_upload"), upload);  // the other tabs are not saved from here
}

TEST(TFrmPreferenceLinkPathTest, AFolderInsideTheSyncFolderIsKeptRelative)
{
    EXPECT_EQ(TFrmPreference::LinkPath(QStringLiteral("/h/sync"), QStringLiteral("/h/sync/a/b")),
              QStringLiteral("\\a\\b"));
    EXPECT_EQ(TFrmPreference::LinkPath(QStringLiteral("/h/sync/"), QStringLiteral("/h/sync/a")), QStringLiteral("\\a"));
    EXPECT_EQ(TFrmPreference::LinkPath(QStringLiteral("/h/sync"), QStringLiteral("/h/syncother")),
              QStringLiteral("/h/syncother"));
}

TEST_F(TFrmPreferenceTest, UnbindingWorksBeforeTheEngineExistsAndNeverEndsTheProgram)
{
    prefs_.reset();
    BindAndRestart();
    control_->Reg().bound = true;
    control_->Reg().account_valid = true;
    AppState = XAPPOnline;
    MakeWindow();
    ASSERT_EQ(control_->Engine(), nullptr);
    prefs_->ShowAt(PreferenceFields::GeneralTab);
    EXPECT_EQ(prefs_->AccountInfo()->text(), FormatText(Xi18n::Text(XText::_ML0604), {TestAccount::Login}));
    ASSERT_TRUE(prefs_->UnbindButton()->isEnabled());

    prompter_.answers = {false};
    prefs_->UnbindButton()->click();
    EXPECT_TRUE(control_->Reg().bound);

    prompter_.answers = {true};
    prefs_->UnbindButton()->click();
    EXPECT_EQ(prompter_.asked.back(), Xi18n::Text(XText::_ML0608));
    EXPECT_FALSE(prefs_->isVisible());
    EXPECT_FALSE(control_->Reg().bound);
    EXPECT_TRUE(Setting("login").isEmpty());
    EXPECT_EQ(AppState.load(), XAPPLogin);
    EXPECT_EQ(control_->DeferredStep(), XGOLogin);
}

TEST_F(TFrmPreferenceTest, TheProxyTestRunsOffTheWindowAndTellsTheOutcome)
{
    prefs_->ShowAt(PreferenceFields::ProxyTab);
    prefs_->ProxyServer()->setText(QStringLiteral("127.0.0.1"));
    prefs_->ProxyPort()->setText(QStringLiteral("0"));
    prefs_->btnTestProxyClick();
    EXPECT_EQ(prompter_.told, QStringList{Xi18n::Text(XText::_ML0613)});
    EXPECT_FALSE(prefs_->ProxyTestRunning());

    prompter_.told.clear();
    prefs_->ProxyPort()->setText(QString::number(service_.Port()));  // any answer counts
    prefs_->btnTestProxyClick();
    EXPECT_FALSE(prefs_->TestProxyButton()->isEnabled());
    ASSERT_TRUE(Pump([&] { return !prompter_.told.isEmpty(); }));
    EXPECT_EQ(prompter_.told, QStringList{Xi18n::Text(XText::_ML0614)});
    EXPECT_TRUE(prefs_->TestProxyButton()->isEnabled());
    EXPECT_TRUE(control_->Reg().Proxy().server.isEmpty());  // nothing saved

    prompter_.told.clear();
    prefs_->SetProxyTester([](const QString&, int, const QString&) { return false; });
    prefs_->btnTestProxyClick();
    ASSERT_TRUE(Pump([&] { return !prompter_.told.isEmpty(); }));
    EXPECT_EQ(prompter_.told, QStringList{Xi18n::Text(XText::_ML0615)});
}

TEST_F(TFrmPreferenceTest, MovingTheFolderRegistersTheNewOneWithTheService)
{
    prefs_.reset();
    BindAndRestart();
    StartToMain();
    MakeWindow();
    ASSERT_TRUE(QDir().mkpath(HomePath(QStringLiteral("elsewhere"))));
    choices_ = {HomePath(QStringLiteral("elsewhere"))};
    prefs_->ShowAt(PreferenceFields::GeneralTab);
    prefs_->MoveButton()->click();
    const QString moved = HomePath(QStringLiteral("elsewhere/")) + ProgramName;
    ASSERT_TRUE(Pump([&] { return prefs_->FolderPath()->text() == moved; })) << TakeLog().toStdString();
    EXPECT_TRUE(prefs_->MoveButton()->isEnabled());
    EXPECT_EQ(Setting("sync_folder"), moved);
}

}  // namespace
