// The main step's services: settings in their three places, the binding,
// moving the sync folder, quota, proxy and the running marker.

#include "tests/shell/ControlFixture.h"

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/ProcessState.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/settings/PeltaProxy.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/Xi18n.h"
#include "shell/settings/Shortcuts.h"
#include "tests/support/FileContents.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <optional>

class TFrmControlServicesTest : public ControlFixture {
protected:
    // The value in the store, in config.db and in the registry ("-" when the
    // registry has none).
    std::string Everywhere(const QString& name)
    {
        const std::optional<QString> registry = registry_->ReadString(ProgramRegKey, name);
        return (control_->Settings().Get(name) + u'|' + control_->Reg().GetSettingOr(name, QStringLiteral("?")) +
                u'|' + registry.value_or(QStringLiteral("-")))
            .toStdString();
    }

    // Changes the folder and runs the event loop until the outcome is known.
    std::optional<bool> Change(const QString& folder, bool quiet)
    {
        std::optional<bool> outcome;
        control_->ChangeSyncFolder(folder, quiet, [&outcome](bool changed) { outcome = changed; });
        Pump([&outcome] { return outcome.has_value(); });
        return outcome;
    }
};

TEST_F(TFrmControlServicesTest, SettingsReachTheStoreConfigDbAndWhereFlaggedTheRegistry)
{
    MakeControl();
    control_->SetSetting(QStringLiteral("sync_folder"), QStringLiteral("/srv/sync"));
    control_->SetSetting(QStringLiteral("user_sn"), QStringLiteral("42"));
    control_->SetSetting(QStringLiteral("agent_name"), QStringLiteral("筆電 1"));

    EXPECT_EQ(Everywhere(QStringLiteral("sync_folder")), "/srv/sync|/srv/sync|/srv/sync");
    EXPECT_EQ(Everywhere(QStringLiteral("user_sn")), "42|42|-");
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("agent_name_base64")),
              Base64UrlEncodeText(QStringLiteral("筆電 1")));

    for (const bool on : {false, true}) {
        control_->SetSettingBool(QStringLiteral("auto_start"), on);
        EXPECT_EQ(registry_->ReadDword(ProgramRegKey, QStringLiteral("auto_start")), on ? 1u : 0u);
        EXPECT_EQ(control_->Reg().GetSettingOr(QStringLiteral("auto_start"), QString()), on ? "1" : "0");
    }
}

TEST_F(TFrmControlServicesTest, BindingKeepsThePasswordEncipheredAndMarksTheComputerBound)
{
    MakeControl();
    control_->SaveBinding(QStringLiteral("member"), QStringLiteral("s3cret"), QStringLiteral("desk"));

    EXPECT_TRUE(control_->Reg().bound);
    EXPECT_EQ(control_->Reg().GetLogin(), QStringLiteral("member"));
    EXPECT_EQ(control_->Reg().GetPass(), QStringLiteral("s3cret"));
    EXPECT_NE(control_->Reg().GetSettingOr(QStringLiteral("pass"), QString()), QStringLiteral("s3cret"));
    EXPECT_EQ(Everywhere(QStringLiteral("account_valid")).substr(0, 4), "1|1|");
    EXPECT_EQ(control_->Reg().GetAgentName(), QStringLiteral("desk"));
}

TEST_F(TFrmControlServicesTest, MovingTheSyncFolderTellsTheServiceStoresItAndRebindsTheEngine)
{
    BindAndRestart();
    StartToMain();
    ASSERT_TRUE(QDir().mkpath(HomePath(QStringLiteral("Desktop"))));
    ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("config/gtk-3.0"))));
    WriteFileBytes(dir_.filePath(QStringLiteral("config/gtk-3.0/bookmarks")), "file:///srv/music Music\n");
    engine_->calls.clear();
    const QString moved = HomePath(QStringLiteral("elsewhere"));

    ASSERT_EQ(Change(moved, false), std::optional<bool>(true));

    const std::string folder = moved.toStdString();
    EXPECT_EQ(Everywhere(QStringLiteral("sync_folder")), folder + '|' + folder + '|' + folder);
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("sync_folder_md5sum")), Md5Hex(moved));
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("first_sync_time")), QStringLiteral("1"));
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("last_sync_time")), QStringLiteral("1"));
    const std::optional<FakeAgent> agent =
        service_.State().Agent(UserId, control_->Settings().Get(QStringLiteral("agent_key")));
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->folderMd5, Md5Hex(moved));
    // A monitor that had ended (its folder gone) watches the new one.
    EXPECT_EQ(engine_->calls, (QStringList{QStringLiteral("ChangeSyncFolder"), QStringLiteral("StartDirectoryMonitor"),
                                           QStringLiteral("ReloadProxy"), QStringLiteral("QueueResync:10:\\")}));
    EXPECT_EQ(view_.messages, QStringList{Xi18n::Text(XText::_ConfigSuccess)});

    const QString entry = QString::fromUtf8(ReadFileBytes(HomePath(QStringLiteral("Desktop/")) + Shortcuts::EntryName));
    EXPECT_TRUE(entry.contains(QStringLiteral(" /home\n"))) << entry.toStdString();
    EXPECT_TRUE(entry.contains(QStringLiteral("Path=") + moved + u'\n')) << entry.toStdString();
    EXPECT_EQ(ReadFileBytes(dir_.filePath(QStringLiteral("config/gtk-3.0/bookmarks"))),
              "file:///srv/music Music\n" + QUrl::fromLocalFile(moved).toEncoded() + " Tessaron\n");
}

TEST_F(TFrmControlServicesTest, RefusedFolderLeavesThePreviousOneEverywhere)
{
    BindAndRestart();
    StartToMain();
    engine_->calls.clear();
    const std::string before = Everywhere(QStringLiteral("sync_folder"));
    const QString beforeMd5 = control_->Settings().Get(QStringLiteral("sync_folder_md5sum"));
    service_.Faults().SetNext("setAgentInfo", Fault::Message(QStringLiteral("refused")));

    EXPECT_EQ(Change(HomePath(QStringLiteral("refused")), false), std::optional<bool>(false));

    EXPECT_EQ(Everywhere(QStringLiteral("sync_folder")), before);
    EXPECT_EQ(control_->Settings().Get(QStringLiteral("sync_folder_md5sum")), beforeMd5);
    EXPECT_EQ(view_.messages, QStringList{Xi18n::Text(XText::_ML0311)});
    EXPECT_TRUE(engine_->calls.isEmpty());
}

TEST_F(TFrmControlServicesTest, FolderThatCannotBeMadeIsRefusedAtOnce)
{
    BindAndRestart();
    WriteFileBytes(HomePath(QStringLiteral("a-file")), "x");
    const std::string before = Everywhere(QStringLiteral("sync_folder"));

    EXPECT_EQ(Change(HomePath(QStringLiteral("a-file/sync")), true), std::optional<bool>(false));
    EXPECT_EQ(Everywhere(QStringLiteral("sync_folder")), before);
    EXPECT_EQ(service_.CallCount("setAgentInfo"), 0u);
    Pump([this] { return !view_.messages.isEmpty(); });
    EXPECT_EQ(view_.messages, QStringList{Xi18n::Text(XText::_MkdirFail)});
}

TEST_F(TFrmControlServicesTest, QuotaMenuShowsTheShareInUse)
{
    MakeControl();
    QuotaTotal = 2048;
    QuotaUsed = 512;
    RequestObject.SetQuotaFull(true);
    control_->UpdateQuotaMenu();
    EXPECT_TRUE(view_.quotaEnabled);
    EXPECT_EQ(view_.quotaCaption, QStringLiteral("已使用空間：25.00% (共有 2.0 GB)"));
    EXPECT_FALSE(RequestObject.IsQuotaFull());

    QuotaTotal = 500;
    QuotaUsed = 500;
    RequestObject.SetQuotaFull(true);
    control_->UpdateQuotaMenu();
    EXPECT_EQ(view_.quotaCaption, QStringLiteral("已使用空間：100.00% (共有 500.0 MB)"));
    EXPECT_TRUE(RequestObject.IsQuotaFull());
    RequestObject.SetQuotaFull(false);
}

TEST_F(TFrmControlServicesTest, ProxyIsReadFromTheRegistryAndHandedToTheEngine)
{
    BindAndRestart();
    StartToMain();
    registry_->WriteString(ProgramRegKey, QStringLiteral("proxy_server"), QStringLiteral("proxy.local"));
    registry_->WriteDword(ProgramRegKey, QStringLiteral("proxy_port"), 3128);
    registry_->WriteDword(ProgramRegKey, QStringLiteral("proxy_enable"), 1);

    control_->ApplyProxy();
    EXPECT_EQ(AppProxy.Get().server, QStringLiteral("proxy.local"));
    EXPECT_EQ(AppProxy.Get().port, 3128);
    EXPECT_EQ(control_->Reg().Proxy().server, QStringLiteral("proxy.local"));
    EXPECT_EQ(engine_->calls.last(), QStringLiteral("ReloadProxy"));
    AppProxy.Set(PeltaProxy());
}

TEST_F(TFrmControlServicesTest, BandwidthOfTheSettingsReachesTheTransfers)
{
    MakeControl();
    control_->SetSetting(QStringLiteral("bw_upload_limit"), QStringLiteral("1"));
    control_->SetSetting(QStringLiteral("bw_upload"), QStringLiteral("10"));
    control_->SetSetting(QStringLiteral("bw_download_limit"), QStringLiteral("0"));
    control_->SetSetting(QStringLiteral("bw_download"), QStringLiteral("10"));
    control_->ApplyBandwidth();
    EXPECT_EQ(UploadBitRate.load(), 81960);
    EXPECT_EQ(DownloadBitRate.load(), 0);
}
