#include "foundation/db/PeltaDbConfig.h"

#include "foundation/settings/DataFolder.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/ProcessState.h"

namespace {

QString Quoted(const QString& text)
{
    return QLatin1Char('\'') + PeltaSQLite3::EscapeQuote(text) + QLatin1Char('\'');
}

}  // namespace

const QString PeltaDbConfig::CreateTableSql = QStringLiteral(
    "CREATE TABLE sync_agent_setting ( \tprop_name TEXT PRIMARY KEY NOT NULL, \tprop_value BLOB \t);");

PeltaDbConfig::PeltaDbConfig() : PeltaSQLite3(csConfigDb)
{
    SetPath(DataFilePath(QStringLiteral("config.db")));
}

bool PeltaDbConfig::CreateTables()
{
    const FileLock hold(*this);
    return Exec(CreateTableSql);
}

QString PeltaDbConfig::GetSetting(const QString& name, const QString& defaultValue)
{
    const FileLock hold(*this);
    QString value;
    switch (ReadSetting(name, value)) {
    case ReadResult::Found:
        return value;
    case ReadResult::Missing:
        InsertSetting(name, defaultValue);
        return defaultValue;
    case ReadResult::Failed:
        break;
    }
    return defaultValue;
}

void PeltaDbConfig::SetSetting(const QString& name, const QString& value)
{
    const FileLock hold(*this);
    QString current;
    const ReadResult read = ReadSetting(name, current);
    if (read == ReadResult::Missing) {
        InsertSetting(name, value);
        return;
    }
    if (value == current)
        return;
    Exec(QStringLiteral("update sync_agent_setting set prop_value=") + Quoted(value) +
         QStringLiteral(" where prop_name=") + Quoted(name) + QStringLiteral(";"));
}

PeltaDbConfig::ReadResult PeltaDbConfig::ReadSetting(const QString& name, QString& value)
{
    Lithos::SQLiteStatement statement(Connection());
    const int found = QueryWith(
        QStringLiteral("select * from sync_agent_setting where prop_name=") + Quoted(name) + QStringLiteral(";"),
        statement);
    if (found < 0)
        return ReadResult::Failed;
    if (found == 0)
        return ReadResult::Missing;
    try {
        if (!statement.FetchRow())
            return ReadResult::Missing;
    } catch (const Lithos::SQLiteException& failure) {
        ReportError(failure);
        return ReadResult::Failed;
    }
    value = ColumnText(QStringLiteral("prop_value"), statement);
    return ReadResult::Found;
}

bool PeltaDbConfig::InsertSetting(const QString& name, const QString& value)
{
    return Exec(QStringLiteral("insert into sync_agent_setting (prop_name, prop_value) values (") + Quoted(name) +
                QStringLiteral(", ") + Quoted(value) + QStringLiteral(");"));
}
