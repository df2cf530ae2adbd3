#include "foundation/db/PeltaRecSyncRequest.h"

void PeltaRecSyncRequest::Clear()
{
    *this = PeltaRecSyncRequest();
}

QString PeltaRecSyncRequest::GetInsertSQL() const
{
    return QStringLiteral("insert into sync_request (key, sn, path, path2, agent_key, action, opt, status, priority) values (")
        + Literal(key) + QStringLiteral(", ") + Literal(sn) + QStringLiteral(", ") + Literal(path) + QStringLiteral(", ")
        + Literal(path2) + QStringLiteral(", ") + Literal(agent_key) + QStringLiteral(", ") + QString::number(action)
        + QStringLiteral(", ") + Literal(opt) + QStringLiteral(", ") + QString::number(status) + QStringLiteral(", ")
        + QString::number(priority) + QLatin1Char(')');
}
