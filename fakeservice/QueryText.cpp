#include "fakeservice/QueryText.h"

namespace QueryText {

std::map<QString, QString> Parse(const std::string& query)
{
    std::map<QString, QString> values;
    const QStringList pairs = QString::fromUtf8(query).split(u'&', Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const qsizetype equals = pair.indexOf(u'=');
        const QString name = equals < 0 ? pair : pair.left(equals);
        if (values.count(name) == 0)
            values[name] = equals < 0 ? QString() : pair.mid(equals + 1);
    }
    return values;
}

QString Value(const std::map<QString, QString>& values, const char* name)
{
    const auto it = values.find(QLatin1String(name));
    return it == values.end() ? QString() : it->second;
}

QStringList Pieces(const std::string& query)
{
    return QString::fromUtf8(query).split(u'&');
}

std::string QueryOf(const std::string& target)
{
    const std::size_t mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string PathOf(const std::string& target)
{
    return target.substr(0, target.find('?'));
}

}  // namespace QueryText
