#include "sync/rules/JournalPosition.h"

namespace {

bool AllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

}  // namespace

bool JournalPosition::IsDecimal(const QString& text)
{
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point < 0)
        return AllDigits(text);
    return AllDigits(QStringView(text).left(point)) && AllDigits(QStringView(text).mid(point + 1));
}

QString JournalPosition::After(const QString& commitTime)
{
    if (!IsDecimal(commitTime))
        return QString();
    QString next = commitTime;
    for (qsizetype index = next.size() - 1; index >= 0; --index) {
        const QChar c = next.at(index);
        if (c == QLatin1Char('.'))
            continue;
        if (c != QLatin1Char('9')) {
            next[index] = QChar(c.unicode() + 1);
            return next;
        }
        next[index] = QLatin1Char('0');
    }
    // Every digit was a nine: the carry makes the seconds one digit longer.
    return QLatin1Char('1') + next;
}
