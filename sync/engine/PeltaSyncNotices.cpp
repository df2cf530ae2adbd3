// PeltaSync: the notices of a finished batch and of a full quota, and the
// stop marker that wakes the directory monitor.

#include "sync/engine/PeltaSync.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"
#include "sync/engine/EngineNotices.h"
#include "sync/engine/SyncFolders.h"
#include "sync/rules/LocalItem.h"

#include <unistd.h>

namespace {

constexpr std::chrono::seconds kQuotaNoticeInterval{60};

QString Quoted(const QString& name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

}  // namespace

void PeltaSync::StoreSetting(const QString& name, const QString& value)
{
    Settings()->Set(name, value);
    if (reg_)
        reg_->SetConfigSetting(name, value);
    if (const auto notices = EngineNotices::Installed())
        notices->SetSetting(name, value);
}

void PeltaSync::NotifySyncResult(const ActionCounts& counts, const QString& lastPath)
{
    const int added = counts[XSYNCFileAdd] + counts[XSYNCFileGet] + counts[XSYNCFileMove];
    const int total = added + counts[XSYNCFileMod] + counts[XSYNCFileDel];
    if (total == 0)
        return;
    QString title;
    QString text;
    QString target;
    if (total == 1) {
        const QString name = lastPath.mid(lastPath.lastIndexOf(QLatin1Char('\\')) + 1);
        if (lastPath.isEmpty() || name.isEmpty())
            return;
        if (added > 0 || counts[XSYNCFileMod] > 0) {
            const bool isAdd = added > 0;
            title = name + QLatin1Char(' ') + Xi18n::Text(isAdd ? XText::_Added : XText::_Updated);
            text = Quoted(name) + QLatin1Char(' ') + Xi18n::Text(isAdd ? XText::_ML0201 : XText::_ML0202) +
                   QLatin1Char('\n') + Xi18n::Text(XText::_ML0206);
            target = ToLocalPath(lastPath);
        } else {
            title = name + QLatin1Char(' ') + Xi18n::Text(XText::_Deleted);
            text = Quoted(name) + QLatin1Char(' ') + Xi18n::Text(XText::_Deleted);
        }
    } else {
        title = Xi18n::Text(XText::_APPName) + QLatin1Char(' ') + Xi18n::Text(XText::_Synced);
        text = FormatText(Xi18n::Text(XText::_ML0203), {total});
    }
    Log(QStringLiteral("PeltaSync:NotifySyncResult:") + title, LogGeneral);
    if (const auto notices = EngineNotices::Installed())
        notices->ShowFileBalloon(title, text, target);
}

void PeltaSync::NotifyQuotaFull(bool quotaError)
{
    const SteadyTime now = SteadyClock::now();
    const SteadyTime last = QuotaNoticeTime.load();
    if (last != SteadyTime{} && now - last <= kQuotaNoticeInterval)
        return;
    if (!(QuotaMaxFileSize.load() > 0))
        return;
    QuotaNoticeTime = now;
    const QString text =
        Xi18n::Text(!quotaError && QuotaTotal.load() > 0 ? XText::_ML0205 : XText::_ML0204);
    Log(QStringLiteral("PeltaSync:NotifyQuotaFull:") + text, LogGeneral);
    status_.SetQuotaFull(true);
    if (const auto notices = EngineNotices::Installed())
        notices->ShowBalloonWithPath(Xi18n::Text(XText::_SyncFail), text, true, QuotaPageUrl);
}

void PeltaSync::ToggleStopMarker()
{
    if (!EnsureCacheDir())
        return;
    const auto folders = Folders();
    const QString marker = folders->CacheDir() + QStringLiteral("/.stop");
    int error = 0;
    if (LocalItem::Stat(folders->SyncFolder(), marker).kind != LocalKind::Missing) {
        LocalItem::RemoveFile(folders->SyncFolder(), marker, error);
        return;
    }
    const FileDescriptor file = LocalItem::CreateFile(folders->SyncFolder(), marker, error);
    if (!file.IsOpen() || ::write(file.Get(), "1\n", 2) != 2)
        Log(QStringLiteral("PeltaSync::ToggleStopMarker:Err:") + marker + QLatin1Char(':') +
                LocalItem::ErrorText(error),
            LogGeneral);
}
