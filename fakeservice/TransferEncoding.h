#pragma once

// The content transfer encodings that a multipart part may declare.

#include <QByteArray>

#include <optional>

namespace TransferEncoding {

// Quoted-printable: "=XX" gives the byte XX (hex digits of either case), a
// "=" at the end of a line is a soft line break and goes, blanks and tabs at
// the end of a line go; std::nullopt for any other "=".
std::optional<QByteArray> DecodeQuotedPrintable(const QByteArray& text);

// True for the encodings that leave the content as it is: none, "7bit",
// "8bit" and "binary" (compared without regard to case).
bool IsIdentity(const QByteArray& encoding);

// The bytes of content in the named encoding (compared without regard to
// case): none, "7bit", "8bit" and "binary" leave it as it is; also
// "quoted-printable" and "base64"; std::nullopt for an unknown encoding or
// content that is not in it.
std::optional<QByteArray> Decode(const QByteArray& encoding, const QByteArray& content);

}  // namespace TransferEncoding
