#include "tests/support/PeltaDbQuery.h"

#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDb.h"

#include <gtest/gtest.h>

double PeltaDbQuery::Number(PeltaDb& db, const QString& sql)
{
    return db.NewStatement()->QueryDouble(sql);
}

QStringList PeltaDbQuery::Rows(PeltaDb& db, const QString& sql)
{
    QStringList rows;
    const auto statement = db.NewStatement();
    statement->Prepare(sql);
    while (statement->FetchRow()) {
        QStringList columns;
        for (int index = 0; index < statement->GetColumnCount(); ++index) {
            const QString value = statement->GetColumnString16(index);
            columns << (value.isNull() ? QStringLiteral("NULL") : value);
        }
        rows << columns.join(QLatin1Char('|'));
    }
    return rows;
}

void PeltaDbQuery::Run(PeltaDb& db, const QString& sql)
{
    try {
        db.NewStatement()->ExecuteOnce(sql);
    } catch (const Lithos::SQLiteException& failure) {
        ADD_FAILURE() << sql.toStdString() << ": " << failure.Message();
    }
}
