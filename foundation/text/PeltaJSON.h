#pragma once

#include "foundation/text/JsonValue.h"
#include "foundation/text/XMap.h"

#include <QString>

#include <optional>

class PeltaSyncAgentSetting;

// The ways the system reads and writes JSON: flattening an object into an
// XMap, the service's "status" convention, copying a flat reply into the
// settings, writing a flat object from an XMap, and finding a sub-object or
// sub-array by name. No function throws: text that does not parse reads as an
// empty object.
//
// Values found in parsed text are JsonValue views, which own their document;
// they can be kept as long as needed.
//
// The base of the service client; it holds no data.
class PeltaJSON {
public:
    virtual ~PeltaJSON() = default;

    static QString ValueToString(const JsonValue& value);
    static XMap ObjectToMap(const JsonValue& object);

    // Parses text as one JSON object and flattens it; text that does not
    // parse, or whose root is not an object, gives an empty map.
    static XMap ParseToMap(const QString& text);

    // True when the reply's "status" is exactly "1" (the string or the
    // number). Otherwise msg receives the reply's "msg" ("" when it has none
    // or the reply does not parse) and the result is false. An empty reply
    // gives false and leaves msg as it was.
    static bool CheckStatus(const QString& reply, QString& msg);

    // Sets every pair of the reply that is neither an object nor an array on
    // the settings store, in name order (names the store does not know are
    // ignored there). Always true.
    static bool JsonToSetting(const QString& reply, PeltaSyncAgentSetting& setting);

    // A compact JSON object with one string pair per entry, in the map's
    // order, e.g. {"local_mtime":"100","size":"12"}. Quotes, backslashes and
    // control characters are escaped; other characters are written as UTF-8.
    static QString MapToJson(const XMap& map);

    static JsonValue FindObject(const JsonValue& object, const QString& key);
    static JsonValue ParseFindObject(const QString& text, const QString& key);

    // std::nullopt stands for "none": the named value is not an array, or the
    // text is not a JSON object. Callers test for it before use.
    static std::optional<JsonValue> FindArray(const JsonValue& object, const QString& key);
    static std::optional<JsonValue> ParseFindArray(const QString& text, const QString& key);

    static void ClearMap(XMap& map);
};
