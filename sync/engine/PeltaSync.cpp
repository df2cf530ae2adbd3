// PeltaSync: construction, binding, the abort flag, paths and record keys.

#include "sync/engine/PeltaSync.h"

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/SyncFolders.h"
#include "sync/filter/FileFilter.h"
#include "sync/rules/PathGuard.h"
#include "sync/rules/RecordKey.h"

#include <exception>

namespace {

QString SyncFolderSetting(const PeltaSyncAgentSetting& settings)
{
    return settings.Get(QStringLiteral("sync_folder"));
}

}  // namespace

PeltaSync::PeltaSync(PeltaReg* reg, PeltaSyncAgentSetting* settings, PeltaRequestObject& status,
                     PeltaTrackConflict& conflicts)
    : db_(std::make_unique<PeltaDb>(*settings)),
      reg_(reg),
      settings_(settings),
      status_(status),
      conflicts_(conflicts),
      userSn_(settings->Get(QStringLiteral("user_sn"))),
      shellCacheDir_(reg->MarkerFolder()),
      markers_(shellCacheDir_),
      api_(std::make_unique<PeltaAPI>(reg, settings)),
      folders_(std::make_shared<const SyncFolders>(SyncFolderSetting(*settings)))
{
    if (!folders_->IsUsable())
        Log(QStringLiteral("PeltaSync:sync folder is not an absolute path:") + SyncFolderSetting(*settings),
            LogGeneral);
}

PeltaSync::~PeltaSync() = default;

// ---- Binding and the abort flag --------------------------------------------

void PeltaSync::SetAgentSetting(PeltaSyncAgentSetting* settings)
{
    if (settings == nullptr)
        return;
    api_->SetAgentSetting(settings);
    settings_.store(settings);
    auto folders = std::make_shared<const SyncFolders>(SyncFolderSetting(*settings));
    if (!folders->IsUsable())
        Log(QStringLiteral("PeltaSync:sync folder is not an absolute path:") + SyncFolderSetting(*settings),
            LogGeneral);
    {
        std::lock_guard lock(foldersMutex_);
        folders_ = std::move(folders);
    }
    abort_.store(true);
}

bool PeltaSync::IsRunning() const
{
    return AppState.load() != XAPPExit && !abort_.load();
}

void PeltaSync::Log(const QString& text, int category)
{
    AppLog.Write(text, category);
}

QString PeltaSync::Field(const XMap& map, const char* name)
{
    const auto found = map.find(QLatin1String(name));
    return found == map.end() ? QString() : found->second;
}

std::shared_ptr<const SyncFolders> PeltaSync::Folders() const
{
    std::lock_guard lock(foldersMutex_);
    return folders_;
}

QString PeltaSync::SyncFolder() const
{
    return Folders()->SyncFolder();
}

QString PeltaSync::CacheDir() const
{
    return Folders()->CacheDir();
}

bool PeltaSync::Guarded(const char* where, const std::function<void()>& work)
{
    try {
        work();
        return true;
    } catch (const Lithos::SQLiteException& failure) {
        Log(QString::fromLatin1(where) + QStringLiteral(":store failed:") + PeltaDb::FormatSQLiteException(failure),
            LogGeneral);
    } catch (const std::exception& failure) {
        Log(QString::fromLatin1(where) + QStringLiteral(":failed:") + QString::fromLocal8Bit(failure.what()),
            LogGeneral);
    }
    return false;
}

// ---- Paths and keys ----------------------------------------------------------

QString PeltaSync::Relative(const SyncFolders& folders, const QString& path, const QString& where)
{
    if (!folders.IsUsable()) {
        PathGuard::LogRefused(where, path, QStringLiteral("no usable sync folder"));
        return QString();
    }
    const QString& root = folders.SyncFolder();
    QString relative;
    if (PathGuard::IsInside(root, path)) {
        QString rest = path.mid(root.size());
        if (rest.contains(QLatin1Char('\\'))) {
            PathGuard::LogRefused(where, path, QStringLiteral("separator in name"));
            return QString();
        }
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
        relative = rest.isEmpty() ? QStringLiteral("\\") : rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    } else {
        if (path.isEmpty() || path == QLatin1String("0"))
            return QStringLiteral("\\");
        relative = path;
        if (relative.size() > 1 && relative.endsWith(QLatin1Char('\\')))
            relative.chop(1);
    }
    const QString reason = PathGuard::CheckRelative(relative);
    if (!reason.isEmpty()) {
        PathGuard::LogRefused(where, path, reason);
        return QString();
    }
    return relative;
}

QString PeltaSync::Full(const SyncFolders& folders, const QString& relative)
{
    if (relative.isEmpty())
        return QString();
    if (relative == QLatin1String("\\"))
        return folders.SyncFolder() + QLatin1Char('/');
    QString names = relative;
    return folders.SyncFolder() + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString PeltaSync::ToRelativePath(const QString& full) const
{
    return Relative(*Folders(), full, QStringLiteral("PeltaSync::ToRelativePath"));
}

QString PeltaSync::ToLocalPath(const QString& path) const
{
    const auto folders = Folders();
    return Full(*folders, Relative(*folders, path, QStringLiteral("PeltaSync::ToLocalPath")));
}

QString PeltaSync::ParentPath(const QString& path) const
{
    const auto folders = Folders();
    const QString full = Full(*folders, Relative(*folders, path, QStringLiteral("PeltaSync::ParentPath")));
    if (full.isEmpty())
        return QString();
    return Relative(*folders, full.left(full.lastIndexOf(QLatin1Char('/'))),
                    QStringLiteral("PeltaSync::ParentPath"));
}

QString PeltaSync::RecordKey(const QString& relativePath) const
{
    return RecordKey::Of(userSn_, relativePath);
}

bool PeltaSync::FillRecordKeys(PeltaRecVfsSyncFile& record)
{
    const auto folders = Folders();
    const QString relative = Relative(*folders, record.path, QStringLiteral("PeltaSync::FillRecordKeys"));
    if (relative.isEmpty() || relative == QLatin1String("\\"))
        return false;
    const QString full = Full(*folders, relative);
    const qsizetype cut = full.lastIndexOf(QLatin1Char('/'));
    const QString dir = full.left(cut);
    record.path = relative;
    record.key = RecordKey(relative);
    record.name = full.mid(cut + 1);
    record.sn = userSn_;
    if (dir == folders->SyncFolder()) {
        record.parent = QStringLiteral("\\");
        return false;
    }
    const QString parentPath = Relative(*folders, dir, QStringLiteral("PeltaSync::FillRecordKeys"));
    QString parent = db_->GetFolderKey(parentPath);
    if (!parent.isEmpty() && !RecordKey::IsValid(parent)) {
        Log(QStringLiteral("PeltaSync::FillRecordKeys:stored folder key is not a key:") + parentPath, LogGeneral);
        parent.clear();
    }
    record.parent = parent;
    return true;
}

// ---- File filter -------------------------------------------------------------

bool PeltaSync::IsIgnoredFile(const QString& path)
{
    return FileFilter::IsIgnored(path);
}
