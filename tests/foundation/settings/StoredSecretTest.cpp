#include "foundation/settings/StoredSecret.h"

#include "foundation/crypto/Crypto.h"

#include <gtest/gtest.h>

#include <QString>

#include <optional>

namespace {

// Passwords already stored must stay readable: a change of the passphrase,
// the IV prefix or the key derivation breaks this. (Computed independently
// with the openssl command line.)
TEST(StoredSecret, GoldenCipherText)
{
    EXPECT_EQ(EncryptStoredText(QStringLiteral("correct horse battery")),
              QStringLiteral("EGegVVn/cJOlVllCegQ/vloENmeCNLOvDlbjc2Ymrzc="));
    EXPECT_EQ(DecryptStoredText(QStringLiteral("EGegVVn/cJOlVllCegQ/vloENmeCNLOvDlbjc2Ymrzc=")),
              std::optional<QString>(QStringLiteral("correct horse battery")));
}

// Method paths are kept without their "=" padding; it is restored before
// decoding.
TEST(StoredSecret, RoundTripWithAndWithoutPadding)
{
    const QString texts[] = {QString(), QStringLiteral("p"), QStringLiteral("sixteen byte txt"),
                             QString::fromUtf8("密码 pässwörd")};
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        QString cipher = EncryptStoredText(text);
        EXPECT_EQ(DecryptStoredText(cipher), std::optional<QString>(text));
        while (cipher.endsWith(QChar(u'=')))
            cipher.chop(1);
        EXPECT_EQ(DecryptStoredText(cipher), std::optional<QString>(text));
    }
}

TEST(StoredSecret, UnreadableTextGivesNoValue)
{
    const QString golden = QStringLiteral("EGegVVn/cJOlVllCegQ/vloENmeCNLOvDlbjc2Ymrzc");
    const QByteArray notUtf8 = QByteArray("\xFF\xFE\xFD", 3);
    const struct {
        QString text;
        const char* why;
    } cases[] = {
        {QString(), "empty"},
        {golden.left(golden.size() - 1), "one character short"},
        {golden.left(golden.size() - 3), "a length of 1 modulo 4"},
        {QStringLiteral("not base64!"), "not Base64"},
        {QString::fromLatin1(Base64Encode("thirty-two bytes, not enciphered")), "not enciphered"},
        {QString::fromLatin1(Base64Encode(AesEncrypt(notUtf8, StoredSecretPassphrase))), "not UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(DecryptStoredText(c.text), std::nullopt);
    }
}

}  // namespace
