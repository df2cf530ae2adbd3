#pragma once

// Reads a multipart/form-data body as it arrives, piece by piece: the parts
// in order, each with the headers the upload host looks at and its content
// (not decoded) in a FakeContent. Only the bytes that may still turn out to
// be a delimiter are held back, so a part of any size streams into its
// content without a copy of the body.

#include "fakeservice/FakeContent.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

struct MultipartPart {
    QByteArray name;                     // of Content-Disposition
    std::optional<QByteArray> fileName;  // of Content-Disposition, when given
    QByteArray contentType;              // empty when the part has none
    QByteArray transferEncoding;         // Content-Transfer-Encoding; empty when none
    FakeContent content;
};

class MultipartBody {
public:
    // The boundary of a "multipart/form-data; boundary=..." content type;
    // std::nullopt for any other type.
    static std::optional<QByteArray> Boundary(const std::string& contentType);

    explicit MultipartBody(const QByteArray& boundary);

    // The next bytes of the body.
    void Append(const char* data, qsizetype length);

    struct Result {
        std::optional<std::vector<MultipartPart>> parts;
        QString error;  // why the body was refused, when it was
    };

    // After the last bytes. A preamble before the first delimiter is
    // skipped; the body must end with the closing delimiter (what follows it
    // is ignored). Every part needs a form-data Content-Disposition with a
    // name.
    Result Finish();

private:
    enum class Stage { Preamble, DelimiterLine, Headers, Content, Done, Failed };

    // Each reads from pending_; false when it needs more bytes.
    bool ReadPreamble();
    bool ReadDelimiterLine();
    bool ReadHeaders();
    void Advance();

    // Takes bytes of a part's content up to the delimiter that ends it;
    // returns how many of them it used.
    qsizetype ReadContent(const char* data, qsizetype length);
    void EndContent();
    void Fail(const QString& error);

    static std::optional<MultipartPart> ParseHeaders(const QByteArray& headers, QString& error);
    static bool ReadDisposition(const QByteArray& value, MultipartPart& part);

    QByteArray delimiter_;  // "--" + boundary
    QByteArray separator_;  // CRLF + delimiter: what ends a part's content
    Stage stage_ = Stage::Preamble;
    bool atStart_ = true;   // nothing of the preamble read yet
    QByteArray pending_;    // bytes read but not yet settled, outside a part's content
    QByteArray tail_;       // the last bytes of the current content, where a separator may begin
    std::vector<MultipartPart> parts_;
    QString error_;
};
