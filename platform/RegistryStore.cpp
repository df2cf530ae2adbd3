#include "platform/RegistryStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Value = RegistryStore::Value;
using Keys = RegistryStore::Keys;

// ---- File descriptors and files ------------------------------------------

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    bool Close()
    {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Creates every missing folder of the path with mode 0700.
bool EnsureFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const QByteArray prefix = path.left(i);
        if (::mkdir(prefix.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void SyncFolder(const QByteArray& folder)
{
    UniqueFd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
}

// Writes the data to a temporary file beside the target (mode 0600, flushed)
// and renames it over the target.
bool ReplaceFile(const QString& filePath, const QByteArray& data, QString& error)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!EnsureFolder(folder)) {
        error = QStringLiteral("cannot create folder %1: %2").arg(folder, ErrnoText(errno));
        return false;
    }
    const QByteArray target = QFile::encodeName(filePath);
    QByteArray temp = target + ".tmp-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        error = QStringLiteral("cannot create a temporary file: %1").arg(ErrnoText(errno));
        return false;
    }
    const bool written = ::fchmod(fd.Get(), 0600) == 0 && WriteAll(fd.Get(), data) && ::fsync(fd.Get()) == 0;
    const int writeErrno = errno;
    if (!fd.Close() || !written) {
        error = QStringLiteral("cannot write %1: %2").arg(QFile::decodeName(temp), ErrnoText(writeErrno));
        ::unlink(temp.constData());
        return false;
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        error = QStringLiteral("cannot replace %1: %2").arg(filePath, ErrnoText(errno));
        ::unlink(temp.constData());
        return false;
    }
    SyncFolder(QFile::encodeName(folder));
    return true;
}

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadWholeFile(const QString& filePath, QByteArray& data, int& error)
{
    UniqueFd fd(::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = errno;
        return error == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            return ReadOutcome::Failed;
        }
        if (n == 0)
            return ReadOutcome::Read;
        data.append(buffer, n);
    }
}

// Renames the file to "<file>.damaged-<timestamp>" without replacing anything
// already there; gives the new name, or an empty text when it failed.
QString MoveAside(const QString& filePath)
{
    const QByteArray from = QFile::encodeName(filePath);
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = filePath + QStringLiteral(".damaged-") + stamp;
        if (attempt > 0)
            name += QStringLiteral("-%1").arg(attempt);
        const QByteArray to = QFile::encodeName(name);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return name;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return {};
        // The file system cannot refuse to replace: check first, then rename.
        struct stat info {};
        if (::lstat(to.constData(), &info) == 0)
            continue;
        return ::rename(from.constData(), to.constData()) == 0 ? name : QString();
    }
    return {};
}

// ---- JSON form -------------------------------------------------------------
//
// { "<key path>": { "<value name>": { "type": "<type>", "value": "<text>" } } }
// where type is string, expand_string, dword (decimal text) or binary (Base64).

const char* TypeName(RegistryValueType type)
{
    switch (type) {
    case RegistryValueType::String: return "string";
    case RegistryValueType::ExpandString: return "expand_string";
    case RegistryValueType::Dword: return "dword";
    case RegistryValueType::Binary: return "binary";
    case RegistryValueType::None: break;
    }
    return "";
}

RegistryValueType TypeFromName(const QString& name)
{
    for (RegistryValueType type : {RegistryValueType::String, RegistryValueType::ExpandString,
                                   RegistryValueType::Dword, RegistryValueType::Binary}) {
        if (name == QLatin1String(TypeName(type)))
            return type;
    }
    return RegistryValueType::None;
}

QString ValueText(const Value& value)
{
    switch (value.type) {
    case RegistryValueType::String:
    case RegistryValueType::ExpandString: return value.text;
    case RegistryValueType::Dword: return QString::number(value.dword);
    case RegistryValueType::Binary: return QString::fromLatin1(value.bytes.toBase64());
    case RegistryValueType::None: break;
    }
    return {};
}

bool ParseDword(const QString& text, std::uint32_t& result)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    std::uint64_t number = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
    }
    if (number > 0xFFFFFFFFull)
        return false;
    result = static_cast<std::uint32_t>(number);
    return true;
}

bool ValueFromText(RegistryValueType type, const QString& text, Value& value)
{
    value.type = type;
    switch (type) {
    case RegistryValueType::String:
    case RegistryValueType::ExpandString: value.text = text; return true;
    case RegistryValueType::Dword: return ParseDword(text, value.dword);
    case RegistryValueType::Binary: {
        auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        value.bytes = std::move(decoded.decoded);
        return decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok;
    }
    case RegistryValueType::None: break;
    }
    return false;
}

QString JsonText(const rapidjson::Value& value)
{
    return QString::fromUtf8(value.GetString(), static_cast<qsizetype>(value.GetStringLength()));
}

const rapidjson::Value* StringMember(const rapidjson::Value& object, const char* name)
{
    const auto it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString())
        return nullptr;
    return &it->value;
}

bool ParseValue(const rapidjson::Value& json, Value& value, QString& error)
{
    const rapidjson::Value* type = json.IsObject() ? StringMember(json, "type") : nullptr;
    const rapidjson::Value* text = json.IsObject() ? StringMember(json, "value") : nullptr;
    if (!type || !text) {
        error = QStringLiteral("a value needs the texts \"type\" and \"value\"");
        return false;
    }
    const QString typeName = JsonText(*type);
    if (!ValueFromText(TypeFromName(typeName), JsonText(*text), value)) {
        error = QStringLiteral("a value of type \"%1\" cannot hold \"%2\"").arg(typeName, JsonText(*text).left(40));
        return false;
    }
    return true;
}

bool ParseJson(const QByteArray& raw, Keys& keys, QString& error)
{
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(raw.constData(), static_cast<size_t>(raw.size()));
    if (doc.HasParseError()) {
        error = QStringLiteral("%1 at offset %2")
                    .arg(QString::fromUtf8(rapidjson::GetParseError_En(doc.GetParseError())))
                    .arg(doc.GetErrorOffset());
        return false;
    }
    if (!doc.IsObject()) {
        error = QStringLiteral("the top level is not an object");
        return false;
    }
    for (const auto& key : doc.GetObject()) {
        if (!key.value.IsObject() || key.name.GetStringLength() == 0) {
            error = QStringLiteral("key \"%1\" is not an object of values").arg(JsonText(key.name));
            return false;
        }
        auto& values = keys[JsonText(key.name)];
        for (const auto& entry : key.value.GetObject()) {
            Value value;
            if (!ParseValue(entry.value, value, error)) {
                error = QStringLiteral("%1\\%2: %3").arg(JsonText(key.name), JsonText(entry.name), error);
                return false;
            }
            values[JsonText(entry.name)] = std::move(value);
        }
    }
    return true;
}

template <typename Writer>
void WriteText(Writer& writer, const QString& text, bool asKey)
{
    const QByteArray utf8 = text.toUtf8();
    const auto length = static_cast<rapidjson::SizeType>(utf8.size());
    if (asKey)
        writer.Key(utf8.constData(), length, true);
    else
        writer.String(utf8.constData(), length, true);
}

QByteArray ToJson(const Keys& keys)
{
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [keyPath, values] : keys) {
        WriteText(writer, keyPath, true);
        writer.StartObject();
        for (const auto& [name, value] : values) {
            WriteText(writer, name, true);
            writer.StartObject();
            writer.Key("type");
            writer.String(TypeName(value.type));
            writer.Key("value");
            WriteText(writer, ValueText(value), false);
            writer.EndObject();
        }
        writer.EndObject();
    }
    writer.EndObject();
    QByteArray json(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
    json.append('\n');
    return json;
}

QString EnvironmentFolder(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? value : QString();
}

}  // namespace

// ---- RegistryStore ---------------------------------------------------------

RegistryStore::RegistryStore(QString filePath) : filePath_(std::move(filePath))
{
    if (!filePath_.isEmpty())
        Load();
}

RegistryStore& RegistryStore::Shared()
{
    static RegistryStore shared(DefaultFilePath());
    return shared;
}

std::unique_ptr<RegistryStore> RegistryStore::InMemory()
{
    return std::make_unique<RegistryStore>(QString());
}

QString RegistryStore::DefaultFilePath()
{
    const QString home = EnvironmentFolder("TESSARON_HOME");
    if (!home.isEmpty())
        return QDir(home).filePath(QStringLiteral("registry.json"));
    QString config = EnvironmentFolder("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir(QDir::homePath()).filePath(QStringLiteral(".config"));
    return QDir(config).filePath(QStringLiteral("Pelta/Tessaron/registry.json"));
}

QString RegistryStore::FilePath() const
{
    return filePath_;
}

void RegistryStore::Load()
{
    QByteArray raw;
    int error = 0;
    const ReadOutcome outcome = ReadWholeFile(filePath_, raw, error);
    if (outcome == ReadOutcome::Missing)
        return;
    if (outcome == ReadOutcome::Failed) {
        saveBlocked_ = true;
        qWarning("Registry file %s cannot be read (%s); changes are kept in memory only",
                 qUtf8Printable(filePath_), qUtf8Printable(ErrnoText(error)));
        return;
    }
    QString reason;
    Keys parsed;
    if (ParseJson(raw, parsed, reason)) {
        keys_ = std::move(parsed);
        return;
    }
    const QString aside = MoveAside(filePath_);
    if (aside.isEmpty()) {
        const int moveError = errno;
        saveBlocked_ = true;
        qWarning("Registry file %s is damaged (%s) and cannot be moved aside (%s); changes are kept in memory only",
                 qUtf8Printable(filePath_), qUtf8Printable(reason), qUtf8Printable(ErrnoText(moveError)));
        return;
    }
    qWarning("Registry file %s is damaged (%s); moved to %s, starting empty", qUtf8Printable(filePath_),
             qUtf8Printable(reason), qUtf8Printable(aside));
}

bool RegistryStore::SaveLocked()
{
    if (filePath_.isEmpty())
        return true;
    if (saveBlocked_)
        return false;
    QString error;
    if (ReplaceFile(filePath_, ToJson(keys_), error))
        return true;
    qWarning("Registry file %s not saved: %s", qUtf8Printable(filePath_), qUtf8Printable(error));
    return false;
}

const Value* RegistryStore::FindLocked(const QString& key, const QString& name) const
{
    const auto keyIt = keys_.find(key);
    if (keyIt == keys_.end())
        return nullptr;
    const auto valueIt = keyIt->second.find(name);
    return valueIt == keyIt->second.end() ? nullptr : &valueIt->second;
}

bool RegistryStore::KeyExists(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return keys_.count(key) != 0;
}

bool RegistryStore::CreateKey(const QString& key)
{
    if (key.isEmpty())
        return false;
    std::lock_guard lock(mutex_);
    if (keys_.count(key) != 0)
        return true;
    keys_.try_emplace(key);
    return SaveLocked();
}

bool RegistryStore::DeleteKey(const QString& key)
{
    std::lock_guard lock(mutex_);
    if (keys_.erase(key) == 0)
        return false;
    return SaveLocked();
}

bool RegistryStore::ValueExists(const QString& key, const QString& name) const
{
    std::lock_guard lock(mutex_);
    return FindLocked(key, name) != nullptr;
}

RegistryValueType RegistryStore::ValueType(const QString& key, const QString& name) const
{
    std::lock_guard lock(mutex_);
    const Value* value = FindLocked(key, name);
    return value ? value->type : RegistryValueType::None;
}

QStringList RegistryStore::ValueNames(const QString& key) const
{
    std::lock_guard lock(mutex_);
    QStringList names;
    const auto it = keys_.find(key);
    if (it == keys_.end())
        return names;
    for (const auto& entry : it->second)
        names.append(entry.first);
    return names;
}

std::optional<QString> RegistryStore::ReadString(const QString& key, const QString& name) const
{
    std::lock_guard lock(mutex_);
    const Value* value = FindLocked(key, name);
    if (!value || (value->type != RegistryValueType::String && value->type != RegistryValueType::ExpandString))
        return std::nullopt;
    return value->text;
}

std::optional<std::uint32_t> RegistryStore::ReadDword(const QString& key, const QString& name) const
{
    std::lock_guard lock(mutex_);
    const Value* value = FindLocked(key, name);
    if (!value || value->type != RegistryValueType::Dword)
        return std::nullopt;
    return value->dword;
}

std::optional<QByteArray> RegistryStore::ReadBinary(const QString& key, const QString& name) const
{
    std::lock_guard lock(mutex_);
    const Value* value = FindLocked(key, name);
    if (!value || value->type != RegistryValueType::Binary)
        return std::nullopt;
    return value->bytes;
}

bool RegistryStore::WriteValue(const QString& key, const QString& name, Value value)
{
    if (key.isEmpty())
        return false;
    std::lock_guard lock(mutex_);
    keys_[key][name] = std::move(value);
    return SaveLocked();
}

bool RegistryStore::WriteString(const QString& key, const QString& name, const QString& value)
{
    return WriteValue(key, name, Value{RegistryValueType::String, value, 0, {}});
}

bool RegistryStore::WriteExpandString(const QString& key, const QString& name, const QString& value)
{
    return WriteValue(key, name, Value{RegistryValueType::ExpandString, value, 0, {}});
}

bool RegistryStore::WriteDword(const QString& key, const QString& name, std::uint32_t value)
{
    return WriteValue(key, name, Value{RegistryValueType::Dword, {}, value, {}});
}

bool RegistryStore::WriteBinary(const QString& key, const QString& name, const QByteArray& value)
{
    return WriteValue(key, name, Value{RegistryValueType::Binary, {}, 0, value});
}

bool RegistryStore::DeleteValue(const QString& key, const QString& name)
{
    std::lock_guard lock(mutex_);
    const auto it = keys_.find(key);
    if (it == keys_.end() || it->second.erase(name) == 0)
        return false;
    return SaveLocked();
}
