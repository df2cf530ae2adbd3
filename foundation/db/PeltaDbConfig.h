#pragma once

#include "foundation/db/PeltaSQLite3.h"

#include <QString>

// "config.db": the agent's settings as name/value pairs, one table, under
// the lock csConfigDb. Every read and write of a setting holds the lock from
// its read to its write, so concurrent writers never both insert a name.
class PeltaDbConfig : public PeltaSQLite3 {
public:
    // The one table; prop_value has no type affinity, so text stays text.
    static const QString CreateTableSql;

    // The path is "config.db" in the data folder; the lock is csConfigDb.
    PeltaDbConfig();

    bool CreateTables() override;

    // The stored value of the name. A name without a row gives the default,
    // which is stored as its value. A failed read (reported) gives the
    // default and writes nothing.
    QString GetSetting(const QString& name, const QString& defaultValue);
    // Stores the value: a new name is inserted, a changed value updated, an
    // equal value writes nothing. A failed read counts as a stored empty value.
    void SetSetting(const QString& name, const QString& value);

private:
    enum class ReadResult { Found, Missing, Failed };

    // The stored value of the name into value. Runs under the caller's hold.
    ReadResult ReadSetting(const QString& name, QString& value);
    bool InsertSetting(const QString& name, const QString& value);
};
