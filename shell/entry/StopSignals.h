#pragma once

// SIGTERM and SIGINT end the agent through its exit step: the signal
// handler only writes to a pipe, and the user-interface thread reads it and
// emits stopRequested. Only one object may exist at a time.

#include <QObject>

#include <memory>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool Installed() const { return installed_; }

Q_SIGNALS:
    void stopRequested(int signal);

private:
    void OnReadable();

    bool installed_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};
