#include "foundation/text/JsonValue.h"

#include <rapidjson/document.h>

#include <cstring>

namespace {

// Iterative parsing keeps the call stack flat however deeply a reply nests;
// numbers are kept as the text they were written with.
constexpr unsigned ParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;

QString StringOf(const rapidjson::Value& value)
{
    return QString::fromUtf8(value.GetString(), static_cast<qsizetype>(value.GetStringLength()));
}

bool NameEquals(const rapidjson::Value& name, const QByteArray& key)
{
    return name.GetStringLength() == static_cast<rapidjson::SizeType>(key.size())
        && std::memcmp(name.GetString(), key.constData(), static_cast<std::size_t>(key.size())) == 0;
}

} // namespace

JsonValue::JsonValue(std::shared_ptr<const rapidjson::Document> document, const rapidjson::Value* value)
    : document_(std::move(document)), value_(value)
{
}

JsonValue JsonValue::Owned(std::shared_ptr<rapidjson::Document> document)
{
    const rapidjson::Value* root = document.get();
    return JsonValue(std::move(document), root);
}

JsonValue JsonValue::Parse(const QString& text)
{
    // The system's ANSI code page is UTF-8, so handing the parser the text's
    // UTF-8 bytes keeps every character.
    const QByteArray bytes = text.toUtf8();
    auto document = std::make_shared<rapidjson::Document>();
    document->Parse<ParseFlags>(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (document->HasParseError())
        return JsonValue();
    return Owned(std::move(document));
}

JsonValue JsonValue::EmptyObject()
{
    auto document = std::make_shared<rapidjson::Document>();
    document->SetObject();
    return Owned(std::move(document));
}

JsonValue JsonValue::EmptyArray()
{
    auto document = std::make_shared<rapidjson::Document>();
    document->SetArray();
    return Owned(std::move(document));
}

bool JsonValue::IsObject() const
{
    return value_ && value_->IsObject();
}

bool JsonValue::IsArray() const
{
    return value_ && value_->IsArray();
}

QString JsonValue::ToString() const
{
    if (!value_ || value_->IsNull())
        return QString();
    if (value_->IsString())
        return StringOf(*value_);
    if (value_->IsTrue())
        return QStringLiteral("true");
    if (value_->IsFalse())
        return QStringLiteral("false");
    if (value_->IsArray())
        return QStringLiteral(":array:");
    if (value_->IsObject())
        return QStringLiteral(":object:");
    // Numbers are parsed as strings, so no other kind reaches here.
    return QString();
}

XMap JsonValue::ObjectToMap() const
{
    XMap map;
    if (!IsObject())
        return map;
    for (const auto& member : value_->GetObject())
        map[StringOf(member.name)] = JsonValue(document_, &member.value).ToString();
    return map;
}

JsonValue JsonValue::FindObject(const QString& key) const
{
    if (!IsObject())
        return EmptyObject();
    const QByteArray name = key.toUtf8();
    for (const auto& member : value_->GetObject()) {
        if (member.value.IsObject() && (key.isEmpty() || NameEquals(member.name, name)))
            return JsonValue(document_, &member.value);
    }
    return EmptyObject();
}

std::optional<JsonValue> JsonValue::FindArray(const QString& key) const
{
    if (!IsObject())
        return std::nullopt;
    if (key.isEmpty())
        return EmptyArray();
    const QByteArray name = key.toUtf8();
    for (const auto& member : value_->GetObject()) {
        if (!NameEquals(member.name, name))
            continue;
        if (!member.value.IsArray())
            return std::nullopt;
        return JsonValue(document_, &member.value);
    }
    return EmptyArray();
}

std::size_t JsonValue::Size() const
{
    return IsArray() ? value_->Size() : 0;
}

JsonValue JsonValue::At(std::size_t index) const
{
    if (index >= Size())
        return JsonValue();
    return JsonValue(document_, &(*value_)[static_cast<rapidjson::SizeType>(index)]);
}

JsonValue::Iterator JsonValue::begin() const
{
    return Iterator(*this, 0);
}

JsonValue::Iterator JsonValue::end() const
{
    return Iterator(*this, Size());
}
