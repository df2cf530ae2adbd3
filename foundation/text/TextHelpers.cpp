#include "foundation/text/TextHelpers.h"

#include <algorithm>

QStringList SplitString(const QString& text, const QString& delimiters)
{
    QStringList tokens;
    qsizetype start = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool isDelimiter = delimiters.contains(text.at(i));
        if (!isDelimiter && start < 0)
            start = i;
        if (isDelimiter && start >= 0) {
            tokens.append(text.mid(start, i - start));
            start = -1;
        }
    }
    if (start >= 0)
        tokens.append(text.mid(start));
    return tokens;
}

namespace {

int VersionPart(const QString& part, const QString& version)
{
    bool ok = false;
    const int value = part.toInt(&ok, 10);
    if (!ok) {
        throw VersionFormatError("version part \"" + part.toStdString() + "\" of \""
                                 + version.toStdString() + "\" is not a number");
    }
    return value;
}

}  // namespace

int CompareVersion(const QString& a, const QString& b)
{
    const QStringList partsA = SplitString(a, QStringLiteral("."));
    const QStringList partsB = SplitString(b, QStringLiteral("."));
    const qsizetype common = std::min(partsA.size(), partsB.size());
    for (qsizetype i = 0; i < common; ++i) {
        const int partA = VersionPart(partsA.at(i), a);
        const int partB = VersionPart(partsB.at(i), b);
        if (partA != partB)
            return partA > partB ? 1 : -1;
    }
    return 0;
}

QString VersionPrefix(const QString& version, int n)
{
    const QStringList parts = SplitString(version, QStringLiteral("."));
    const qsizetype count = std::max(n, 0);
    if (count >= parts.size())
        return version;
    return parts.mid(0, count).join(QLatin1Char('.'));
}
