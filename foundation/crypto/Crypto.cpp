#include "foundation/crypto/Crypto.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

// Part of the cipher's definition: the IV is derived from this prefix
// followed by the passphrase. Changing it makes every stored secret unreadable.
constexpr char kIvPrefix[] = "tsn_ivp";

constexpr qsizetype kHexMaxBytes = 510;
constexpr int kAesBlock = 16;
constexpr int kAesKeyBytes = 32;
constexpr int kAesIvBytes = 16;

// The library's length arguments are int: long inputs go in pieces.
constexpr qsizetype kEncodeChunk = 3 * (1 << 20);  // whole groups of 3 bytes
constexpr qsizetype kDecodeChunk = 4 * (1 << 20);  // whole groups of 4 characters
constexpr qsizetype kCipherChunk = 1 << 20;

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

const unsigned char* Bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

unsigned char* Bytes(QByteArray& data)
{
    return reinterpret_cast<unsigned char*>(data.data());
}

// Hex digest of the bytes; empty only if the library fails.
QByteArray DigestHex(const EVP_MD* md, const QByteArray& bytes)
{
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return {};
    if (EVP_DigestUpdate(ctx.get(), bytes.constData(), static_cast<size_t>(bytes.size())) != 1)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
        return {};
    return HexLower(QByteArrayView(digest, length));
}

bool IsBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// Number of "=" that end a well-formed Base64 text (without line breaks), or
// -1 when the text is malformed.
int Base64PaddingOrInvalid(const QByteArray& text)
{
    if (text.size() % 4 != 0)
        return -1;
    int padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    const qsizetype dataEnd = text.size() - padding;
    for (qsizetype i = 0; i < dataEnd; ++i) {
        if (!IsBase64Char(text[i]))
            return -1;
    }
    return padding;
}

struct AesKeyIv {
    QByteArray key;
    QByteArray iv;
};

AesKeyIv DeriveKeyIv(const QByteArray& passphrase)
{
    return {Sha256Hex(passphrase).left(kAesKeyBytes),
            Sha256Hex(QByteArray(kIvPrefix) + passphrase).left(kAesIvBytes)};
}

// Runs one cipher direction over the whole input; std::nullopt when the
// library reports a failure (for decryption: a bad final block).
std::optional<QByteArray> RunAes(const QByteArray& input, const QByteArray& passphrase, bool encrypt)
{
    const AesKeyIv keyIv = DeriveKeyIv(passphrase);
    if (keyIv.key.size() != kAesKeyBytes || keyIv.iv.size() != kAesIvBytes)
        return std::nullopt;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return std::nullopt;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, Bytes(keyIv.key), Bytes(keyIv.iv),
                          encrypt ? 1 : 0) != 1)
        return std::nullopt;

    QByteArray output(input.size() + kAesBlock, Qt::Uninitialized);
    qsizetype written = 0;
    for (qsizetype offset = 0; offset < input.size(); offset += kCipherChunk) {
        const int chunk = static_cast<int>(std::min(kCipherChunk, input.size() - offset));
        int produced = 0;
        if (EVP_CipherUpdate(ctx.get(), Bytes(output) + written, &produced, Bytes(input) + offset, chunk) !=
            1)
            return std::nullopt;
        written += produced;
    }
    int produced = 0;
    if (EVP_CipherFinal_ex(ctx.get(), Bytes(output) + written, &produced) != 1)
        return std::nullopt;
    output.truncate(written + produced);
    return output;
}

}  // namespace

QByteArray ToUtf8(const QString& text)
{
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    return (zero < 0 ? text : text.left(zero)).toUtf8();
}

QByteArray ToUtf8Ansi(const QString& text)
{
    return ToUtf8(text);
}

QString FromUtf8(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    if (zero >= 0)
        text.truncate(zero);
    return text;
}

QByteArray HexLower(QByteArrayView bytes)
{
    return bytes.first(std::min(bytes.size(), kHexMaxBytes)).toByteArray().toHex();
}

QByteArray Md5HexBytes(const QByteArray& bytes)
{
    return DigestHex(EVP_md5(), bytes);
}

QString Md5Hex(const QString& text)
{
    return QString::fromLatin1(Md5HexBytes(ToUtf8(text)));
}

QByteArray Sha256Hex(const QByteArray& bytes)
{
    return DigestHex(EVP_sha256(), bytes);
}

QByteArray Base64Encode(const QByteArray& bytes)
{
    QByteArray text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (qsizetype offset = 0; offset < bytes.size(); offset += kEncodeChunk) {
        const qsizetype chunk = std::min(kEncodeChunk, bytes.size() - offset);
        QByteArray encoded((chunk + 2) / 3 * 4 + 1, Qt::Uninitialized);  // + the library's zero
        const int length = EVP_EncodeBlock(Bytes(encoded), Bytes(bytes) + offset, static_cast<int>(chunk));
        text.append(encoded.constData(), length);
    }
    return text;
}

std::optional<QByteArray> Base64Decode(const QByteArray& text)
{
    QByteArray clean = text;
    clean.removeIf([](char c) { return c == '\r' || c == '\n'; });
    const int padding = Base64PaddingOrInvalid(clean);
    if (padding < 0)
        return std::nullopt;

    QByteArray bytes;
    bytes.reserve(clean.size() / 4 * 3);
    for (qsizetype offset = 0; offset < clean.size(); offset += kDecodeChunk) {
        const qsizetype chunk = std::min(kDecodeChunk, clean.size() - offset);
        QByteArray decoded(chunk / 4 * 3, Qt::Uninitialized);
        const int length = EVP_DecodeBlock(Bytes(decoded), Bytes(clean) + offset, static_cast<int>(chunk));
        if (length < 0)
            return std::nullopt;
        bytes.append(decoded.constData(), length);
    }
    // The library decodes the padding as zero bytes.
    bytes.chop(padding);
    return bytes;
}

QByteArray Base64UrlEncode(const QByteArray& bytes)
{
    return Base64Encode(bytes).replace('+', '-').replace('/', '_');
}

std::optional<QByteArray> Base64UrlDecode(const QByteArray& text)
{
    if (text.contains('+') || text.contains('/'))
        return std::nullopt;
    QByteArray standard = text;
    return Base64Decode(standard.replace('-', '+').replace('_', '/'));
}

QString Base64UrlEncodeText(const QString& text)
{
    return QString::fromLatin1(Base64UrlEncode(ToUtf8(text)));
}

std::optional<QString> Base64UrlDecodeText(const QString& text)
{
    // Not ToUtf8: a zero character must make the text malformed, not end it.
    const std::optional<QByteArray> bytes = Base64UrlDecode(text.toUtf8());
    if (!bytes)
        return std::nullopt;
    return FromUtf8(*bytes);
}

QString PathToBase64Url(const QString& relativePath)
{
    QString path = relativePath;
    return Base64UrlEncodeText(path.replace(QChar(u'\\'), QChar(u'/')));
}

QByteArray AesEncrypt(const QByteArray& plaintext, const QByteArray& passphrase)
{
    return RunAes(plaintext, passphrase, true).value_or(QByteArray());
}

std::optional<QByteArray> AesDecrypt(const QByteArray& ciphertext, const QByteArray& passphrase)
{
    if (ciphertext.isEmpty() || ciphertext.size() % kAesBlock != 0)
        return std::nullopt;
    return RunAes(ciphertext, passphrase, false);
}
