#include "tests/support/RecordingMessageSink.h"

#include <utility>

std::shared_ptr<RecordingMessageSink> RecordingMessageSink::InstallNew()
{
    auto sink = std::make_shared<RecordingMessageSink>();
    UserMessageSink::Install(sink);
    return sink;
}

void RecordingMessageSink::ShowMessage(const QString& title, const QString& text)
{
    std::function<void(const QString&)> probe;
    {
        std::lock_guard lock(mutex_);
        probe = probe_;
    }
    if (probe)
        probe(text);
    std::lock_guard lock(mutex_);
    messages_.push_back({title, text});
}

std::vector<RecordingMessageSink::Message> RecordingMessageSink::Messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

void RecordingMessageSink::SetProbe(std::function<void(const QString& text)> probe)
{
    std::lock_guard lock(mutex_);
    probe_ = std::move(probe);
}
