#include "foundation/db/PeltaRec.h"

QString PeltaRec::EscapeQuote(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return escaped;
}

QString PeltaRec::Literal(const QString& text)
{
    return QLatin1Char('\'') + EscapeQuote(text) + QLatin1Char('\'');
}
