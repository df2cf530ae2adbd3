#include "fakeservice/MultipartBody.h"

#include <QList>

namespace {

const QByteArray Crlf = "\r\n";
const QByteArray HeaderEnd = "\r\n\r\n";

// The value of a header parameter, its quotes taken off.
QByteArray Unquoted(QByteArray value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.mid(1, value.size() - 2);
    return value;
}

// "a; b=c; d=\"e;f\"" split at the semicolons outside quotes.
QList<QByteArray> SplitParameters(const QByteArray& value)
{
    QList<QByteArray> pieces;
    QByteArray current;
    bool quoted = false;
    for (const char c : value) {
        if (c == '"')
            quoted = !quoted;
        if (c == ';' && !quoted) {
            pieces.append(current.trimmed());
            current.clear();
            continue;
        }
        current.append(c);
    }
    pieces.append(current.trimmed());
    return pieces;
}

}  // namespace

std::optional<QByteArray> MultipartBody::Boundary(const std::string& contentType)
{
    const QList<QByteArray> pieces = SplitParameters(QByteArray::fromStdString(contentType));
    if (pieces.isEmpty() || pieces.front().toLower() != "multipart/form-data")
        return std::nullopt;
    for (const QByteArray& piece : pieces) {
        const qsizetype equals = piece.indexOf('=');
        if (equals > 0 && piece.left(equals).trimmed().toLower() == "boundary") {
            const QByteArray boundary = Unquoted(piece.mid(equals + 1));
            if (!boundary.isEmpty())
                return boundary;
        }
    }
    return std::nullopt;
}

MultipartBody::Result MultipartBody::Parse(const QByteArray& body, const QByteArray& boundary)
{
    const QByteArray delimiter = "--" + boundary;
    qsizetype position = body.startsWith(delimiter) ? 0 : body.indexOf(Crlf + delimiter);
    if (position < 0)
        return Result{std::nullopt, QStringLiteral("no boundary in the body")};
    if (position > 0)
        position += Crlf.size();

    std::vector<MultipartPart> parts;
    while (true) {
        position += delimiter.size();
        if (body.mid(position, 2) == "--")
            return Result{std::move(parts), QString()};
        const qsizetype lineEnd = body.indexOf(Crlf, position);
        if (lineEnd < 0 || !body.mid(position, lineEnd - position).trimmed().isEmpty())
            return Result{std::nullopt, QStringLiteral("malformed delimiter line")};
        const qsizetype headersStart = lineEnd + Crlf.size();
        const qsizetype headersEnd = body.indexOf(HeaderEnd, headersStart - Crlf.size());
        if (headersEnd < 0)
            return Result{std::nullopt, QStringLiteral("part headers do not end")};
        QString error;
        std::optional<MultipartPart> part =
            ReadHeaders(body.mid(headersStart, std::max<qsizetype>(0, headersEnd - headersStart)), error);
        if (!part)
            return Result{std::nullopt, error};
        part->offset = headersEnd + HeaderEnd.size();
        const qsizetype next = body.indexOf(Crlf + delimiter, part->offset);
        if (next < 0)
            return Result{std::nullopt, QStringLiteral("the body has no closing delimiter")};
        part->length = next - part->offset;
        parts.push_back(std::move(*part));
        position = next + Crlf.size();
    }
}

std::optional<MultipartPart> MultipartBody::ReadHeaders(const QByteArray& headers, QString& error)
{
    MultipartPart part;
    bool disposition = false;
    for (const QByteArray& line : headers.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        const qsizetype colon = trimmed.indexOf(':');
        if (colon <= 0) {
            error = QStringLiteral("malformed part header: %1").arg(QString::fromLatin1(trimmed));
            return std::nullopt;
        }
        const QByteArray name = trimmed.left(colon).trimmed().toLower();
        const QByteArray value = trimmed.mid(colon + 1).trimmed();
        if (name == "content-disposition")
            disposition = ReadDisposition(value, part);
        else if (name == "content-type")
            part.contentType = value;
        else if (name == "content-transfer-encoding")
            part.transferEncoding = value.toLower();
    }
    if (!disposition) {
        error = QStringLiteral("a part without a form-data name");
        return std::nullopt;
    }
    return part;
}

bool MultipartBody::ReadDisposition(const QByteArray& value, MultipartPart& part)
{
    const QList<QByteArray> pieces = SplitParameters(value);
    if (pieces.isEmpty() || pieces.front().toLower() != "form-data")
        return false;
    bool named = false;
    for (const QByteArray& piece : pieces.mid(1)) {
        const qsizetype equals = piece.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = piece.left(equals).trimmed().toLower();
        if (key == "name") {
            part.name = Unquoted(piece.mid(equals + 1));
            named = !part.name.isEmpty();
        } else if (key == "filename") {
            part.fileName = Unquoted(piece.mid(equals + 1));
        }
    }
    return named;
}
