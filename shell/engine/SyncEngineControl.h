#pragma once

// The control form's way into the sync engine: forwards each call to the
// engine's owner class, which owns and joins the engine's threads.

#include "shell/control/EngineControl.h"

#include <memory>

class EngineNotices;
class PeltaReg;
class PeltaSyncAgentSetting;
class SyncEngine;
struct SyncEngineOptions;

class SyncEngineControl : public EngineControl {
public:
    // reg and settings outlive the object.
    SyncEngineControl(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices);
    // The same with the threads' tuning (tests).
    SyncEngineControl(PeltaReg& reg, PeltaSyncAgentSetting& settings, std::shared_ptr<EngineNotices> notices,
                      const SyncEngineOptions& options);
    ~SyncEngineControl() override;

    void Start(FirstCommand first) override;
    void Stop() override;
    bool Running() const override;
    void ChangeSyncFolder() override;
    void StartDirectoryMonitor() override;
    void QueueResync(int command, const QString& path) override;
    void ReloadProxy() override;
    void StopPushChannel() override;

private:
    std::unique_ptr<SyncEngine> engine_;
};
