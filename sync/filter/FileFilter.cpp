#include "sync/filter/FileFilter.h"

#include "foundation/log/PeltaLog.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <exception>
#include <string>

namespace {

// Perl syntax, the library's default flags. The "." before "tmp" matches any
// one character, as it always has.
const boost::wregex& TmpPattern()
{
    static const boost::wregex pattern(L"([a-fA-F0-9]*).tmp");
    return pattern;
}

const boost::wregex& HexPattern()
{
    static const boost::wregex pattern(L"([a-fA-F0-9]*)");
    return pattern;
}

bool WholeMatch(const QString& text, const boost::wregex& pattern)
{
    try {
        return boost::regex_match(text.toStdWString(), pattern);
    } catch (const std::exception& failure) {
        AppLog.Write(QStringLiteral("FileFilter:pattern failed:") + QString::fromLocal8Bit(failure.what()), LogGeneral);
        return false;
    }
}

QString LastName(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

QString Extension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

}  // namespace

bool FileFilter::IsIgnored(const QString& path)
{
    const QString name = LastName(path);
    const QString lowerName = name.toLower();
    const QString lowerExt = Extension(name).toLower();
    if (name.startsWith(QLatin1String("~$")))
        return true;
    if (lowerExt == QLatin1String(".tmp"))
        return IsIgnoredTmp(name, lowerName);
    return IsIgnoredOther(name, lowerName, lowerExt);
}

bool FileFilter::IsIgnoredTmp(const QString& name, const QString& lowerName)
{
    if (name.startsWith(QLatin1Char('~')))
        return true;
    if (lowerName.startsWith(QLatin1String("ppt")))
        return true;
    for (const char* lockMark : {".ppt~", ".xls~", ".xlsx~"}) {
        if (name.contains(QLatin1String(lockMark), Qt::CaseInsensitive))
            return true;
    }
    return MatchesTmpPattern(lowerName);
}

bool FileFilter::IsIgnoredOther(const QString& name, const QString& lowerName, const QString& lowerExt)
{
    if (lowerExt == QLatin1String(".partial"))
        return true;
    if (lowerName == QLatin1String("desktop.ini") || lowerName == QLatin1String("thumbs.db"))
        return true;
    return name.size() == 8 && MatchesHexPattern(name);
}

bool FileFilter::MatchesTmpPattern(const QString& lowerName)
{
    return WholeMatch(lowerName, TmpPattern());
}

bool FileFilter::MatchesHexPattern(const QString& name)
{
    return WholeMatch(name, HexPattern());
}
