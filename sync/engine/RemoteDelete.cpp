#include "sync/engine/RemoteDelete.h"

#include "foundation/Constants.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "sync/engine/OpenWork.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/FailedReads.h"
#include "sync/rules/LocalListing.h"
#include "sync/rules/MountedFolder.h"
#include "sync/rules/PathGuard.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kRoot = QStringLiteral("\\");
const QString kWhere = QStringLiteral("PeltaSync::ResyncRemoteDelete");

void Log(const QString& text, int category = LogGeneral)
{
    PeltaSync::Log(text, category);
}

QString Join(const QString& folder, const QString& name)
{
    return folder + QLatin1Char('\\') + name;
}

}  // namespace

RemoteDelete::RemoteDelete(PeltaSync& engine) : engine_(engine), root_(engine.SyncFolder()), batch_(engine.Db()) {}

bool RemoteDelete::Run(const QString& path, int kind)
{
    if (path.isEmpty() || path == kRoot || engine_.ToRelativePath(path) != path || root_.isEmpty())
        return false;
    MountedFolder mounted(root_);
    const MountedFolder::State state = mounted.Check();
    if (state != MountedFolder::State::Mounted) {
        Log(kWhere + QStringLiteral(":sync folder ") + MountedFolder::StateName(state) +
            QStringLiteral(", nothing removed:") + path);
        return false;
    }
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
    Log(kWhere + QStringLiteral("::") + path);
    bool done = false;
    try {
        done = ReadStore(path) && (kind == XFSFolder ? Folder(path) : File(path));
    } catch (const Lithos::SQLiteException& failure) {
        Log(kWhere + QStringLiteral("::Exception::") + PeltaDb::FormatSQLiteException(failure));
    }
    batch_.Flush();
    // The rows are gone now: what comes late from the removed items is the
    // engine's own while nothing is there again.
    for (const QString& removed : std::as_const(settling_))
        status.FileMon(removed, 1, true);
    status.FileMon(path, 1, true);
    return done;
}

// The rows of the item and below it, and the paths with open work there,
// read together right before anything is removed.
bool RemoteDelete::ReadStore(const QString& path)
{
    PeltaDb& db = engine_.Db();
    if (!OpenWork::Below(db, path, open_))
        return false;
    const QString where = QStringLiteral(" where ") + OpenWork::AtOrBelow(QStringLiteral("path"), path);
    const auto statement = db.NewStatement();
    int found =
        db.QueryWith(QStringLiteral("select path, mtime, size, version from vfs_sync_file") + where, *statement);
    if (found < 0)
        return false;
    while (found > 0 && statement->FetchRow()) {
        StoredFile file;
        file.mtime = db.GetColumnInt(QStringLiteral("mtime"), *statement);
        file.size = statement->GetColumnInt64ByName("size");
        file.version = db.ColumnText(QStringLiteral("version"), *statement);
        storedFiles_.insert(db.ColumnText(QStringLiteral("path"), *statement), file);
    }
    found = db.QueryWith(QStringLiteral("select path from vfs_sync_folder") + where, *statement);
    if (found < 0)
        return false;
    while (found > 0 && statement->FetchRow())
        storedFolders_.insert(db.ColumnText(QStringLiteral("path"), *statement));
    return true;
}

bool RemoteDelete::File(const QString& path)
{
    const LocalFacts facts = LocalItem::Stat(root_, Full(path));
    switch (facts.kind) {
    case LocalKind::File:
        present_.insert(path);
        TakeFile(path, facts.size, facts.mtime);
        return true;
    case LocalKind::Missing:
        DropGoneRows();
        return true;
    case LocalKind::Folder:
    case LocalKind::Other:
        Log(kWhere + QStringLiteral(":not a file here, left alone:") + path);
        return true;
    case LocalKind::Unknown:
        Log(kWhere + QStringLiteral(":cannot look at the item:") + path + QLatin1Char(':') +
            LocalItem::ErrorText(facts.error));
        return false;
    }
    return false;
}

bool RemoteDelete::Folder(const QString& path)
{
    const LocalFacts facts = LocalItem::Stat(root_, Full(path));
    switch (facts.kind) {
    case LocalKind::Folder:
        break;
    case LocalKind::Missing:
        DropGoneRows();
        return true;
    case LocalKind::File:
    case LocalKind::Other:
        Log(kWhere + QStringLiteral(":not a folder here, left alone:") + path);
        return true;
    case LocalKind::Unknown:
        Log(kWhere + QStringLiteral(":cannot look at the item:") + path + QLatin1Char(':') +
            LocalItem::ErrorText(facts.error));
        return false;
    }
    if (open_.contains(path)) {
        Log(kWhere + QStringLiteral(":an open request waits, left alone:") + path);
        return true;
    }
    EmptyFolder(path);
    DropGoneRows();
    return true;
}

// Depth first; a folder is looked at again once everything below it is done.
void RemoteDelete::EmptyFolder(const QString& path)
{
    struct Step {
        QString folder;
        bool after = false;
    };
    std::vector<Step> steps{{path, false}};
    while (!steps.empty()) {
        const Step step = steps.back();
        steps.pop_back();
        if (step.after) {
            RemoveIfEmpty(step.folder);
            continue;
        }
        present_.insert(step.folder);
        const LocalListing listing = LocalListing::Read(root_, Full(step.folder), kWhere);
        if (!listing.IsComplete()) {
            Log(kWhere + QStringLiteral(":cannot list the folder, its content stays:") + step.folder +
                QLatin1Char(':') + LocalItem::ErrorText(listing.Error()));
            unreadable_ << step.folder;
            continue;
        }
        for (const QString& name : listing.Present())
            present_.insert(Join(step.folder, name));
        steps.push_back({step.folder, true});
        for (const LocalEntry& entry : listing.Items()) {
            const QString child = Join(step.folder, entry.name);
            if (entry.kind == LocalKind::Folder)
                steps.push_back({child, false});
            else
                TakeFile(child, entry.size, entry.mtime);
        }
    }
}

void RemoteDelete::TakeFile(const QString& path, std::int64_t size, std::int64_t mtime)
{
    if (PeltaSync::IsIgnoredFile(path)) {
        Log(kWhere + QStringLiteral(":never synchronised, kept:") + path);
        return;
    }
    if (open_.contains(path)) {
        Log(kWhere + QStringLiteral(":an open request waits, kept:") + path);
        return;
    }
    const auto stored = storedFiles_.constFind(path);
    if (stored == storedFiles_.constEnd()) {
        KeepAndSend(path, QStringLiteral("not in the store"));
        return;
    }
    if (stored->version.isEmpty()) {
        KeepAndSend(path, QStringLiteral("never reached the service"));
        return;
    }
    if (stored->size != size || stored->mtime != static_cast<std::int32_t>(mtime)) {
        KeepAndSend(path, QStringLiteral("changed here"));
        return;
    }
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(path, PeltaRequestObject::SelfChangeMark, false);
    int error = 0;
    const bool removed = LocalItem::RemoveFile(root_, Full(path), error);
    if (!removed) {
        status.FileMon(path, 1, true);
        Log(kWhere + QStringLiteral(":cannot remove:") + path + QLatin1Char(':') + LocalItem::ErrorText(error));
        return;
    }
    settling_.append(path);
    present_.remove(path);
    batch_.Delete(path, XFSFile);
    storedFiles_.remove(path);
    engine_.SetIcon(path, XICODel);
}

void RemoteDelete::RemoveIfEmpty(const QString& folder)
{
    if (open_.contains(folder))
        return;
    PeltaRequestObject& status = engine_.Status();
    status.FileMon(folder, PeltaRequestObject::SelfChangeMark, false);
    QByteArray name;
    int error = 0;
    const FileDescriptor parent = LocalItem::OpenParent(root_, Full(folder), name, error);
    const bool removed = parent.IsOpen() && ::unlinkat(parent.Get(), name.constData(), AT_REMOVEDIR) == 0;
    if (parent.IsOpen() && !removed)
        error = errno;
    if (!removed) {
        status.FileMon(folder, 1, true);
        if (error != ENOTEMPTY && error != EEXIST)
            Log(kWhere + QStringLiteral(":cannot remove the folder:") + folder + QLatin1Char(':') +
                LocalItem::ErrorText(error));
        return;
    }
    settling_.append(folder);
    present_.remove(folder);
    batch_.Delete(folder, XFSFolder);
    storedFolders_.remove(folder);
    engine_.SetIcon(folder, XICODel);
}

// The file stays; its content goes to the service again as an upload.
void RemoteDelete::KeepAndSend(const QString& path, const QString& why)
{
    Log(kWhere + QStringLiteral(":") + why + QStringLiteral(", kept and sent again:") + path);
    engine_.FileAdd(path, 0, false, true);
}

// Rows whose items are gone here as well, and that no open request needs.
void RemoteDelete::DropGoneRows()
{
    for (auto file = storedFiles_.constBegin(); file != storedFiles_.constEnd(); ++file) {
        if (!present_.contains(file.key()) && !Covered(file.key()))
            batch_.Delete(file.key(), XFSFile);
    }
    for (const QString& folder : std::as_const(storedFolders_)) {
        if (!present_.contains(folder) && !Covered(folder))
            batch_.Delete(folder, XFSFolder);
    }
}

// An open request at or below the path, or a folder above it that could not
// be listed, keeps its row.
bool RemoteDelete::Covered(const QString& path) const
{
    for (const QString& open : open_) {
        if (FailedReads::IsAtOrBelow(open, path))
            return true;
    }
    for (const QString& folder : unreadable_) {
        if (FailedReads::IsAtOrBelow(path, folder))
            return true;
    }
    return false;
}

QString RemoteDelete::Full(const QString& relative) const
{
    QString names = relative;
    return root_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
}
