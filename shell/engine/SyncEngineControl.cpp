#include "shell/engine/SyncEngineControl.h"

#include "sync/SyncEngine.h"
#include "sync/SyncEngineOptions.h"

namespace {

SyncEngine::FirstCommand ToEngine(EngineControl::FirstCommand first)
{
    switch (first) {
    case EngineControl::FirstCommand::FullSync: return SyncEngine::FirstCommand::FullSync;
    case EngineControl::FirstCommand::RemoteResync: return SyncEngine::FirstCommand::RemoteResync;
    case EngineControl::FirstCommand::AppStart: break;
    }
    return SyncEngine::FirstCommand::AppStart;
}

}  // namespace

SyncEngineControl::SyncEngineControl(PeltaReg& reg, PeltaSyncAgentSetting& settings,
                                     std::shared_ptr<EngineNotices> notices)
    : engine_(std::make_unique<SyncEngine>(reg, settings, std::move(notices)))
{
}

SyncEngineControl::SyncEngineControl(PeltaReg& reg, PeltaSyncAgentSetting& settings,
                                     std::shared_ptr<EngineNotices> notices, const SyncEngineOptions& options)
    : engine_(std::make_unique<SyncEngine>(reg, settings, std::move(notices), options))
{
}

SyncEngineControl::~SyncEngineControl() = default;

void SyncEngineControl::Start(FirstCommand first)
{
    engine_->Start(ToEngine(first));
}

void SyncEngineControl::Stop()
{
    engine_->Stop();
}

bool SyncEngineControl::Running() const
{
    return engine_->Running();
}

void SyncEngineControl::ChangeSyncFolder()
{
    engine_->ChangeSyncFolder();
}

void SyncEngineControl::StartDirectoryMonitor()
{
    engine_->StartDirectoryMonitor();
}

void SyncEngineControl::QueueResync(int command, const QString& path)
{
    engine_->QueueResync(command, path);
}

void SyncEngineControl::ReloadProxy()
{
    engine_->ReloadProxy();
}

void SyncEngineControl::StopPushChannel()
{
    engine_->StopPushChannel();
}
