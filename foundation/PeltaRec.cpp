#include "foundation/PeltaRec.h"

QString PeltaRec::EscapeQuote(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return escaped;
}
