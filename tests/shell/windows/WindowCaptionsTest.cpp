// Every window takes its captions again when the language changes, shown or
// not.

#include "shell/windows/ShellWindows.h"
#include "tests/shell/windows/WindowFixture.h"

#include "shell/windows/TFrmLog.h"
#include "shell/windows/TFrmLogin.h"
#include "shell/windows/TFrmPreference.h"
#include "shell/windows/TFrmWizard.h"

#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/text/Xi18n.h"

#include <QWidget>

#include <algorithm>
#include <iterator>

namespace {

class WindowCaptionsTest : public WindowFixture {};

TEST_F(WindowCaptionsTest, ALanguageSwitchRereadsEveryWindowsCaption)
{
    MakeControl();
    ShellWindows windows(*control_, QStringLiteral("202601010000"));
    const QString appName = Xi18n::Text(XText::_APPName);
    const QString version = control_->Reg().AgentVer();
    struct Case {
        const char* name;
        QWidget& window;
        QString caption;
    };
    const Case cases[] = {
        {"wizard", windows.Wizard(), Xi18n::Text(XText::_ML0519) + appName},
        {"preferences", windows.Preference(), appName + Xi18n::Text(XText::_ML0601) + version},
        {"login form", windows.Login(), QStringLiteral("使用者登入 ") + ServerProfile},
        {"log window", windows.LogWindow(), QStringLiteral("FrmLog Version:") + version + u' ' + ServerProfile},
    };
    windows.Preference().show();  // one of them shown
    for (const Case& c : cases)
        c.window.setWindowTitle(QStringLiteral("stale"));

    ASSERT_TRUE(control_->SwitchLanguage(Xi18n::DefaultLcid));
    EXPECT_TRUE(Pump([&] {
        return std::all_of(std::begin(cases), std::end(cases),
                           [](const Case& c) { return c.window.windowTitle() != QLatin1String("stale"); });
    }));
    for (const Case& c : cases)
        EXPECT_EQ(c.window.windowTitle(), c.caption) << c.name;
    windows.Preference().hide();
}

}  // namespace
