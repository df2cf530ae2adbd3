#include "foundation/text/PeltaJSON.h"

#include "foundation/settings/PeltaSyncAgentSetting.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

constexpr QLatin1String ObjectMarker(":object:");
constexpr QLatin1String ArrayMarker(":array:");

void WriteString(rapidjson::Writer<rapidjson::StringBuffer>& writer, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    writer.String(bytes.constData(), static_cast<rapidjson::SizeType>(bytes.size()));
}

} // namespace

QString PeltaJSON::ValueToString(const JsonValue& value)
{
    return value.ToString();
}

XMap PeltaJSON::ObjectToMap(const JsonValue& object)
{
    return object.ObjectToMap();
}

XMap PeltaJSON::ParseToMap(const QString& text)
{
    return JsonValue::Parse(text).ObjectToMap();
}

bool PeltaJSON::CheckStatus(const QString& reply, QString& msg)
{
    if (reply.isEmpty())
        return false;
    XMap map = ParseToMap(reply);
    if (map[QStringLiteral("status")] == QLatin1String("1"))
        return true;
    msg = map[QStringLiteral("msg")];
    return false;
}

bool PeltaJSON::JsonToSetting(const QString& reply, PeltaSyncAgentSetting& setting)
{
    for (const auto& [name, value] : ParseToMap(reply)) {
        if (value != ObjectMarker && value != ArrayMarker)
            setting.Set(name, value);
    }
    return true;
}

QString PeltaJSON::MapToJson(const XMap& map)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [name, value] : map) {
        WriteString(writer, name);
        WriteString(writer, value);
    }
    writer.EndObject();
    return QString::fromUtf8(buffer.GetString(), static_cast<qsizetype>(buffer.GetSize()));
}

JsonValue PeltaJSON::FindObject(const JsonValue& object, const QString& key)
{
    return object.FindObject(key);
}

JsonValue PeltaJSON::ParseFindObject(const QString& text, const QString& key)
{
    return JsonValue::Parse(text).FindObject(key);
}

std::optional<JsonValue> PeltaJSON::FindArray(const JsonValue& object, const QString& key)
{
    return object.FindArray(key);
}

std::optional<JsonValue> PeltaJSON::ParseFindArray(const QString& text, const QString& key)
{
    return JsonValue::Parse(text).FindArray(key);
}

void PeltaJSON::ClearMap(XMap& map)
{
    map.clear();
}
