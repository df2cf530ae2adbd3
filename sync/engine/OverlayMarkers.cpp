#include "sync/engine/OverlayMarkers.h"

#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>

namespace {

std::mutex markerMutex;

}  // namespace

const QString OverlayMarkers::PendingSuffix = QStringLiteral("1");
const QString OverlayMarkers::SyncedSuffix = QStringLiteral("9");

OverlayMarkers::OverlayMarkers(const QString& folder)
    : folder_(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'))
{
}

QString OverlayMarkers::Base(const QString& p) const
{
    return folder_ + QLatin1Char('.') + Md5Hex(p) + QLatin1Char('.');
}

void OverlayMarkers::Set(const QString& p, int state) const
{
    const QString base = Base(p);
    const QString pending = base + PendingSuffix;
    const QString synced = base + SyncedSuffix;
    std::lock_guard lock(markerMutex);
    switch (state) {
    case XICOAdd:
    case XICOResync:
    case XICOMod:
        Remove(synced);
        Create(pending);
        break;
    case XICOSync:
        Remove(pending);
        Create(synced);
        break;
    case XICODel:
        Remove(pending);
        Remove(synced);
        break;
    default:
        break;
    }
}

// Create-new: an existing marker stays as it is.
void OverlayMarkers::Create(const QString& file)
{
    const int fd = ::open(file.toUtf8().constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

void OverlayMarkers::Remove(const QString& file)
{
    ::unlink(file.toUtf8().constData());
}
