#include "tests/shell/RecordingEngine.h"

void RecordingEngine::Start(FirstCommand first)
{
    static const char* const names[] = {"FullSync", "RemoteResync", "AppStart"};
    log_->calls << QStringLiteral("Start:") + QLatin1String(names[static_cast<int>(first)]);
    log_->running = true;
}

void RecordingEngine::Stop()
{
    log_->calls << QStringLiteral("Stop");
    log_->running = false;
}

void RecordingEngine::QueueResync(int command, const QString& path)
{
    log_->calls << QStringLiteral("QueueResync:%1:%2").arg(command).arg(path);
}
