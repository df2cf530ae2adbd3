#include "fakeservice/FormDecoder.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

}  // namespace

FormDecoder::Result FormDecoder::Decode(const QByteArray& body, bool strict)
{
    if (strict) {
        const qsizetype firstEquals = body.indexOf('=');
        for (qsizetype i = 0; i < body.size(); ++i) {
            if (i != firstEquals && !IsEncodedByte(body[i]))
                return Result{std::nullopt, QStringLiteral("byte %1 of the body is not form encoded").arg(i)};
        }
    }
    const std::optional<QByteArray> decoded = PercentDecode(body);
    if (!decoded)
        return Result{std::nullopt, QStringLiteral("malformed %-escape in the body")};
    const std::optional<QString> text = FormDecoder::StrictUtf8(*decoded);
    if (!text)
        return Result{std::nullopt, QStringLiteral("the decoded body is not UTF-8")};
    return Result{Split(*text), QString()};
}

std::optional<QByteArray> FormDecoder::PercentDecode(const QByteArray& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            bytes.append(' ');
            continue;
        }
        if (c != '%') {
            bytes.append(c);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = FormDecoder::HexValue(text[i + 1]);
        const int low = FormDecoder::HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.append(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

bool FormDecoder::IsFormEncoded(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (!IsEncodedByte(c))
            return false;
    }
    return true;
}

bool FormDecoder::IsEncodedByte(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return c == '*' || c == '-' || c == '.' || c == '_' || c == '+' || c == '%';
}

FormFields FormDecoder::Split(const QString& text)
{
    FormFields fields;
    if (text.isEmpty())
        return fields;
    const QStringList pairs = text.split(u'&');
    for (const QString& pair : pairs) {
        const qsizetype equals = pair.indexOf(u'=');
        if (equals < 0)
            fields.Add(pair, QString());
        else
            fields.Add(pair.left(equals), pair.mid(equals + 1));
    }
    return fields;
}

std::optional<QString> FormDecoder::StrictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

int FormDecoder::HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
