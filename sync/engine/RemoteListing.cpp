#include "sync/engine/RemoteListing.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/text/XMap.h"
#include "sync/rules/PathGuard.h"

#include <QRegularExpression>

namespace {

const QString kRoot = QStringLiteral("\\");
const QString kWhere = QStringLiteral("PeltaSync::ResyncRemote");
const QLatin1String kObject(":object:");
const QLatin1String kArray(":array:");

QString Field(const XMap& map, const char* name, bool& present)
{
    const auto found = map.find(QLatin1String(name));
    present = found != map.end();
    return present ? found->second : QString();
}

// A scalar text that is not empty.
bool Text(const XMap& map, const char* name, QString& value)
{
    bool present = false;
    value = Field(map, name, present);
    return present && !value.isEmpty() && value != kObject && value != kArray;
}

bool Integer(const XMap& map, const char* name, std::int64_t& value)
{
    QString text;
    if (!Text(map, name, text))
        return false;
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}

// The service's form of a relative folder: "/" for the sync folder, "/a/b".
QString ServiceFolder(const QString& relative)
{
    if (relative == kRoot)
        return QStringLiteral("/");
    QString folder = relative;
    return folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// The holding folder as the entry gives it, without a trailing "/".
QString Holder(const QString& path)
{
    return path.size() > 1 && path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path;
}

QString Join(const QString& folder, const QString& name)
{
    return folder == kRoot ? kRoot + name : folder + QLatin1Char('\\') + name;
}

// One name as the service may hold it, whether or not it can exist here.
bool IsOneName(const QString& name)
{
    return name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\'));
}

bool IsDecimal(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    return decimal.match(text).hasMatch();
}

}  // namespace

RemoteListing RemoteListing::Read(const QString& reply, const QString& folder, const QString& object)
{
    RemoteListing listing;
    const JsonValue root = JsonValue::Parse(reply);
    if (!root.IsObject()) {
        listing.reason_ = QStringLiteral("reply is not a JSON object");
        return listing;
    }
    const XMap top = root.ObjectToMap();
    bool present = false;
    if (Field(top, "status", present) != QLatin1String("1")) {
        listing.reason_ = QStringLiteral("reply without status 1");
        return listing;
    }
    if (Field(top, "metadata", present) != kObject) {
        listing.reason_ = QStringLiteral("reply without metadata");
        return listing;
    }
    const JsonValue metadata = root.FindObject(QStringLiteral("metadata"));
    const XMap lists = metadata.ObjectToMap();
    if (Field(lists, "folder", present) != kArray || Field(lists, "file", present) != kArray) {
        listing.reason_ = QStringLiteral("reply without its folder and file lists");
        return listing;
    }
    listing.reason_.clear();
    const QString stamp = Field(top, "timestamp", present);
    if (IsDecimal(stamp))
        listing.timestamp_ = stamp;
    else if (present)
        AppLog.Write(kWhere + QStringLiteral(":timestamp is not a decimal, not used:") + stamp, LogGeneral);
    listing.ReadEntries(*metadata.FindArray(QStringLiteral("folder")), true, folder, object);
    listing.ReadEntries(*metadata.FindArray(QStringLiteral("file")), false, folder, object);
    return listing;
}

void RemoteListing::ReadEntries(const JsonValue& array, bool folders, const QString& folder, const QString& object)
{
    const QString kind = folders ? QStringLiteral("folder") : QStringLiteral("file");
    const QString holder = ServiceFolder(object.isEmpty() ? folder : object.left(qMax(1, object.lastIndexOf(u'\\'))));
    const QString objectName = object.mid(object.lastIndexOf(QLatin1Char('\\')) + 1);
    for (const JsonValue& item : array) {
        const XMap fields = item.ObjectToMap();
        QString name;
        QString path;
        if (!item.IsObject() || !Text(fields, "name", name) || !Text(fields, "path", path)) {
            Skip(kind + QStringLiteral(" entry"), QStringLiteral("without its name or path"));
            continue;
        }
        const QString shown = (Holder(path) == QLatin1String("/") ? QString() : Holder(path)) + QLatin1Char('/') + name;
        if (folders && folder == kRoot && object.isEmpty() && name == CacheFolderName)
            continue;  // the service's copy of the cache folder
        if (Holder(path) != holder || (!object.isEmpty() && name != objectName)) {
            Skip(shown, QStringLiteral("not an item of ") + holder);
            continue;
        }
        const QString refused = PathGuard::CheckName(name);
        if (!refused.isEmpty()) {
            if (IsOneName(name))
                LeaveOut(shown, refused);
            else
                Skip(shown, refused);
            continue;
        }
        if (holder == QLatin1String("/") && name == CacheFolderName) {
            LeaveOut(shown, QStringLiteral("the cache folder's name"));
            continue;
        }
        RemoteEntry entry;
        entry.name = name;
        entry.path = object.isEmpty() ? Join(folder, name) : object;
        QString key;
        QString parent;
        if (!Text(fields, "key", key) || !Text(fields, "parent", parent) || !Text(fields, "version", entry.version) ||
            !Integer(fields, "local_mtime", entry.mtime) ||
            (!folders && (!Integer(fields, "size", entry.size) || entry.size < 0))) {
            Skip(shown, QStringLiteral("without its key, parent, version, local_mtime or size"));
            continue;
        }
        if (names_.contains(name)) {
            Skip(shown, QStringLiteral("listed twice"));
            continue;
        }
        names_.insert(name);
        (folders ? folders_ : files_).push_back(entry);
    }
}

void RemoteListing::Skip(const QString& what, const QString& reason)
{
    ++skipped_;
    PathGuard::LogRefused(kWhere + QStringLiteral(":entry skipped"), what, reason);
}

void RemoteListing::LeaveOut(const QString& what, const QString& reason)
{
    ++leftOut_;
    PathGuard::LogRefused(kWhere + QStringLiteral(":entry left out, its name cannot exist here"), what, reason);
}
