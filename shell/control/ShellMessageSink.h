#pragma once

// The control form's message sink: a message for the user from any thread
// is handed to the user-interface thread, which shows it without waiting;
// once shutdown has begun it only reaches the log.

#include "foundation/UserMessageSink.h"

#include <memory>

class TFrmControl;
class UiThreadPost;

class ShellMessageSink : public UserMessageSink {
public:
    ShellMessageSink(TFrmControl& control, std::shared_ptr<UiThreadPost> post);

    void ShowMessage(const QString& title, const QString& text) override;

private:
    TFrmControl& control_;
    const std::shared_ptr<UiThreadPost> post_;
};
