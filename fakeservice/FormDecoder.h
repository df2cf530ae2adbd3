#pragma once

// Reads the body of an agent-interface form post.
//
// The client sends the body "name=value&name=value..." cut at its first "=":
// both halves are form-encoded (letters, digits, "*", "-", "." and "_" kept,
// a blank as "+", every other byte as "%XX"), so the later separators travel
// as %26 and %3D. The service decodes the whole body once ("+" to a blank,
// "%XX" to its byte), splits at "&" and each pair at its first "=", and never
// decodes a value again: values hold Base64url with "=" padding and JSON.

#include "fakeservice/FormFields.h"

#include <QByteArray>
#include <QString>

#include <optional>

class FormDecoder {
public:
    struct Result {
        std::optional<FormFields> fields;
        QString error;  // why the body was refused, when it was
    };

    // Strict decoding refuses a body that was not encoded as above: a byte
    // outside the encoding's output, a malformed "%" escape, or a raw "&" or
    // "=" after the first "=".
    static Result Decode(const QByteArray& body, bool strict);
    // True when every byte is one that the form encoding puts out.
    static bool IsFormEncoded(const QByteArray& bytes);
    // The value of one hexadecimal digit, -1 for any other character.
    static int HexValue(char c);

    // The bytes as UTF-8 text; none when they are not valid UTF-8.
    static std::optional<QString> StrictUtf8(const QByteArray& bytes);

    // "+" to a blank and "%XX" to its byte; std::nullopt for a "%" not
    // followed by two hex digits.
    static std::optional<QByteArray> PercentDecode(const QByteArray& text);

private:
    static bool IsEncodedByte(char c);
    static FormFields Split(const QString& text);
};
