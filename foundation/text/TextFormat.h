#pragma once

// Formatting of the resource texts' placeholders.
//
// A placeholder is "%" ["-"] [width] ["." precision] type, with the types
//   s  a text; a precision is the most characters shown
//   d  a whole number; a precision is the fewest digits shown (zero-padded)
//   f  a decimal number with `precision` decimals, two when no precision is
//      given ("%0f" has width 0 and two decimals, "%.01f" and "%0.1f" one);
//      halves are rounded away from zero, "." is always the decimal separator
// and "%%" is a percent sign. A width pads with blanks on the left ("-": on the
// right). Each placeholder takes the next argument in order; extra arguments
// are ignored. A whole number is accepted for "f".
//
// Faults never abort the formatting: a placeholder without an argument, with
// an argument of the wrong type, or that cannot be read is replaced by a
// bracketed marker such as "[missing argument for %s]", and the rest of the
// text is formatted as usual.

#include <QString>

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <type_traits>
#include <variant>

class FormatArg {
public:
    using Value = std::variant<QString, std::int64_t, std::uint64_t, double>;

    FormatArg(const QString& text) : value_(text) {}
    FormatArg(const char* utf8) : value_(QString::fromUtf8(utf8)) {}

    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, wchar_t> &&
                 !std::same_as<T, char8_t> && !std::same_as<T, char16_t> && !std::same_as<T, char32_t>)
    FormatArg(T number)
    {
        if constexpr (std::is_signed_v<T>)
            value_ = static_cast<std::int64_t>(number);
        else
            value_ = static_cast<std::uint64_t>(number);
    }

    template <std::floating_point T>
    FormatArg(T number) : value_(static_cast<double>(number))
    {
    }

    // A truth value or a single character has no placeholder of its own.
    FormatArg(bool) = delete;
    FormatArg(char) = delete;

    const Value& value() const { return value_; }

private:
    Value value_;
};

QString FormatText(const QString& format, std::span<const FormatArg> args);
QString FormatText(const QString& format, std::initializer_list<FormatArg> args);
