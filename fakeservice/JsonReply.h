#pragma once

// The service's JSON replies: UTF-8, compact, every value a string unless the
// client reads a number.

#include <QJsonObject>
#include <QString>

#include <string>

namespace JsonReply {

// {"status":"1"} to add fields to.
QJsonObject Success();

// {"status":"0","msg":<message>}
std::string Error(const QString& message);
std::string Error(const char* message);

std::string Text(const QJsonObject& reply);

}  // namespace JsonReply
