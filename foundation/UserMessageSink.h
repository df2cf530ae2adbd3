#pragma once

#include <QString>

#include <memory>

// Where worker code hands a message for the user. The tray application
// installs a sink that queues the message to the user-interface thread;
// tests install one that records it. Delivering never blocks the caller.
class UserMessageSink {
public:
    virtual ~UserMessageSink() = default;
    virtual void ShowMessage(const QString& title, const QString& text) = 0;

    // Replaces the process-wide sink (null: messages only reach the log).
    static void Install(std::shared_ptr<UserMessageSink> sink);
    // Hands the message to the installed sink, if any, and logs it.
    static void Show(const QString& title, const QString& text);
};
