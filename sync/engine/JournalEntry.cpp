#include "sync/engine/JournalEntry.h"

#include "foundation/Constants.h"
#include "foundation/crypto/Crypto.h"
#include "foundation/text/XMap.h"
#include "sync/rules/PathGuard.h"

#include <limits>
#include <optional>

namespace {

const QString kObject = QStringLiteral(":object:");

QString Value(const XMap& map, const char* name)
{
    const auto found = map.find(QLatin1String(name));
    return found == map.end() ? QString() : found->second;
}

bool Has(const XMap& map, const char* name)
{
    return map.find(QLatin1String(name)) != map.end();
}

int KindOf(const QString& objType, const QString& action)
{
    struct Row {
        const char* objType;
        const char* action;
        int kind;
    };
    static constexpr Row kinds[] = {
        {"file", "add", XSYNCFileAdd},         {"file", "edit", XSYNCFileMod},
        {"file", "recycle", XSYNCFileDel},     {"file", "move", XSYNCFileMove},
        {"folder", "add", XSYNCFolderAdd},     {"folder", "edit", XSYNCFolderMod},
        {"folder", "recycle", XSYNCFolderDel}, {"folder", "move", XSYNCFolderMove},
    };
    for (const Row& row : kinds) {
        if (objType == QLatin1String(row.objType) && action == QLatin1String(row.action))
            return row.kind;
    }
    return XSYNCNOP;
}

// A description that came as an object, or as a text holding one.
std::optional<XMap> Description(const JsonValue& entry, const XMap& fields, const char* name)
{
    const QString value = Value(fields, name);
    if (value == kObject)
        return entry.FindObject(QLatin1String(name)).ObjectToMap();
    const JsonValue parsed = JsonValue::Parse(value);
    if (!Has(fields, name) || !parsed.IsObject())
        return std::nullopt;
    return parsed.ObjectToMap();
}

std::optional<std::int64_t> Count(const XMap& map, const char* name)
{
    bool ok = false;
    const std::int64_t value = Value(map, name).toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

// The engine's own folder, never synchronised.
bool IsCacheFolder(const QString& relative)
{
    const QString cache = QLatin1Char('\\') + CacheFolderName;
    return relative == cache || relative.startsWith(cache + QLatin1Char('\\'));
}

class EntryReader {
public:
    explicit EntryReader(JournalEntry& entry) : entry_(entry) {}

    void Read(const JsonValue& value)
    {
        if (!value.IsObject())
            return Unreadable(QStringLiteral("not an object"));
        const XMap fields = value.ObjectToMap();
        entry_.agentKey = Value(fields, "agent_key");
        entry_.commitTime = Value(fields, "commit_time");
        entry_.objType = Value(fields, "obj_type");
        entry_.action = Value(fields, "action");

        const std::optional<XMap> commit = Description(value, fields, "commit_desc");
        if (!commit)
            return Unreadable(QStringLiteral("no commit_desc object"));
        if (Value(*commit, "status") != QLatin1String("1")) {
            entry_.state = JournalEntry::State::Failed;
            return;
        }
        entry_.kind = KindOf(entry_.objType, entry_.action);
        if (entry_.kind == XSYNCNOP)
            return Unreadable(QStringLiteral("unknown kind"));
        entry_.isFolder = entry_.objType == QLatin1String("folder");
        entry_.version = Value(*commit, "version");

        if (!ReadPaths(*commit) || !ReadFileFacts(value, fields))
            return;
        entry_.state = JournalEntry::State::Usable;
    }

private:
    void Unreadable(const QString& problem)
    {
        entry_.state = JournalEntry::State::Unreadable;
        entry_.problem = problem;
    }

    bool ReadPaths(const XMap& commit)
    {
        if (!entry_.IsMove())
            return ReadPath(commit, "my_base64_full_path_name", entry_.path);
        return ReadPath(commit, "my_base64_orig_full_path_name", entry_.path) &&
               ReadPath(commit, "my_base64_dest_full_path_name", entry_.destPath);
    }

    bool ReadPath(const XMap& commit, const char* name, QString& relative)
    {
        const QString wire = Value(commit, name);
        const std::optional<QString> decoded = wire.isEmpty() ? std::nullopt : Base64UrlDecodeText(wire);
        if (!decoded) {
            Unreadable(QString::fromLatin1(name) + QStringLiteral(" missing or not Base64url"));
            return false;
        }
        QString reason;
        relative = PathGuard::FromServicePath(*decoded, reason);
        if (relative == QLatin1String("\\"))
            reason = QStringLiteral("the sync folder itself");
        else if (IsCacheFolder(relative))
            reason = QStringLiteral("the cache folder");
        if (!reason.isEmpty()) {
            relative = *decoded;
            entry_.state = JournalEntry::State::Refused;
            entry_.problem = reason;
            return false;
        }
        return true;
    }

    // A file added, changed or moved is recorded with what its agent sent.
    bool ReadFileFacts(const JsonValue& value, const XMap& fields)
    {
        if (entry_.isFolder || entry_.kind == XSYNCFileDel)
            return true;
        if (entry_.version.isEmpty() || entry_.version == kObject) {
            Unreadable(QStringLiteral("no version"));
            return false;
        }
        const std::optional<XMap> request = Description(value, fields, "req_desc");
        const std::optional<std::int64_t> mtime = request ? Count(*request, "local_mtime") : std::nullopt;
        const std::optional<std::int64_t> size = request ? Count(*request, "size") : std::nullopt;
        if (!mtime || !size || *mtime > std::numeric_limits<std::int32_t>::max()) {
            Unreadable(QStringLiteral("no req_desc with local_mtime and size"));
            return false;
        }
        entry_.mtime = *mtime;
        entry_.size = *size;
        return true;
    }

    JournalEntry& entry_;
};

}  // namespace

JournalEntry JournalEntry::Read(const JsonValue& value)
{
    JournalEntry entry;
    EntryReader(entry).Read(value);
    return entry;
}

bool JournalEntry::IsMove() const
{
    return kind == XSYNCFileMove || kind == XSYNCFolderMove;
}

QString JournalEntry::Describe() const
{
    QString text = objType + QLatin1Char(',') + action + QLatin1Char(':') + path;
    if (IsMove())
        text += QStringLiteral("->") + destPath;
    return text;
}
