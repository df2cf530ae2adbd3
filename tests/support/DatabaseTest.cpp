#include "tests/support/DatabaseTest.h"

#include "foundation/db/LithosSQLiteStatement.h"

#include <chrono>

void DatabaseTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    env_.Set("TESSARON_HOME", dir_.path().toStdString());
    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(1));
    sink_ = RecordingMessageSink::InstallNew();
}

void DatabaseTest::TearDown()
{
    UserMessageSink::Install(nullptr);
    Lithos::SQLiteStatement::SetPauseDuration(Lithos::SQLiteStatement::DefaultPause);
}
