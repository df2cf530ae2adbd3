#include "sync/engine/EngineNotices.h"

#include <mutex>

namespace {
std::mutex noticesMutex;
std::shared_ptr<EngineNotices> installedNotices;
}  // namespace

void EngineNotices::Install(std::shared_ptr<EngineNotices> notices)
{
    std::lock_guard lock(noticesMutex);
    installedNotices = std::move(notices);
}

std::shared_ptr<EngineNotices> EngineNotices::Installed()
{
    std::lock_guard lock(noticesMutex);
    return installedNotices;
}
