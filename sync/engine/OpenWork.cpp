#include "sync/engine/OpenWork.h"

#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"

const QString OpenWork::Statuses = QStringLiteral("(1, 3, 5, 6, 7)");

namespace {

const QString kRoot = QStringLiteral("\\");

QString OpenCondition()
{
    return QStringLiteral(" and commit_time is null and status in ") + OpenWork::Statuses;
}

void LogFailure(const QString& path, const QString& what)
{
    AppLog.Write(QStringLiteral("PeltaSync:OpenWork:store cannot be read, taken as work to do:") + path +
                     QLatin1Char(':') + what,
                 LogGeneral);
}

}  // namespace

QString OpenWork::AtOrBelow(const QString& column, const QString& path)
{
    if (path == kRoot)
        return column + QStringLiteral(" is not null");
    const QString prefix = path + QLatin1Char('\\');
    // substr counts characters, that is code points.
    return QLatin1Char('(') + column + QLatin1Char('=') + PeltaRec::Literal(path) + QStringLiteral(" or substr(") +
           column + QStringLiteral(", 1, ") + QString::number(prefix.toUcs4().size()) + QStringLiteral(")=") +
           PeltaRec::Literal(prefix) + QLatin1Char(')');
}

bool OpenWork::On(PeltaDb& db, const QString& path)
{
    try {
        const QString literal = PeltaRec::Literal(path);
        return db.NewStatement()->QueryDouble(QStringLiteral("select count(*) from sync_request where (path=") +
                                              literal + QStringLiteral(" or path2=") + literal + QLatin1Char(')') +
                                              OpenCondition()) > 0;
    } catch (const Lithos::SQLiteException& failure) {
        LogFailure(path, PeltaDb::FormatSQLiteException(failure));
        return true;
    }
}

bool OpenWork::Below(PeltaDb& db, const QString& folder, QSet<QString>& paths)
{
    try {
        const auto statement = db.NewStatement();
        const int found = db.QueryWith(QStringLiteral("select path, ifnull(path2, '') as path2 from sync_request "
                                                      "where (") +
                                           AtOrBelow(QStringLiteral("path"), folder) + QStringLiteral(" or ") +
                                           AtOrBelow(QStringLiteral("path2"), folder) + QLatin1Char(')') +
                                           OpenCondition(),
                                       *statement);
        if (found < 0) {
            LogFailure(folder, QStringLiteral("query failed"));
            return false;
        }
        while (found > 0 && statement->FetchRow()) {
            for (const char* column : {"path", "path2"}) {
                const QString path = db.ColumnText(QLatin1String(column), *statement);
                if (!path.isEmpty())
                    paths.insert(path);
            }
        }
        return true;
    } catch (const Lithos::SQLiteException& failure) {
        LogFailure(folder, PeltaDb::FormatSQLiteException(failure));
        return false;
    }
}
