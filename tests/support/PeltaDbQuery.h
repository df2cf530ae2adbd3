#pragma once

// Direct reads and writes of a "profile.db" in tests, past the access
// layer's own operations.

#include <QString>
#include <QStringList>

class PeltaDb;

class PeltaDbQuery {
public:
    // Column 0 of the first row of sql as a number.
    static double Number(PeltaDb& db, const QString& sql);
    // Every row of sql, its columns as text joined by "|" (NULL as "NULL").
    static QStringList Rows(PeltaDb& db, const QString& sql);
    // Runs sql directly; the test fails when it does not work.
    static void Run(PeltaDb& db, const QString& sql);
};
