#include "fakeservice/ChangeRules.h"

#include "fakeservice/FakeMessages.h"
#include "fakeservice/ServicePath.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ChangeRules {

namespace {

std::optional<FakeObjType> ObjTypeOf(const QString& word)
{
    if (word == u"file")
        return FakeObjType::File;
    if (word == u"folder")
        return FakeObjType::Folder;
    return std::nullopt;
}

std::optional<FakeAction> ActionOf(FakeObjType type, const QString& word)
{
    if (word == u"add")
        return FakeAction::Add;
    if (word == u"edit" && type == FakeObjType::File)
        return FakeAction::Edit;
    if (word == u"recycle")
        return FakeAction::Recycle;
    if (word == u"move")
        return FakeAction::Move;
    if (word == u"get")
        return FakeAction::Get;
    return std::nullopt;  // folder "mod"/"edit" included: nothing to change
}

// A value of req_desc as text: the client sends strings, numbers are taken too.
QString Text(const QJsonObject& desc, const char* name)
{
    const QJsonValue value = desc.value(QLatin1String(name));
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toInteger());
    return QString();
}

std::optional<std::int64_t> Number(const QJsonObject& desc, const char* name)
{
    const QString text = Text(desc, name);
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const std::int64_t value = text.toLongLong(&ok);
    return ok && value >= 0 ? std::optional<std::int64_t>(value) : std::nullopt;
}

std::optional<QString> ObjectPath(const QJsonObject& desc, const char* name)
{
    std::optional<QString> path = ServicePath::FromWire(Text(desc, name));
    if (!path || *path == ServicePath::Root)
        return std::nullopt;
    return path;
}

Parsed Refuse(const char* message)
{
    return Parsed{std::nullopt, QString::fromUtf8(message)};
}

bool ReadPaths(const QJsonObject& desc, FakeChange& change)
{
    if (change.action != FakeAction::Move) {
        const std::optional<QString> path = ObjectPath(desc, "my_base64_full_path_name");
        change.path = path.value_or(QString());
        return path.has_value();
    }
    const std::optional<QString> orig = ObjectPath(desc, "my_base64_orig_full_path_name");
    const std::optional<QString> dest = ObjectPath(desc, "my_base64_dest_full_path_name");
    change.origPath = orig.value_or(QString());
    change.destPath = dest.value_or(QString());
    return orig && dest;
}

QString Message(const char* text)
{
    return QString::fromUtf8(text);
}

QString CheckFileStore(const FakeTree& tree, const FakeChange& change, std::int64_t quotaTotal)
{
    const FakeItem* existing = tree.FindLive(change.path);
    if (existing && existing->isFolder)
        return Message(FakeMessages::ObjectPathError);
    if (!tree.IsLiveFolder(ServicePath::Parent(change.path)))
        return Message(FakeMessages::ParentNotExist);
    const std::int64_t freed = existing ? existing->size : 0;
    if (tree.UsedBytes() - freed + change.size > quotaTotal)
        return Message(FakeMessages::QuotaFull);
    return QString();
}

QString CheckFolderAdd(const FakeTree& tree, const FakeChange& change)
{
    const FakeItem* existing = tree.FindLive(change.path);
    if (existing)
        return Message(existing->isFolder ? FakeMessages::FolderExists : FakeMessages::ObjectPathError);
    if (!tree.IsLiveFolder(ServicePath::Parent(change.path)))
        return Message(FakeMessages::ParentNotExist);
    return QString();
}

QString CheckPresent(const FakeTree& tree, const QString& path, bool folder, const char* notFound,
                     const char* recycled)
{
    const FakeItem* item = tree.Find(path);
    if (!item || item->isFolder != folder)
        return Message(notFound);
    if (item->recycled)
        return Message(recycled);
    return QString();
}

QString CheckRecycle(const FakeTree& tree, const FakeChange& change)
{
    if (change.objType == FakeObjType::Folder)
        return CheckPresent(tree, change.path, true, FakeMessages::FolderNotFound,
                            FakeMessages::FolderRecycled);
    return CheckPresent(tree, change.path, false, FakeMessages::FileNotFound, FakeMessages::FileRecycled);
}

QString CheckMove(const FakeTree& tree, const FakeChange& change)
{
    const bool folder = change.objType == FakeObjType::Folder;
    const QString present =
        folder ? CheckPresent(tree, change.origPath, true, FakeMessages::OrigFolderNotFound,
                              FakeMessages::OrigFolderRecycled)
               : CheckPresent(tree, change.origPath, false, FakeMessages::OrigFileNotFound,
                              FakeMessages::OrigFileRecycled);
    if (!present.isEmpty())
        return present;
    if (folder && change.destPath != change.origPath && ServicePath::IsWithin(change.destPath, change.origPath))
        return Message(FakeMessages::ObjectPathError);
    if (!tree.IsLiveFolder(ServicePath::Parent(change.destPath)))
        return Message(FakeMessages::ParentOfDestNotExist);
    if (tree.FindLive(change.destPath))
        return Message(folder ? FakeMessages::DestFolderExists : FakeMessages::DestFileExists);
    return QString();
}

QString CheckGet(const FakeTree& tree, const FakeChange& change)
{
    const FakeItem* item = tree.FindLive(change.path);
    const bool folder = change.objType == FakeObjType::Folder;
    if (!item || item->isFolder != folder)
        return Message(folder ? FakeMessages::FolderNotFound : FakeMessages::FileNotFound);
    return QString();
}

bool IsStale(const FakeItem& existing, const FakeChange& change)
{
    if (change.action == FakeAction::Edit)
        return !change.baseVersion.isEmpty() && change.baseVersion != QString::number(existing.version);
    // An add carries no base version: the same file registered twice passes,
    // anything else would silently replace another agent's file.
    return existing.size != change.size || existing.localMtime != change.localMtime;
}

QString FreeConflictPath(const FakeTree& tree, const QString& path)
{
    const QString folder = ServicePath::Parent(path);
    const QString name = ServicePath::Name(path);
    for (int number = 1;; ++number) {
        const QString candidate = ServicePath::Join(folder, ServicePath::ConflictName(name, number));
        if (!tree.FindLive(candidate))
            return candidate;
    }
}

FakeJournalEntry EntryFor(const FakeChange& change, const FakeItem& item)
{
    FakeJournalEntry entry;
    entry.objType = ObjTypeWord(change.objType);
    entry.action = ActionWord(change.action);
    entry.version = QString::number(item.version);
    entry.localMtime = item.localMtime;
    entry.size = item.size;
    if (change.action == FakeAction::Move) {
        entry.origPath = change.origPath;
        entry.destPath = change.destPath;
    } else {
        entry.path = item.path;
    }
    return entry;
}

Applied Done(const FakeChange& change, const FakeItem& item)
{
    Applied applied;
    applied.result.version = QString::number(item.version);
    applied.entry = EntryFor(change, item);
    return applied;
}

Applied StoreConflictCopy(FakeTree& tree, const FakeChange& change, const FakeContent& content)
{
    const QString copyPath = FreeConflictPath(tree, change.path);
    const FakeItem& copy = tree.Store(copyPath, false, change.localMtime, change.size, content);
    FakeChange asAdd = change;
    asAdd.action = FakeAction::Add;
    Applied applied = Done(asAdd, copy);
    applied.result.conflict = true;
    applied.result.conflictPath = copyPath;
    return applied;
}

Applied StoreFile(FakeTree& tree, const FakeChange& change, const FakeContent& content)
{
    const FakeItem* existing = tree.FindLive(change.path);
    if (existing && IsStale(*existing, change))
        return StoreConflictCopy(tree, change, content);
    return Done(change, tree.Store(change.path, false, change.localMtime, change.size, content));
}

}  // namespace

Parsed Parse(const QString& action, const QString& objType, const QString& reqDesc)
{
    const std::optional<FakeObjType> type = ObjTypeOf(objType);
    if (!type)
        return Refuse(FakeMessages::ObjectPathError);
    const std::optional<FakeAction> act = ActionOf(*type, action);
    if (!act)
        return Refuse(FakeMessages::CachingDataExpired);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reqDesc.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Refuse(FakeMessages::ReqDescError);
    const QJsonObject desc = document.object();

    FakeChange change;
    change.objType = *type;
    change.action = *act;
    if (!ReadPaths(desc, change))
        return Refuse(FakeMessages::ObjectPathError);
    const std::optional<std::int64_t> mtime = Number(desc, "local_mtime");
    const std::optional<std::int64_t> size = Number(desc, "size");
    if (!mtime || !size)
        return Refuse(FakeMessages::ReqDescError);
    change.localMtime = *mtime;
    change.size = *type == FakeObjType::File ? *size : 0;
    change.baseVersion = Text(desc, "version");
    return Parsed{change, QString()};
}

QString Check(const FakeTree& tree, const FakeChange& change, std::int64_t quotaTotalBytes)
{
    switch (change.action) {
    case FakeAction::Add:
    case FakeAction::Edit:
        return change.objType == FakeObjType::File ? CheckFileStore(tree, change, quotaTotalBytes)
                                                   : CheckFolderAdd(tree, change);
    case FakeAction::Recycle:
        return CheckRecycle(tree, change);
    case FakeAction::Move:
        return CheckMove(tree, change);
    case FakeAction::Get:
        return CheckGet(tree, change);
    }
    return Message(FakeMessages::CachingDataExpired);
}

Applied Apply(FakeTree& tree, const FakeChange& change, const FakeContent& content)
{
    switch (change.action) {
    case FakeAction::Add:
    case FakeAction::Edit:
        if (change.objType == FakeObjType::File)
            return StoreFile(tree, change, content);
        return Done(change, tree.Store(change.path, true, change.localMtime, 0, FakeContent()));
    case FakeAction::Recycle:
        return Done(change, tree.Recycle(change.path));
    case FakeAction::Move:
        return Done(change, tree.Move(change.origPath, change.destPath));
    case FakeAction::Get:
        break;
    }
    Applied refused;
    refused.result.message = Message(FakeMessages::SyncJournalExpired);
    return refused;
}

QString ObjTypeWord(FakeObjType type)
{
    return type == FakeObjType::Folder ? QStringLiteral("folder") : QStringLiteral("file");
}

QString ActionWord(FakeAction action)
{
    switch (action) {
    case FakeAction::Add:
        return QStringLiteral("add");
    case FakeAction::Edit:
        return QStringLiteral("edit");
    case FakeAction::Recycle:
        return QStringLiteral("recycle");
    case FakeAction::Move:
        return QStringLiteral("move");
    case FakeAction::Get:
        return QStringLiteral("get");
    }
    return QString();
}

}  // namespace ChangeRules
