#include "sync/rules/SelfChange.h"

#include "foundation/Constants.h"
#include "foundation/PeltaRequestObject.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/PathGuard.h"

#include <cstdint>

namespace {

const QChar kSeparator = QLatin1Char('\\');

QString WithLeadingSeparator(const QString& path)
{
    return path.startsWith(kSeparator) ? path : kSeparator + path;
}

QString FullPath(const QString& root, const QString& relative)
{
    if (relative.size() == 1)
        return root;
    QString names = relative;
    return root + names.replace(kSeparator, QLatin1Char('/'));
}

void Log(const QString& text)
{
    AppLog.Write(text, LogMonitor);
}

}  // namespace

bool SelfChange::IsOwn(PeltaRequestObject& status, PeltaDb& store, const QString& root, const QString& path)
{
    const int count = status.FileMonCount(path);
    if (count <= 0)
        return false;
    if (count >= PeltaRequestObject::SelfChangeMark)
        return true;
    if (DiskMatchesRecord(store, root, path))
        return true;
    Log(QStringLiteral("FileMon:changed since the engine's own change, the user's:") + WithLeadingSeparator(path));
    return false;
}

bool SelfChange::DiskMatchesRecord(PeltaDb& store, const QString& root, const QString& path)
{
    const QString relative = WithLeadingSeparator(path);
    const QString refused = PathGuard::CheckRelative(relative);
    if (!refused.isEmpty() || root.isEmpty())
        return false;
    const LocalFacts facts = LocalItem::Stat(root, FullPath(root, relative));

    PeltaRecVfsSyncFile file;
    file.kind = XFSFile;
    file.path = relative;
    store.RecGet(file);
    PeltaRecVfsSyncFile folder;
    folder.kind = XFSFolder;
    folder.path = relative;
    store.RecGet(folder);
    if (file.error || folder.error)
        return false;

    switch (facts.kind) {
    case LocalKind::File:
        return file.found && !folder.found && file.size == facts.size &&
               file.mtime == static_cast<std::int32_t>(facts.mtime);
    case LocalKind::Folder:
        return folder.found && !file.found;
    case LocalKind::Unknown:
        return false;
    case LocalKind::Missing:
    case LocalKind::Other:  // not an item: nothing the engine left is there
        break;
    }
    return !file.found && !folder.found;
}
