#include "fakeservice/RandomText.h"

#include "foundation/crypto/Crypto.h"

#include <QByteArray>
#include <QRandomGenerator>

namespace RandomText {

QString Hex(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    for (char& byte : random)
        byte = char(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(HexLower(random));
}

}  // namespace RandomText
