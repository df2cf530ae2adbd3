#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/db/PeltaDbConfig.h"
#include "tests/support/DatabaseTest.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

class PeltaDbConfigTest : public DatabaseTest {
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        db_ = std::make_unique<PeltaDbConfig>();  // after TESSARON_HOME is set
        ASSERT_TRUE(db_->Open());
    }

    double Number(const QString& sql)
    {
        return db_->NewStatement()->QueryDouble(sql);
    }

    int RowsOf(const QString& name)
    {
        return int(Number(QStringLiteral("select count(*) from sync_agent_setting where prop_name='%1'")
                              .arg(PeltaSQLite3::EscapeQuote(name))));
    }

    int TotalChanges() { return int(Number(QStringLiteral("select total_changes()"))); }

    std::unique_ptr<PeltaDbConfig> db_;
};

TEST_F(PeltaDbConfigTest, CreatesConfigDbWithItsTable)
{
    EXPECT_EQ(db_->Path(), dir_.filePath(QStringLiteral("config.db")));
    EXPECT_EQ(db_->QueryValue(QStringLiteral("select sql from sqlite_master where name='sync_agent_setting'"),
                             QStringLiteral("sql")),
              QStringLiteral("CREATE TABLE sync_agent_setting ( \tprop_name TEXT PRIMARY KEY NOT NULL, "
                             "\tprop_value BLOB \t)"));
}

TEST_F(PeltaDbConfigTest, GetSettingStoresTheFirstDefault)
{
    const QString names[] = {QStringLiteral("login"), QStringLiteral("it's")};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(db_->GetSetting(name, QStringLiteral("first 'one'")), QStringLiteral("first 'one'"));
        EXPECT_EQ(db_->GetSetting(name, QStringLiteral("second")), QStringLiteral("first 'one'"));
        EXPECT_EQ(RowsOf(name), 1);
    }
    EXPECT_TRUE(sink_->Messages().empty());
}

TEST_F(PeltaDbConfigTest, SetSettingWritesOnlyWhatChanged)
{
    struct Case {
        const char* value;
        int changes;
    };
    // One name through its life: inserted, kept, changed, emptied.
    const Case steps[] = {
        {"C:\\it's here", 1},
        {"C:\\it's here", 0},
        {"C:\\it's there", 1},
        {"", 1},
        {"", 0},
    };
    const QString name = QStringLiteral("sync_folder");
    for (const Case& step : steps) {
        SCOPED_TRACE(step.value);
        const int before = TotalChanges();
        db_->SetSetting(name, QString::fromUtf8(step.value));
        EXPECT_EQ(TotalChanges() - before, step.changes);
        EXPECT_EQ(RowsOf(name), 1);
        EXPECT_EQ(db_->GetSetting(name, QStringLiteral("default")), QString::fromUtf8(step.value));
    }
    EXPECT_TRUE(sink_->Messages().empty());
}

// Each thread has its own connection; reads and writes of one name must not
// interleave, or both would insert it and one insert would fail.
TEST_F(PeltaDbConfigTest, ConcurrentWritersInsertEachNameOnce)
{
    constexpr int kNames = 100;
    constexpr int kWriters = 4;
    Lithos::SQLiteStatement::SetPauseDuration(0ms);  // as many interleavings as possible
    std::latch start(kWriters);
    const auto writer = [&start](const QString& tag) {
        PeltaDbConfig db;
        const bool open = db.Open();
        start.arrive_and_wait();
        if (!open)
            return;
        for (int index = 0; index < kNames; ++index) {
            const QString name = QStringLiteral("name%1").arg(index);
            db.GetSetting(name, tag);
            db.SetSetting(name, tag);
        }
    };
    std::vector<std::thread> writers;
    for (int index = 0; index < kWriters; ++index)
        writers.emplace_back(writer, QStringLiteral("writer%1").arg(index));
    for (std::thread& thread : writers)
        thread.join();

    for (int index = 0; index < kNames; ++index) {
        const QString name = QStringLiteral("name%1").arg(index);
        EXPECT_EQ(RowsOf(name), 1) << name.toStdString();
        const QString value = db_->GetSetting(name, QString());
        EXPECT_TRUE(value.startsWith(QStringLiteral("writer"))) << value.toStdString();
    }
    for (const auto& message : sink_->Messages())
        ADD_FAILURE() << message.text.toStdString();
}

TEST_F(PeltaDbConfigTest, FailedReadGivesTheDefaultAndWritesNothing)
{
    ASSERT_TRUE(db_->Exec(QStringLiteral("alter table sync_agent_setting rename to moved")));

    EXPECT_EQ(db_->GetSetting(QStringLiteral("login"), QStringLiteral("d")), QStringLiteral("d"));

    ASSERT_EQ(sink_->Messages().size(), 1u);  // the read only: no insert was tried
    EXPECT_EQ(db_->LastError(), QStringLiteral("file: LithosSQLiteStatement\nline: 103\n"
                                              "error: no such table: sync_agent_setting\n"));
}

}  // namespace
