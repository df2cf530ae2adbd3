#include "fakeservice/TransferEncoding.h"

#include "fakeservice/FormDecoder.h"

#include <QList>

namespace TransferEncoding {

namespace {

QByteArray WithoutTrailingBlanks(QByteArray line)
{
    while (!line.isEmpty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.chop(1);
    return line;
}

// One line of quoted-printable text without its line break; appends the
// decoded bytes and whether the line ended in a soft break.
bool DecodeLine(const QByteArray& line, QByteArray& out, bool& soft)
{
    soft = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] != '=') {
            out.append(line[i]);
            continue;
        }
        if (i + 1 == line.size()) {
            soft = true;
            return true;
        }
        if (i + 2 >= line.size())
            return false;
        const int high = FormDecoder::HexValue(line[i + 1]);
        const int low = FormDecoder::HexValue(line[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out.append(char(high * 16 + low));
        i += 2;
    }
    return true;
}

}  // namespace

std::optional<QByteArray> DecodeQuotedPrintable(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        bool soft = false;
        if (!DecodeLine(WithoutTrailingBlanks(lines[n]), out, soft))
            return std::nullopt;
        if (!soft && n + 1 < lines.size())
            out.append("\r\n");
    }
    return out;
}

bool IsIdentity(const QByteArray& encoding)
{
    const QByteArray name = encoding.trimmed().toLower();
    return name.isEmpty() || name == "7bit" || name == "8bit" || name == "binary";
}

std::optional<QByteArray> Decode(const QByteArray& encoding, const QByteArray& content)
{
    if (IsIdentity(encoding))
        return content;
    const QByteArray name = encoding.trimmed().toLower();
    if (name == "quoted-printable")
        return DecodeQuotedPrintable(content);
    if (name == "base64") {
        QByteArray compact = content;
        compact.replace("\r", "").replace("\n", "");
        auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return *decoded;
    }
    return std::nullopt;
}

}  // namespace TransferEncoding
