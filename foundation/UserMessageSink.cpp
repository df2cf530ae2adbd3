#include "foundation/UserMessageSink.h"

#include "foundation/log/PeltaLog.h"

#include <mutex>

namespace {
std::mutex sinkMutex;
std::shared_ptr<UserMessageSink> installedSink;
}  // namespace

void UserMessageSink::Install(std::shared_ptr<UserMessageSink> sink)
{
    std::lock_guard lock(sinkMutex);
    installedSink = std::move(sink);
}

void UserMessageSink::Show(const QString& title, const QString& text)
{
    AppLog.Write(QStringLiteral("Message: ") + title + QStringLiteral(": ") + text, LogGeneral);
    std::shared_ptr<UserMessageSink> sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = installedSink;
    }
    if (sink)
        sink->ShowMessage(title, text);
}
