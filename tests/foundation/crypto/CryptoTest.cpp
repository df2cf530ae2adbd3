#include "foundation/crypto/Crypto.h"

#include "tests/support/PatternData.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <optional>

namespace {

QByteArray Bytes(const char* text)
{
    return QByteArray(text);
}

// --- UTF-8 and hex ---------------------------------------------------------

TEST(CryptoUtf8, ConvertsNonAsciiAndStopsAtTheFirstZero)
{
    const QString chinese = QString::fromUtf8("同步文件夹");
    EXPECT_EQ(ToUtf8(chinese), QByteArray("\xE5\x90\x8C\xE6\xAD\xA5\xE6\x96\x87\xE4\xBB\xB6\xE5\xA4\xB9"));
    EXPECT_EQ(FromUtf8(ToUtf8(chinese)), chinese);
    EXPECT_EQ(ToUtf8Ansi(chinese), ToUtf8(chinese));

    EXPECT_EQ(ToUtf8(QString::fromUtf8("ab\0cd", 5)), QByteArray("ab"));
    EXPECT_EQ(FromUtf8(QByteArray("ab\0cd", 5)), QStringLiteral("ab"));
}

TEST(CryptoUtf8, InvalidBytesBecomeReplacementCharacters)
{
    const QString text = FromUtf8(QByteArray("a\xFF" "b"));
    ASSERT_EQ(text.size(), 3);
    EXPECT_EQ(text[0], QChar(u'a'));
    EXPECT_EQ(text[1], QChar(QChar::ReplacementCharacter));
    EXPECT_EQ(text[2], QChar(u'b'));
}

TEST(CryptoHex, LowerCaseAndAtMost510Bytes)
{
    EXPECT_EQ(HexLower(QByteArray("\x00\x0A\xAB\xFF", 4)), QByteArray("000aabff"));
    EXPECT_EQ(HexLower(QByteArray()), QByteArray());
    const QByteArray hex = HexLower(QByteArray(600, '\x5c'));
    EXPECT_EQ(hex.size(), 1020);
    EXPECT_EQ(hex, QByteArray("5c").repeated(510));
}

// --- Digests -----------------------------------------------------------------

struct DigestCase {
    const char* utf8;
    const char* md5;
    const char* sha256;
};

// Non-ASCII texts digest their UTF-8 bytes, not their UTF-16 units.
const DigestCase kDigestCases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"同步文件夹", "19edb1c3adde3bf65c45f8b4fc2d88b1",
     "978752e3f5ff9909a7f75d470dc95c3a50a65ea2b1da98071cfb81c4173c377a"},
    {"é", "66ddcd97cfdeabb2f6fb8a999b4bc76f",
     "4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c"},
};

TEST(CryptoDigest, GoldenVectorsOfUtf8Text)
{
    for (const DigestCase& c : kDigestCases) {
        SCOPED_TRACE(c.utf8);
        const QString text = QString::fromUtf8(c.utf8);
        EXPECT_EQ(Md5Hex(text), QString::fromLatin1(c.md5));
        EXPECT_EQ(Md5HexBytes(Bytes(c.utf8)), Bytes(c.md5));
        EXPECT_EQ(Sha256Hex(ToUtf8(text)), Bytes(c.sha256));
    }
}

// --- Base64 and Base64url ------------------------------------------------------

struct Base64Case {
    QByteArray bytes;
    const char* base64;
    const char* base64url;
};

TEST(CryptoBase64, EncodesAndDecodesBothAlphabets)
{
    const Base64Case cases[] = {
        {QByteArray(), "", ""},
        {Bytes("a"), "YQ==", "YQ=="},
        {Bytes("ab"), "YWI=", "YWI="},
        {Bytes("abc"), "YWJj", "YWJj"},
        {QByteArray("\xFB\xFF", 2), "+/8=", "-_8="},
        {QByteArray("\x00\x00\x00\x00", 4), "AAAAAA==", "AAAAAA=="},
    };
    for (const Base64Case& c : cases) {
        SCOPED_TRACE(c.base64);
        EXPECT_EQ(Base64Encode(c.bytes), Bytes(c.base64));
        EXPECT_EQ(Base64UrlEncode(c.bytes), Bytes(c.base64url));
        EXPECT_EQ(Base64Decode(Bytes(c.base64)), std::optional<QByteArray>(c.bytes));
        EXPECT_EQ(Base64UrlDecode(Bytes(c.base64url)), std::optional<QByteArray>(c.bytes));
    }
}

TEST(CryptoBase64, LongInputsHaveNoLineBreaks)
{
    // 100 bytes exceed the library's 64-character encoder lines; the larger
    // size spans the pieces in which long inputs are handed to the library.
    for (const qsizetype size : {qsizetype(100), qsizetype(3 * (1 << 20) + 5)}) {
        SCOPED_TRACE(size);
        const QByteArray bytes = PatternData(size);
        const QByteArray text = Base64Encode(bytes);
        EXPECT_EQ(text.size(), (size + 2) / 3 * 4);
        EXPECT_FALSE(text.contains('\n'));
        EXPECT_EQ(Base64Decode(text), std::optional<QByteArray>(bytes));
    }
}

TEST(CryptoBase64, DecodeIgnoresLineBreaksAnywhere)
{
    EXPECT_EQ(Base64Decode(Bytes("\r\nYW\r\nJj\nYQ=\r=\n")), std::optional<QByteArray>(Bytes("abca")));
    EXPECT_EQ(Base64Decode(Bytes("\r\n")), std::optional<QByteArray>(QByteArray()));
}

struct MalformedCase {
    const char* text;
    const char* why;
};

TEST(CryptoBase64, MalformedTextGivesNoValue)
{
    const MalformedCase standard[] = {
        {"YW*j", "character outside the alphabet"},
        {"YWJj YQ==", "blank inside"},
        {"-_8=", "Base64url characters"},
        {"YQ=", "length 3"},
        {"YQ", "padding left out"},
        {"YWJjY", "length 5"},
        {"YQ==YQ==", "padding in the middle"},
        {"Y===", "three padding characters"},
        {"YQ=a", "data after padding"},
        {"=YWJ", "padding first"},
        {"====", "padding only"},
    };
    for (const MalformedCase& c : standard) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Base64Decode(Bytes(c.text)), std::nullopt);
    }

    const MalformedCase url[] = {
        {"+/8=", "standard alphabet characters"},
        {"YQ=", "length 3"},
        {"Y===", "three padding characters"},
    };
    for (const MalformedCase& c : url) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Base64UrlDecode(Bytes(c.text)), std::nullopt);
        EXPECT_EQ(Base64UrlDecodeText(QString::fromLatin1(c.text)), std::nullopt);
    }
    EXPECT_EQ(Base64UrlDecodeText(QString::fromUtf8("YQ==\0YQ==", 9)), std::nullopt);
}

struct PathCase {
    const char* path;
    const char* base64url;
};

TEST(CryptoBase64, ServicePathFormOfRelativePaths)
{
    const PathCase cases[] = {
        {"\\", "Lw=="},
        {"docs\\同步\\报告.txt", "ZG9jcy_lkIzmraUv5oql5ZGKLnR4dA=="},
        {"文档\\照片", "5paH5qGjL-eFp-eJhw=="},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.base64url);
        const QString path = QString::fromUtf8(c.path);
        EXPECT_EQ(PathToBase64Url(path), QString::fromLatin1(c.base64url));
        QString forward = path;
        forward.replace(QChar(u'\\'), QChar(u'/'));
        EXPECT_EQ(Base64UrlDecodeText(QString::fromLatin1(c.base64url)), std::optional<QString>(forward));
    }
    EXPECT_EQ(Base64UrlEncodeText(QString()), QString());
    EXPECT_EQ(Base64UrlDecodeText(QString()), std::optional<QString>(QString()));
}

// --- AES ---------------------------------------------------------------------

TEST(CryptoAes, RoundTripWithWholeBlockSizes)
{
    const QByteArray passphrase = Bytes("123456789012345678901234");
    const struct {
        qsizetype plain;
        qsizetype cipher;
    } sizes[] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {17, 32}, {100, 112}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.plain);
        const QByteArray plaintext = PatternData(size.plain);
        const QByteArray ciphertext = AesEncrypt(plaintext, passphrase);
        EXPECT_EQ(ciphertext.size(), size.cipher);
        EXPECT_EQ(AesDecrypt(ciphertext, passphrase), std::optional<QByteArray>(plaintext));
    }
}

// Computed independently with the openssl command line: key = the first 32
// hex digits of SHA-256("secret") as ASCII, IV = the first 16 hex digits of
// SHA-256 of the IV prefix followed by "secret".
TEST(CryptoAes, KnownAnswerForTheKeyAndIvDerivation)
{
    const QByteArray ciphertext = AesEncrypt(Bytes("Hello, Tessaron"), Bytes("secret"));
    EXPECT_EQ(Base64Encode(ciphertext), Bytes("/KnRkqFn01kn64QyCL0Q9Q=="));
}

TEST(CryptoAes, WrongPassphraseOrDamagedCiphertextGivesNoValue)
{
    const QByteArray passphrase = Bytes("123456789012345678901234");
    const QByteArray ciphertext = AesEncrypt(Bytes("sixteen byte txt"), passphrase);
    ASSERT_EQ(ciphertext.size(), 32);

    // The cipher is deterministic, so this wrong passphrase always ends in
    // bad padding (as all but about one in 256 do).
    EXPECT_EQ(AesDecrypt(ciphertext, Bytes("123456789012345678901235")), std::nullopt);

    // The last block is pure padding (16 x 0x10); flipping a bit of the block
    // before it changes the last padding byte.
    QByteArray badPadding = ciphertext;
    badPadding[15] = static_cast<char>(badPadding[15] ^ 0x01);
    EXPECT_EQ(AesDecrypt(badPadding, passphrase), std::nullopt);

    EXPECT_EQ(AesDecrypt(ciphertext.left(31), passphrase), std::nullopt);
    EXPECT_EQ(AesDecrypt(QByteArray(), passphrase), std::nullopt);
}

}  // namespace
