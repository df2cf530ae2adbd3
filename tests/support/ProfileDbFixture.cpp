#include "tests/support/ProfileDbFixture.h"

#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/ProcessState.h"


const QString ProfileDbFixture::AgentKey = QStringLiteral("0123456789abcdef0123456789abcdef");

void ProfileDbFixture::SetUp()
{
    DatabaseTest::SetUp();
    savedUploadMethod_ = UploadMethod.load();
    UploadMethod.store(UploadMethodPostFile2);
    settings_.Set(QStringLiteral("agent_key"), AgentKey);
    db_ = NewDb();
    ASSERT_TRUE(db_->IsOpen());
}

void ProfileDbFixture::TearDown()
{
    db_.reset();
    UploadMethod.store(savedUploadMethod_);
    DatabaseTest::TearDown();
}

std::unique_ptr<PeltaDb> ProfileDbFixture::NewDb()
{
    return std::make_unique<PeltaDb>(settings_);
}

QString ProfileDbFixture::DbPath() const
{
    return dir_.filePath(QStringLiteral("profile.db"));
}

double ProfileDbFixture::Number(const QString& sql)
{
    return db_->NewStatement()->QueryDouble(sql);
}

QStringList ProfileDbFixture::Rows(const QString& sql)
{
    QStringList rows;
    const auto statement = db_->NewStatement();
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

void ProfileDbFixture::Run(const QString& sql)
{
    try {
        db_->NewStatement()->ExecuteOnce(sql);
    } catch (const Lithos::SQLiteException& failure) {
        ADD_FAILURE() << sql.toStdString() << ": " << failure.Message();
    }
}

QStringList ProfileDbFixture::Messages() const
{
    QStringList texts;
    for (const auto& message : sink_->Messages())
        texts << message.text;
    return texts;
}
