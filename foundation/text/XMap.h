#pragma once

#include <QString>

#include <map>

// The system's flat record: text names to text values, kept in ascending
// order of the names compared by their UTF-16 code units (QString's
// operator<, case-sensitive, no locale). A JSON object flattened, a request's
// option pairs, a database row's columns.
using XMap = std::map<QString, QString>;
