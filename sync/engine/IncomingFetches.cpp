#include "sync/engine/IncomingFetches.h"

#include <QHash>

#include <mutex>

namespace {

std::mutex fetchesMutex;
QHash<QString, int> running;  // path -> fetches of it; guarded by fetchesMutex

}  // namespace

IncomingFetches::Scope::Scope(const QString& path) : path_(path)
{
    std::lock_guard lock(fetchesMutex);
    ++running[path_];
}

IncomingFetches::Scope::~Scope()
{
    std::lock_guard lock(fetchesMutex);
    const auto it = running.find(path_);
    if (it == running.end())
        return;
    if (--it.value() <= 0)
        running.erase(it);
}

bool IncomingFetches::Has(const QString& path)
{
    std::lock_guard lock(fetchesMutex);
    return running.contains(path);
}

bool IncomingFetches::AnyBelow(const QString& folder)
{
    const QString prefix = folder + QLatin1Char('\\');
    std::lock_guard lock(fetchesMutex);
    for (auto it = running.cbegin(); it != running.cend(); ++it) {
        if (it.key().startsWith(prefix))
            return true;
    }
    return false;
}
