#include "foundation/settings/PeltaRegistryFunc.h"

#include "foundation/Constants.h"

#include <QRegularExpression>

#include <cstdint>
#include <optional>

namespace {

// A non-empty decimal integer with an optional sign that fits an int.
std::optional<int> ParseDecimal(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    return ok ? std::optional<int>(number) : std::nullopt;
}

}  // namespace

PeltaRegistryFunc::PeltaRegistryFunc(RegistryRoot root, RegistryStore& store) : store_(store), root_(root) {}

// Paths are taken from the root; a leading backslash is allowed.
bool PeltaRegistryFunc::OpenKey(const QString& keyPath, bool create)
{
    CloseKey();
    const QString path = keyPath.startsWith(u'\\') ? keyPath.mid(1) : keyPath;
    if (root_ != RegistryRoot::CurrentUser || path.isEmpty())
        return false;
    if (!store_.KeyExists(path)) {
        if (!create)
            return false;
        // A key created in memory serves this process even when it was not saved.
        store_.CreateKey(path);
        if (!store_.KeyExists(path))
            return false;
    }
    currentPath_ = path;
    return true;
}

void PeltaRegistryFunc::CloseKey()
{
    currentPath_.clear();
}

bool PeltaRegistryFunc::KeyExists(const QString& path) const
{
    return root_ == RegistryRoot::CurrentUser && store_.KeyExists(path);
}

bool PeltaRegistryFunc::ValueExists(const QString& name) const
{
    return !currentPath_.isEmpty() && store_.ValueExists(currentPath_, name);
}

RegistryValueType PeltaRegistryFunc::GetDataType(const QString& name) const
{
    return currentPath_.isEmpty() ? RegistryValueType::None : store_.ValueType(currentPath_, name);
}

// Missing: created with the default. String: its number, or the default when it
// is not a decimal integer, and rewritten as a DWORD holding the result. DWORD:
// its value. Any other type: the default, rewritten as a DWORD.
int PeltaRegistryFunc::ReadIntDef(const QString& name, int defaultValue)
{
    if (currentPath_.isEmpty())
        return defaultValue;
    switch (store_.ValueType(currentPath_, name)) {
    case RegistryValueType::Dword:
        return static_cast<int>(store_.ReadDword(currentPath_, name).value_or(static_cast<std::uint32_t>(defaultValue)));
    case RegistryValueType::String: {
        const int result = ParseDecimal(store_.ReadString(currentPath_, name).value_or(QString())).value_or(defaultValue);
        WriteInteger(name, result);
        return result;
    }
    case RegistryValueType::None:
    case RegistryValueType::ExpandString:
    case RegistryValueType::Binary:
        break;
    }
    WriteInteger(name, defaultValue);
    return defaultValue;
}

// Missing: created with the default. String: its text. DWORD: its decimal text,
// left a DWORD. Any other type (an expandable string too): the default,
// rewritten as a string.
QString PeltaRegistryFunc::ReadStringDef(const QString& name, const QString& defaultValue)
{
    if (currentPath_.isEmpty())
        return defaultValue;
    switch (store_.ValueType(currentPath_, name)) {
    case RegistryValueType::String:
        return store_.ReadString(currentPath_, name).value_or(defaultValue);
    case RegistryValueType::Dword: {
        const std::optional<std::uint32_t> value = store_.ReadDword(currentPath_, name);
        return value ? QString::number(*value) : defaultValue;
    }
    case RegistryValueType::None:
    case RegistryValueType::ExpandString:
    case RegistryValueType::Binary:
        break;
    }
    WriteString(name, defaultValue);
    return defaultValue;
}

bool PeltaRegistryFunc::ReadBoolDef(const QString& name, bool defaultValue)
{
    return ReadIntDef(name, defaultValue ? 1 : 0) == 1;
}

bool PeltaRegistryFunc::WriteString(const QString& name, const QString& value)
{
    return !currentPath_.isEmpty() && store_.WriteString(currentPath_, name, value);
}

bool PeltaRegistryFunc::WriteInteger(const QString& name, int value)
{
    return !currentPath_.isEmpty() && store_.WriteDword(currentPath_, name, static_cast<std::uint32_t>(value));
}

bool PeltaRegistryFunc::WriteBool(const QString& name, bool value)
{
    return WriteInteger(name, value ? 1 : 0);
}

bool PeltaRegistryFunc::DeleteValue(const QString& name)
{
    return !currentPath_.isEmpty() && store_.DeleteValue(currentPath_, name);
}

void PeltaRegistryFunc::LoadProxy(PeltaProxy& proxy)
{
    OpenKey(ProgramRegKey, true);
    proxy.server = ReadStringDef(QStringLiteral("proxy_server"), QString());
    proxy.login = ReadStringDef(QStringLiteral("proxy_login"), QString());
    proxy.pass = ReadStringDef(QStringLiteral("proxy_pass"), QString());
    proxy.enable = ReadBoolDef(QStringLiteral("proxy_enable"), false);
    proxy.req_auth = ReadBoolDef(QStringLiteral("proxy_req_auth"), false);
    proxy.port = ReadIntDef(QStringLiteral("proxy_port"), 0);
    const int storedType = ReadIntDef(QStringLiteral("proxy_type"), 0);
    proxy.type = storedType >= 1 && storedType <= 3 ? storedType : 0;
    if (proxy.enable && storedType == 0)
        proxy.type = 1;
    CloseKey();
}

void PeltaRegistryFunc::SaveProxy(const PeltaProxy& proxy)
{
    OpenKey(ProgramRegKey, true);
    WriteString(QStringLiteral("proxy_server"), proxy.server);
    WriteInteger(QStringLiteral("proxy_port"), proxy.port);
    WriteInteger(QStringLiteral("proxy_type"), proxy.type);
    WriteString(QStringLiteral("proxy_login"), proxy.login);
    WriteString(QStringLiteral("proxy_pass"), proxy.pass);
    WriteBool(QStringLiteral("proxy_enable"), proxy.enable);
    WriteBool(QStringLiteral("proxy_req_auth"), proxy.req_auth);
    CloseKey();
}
