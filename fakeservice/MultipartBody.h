#pragma once

// Reads a multipart/form-data body that arrived whole: the parts in order,
// each with the headers the upload host looks at and where its content lies
// in the body (not copied, not decoded).

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
    qsizetype offset = 0;                // the content within the body
    qsizetype length = 0;
};

class MultipartBody {
public:
    // The boundary of a "multipart/form-data; boundary=..." content type;
    // std::nullopt for any other type.
    static std::optional<QByteArray> Boundary(const std::string& contentType);

    struct Result {
        std::optional<std::vector<MultipartPart>> parts;
        QString error;  // why the body was refused, when it was
    };

    // A preamble before the first delimiter is skipped; the body must end
    // with the closing delimiter. Every part needs a form-data
    // Content-Disposition with a name.
    static Result Parse(const QByteArray& body, const QByteArray& boundary);

private:
    static std::optional<MultipartPart> ReadHeaders(const QByteArray& headers, QString& error);
    static bool ReadDisposition(const QByteArray& value, MultipartPart& part);
};
