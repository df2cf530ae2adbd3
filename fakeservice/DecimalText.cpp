#include "fakeservice/DecimalText.h"

namespace {

QStringView WholePart(QStringView text)
{
    const qsizetype dot = text.indexOf(u'.');
    return dot < 0 ? text : text.left(dot);
}

QStringView FractionPart(QStringView text)
{
    const qsizetype dot = text.indexOf(u'.');
    return dot < 0 ? QStringView() : text.mid(dot + 1);
}

QStringView WithoutLeadingZeros(QStringView digits)
{
    qsizetype first = 0;
    while (first < digits.size() && digits[first] == u'0')
        ++first;
    return digits.mid(first);
}

QStringView WithoutTrailingZeros(QStringView digits)
{
    qsizetype length = digits.size();
    while (length > 0 && digits[length - 1] == u'0')
        --length;
    return digits.left(length);
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

int CompareWholeParts(QStringView a, QStringView b)
{
    a = WithoutLeadingZeros(a);
    b = WithoutLeadingZeros(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return Sign(a.compare(b));
}

int CompareFractions(QStringView a, QStringView b)
{
    a = WithoutTrailingZeros(a);
    b = WithoutTrailingZeros(b);
    // Without trailing zeros the texts compare like the numbers they write:
    // a shorter text is a prefix padded with zeros.
    return Sign(a.compare(b));
}

}  // namespace

bool AllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

bool IsDecimalText(const QString& text)
{
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 0)
        return AllDigits(text);
    return AllDigits(QStringView(text).left(dot)) && AllDigits(QStringView(text).mid(dot + 1));
}

std::optional<int> CompareDecimalText(const QString& a, const QString& b)
{
    if (!IsDecimalText(a) || !IsDecimalText(b))
        return std::nullopt;
    const int whole = CompareWholeParts(WholePart(a), WholePart(b));
    if (whole != 0)
        return whole;
    return CompareFractions(FractionPart(a), FractionPart(b));
}
