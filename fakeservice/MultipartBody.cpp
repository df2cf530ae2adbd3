#include "fakeservice/MultipartBody.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const QByteArray Crlf = "\r\n";
const QByteArray HeaderEnd = "\r\n\r\n";
// Part headers longer than this are taken as a body whose headers never end.
constexpr qsizetype MaxHeaders = qsizetype(64) << 10;

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

MultipartBody::MultipartBody(const QByteArray& boundary)
    : delimiter_("--" + boundary), separator_(Crlf + delimiter_)
{
}

void MultipartBody::Append(const char* data, qsizetype length)
{
    if (stage_ == Stage::Content) {
        const qsizetype used = ReadContent(data, length);
        if (stage_ == Stage::Content)
            return;
        data += used;
        length -= used;
    }
    pending_.append(data, length);
    Advance();
}

MultipartBody::Result MultipartBody::Finish()
{
    switch (stage_) {
    case Stage::Done:
        return Result{std::move(parts_), QString()};
    case Stage::Failed:
        break;
    case Stage::Preamble:
        Fail(QStringLiteral("no boundary in the body"));
        break;
    case Stage::DelimiterLine:
        Fail(QStringLiteral("malformed delimiter line"));
        break;
    case Stage::Headers:
        Fail(QStringLiteral("part headers do not end"));
        break;
    case Stage::Content:
        Fail(QStringLiteral("the body has no closing delimiter"));
        break;
    }
    return Result{std::nullopt, error_};
}

void MultipartBody::Advance()
{
    while (true) {
        switch (stage_) {
        case Stage::Preamble:
            if (!ReadPreamble())
                return;
            break;
        case Stage::DelimiterLine:
            if (!ReadDelimiterLine())
                return;
            break;
        case Stage::Headers:
            if (!ReadHeaders())
                return;
            break;
        case Stage::Content: {
            const QByteArray rest = std::exchange(pending_, QByteArray());
            const qsizetype used = ReadContent(rest.constData(), rest.size());
            if (stage_ == Stage::Content)
                return;
            pending_ = rest.mid(used);
            break;
        }
        case Stage::Done:
        case Stage::Failed:
            pending_.clear();
            return;
        }
    }
}

bool MultipartBody::ReadPreamble()
{
    if (atStart_) {
        if (pending_.size() < delimiter_.size() && delimiter_.startsWith(pending_))
            return false;
        atStart_ = false;
        if (pending_.startsWith(delimiter_)) {
            pending_.remove(0, delimiter_.size());
            stage_ = Stage::DelimiterLine;
            return true;
        }
    }
    const qsizetype at = pending_.indexOf(separator_);
    if (at < 0) {
        pending_ = pending_.right(separator_.size() - 1);
        return false;
    }
    pending_.remove(0, at + separator_.size());
    stage_ = Stage::DelimiterLine;
    return true;
}

bool MultipartBody::ReadDelimiterLine()
{
    if (pending_.size() < 2)
        return false;
    if (pending_.startsWith("--")) {
        stage_ = Stage::Done;
        return true;
    }
    const qsizetype lineEnd = pending_.indexOf(Crlf);
    if (!pending_.left(lineEnd < 0 ? pending_.size() : lineEnd).trimmed().isEmpty()) {
        Fail(QStringLiteral("malformed delimiter line"));
        return true;
    }
    if (lineEnd < 0)
        return false;
    pending_.remove(0, lineEnd);  // the headers' end is looked for from the line's break on
    stage_ = Stage::Headers;
    return true;
}

bool MultipartBody::ReadHeaders()
{
    const qsizetype headersEnd = pending_.indexOf(HeaderEnd);
    if (headersEnd < 0) {
        if (pending_.size() > MaxHeaders)
            Fail(QStringLiteral("part headers do not end"));
        return stage_ == Stage::Failed;
    }
    QString error;
    std::optional<MultipartPart> part =
        ParseHeaders(pending_.mid(Crlf.size(), std::max<qsizetype>(0, headersEnd - Crlf.size())), error);
    if (!part) {
        Fail(error);
        return true;
    }
    parts_.push_back(std::move(*part));
    pending_.remove(0, headersEnd + HeaderEnd.size());
    tail_.clear();
    stage_ = Stage::Content;
    return true;
}

qsizetype MultipartBody::ReadContent(const char* data, qsizetype length)
{
    FakeContent& content = parts_.back().content;
    const qsizetype width = separator_.size();
    // A separator that begins in the bytes already taken as content.
    if (!tail_.isEmpty()) {
        const QByteArray joint = tail_ + QByteArray::fromRawData(data, std::min(length, width - 1));
        const qsizetype at = joint.indexOf(separator_);
        if (at >= 0 && at < tail_.size()) {
            content.Truncate(content.Size() - (tail_.size() - at));
            const qsizetype used = at + width - tail_.size();
            EndContent();
            return used;
        }
    }
    const void* found = memmem(data, std::size_t(length), separator_.constData(), std::size_t(width));
    if (found) {
        const qsizetype at = static_cast<const char*>(found) - data;
        content.Append(data, at);
        EndContent();
        return at + width;
    }
    content.Append(data, length);
    if (length >= width - 1) {
        tail_ = QByteArray(data + length - (width - 1), width - 1);
    } else {
        tail_.append(data, length);
        tail_ = tail_.right(width - 1);
    }
    return length;
}

void MultipartBody::EndContent()
{
    tail_.clear();
    stage_ = Stage::DelimiterLine;
}

void MultipartBody::Fail(const QString& error)
{
    error_ = error;
    stage_ = Stage::Failed;
    pending_.clear();
}

std::optional<MultipartPart> MultipartBody::ParseHeaders(const QByteArray& headers, QString& error)
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
