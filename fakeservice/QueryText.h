#pragma once

// Queries taken as they arrive: the clients insert their values without
// escaping, so the service splits the text at "&" and each pair at its first
// "=" and decodes nothing.

#include <QString>
#include <QStringList>

#include <map>
#include <string>

namespace QueryText {

// The named values; the first of a name wins. A pair without "=" has an
// empty value.
std::map<QString, QString> Parse(const std::string& query);

// The value of the name, empty when there is none.
QString Value(const std::map<QString, QString>& values, const char* name);

// The query's pieces between "&", in order, empty ones kept.
QStringList Pieces(const std::string& query);

// What follows the first "?" of a request target; empty when there is none.
std::string QueryOf(const std::string& target);

// What precedes the first "?".
std::string PathOf(const std::string& target);

}  // namespace QueryText
