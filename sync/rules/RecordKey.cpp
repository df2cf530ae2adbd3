#include "sync/rules/RecordKey.h"

#include "foundation/crypto/Crypto.h"

QString RecordKey::Of(const QString& userSn, const QString& relativePath)
{
    QString path = relativePath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return Md5Hex(userSn + QLatin1Char('_') + path);
}

bool RecordKey::IsValid(const QString& key)
{
    if (key.size() != 32)
        return false;
    for (const QChar c : key) {
        const char16_t u = c.unicode();
        const bool hex = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!hex)
            return false;
    }
    return true;
}

bool RecordKey::IsValidParent(const QString& parent)
{
    return parent == QLatin1String("\\") || IsValid(parent);
}
