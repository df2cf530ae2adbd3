#include "sync/engine/RemoteRecycle.h"

#include "foundation/Constants.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/PeltaSync.h"
#include "sync/engine/ShellNotice.h"
#include "sync/rules/LocalChangeLock.h"
#include "sync/rules/LocalItem.h"
#include "sync/rules/LocalListing.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/SafeReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

const QString kWhere = QStringLiteral("PeltaSync:ResyncJournal:recycle");

QString Join(const QString& folder, const QString& name)
{
    return folder + QLatin1Char('\\') + name;
}

// Paths below folder sort between folder + "\" and folder + "]" (the next
// character), byte by byte as the store compares them.
QString BelowCondition(const QString& folder)
{
    return QStringLiteral("(path=") + PeltaRec::Literal(folder) + QStringLiteral(" or (path>=") +
           PeltaRec::Literal(folder + QLatin1Char('\\')) + QStringLiteral(" and path<") +
           PeltaRec::Literal(folder + QLatin1Char(']')) + QStringLiteral("))");
}

}  // namespace

RemoteRecycle::RemoteRecycle(PeltaSync& engine, MountedFolder& mounted)
    : engine_(engine), mounted_(mounted), root_(engine.SyncFolder())
{
}

QString RemoteRecycle::Full(const QString& path) const
{
    return engine_.ToLocalPath(path);
}

bool RemoteRecycle::MayDelete(const QString& path)
{
    if (!engine_.IsRunning())
        return false;
    const MountedFolder::State state = mounted_.Check();
    if (state == MountedFolder::State::Mounted)
        return true;
    PeltaSync::Log(kWhere + QStringLiteral(":sync folder ") + MountedFolder::StateName(state) +
                       QStringLiteral(", nothing removed:") + path,
                   LogGeneral);
    return false;
}

// ---- A file -----------------------------------------------------------------------------

RemoteRecycle::Result RemoteRecycle::File(const QString& path)
{
    if (!MayDelete(path))
        return Result::Stopped;
    return RemoveFile(path, true);
}

RemoteRecycle::Result RemoteRecycle::RemoveFile(const QString& path, bool queueKept)
{
    const LocalChangeLock removing;
    PeltaRecVfsSyncFile stored;
    stored.kind = XFSFile;
    stored.path = path;
    const bool found = engine_.Db().RecGet(stored);
    if (stored.error)
        return Result::Failed;
    const QString full = Full(path);
    const LocalFacts facts = LocalItem::Stat(root_, full);
    switch (facts.kind) {
    case LocalKind::Missing:
        if (found)
            engine_.Db().RecDelete(path, XFSFile);
        DropDownloads(path);
        return Result::Removed;
    case LocalKind::File:
        break;
    case LocalKind::Folder:
    case LocalKind::Other:
        PeltaSync::Log(kWhere + QStringLiteral(":not a file here, left alone:") + path, LogGeneral);
        if (found)
            engine_.Db().RecDelete(path, XFSFile);
        return Result::Kept;
    case LocalKind::Unknown:
        PeltaSync::Log(kWhere + QStringLiteral(":cannot look at ") + path + QLatin1Char(':') +
                           LocalItem::ErrorText(facts.error),
                       LogGeneral);
        return Result::Failed;
    }

    const SafeReplace::Stored record{found, stored.size, stored.mtime, stored.version};
    if (!SafeReplace::Matches(facts.size, facts.mtime, record, engine_.LocalContentOpen(path))) {
        PeltaSync::Log(kWhere + QStringLiteral(":changed here, kept for upload:") + path, LogGeneral);
        if (queueKept)
            KeepForUpload(path);
        return Result::Kept;
    }
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
    int error = 0;
    const bool removed = LocalItem::RemoveFile(root_, full, error);
    if (!removed) {
        status.FileMon(path, 0, false);
        PeltaSync::Log(kWhere + QStringLiteral(":cannot remove ") + path + QLatin1Char(':') +
                           LocalItem::ErrorText(error),
                       LogGeneral);
        return error == ENOENT ? Result::Removed : Result::Failed;
    }
    engine_.Db().RecDelete(path, XFSFile);
    status.FileMon(path, 0, false);
    DropDownloads(path);
    engine_.SetIcon(path, XICODel);
    ShellNotice::ItemUpdated(path);
    return Result::Removed;
}

// A download of the file, running or waiting, and what it fetched so far
// are of no use now.
void RemoteRecycle::DropDownloads(const QString& path)
{
    engine_.Status().CancelTransfer(path);
    engine_.DropWaitingDownload(path, engine_.RecordKey(path));
}

// ---- A folder -----------------------------------------------------------------------------

RemoteRecycle::Result RemoteRecycle::Folder(const QString& path)
{
    if (!MayDelete(path))
        return Result::Stopped;
    const LocalFacts facts = LocalItem::Stat(root_, Full(path));
    switch (facts.kind) {
    case LocalKind::Missing:
        ForgetGoneRows(path);
        return Result::Removed;
    case LocalKind::Folder:
        break;
    case LocalKind::File:
    case LocalKind::Other:
        PeltaSync::Log(kWhere + QStringLiteral(":not a folder here, left alone:") + path, LogGeneral);
        ForgetGoneRows(path);
        return Result::Kept;
    case LocalKind::Unknown:
        PeltaSync::Log(kWhere + QStringLiteral(":cannot look at ") + path + QLatin1Char(':') +
                           LocalItem::ErrorText(facts.error),
                       LogGeneral);
        return Result::Failed;
    }

    PeltaRequestObject& status = engine_.Status();
    status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
    const bool removed = RemoveUnchanged(path);
    status.FileMon(path, 0, false);
    if (stopped_)
        return Result::Stopped;
    if (!removed) {
        PeltaSync::Log(kWhere + QStringLiteral(":folder keeps what changed here, queued for upload:") + path,
                       LogGeneral);
        QueueKept(path);
    }
    ForgetGoneRows(path);
    if (stopped_)
        return Result::Stopped;
    engine_.SetIcon(path, removed ? XICODel : XICOAdd);
    ShellNotice::ItemUpdated(path);
    return removed ? Result::Removed : Result::Kept;
}

bool RemoteRecycle::RemoveUnchanged(const QString& folder)
{
    const LocalListing listing = LocalListing::Read(root_, Full(folder), kWhere);
    if (!listing.IsComplete()) {
        PeltaSync::Log(kWhere + QStringLiteral(":cannot list, kept whole:") + folder + QLatin1Char(':') +
                           LocalItem::ErrorText(listing.Error()),
                       LogGeneral);
        return false;
    }
    for (const LocalEntry& entry : listing.Items()) {
        if (!engine_.IsRunning()) {
            stopped_ = true;
            return false;
        }
        const QString child = Join(folder, entry.name);
        if (entry.kind == LocalKind::Folder)
            RemoveUnchanged(child);
        else
            RemoveFile(child, false);
        if (stopped_)
            return false;
    }
    int error = 0;
    if (RemoveEmptyFolder(folder, error))
        return true;
    if (error != ENOTEMPTY && error != EEXIST)
        PeltaSync::Log(kWhere + QStringLiteral(":cannot remove ") + folder + QLatin1Char(':') +
                           LocalItem::ErrorText(error),
                       LogGeneral);
    return false;
}

bool RemoteRecycle::RemoveEmptyFolder(const QString& path, int& error)
{
    QByteArray name;
    const FileDescriptor parent = LocalItem::OpenParent(root_, Full(path), name, error);
    if (!parent.IsOpen())
        return false;
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
    // Only an empty folder goes: whatever is still in it keeps it.
    const bool removed = ::unlinkat(parent.Get(), name.constData(), AT_REMOVEDIR) == 0;
    if (!removed)
        error = errno;
    status.FileMon(path, 0, false);
    return removed;
}

// ---- What stays -----------------------------------------------------------------------------

void RemoteRecycle::QueueKept(const QString& folder)
{
    KeepForUpload(folder);
    const LocalListing listing = LocalListing::Read(root_, Full(folder), kWhere);
    for (const LocalEntry& entry : listing.Items()) {
        const QString child = Join(folder, entry.name);
        if (entry.kind == LocalKind::Folder)
            QueueKept(child);
        else if (!PeltaSync::IsIgnoredFile(child))
            KeepForUpload(child);
    }
}

// The service no longer has the item: it goes up again as a new one.
void RemoteRecycle::KeepForUpload(const QString& path)
{
    PeltaRecVfsSyncFile local;
    local.path = path;
    if (engine_.GetLocalInfo(local) != PeltaSync::InfoFound || local.kind == XFSNone) {
        PeltaSync::Log(kWhere + QStringLiteral(":cannot read, not queued:") + path, LogGeneral);
        return;
    }
    engine_.FillRecordKeys(local);
    if (local.parent.isEmpty())
        engine_.CheckParent(local, true, false);
    local.version.clear();
    engine_.Db().RecAdd(local, true);
    const bool folder = local.kind == XFSFolder;
    const int action = folder ? XSYNCFolderAdd : XSYNCFileAdd;
    if (!engine_.RequestOpen(path, action, 0))
        engine_.Db().AddSyncRequest(local, action, false);
    engine_.SetIcon(path, XICOAdd);
}

void RemoteRecycle::ForgetGoneRows(const QString& folder)
{
    struct Row {
        QString path;
        int kind;
    };
    std::vector<Row> rows;
    for (const int kind : {int(XFSFile), int(XFSFolder)}) {
        const auto statement = engine_.Db().NewStatement();
        const QString sql = QStringLiteral("select path from ") + PeltaDb::TableOf(kind) + QStringLiteral(" where ") +
                            BelowCondition(folder);
        if (engine_.Db().QueryWith(sql, *statement) <= 0)
            continue;
        while (statement->FetchRow())
            rows.push_back(Row{engine_.Db().ColumnText(QStringLiteral("path"), *statement), kind});
    }
    for (const Row& row : rows) {
        if (!engine_.IsRunning()) {
            stopped_ = true;
            return;
        }
        const QString full = Full(row.path);
        if (full.isEmpty() || LocalItem::Stat(root_, full).kind != LocalKind::Missing)
            continue;
        engine_.Db().RecDelete(row.path, row.kind);
    }
}
