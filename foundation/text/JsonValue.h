#pragma once

#include "foundation/text/XMap.h"

#include <QString>

#include <rapidjson/fwd.h>

#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

// A read-only view of one value inside a parsed JSON document that keeps the
// document alive: every copy shares ownership of it, so a value found deep
// inside a reply stays valid after the reply text, the parse call and every
// other view are gone. A default-constructed view is an absent value. Views
// are cheap to copy and may be read from several threads at once.
//
// Numbers are kept as the text they were written with ("1.0e5" stays
// "1.0e5"); they read like strings.
class JsonValue {
public:
    class Iterator;

    JsonValue() = default;

    // The root of text parsed as JSON (UTF-8 on this system, so raw
    // non-ASCII characters and \u escapes both decode). Text that does not
    // parse gives an absent value. Never throws.
    static JsonValue Parse(const QString& text);
    // A new, empty object or array of its own.
    static JsonValue EmptyObject();
    static JsonValue EmptyArray();

    bool IsObject() const;
    bool IsArray() const;

    // The value as one text: a string's characters, a number's text as
    // written, "true" / "false", "" for null or an absent value, ":array:"
    // for an array and ":object:" for an object.
    QString ToString() const;

    // Each pair of an object, in document order, as name -> ToString(value);
    // a name that occurs twice keeps the later value. Anything but an object
    // gives an empty map.
    XMap ObjectToMap() const;

    // The value of the first pair named key (with an empty key: the first
    // pair at all) whose value is an object; an empty object when no pair
    // qualifies or this is not an object.
    JsonValue FindObject(const QString& key) const;

    // The value of the first pair named key when it is an array; an empty
    // array when key is empty or no pair has that name. std::nullopt when
    // that pair's value is not an array, and when this is not an object (for
    // instance a reply that did not parse), so a malformed reply is never
    // mistaken for an empty list.
    std::optional<JsonValue> FindArray(const QString& key) const;

    // Element access for arrays; anything else has no elements. At() out of
    // range gives an absent value.
    std::size_t Size() const;
    JsonValue At(std::size_t index) const;
    Iterator begin() const;
    Iterator end() const;

private:
    JsonValue(std::shared_ptr<const rapidjson::Document> document, const rapidjson::Value* value);

    static JsonValue Owned(std::shared_ptr<rapidjson::Document> document);

    std::shared_ptr<const rapidjson::Document> document_;
    const rapidjson::Value* value_ = nullptr;
};

// Walks the elements of an array, yielding each as a JsonValue. It holds its
// own view of the array, so it stays usable when the view it came from is
// gone.
class JsonValue::Iterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = JsonValue;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = JsonValue;

    Iterator() = default;

    JsonValue operator*() const { return array_.At(index_); }
    Iterator& operator++()
    {
        ++index_;
        return *this;
    }
    Iterator operator++(int)
    {
        Iterator before = *this;
        ++index_;
        return before;
    }
    bool operator==(const Iterator& other) const
    {
        return array_.value_ == other.array_.value_ && index_ == other.index_;
    }

private:
    friend class JsonValue;
    Iterator(JsonValue array, std::size_t index) : array_(std::move(array)), index_(index) {}

    JsonValue array_;
    std::size_t index_ = 0;
};
