#pragma once

// An engine for the control form's tests: records every call in a log that
// the test keeps, also after the control form has released the engine.

#include "shell/control/EngineControl.h"

#include <QStringList>

#include <memory>

struct EngineLog {
    QStringList calls;  // "Start:FullSync", "Stop", "QueueResync:10:\", ...
    bool running = false;
    int made = 0;       // engines the factory made
    int released = 0;   // engines destroyed

    int Count(const QString& call) const { return static_cast<int>(calls.count(call)); }
};

class RecordingEngine : public EngineControl {
public:
    explicit RecordingEngine(std::shared_ptr<EngineLog> log) : log_(std::move(log)) { ++log_->made; }
    ~RecordingEngine() override { ++log_->released; }

    void Start(FirstCommand first) override;
    void Stop() override;
    bool Running() const override { return log_->running; }
    void ChangeSyncFolder() override { log_->calls << QStringLiteral("ChangeSyncFolder"); }
    void StartDirectoryMonitor() override { log_->calls << QStringLiteral("StartDirectoryMonitor"); }
    void QueueResync(int command, const QString& path) override;
    void ReloadProxy() override { log_->calls << QStringLiteral("ReloadProxy"); }
    void StopPushChannel() override { log_->calls << QStringLiteral("StopPushChannel"); }

private:
    std::shared_ptr<EngineLog> log_;
};
