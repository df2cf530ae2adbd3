#pragma once

// Digest, cipher and encoding helpers: UTF-8 conversions, lower-case hex
// digests (MD5, SHA-256), Base64 and its URL-safe variant, the service's form
// of a relative path, and the AES-256-CBC cipher that protects stored secrets.
// They keep no state and take no lock; any thread may call them.
//
// Text is QString; bytes are QByteArray. Hex and Base64 results are ASCII and
// returned as bytes unless the function's purpose is a text.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// UTF-8 of the text up to its first zero character (no terminating zero).
QByteArray ToUtf8(const QString& text);

// The same bytes as ToUtf8: the 8-bit code page of this system is UTF-8.
QByteArray ToUtf8Ansi(const QString& text);

// The text of UTF-8 bytes, ending at its first zero character. Sequences that
// are not valid UTF-8 become replacement characters.
QString FromUtf8(const QByteArray& bytes);

// Two lower-case hex digits per byte, in order; only the first 510 bytes are
// rendered (the helper is meant for digests of 16 and 32 bytes).
QByteArray HexLower(QByteArrayView bytes);

// 32 lower-case hex digits of the MD5 of the bytes.
QByteArray Md5HexBytes(const QByteArray& bytes);

// Md5HexBytes of the text's UTF-8, as a text.
QString Md5Hex(const QString& text);

// 64 lower-case hex digits of the SHA-256 of the bytes.
QByteArray Sha256Hex(const QByteArray& bytes);

// Standard Base64 with "=" padding and no line breaks; empty for no bytes.
QByteArray Base64Encode(const QByteArray& bytes);

// Decodes standard Base64. Carriage returns and line feeds anywhere are
// ignored. Empty input gives empty bytes. Gives std::nullopt for a character
// outside the alphabet, a length that is not a multiple of four once line
// breaks are removed, or "=" anywhere but as the last one or two characters.
std::optional<QByteArray> Base64Decode(const QByteArray& text);

// Base64 with "+" as "-" and "/" as "_"; the "=" padding stays.
QByteArray Base64UrlEncode(const QByteArray& bytes);

// Decodes Base64url under the rules of Base64Decode; "+" and "/" are outside
// this alphabet and rejected.
std::optional<QByteArray> Base64UrlDecode(const QByteArray& text);

// Base64url of the text's UTF-8, as a text.
QString Base64UrlEncodeText(const QString& text);

// The Base64url text decoded and read as UTF-8; std::nullopt when malformed.
std::optional<QString> Base64UrlDecodeText(const QString& text);

// The service's form of a relative path: every "\" becomes "/", then
// Base64UrlEncodeText. The sync folder itself ("\") gives "Lw==".
QString PathToBase64Url(const QString& relativePath);

// AES-256-CBC with PKCS#7 padding. The key is the first 32 hex digits of the
// SHA-256 of the passphrase, the IV the first 16 hex digits of the SHA-256 of
// a fixed prefix followed by the passphrase. n plaintext bytes give
// 16 * (n / 16 + 1) ciphertext bytes. Empty only if the library fails, which
// a valid ciphertext never is.
QByteArray AesEncrypt(const QByteArray& plaintext, const QByteArray& passphrase);

// Reverses AesEncrypt. Gives std::nullopt when the ciphertext is empty or not
// a whole number of blocks, or its final padding is wrong (a damaged
// ciphertext or, almost always, a wrong passphrase).
std::optional<QByteArray> AesDecrypt(const QByteArray& ciphertext, const QByteArray& passphrase);
