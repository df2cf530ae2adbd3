#include "fakeservice/JsonReply.h"

#include <QJsonDocument>

namespace JsonReply {

QJsonObject Success()
{
    return QJsonObject{{QStringLiteral("status"), QStringLiteral("1")}};
}

std::string Error(const QString& message)
{
    return Text(QJsonObject{{QStringLiteral("status"), QStringLiteral("0")}, {QStringLiteral("msg"), message}});
}

std::string Error(const char* message)
{
    return Error(QString::fromUtf8(message));
}

std::string Text(const QJsonObject& reply)
{
    return QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace JsonReply
