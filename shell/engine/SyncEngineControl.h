#pragma once

// The control form's way into the sync engine: forwards each call to the
// engine's owner class, which owns and joins the engine's threads.

#include "shell/control/EngineControl.h"

#include <memory>

class EngineNotices;
class PeltaReg;
class PeltaSyncAgentSetting;
class SyncEngine;

class SyncEngineControl : public EngineControl {
public:
    // reg and settings outlive the object.
    SyncEngineControl(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices);
    ~SyncEngineControl() override;

    void Start(FirstCommand first) override;
    void Stop() override;
    bool Running() const override;
    void ChangeSyncFolder() override;
    void StartDirectoryMonitor() override;
    void QueueResync(int command, const QString& path) override;
    void ReloadProxy() override;

private:
    std::unique_ptr<SyncEngine> engine_;
};
