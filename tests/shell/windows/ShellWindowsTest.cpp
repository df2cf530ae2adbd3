#include "shell/windows/ShellWindows.h"
#include "tests/shell/windows/WindowFixture.h"

#include "shell/windows/TFrmLog.h"
#include "shell/windows/TFrmPreference.h"
#include "shell/windows/TFrmWizard.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"

#include <QTabWidget>

namespace {

class ShellWindowsTest : public WindowFixture {};

TEST_F(ShellWindowsTest, TheWizardReplacesThePreferencesAndTheLogReachesTheLogWindow)
{
    MakeControl();
    DebugMode = true;
    ShellWindows windows(*control_, QStringLiteral("202601010000"));
    windows.ShowPreference(PreferenceFields::ProxyTab);
    EXPECT_TRUE(windows.Preference().isVisible());
    EXPECT_EQ(windows.Preference().Tabs()->currentIndex(), PreferenceFields::ProxyTab);

    windows.ShowWizard(TFrmWizard::ModeNormal);
    EXPECT_TRUE(windows.Wizard().isVisible());
    EXPECT_FALSE(windows.Preference().isVisible());
    EXPECT_EQ(windows.Wizard().PageName(), QStringLiteral("Login"));
    windows.Wizard().hide();

    windows.ShowLogWindow();
    ASSERT_TRUE(windows.LogWindow().Shown());
    AppLog.Write(QStringLiteral("a line for the window"), LogGeneral);
    ASSERT_TRUE(Pump([&] {
        return windows.LogWindow().Lines().join(u'\n').contains(QStringLiteral("a line for the window"));
    }));
    EXPECT_TRUE(windows.LogWindow().LogFile().endsWith(QStringLiteral("/debug_202601010000.log")));
}

}  // namespace
