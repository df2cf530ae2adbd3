#include "tests/sync/threads/RecordingFormCalls.h"

std::shared_ptr<RecordingFormCalls> RecordingFormCalls::InstallNew()
{
    auto calls = std::make_shared<RecordingFormCalls>();
    EngineNotices::Install(calls);
    return calls;
}

void RecordingFormCalls::ShowBalloon(const QString& title, const QString&)
{
    Record(QStringLiteral("balloon ") + title);
}

void RecordingFormCalls::ShowBalloonWithPath(const QString& title, const QString&, bool, const QString&)
{
    Record(QStringLiteral("balloon ") + title);
}

void RecordingFormCalls::ShowFileBalloon(const QString& title, const QString&, const QString&)
{
    Record(QStringLiteral("balloon ") + title);
}

void RecordingFormCalls::SetSyncStatus(bool busy, bool, int)
{
    Record(busy ? QStringLiteral("status busy") : QStringLiteral("status idle"));
}

void RecordingFormCalls::SetTrayState(int state)
{
    Record(QStringLiteral("tray ") + QString::number(state));
}

void RecordingFormCalls::SetResyncMenu(bool enabled)
{
    Record(enabled ? QStringLiteral("menu on") : QStringLiteral("menu off"));
}

void RecordingFormCalls::SetSetting(const QString& name, const QString& value)
{
    Record(QStringLiteral("setting ") + name + QLatin1Char('=') + value);
}

void RecordingFormCalls::SaveSettings()
{
    Record(QStringLiteral("save"));
}

void RecordingFormCalls::StartDirectoryMonitor()
{
    Record(QStringLiteral("monitor"));
}

void RecordingFormCalls::SyncFolderUnavailable(const QString& folder, const QString&)
{
    Record(QStringLiteral("unavailable ") + folder);
}

void RecordingFormCalls::SyncFolderAvailable(const QString& folder)
{
    Record(QStringLiteral("available ") + folder);
}

QStringList RecordingFormCalls::Calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

QStringList RecordingFormCalls::Calls(const QString& prefix) const
{
    QStringList matching;
    for (const QString& call : Calls()) {
        if (call.startsWith(prefix))
            matching << call;
    }
    return matching;
}

void RecordingFormCalls::Record(const QString& call)
{
    std::lock_guard lock(mutex_);
    calls_ << call;
}
