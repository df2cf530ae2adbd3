#include "foundation/PeltaRecSyncRequest.h"

void PeltaRecSyncRequest::Clear()
{
    *this = PeltaRecSyncRequest();
}

QString PeltaRecSyncRequest::GetInsertSQL() const
{
    const auto text = [](const QString& value) { return QLatin1Char('\'') + EscapeQuote(value) + QLatin1Char('\''); };
    return QStringLiteral("insert into sync_request (key, sn, path, path2, agent_key, action, opt, status, priority) values (")
        + text(key) + QStringLiteral(", ") + text(sn) + QStringLiteral(", ") + text(path) + QStringLiteral(", ")
        + text(path2) + QStringLiteral(", ") + text(agent_key) + QStringLiteral(", ") + QString::number(action)
        + QStringLiteral(", ") + text(opt) + QStringLiteral(", ") + QString::number(status) + QStringLiteral(", ")
        + QString::number(priority) + QLatin1Char(')');
}
