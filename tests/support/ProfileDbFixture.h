#pragma once

// A fixture for tests of "profile.db": a data folder of its own
// (TESSARON_HOME), a recording message sink, a settings store with an agent
// key, statements without their pause, and one open PeltaDb.

#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "tests/support/DatabaseTest.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

// A list of texts as one text, a line each: compared this way, a failure
// prints readable text.
inline std::string Lines(const QStringList& list)
{
    return list.join(QLatin1Char('\n')).toStdString();
}

class ProfileDbFixture : public DatabaseTest {
protected:
    static const QString AgentKey;

    void SetUp() override;
    void TearDown() override;

    // Another object on the same file (each thread uses its own).
    std::unique_ptr<PeltaDb> NewDb();
    QString DbPath() const;

    // Column 0 of the first row of sql as a number.
    double Number(const QString& sql);
    // Every row of sql, its columns as text joined by "|" (NULL as "NULL").
    QStringList Rows(const QString& sql);
    // Runs sql directly; the test fails when it does not work.
    void Run(const QString& sql);
    // The messages handed to the user so far, one text each.
    QStringList Messages() const;

    PeltaSyncAgentSetting settings_;
    std::unique_ptr<PeltaDb> db_;

private:
    int savedUploadMethod_ = 0;
};
