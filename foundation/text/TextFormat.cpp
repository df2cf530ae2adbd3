#include "foundation/text/TextFormat.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace {

constexpr int kDefaultDecimals = 2;
constexpr int kLargestNumber = 1000;  // largest width or precision accepted

struct Placeholder {
    bool valid = true;
    bool leftAlign = false;
    int width = 0;
    std::optional<int> precision;
    char16_t type = 0;
    QString source;  // the placeholder as written, for markers
};

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Reads a run of digits at `pos`; nullopt when it is too large.
std::optional<int> ReadNumber(const QString& format, qsizetype& pos)
{
    int number = 0;
    bool tooLarge = false;
    for (; pos < format.size() && IsDigit(format[pos]); ++pos) {
        number = number * 10 + (format[pos].unicode() - u'0');
        tooLarge = tooLarge || number > kLargestNumber;
        if (tooLarge)
            number = 0;
    }
    return tooLarge ? std::nullopt : std::optional<int>(number);
}

// Reads the placeholder starting at the "%" at `pos` and moves `pos` past it.
Placeholder ReadPlaceholder(const QString& format, qsizetype& pos)
{
    const qsizetype start = pos++;
    Placeholder spec;
    if (pos < format.size() && format[pos] == u'-') {
        spec.leftAlign = true;
        ++pos;
    }
    const std::optional<int> width = ReadNumber(format, pos);
    spec.valid = width.has_value();
    spec.width = width.value_or(0);
    if (pos < format.size() && format[pos] == u'.') {
        ++pos;
        spec.precision = ReadNumber(format, pos);
        spec.valid = spec.valid && spec.precision.has_value();
    }
    if (pos < format.size())
        spec.type = format[pos++].unicode();
    spec.source = format.mid(start, pos - start);
    const bool percent = spec.type == u'%' && pos - start == 2;
    const bool known = spec.type == u's' || spec.type == u'd' || spec.type == u'f' || percent;
    spec.valid = spec.valid && known;
    return spec;
}

QString Marker(const char* what, const QString& placeholder)
{
    return u'[' + QString::fromLatin1(what) + u' ' + placeholder + u']';
}

QString Pad(const QString& text, const Placeholder& spec)
{
    if (text.size() >= spec.width)
        return text;
    const QString blanks(spec.width - text.size(), u' ');
    return spec.leftAlign ? text + blanks : blanks + text;
}

template <typename T>
std::string Digits(T number)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

// A decimal number: `digits` with the decimal point after the first
// `pointPos` of them (pointPos may lie outside the digits).
struct Decimal {
    bool negative = false;
    std::string digits;
    int pointPos = 0;
};

Decimal FromDouble(double value)
{
    // The shortest text that reads back as the value, so that halves are the
    // halves the number was written with (0.125 rounds to 0.13).
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const std::size_t exponentAt = text.find('e');
    Decimal decimal;
    decimal.negative = std::signbit(value);
    for (std::size_t i = 0; i < exponentAt; ++i) {
        if (text[i] != '.')
            decimal.digits += text[i];
    }
    decimal.pointPos = std::stoi(text.substr(exponentAt + 1)) + 1;
    return decimal;
}

Decimal FromInteger(std::int64_t value)
{
    Decimal decimal;
    decimal.negative = value < 0;
    decimal.digits = Digits(value);
    if (decimal.negative)
        decimal.digits.erase(0, 1);
    decimal.pointPos = static_cast<int>(decimal.digits.size());
    return decimal;
}

Decimal FromInteger(std::uint64_t value)
{
    Decimal decimal;
    decimal.digits = Digits(value);
    decimal.pointPos = static_cast<int>(decimal.digits.size());
    return decimal;
}

// Cuts the number to `decimals` decimals, rounding a half away from zero.
void Round(Decimal& decimal, int decimals)
{
    const long keep = static_cast<long>(decimal.pointPos) + decimals;
    if (keep >= static_cast<long>(decimal.digits.size()))
        return;
    if (keep < 0) {
        decimal.digits.clear();
        return;
    }
    const bool up = decimal.digits[static_cast<std::size_t>(keep)] >= '5';
    decimal.digits.resize(static_cast<std::size_t>(keep));
    if (!up)
        return;
    for (auto it = decimal.digits.rbegin(); it != decimal.digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    decimal.digits.insert(decimal.digits.begin(), '1');
    ++decimal.pointPos;
}

// The digit at position `index` counted from the first digit; zero outside.
char DigitAt(const Decimal& decimal, long index)
{
    if (index < 0 || index >= static_cast<long>(decimal.digits.size()))
        return '0';
    return decimal.digits[static_cast<std::size_t>(index)];
}

QString FixedText(Decimal decimal, int decimals)
{
    Round(decimal, decimals);
    std::string text;
    if (decimal.pointPos <= 0)
        text = "0";
    for (long i = 0; i < decimal.pointPos; ++i)
        text += DigitAt(decimal, i);
    if (decimals > 0)
        text += '.';
    for (long i = 0; i < decimals; ++i)
        text += DigitAt(decimal, decimal.pointPos + i);
    // A value that rounds to zero is shown without a sign.
    const bool allZero = decimal.digits.find_first_not_of('0') == std::string::npos;
    if (decimal.negative && !allZero)
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text);
}

std::optional<QString> FormatDecimal(const FormatArg::Value& value, int decimals)
{
    if (const double* number = std::get_if<double>(&value)) {
        if (std::isnan(*number))
            return QStringLiteral("NAN");
        if (std::isinf(*number))
            return *number < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
        return FixedText(FromDouble(*number), decimals);
    }
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value))
        return FixedText(FromInteger(*number), decimals);
    if (const std::uint64_t* number = std::get_if<std::uint64_t>(&value))
        return FixedText(FromInteger(*number), decimals);
    return std::nullopt;
}

std::optional<QString> FormatInteger(const FormatArg::Value& value, int minDigits)
{
    std::string digits;
    bool negative = false;
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value)) {
        digits = Digits(*number);
        negative = *number < 0;
        if (negative)
            digits.erase(0, 1);
    } else if (const std::uint64_t* number = std::get_if<std::uint64_t>(&value)) {
        digits = Digits(*number);
    } else {
        return std::nullopt;
    }
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
    if (negative)
        digits.insert(digits.begin(), '-');
    return QString::fromLatin1(digits);
}

std::optional<QString> FormatString(const FormatArg::Value& value, std::optional<int> maxChars)
{
    const QString* text = std::get_if<QString>(&value);
    if (!text)
        return std::nullopt;
    return maxChars ? text->left(*maxChars) : *text;
}

std::optional<QString> Convert(const Placeholder& spec, const FormatArg& arg)
{
    switch (spec.type) {
    case u's':
        return FormatString(arg.value(), spec.precision);
    case u'd':
        return FormatInteger(arg.value(), spec.precision.value_or(0));
    case u'f':
        return FormatDecimal(arg.value(), spec.precision.value_or(kDefaultDecimals));
    default:
        return std::nullopt;
    }
}

}  // namespace

QString FormatText(const QString& format, std::initializer_list<FormatArg> args)
{
    return FormatText(format, std::span<const FormatArg>(args.begin(), args.size()));
}

QString FormatText(const QString& format, std::span<const FormatArg> args)
{
    QString out;
    out.reserve(format.size());
    auto nextArg = args.begin();
    qsizetype pos = 0;
    while (pos < format.size()) {
        if (format[pos] != u'%') {
            out += format[pos++];
            continue;
        }
        const Placeholder spec = ReadPlaceholder(format, pos);
        if (!spec.valid) {
            out += Marker("invalid placeholder", spec.source);
            continue;
        }
        if (spec.type == u'%') {
            out += u'%';
            continue;
        }
        if (nextArg == args.end()) {
            out += Marker("missing argument for", spec.source);
            continue;
        }
        const std::optional<QString> text = Convert(spec, *nextArg++);
        out += text ? Pad(*text, spec) : Marker("wrong argument type for", spec.source);
    }
    return out;
}
