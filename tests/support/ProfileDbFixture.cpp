#include "tests/support/ProfileDbFixture.h"

#include "foundation/ProcessState.h"
#include "tests/support/PeltaDbQuery.h"

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
    return PeltaDbQuery::Number(*db_, sql);
}

QStringList ProfileDbFixture::Rows(const QString& sql)
{
    return PeltaDbQuery::Rows(*db_, sql);
}

void ProfileDbFixture::Run(const QString& sql)
{
    PeltaDbQuery::Run(*db_, sql);
}

QStringList ProfileDbFixture::Messages() const
{
    QStringList texts;
    for (const auto& message : sink_->Messages())
        texts << message.text;
    return texts;
}
