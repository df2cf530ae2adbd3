#pragma once

// A control form against a running fake service: its own data folder, home
// and configuration folders, an in-memory registry, a debug file that points
// the agent at the fake (the "DEV" profile, with the account server and the
// signed API on key=value lines), a recording view and a recording engine.
// The databases' prepare pause is shortened. Waiting for the control form's
// posted calls runs the event loop.

#include "fakeservice/FakeService.h"
#include "fakeservice/TestAccount.h"
#include "shell/control/TFrmControl.h"
#include "tests/shell/RecordingEngine.h"
#include "tests/shell/RecordingView.h"
#include "tests/support/ScopedEnvironment.h"

#include "platform/RegistryStore.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>

class ControlFixture : public ::testing::Test {
protected:
    static inline const QString& UserId = TestAccount::UserId;

    void SetUp() override;
    void TearDown() override;

    QString DataPath(const QString& name) const;
    QString HomePath(const QString& name) const;

    // The debug file's lines, or the ones that point the agent at the fake.
    void WriteDebugFile(const QStringList& lines);
    QStringList FakeDebugLines() const;

    // A new control form (the earlier one, if any, closed first).
    void MakeControl(TFrmControl::Options options = {});
    // Binds the computer to the test account as the wizard does for a new
    // device, registers the agent with the fake and closes the control form:
    // the next start finds a bound computer.
    void BindAndRestart(const QString& password = TestAccount::Password);
    // Starts the control form at its splash step and waits for the engine
    // to start.
    void StartToMain();

    // Runs the event loop until the condition holds (bounded).
    static bool Pump(const std::function<bool()>& condition,
                     std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // Everything the process log buffered since the last call.
    static QString TakeLog();

    FakeService service_;
    QTemporaryDir dir_;
    ScopedEnvironment env_;
    std::unique_ptr<RegistryStore> registry_ = RegistryStore::InMemory();
    RecordingView view_;
    std::shared_ptr<EngineLog> engine_ = std::make_shared<EngineLog>();
    std::unique_ptr<TFrmControl> control_;

private:
    int savedLogMask_ = 0;
};
