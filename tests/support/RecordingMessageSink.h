#pragma once

// A message sink for tests: records every message handed to the user and,
// when set, runs a probe on the calling thread as each one arrives.

#include "foundation/UserMessageSink.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class RecordingMessageSink : public UserMessageSink {
public:
    struct Message {
        QString title;
        QString text;
    };

    // Installs a new recording sink as the process-wide sink. Tests put the
    // earlier state back with UserMessageSink::Install(nullptr).
    static std::shared_ptr<RecordingMessageSink> InstallNew();

    void ShowMessage(const QString& title, const QString& text) override;

    std::vector<Message> Messages() const;
    // Runs on the thread that hands the message over, before it is recorded.
    void SetProbe(std::function<void(const QString& text)> probe);

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::function<void(const QString&)> probe_;
};
