#include "foundation/settings/StoredSecret.h"

#include "foundation/crypto/Crypto.h"

#include <QByteArrayView>

const char StoredSecretPassphrase[] = "583920174655018263947105";

namespace {

QByteArray Passphrase()
{
    return QByteArray(StoredSecretPassphrase);
}

QString WithPadding(const QString& text)
{
    switch (text.size() % 4) {
    case 2:
        return text + QStringLiteral("==");
    case 1:
    case 3:
        return text + QStringLiteral("=");
    default:
        return text;
    }
}

}  // namespace

QString EncryptStoredText(const QString& text)
{
    return QString::fromLatin1(Base64Encode(AesEncrypt(ToUtf8(text), Passphrase())));
}

std::optional<QString> DecryptStoredText(const QString& text)
{
    const std::optional<QByteArray> ciphertext = Base64Decode(WithPadding(text).toUtf8());
    if (!ciphertext)
        return std::nullopt;
    const std::optional<QByteArray> plaintext = AesDecrypt(*ciphertext, Passphrase());
    if (!plaintext || !QByteArrayView(*plaintext).isValidUtf8())
        return std::nullopt;
    return FromUtf8(*plaintext);
}
