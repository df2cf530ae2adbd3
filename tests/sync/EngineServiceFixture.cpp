#include "tests/sync/EngineServiceFixture.h"

#include "client/PeltaAPI.h"
#include "foundation/ProcessState.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/text/TimeHelpers.h"
#include "tests/support/FileContents.h"

void RecordingNotices::ShowBalloon(const QString& title, const QString& text)
{
    std::lock_guard lock(mutex_);
    shown_ << title + QLatin1Char('|') + text;
}

void RecordingNotices::ShowBalloonWithPath(const QString& title, const QString& text, bool, const QString&)
{
    ShowBalloon(title, text);
}

void RecordingNotices::ShowFileBalloon(const QString& title, const QString& text, const QString&)
{
    ShowBalloon(title, text);
}

QStringList RecordingNotices::Shown() const
{
    std::lock_guard lock(mutex_);
    return shown_;
}

void EngineServiceFixture::SetUp()
{
    SyncFixture::SetUp();
    ASSERT_TRUE(service_.IsRunning());
    ASSERT_TRUE(service_.State().AddAccount(TestAccount::Spec()));
    service_.State().RegisterAgent(UserId, FakeAgent{AgentKey, QStringLiteral("bGFwdG9w"), QString(), QString()});

    ASSERT_TRUE(reg_->SetAccessKey(TestAccount::AccessKey, UnixTimeNow() + 3600, TestAccount::AccessChecksum));
    settings_.Set(QStringLiteral("user_id"), UserId);
    settings_.Set(QStringLiteral("user_sn"), TestAccount::UserSn);

    savedProfile_ = ServerProfile;
    savedServiceUrl_ = ServiceUrl;
    savedUploadUrl_ = UploadUrl;
    ServerProfile = QStringLiteral("RELEASE");
    ServiceUrl = QString::fromStdString(service_.BaseUrl());
    UploadUrl = QString::fromStdString(service_.UploadUrl());
    ApiMethodMap.clear();
    PeltaReg::FillApiMethodMap(ApiMethodMap);
    NetFailCount = 0;
    UploadPartSize = PeltaAPI::TransferChunk;
    QuotaNoticeTime = SteadyTime{};
    EngineNotices::Install(notices_);

    engine_ = std::make_unique<PeltaSync>(reg_.get(), &settings_, *status_, conflicts_);
    steps_ = std::make_unique<RequestSteps>(*engine_);
    TakeLog();
}

void EngineServiceFixture::TearDown()
{
    steps_.reset();
    EngineNotices::Install(nullptr);
    ServerProfile = savedProfile_;
    ServiceUrl = savedServiceUrl_;
    UploadUrl = savedUploadUrl_;
    NetFailCount = 0;
    QuotaTotal = 0;
    QuotaUsed = 0;
    QuotaMaxFileSize = 0;
    QuotaNoticeTime = SteadyTime{};
    SyncFixture::TearDown();
}

RequestSteps::Tally EngineServiceFixture::Drive(int maxRows)
{
    RequestSteps::Tally tally;
    PeltaRecSyncRequest row;
    for (int taken = 0; taken < maxRows && engine_->GetNextRequest(row); ++taken)
        steps_->Drive(row, tally);
    return tally;
}

void EngineServiceFixture::RetriesDue()
{
    Run(QStringLiteral("update sync_request set update_time=DateTime('now', '-1 hour')"));
}

void EngineServiceFixture::DriveWithRetries(int rounds)
{
    Drive();
    for (int round = 1; round < rounds; ++round) {
        RetriesDue();
        Drive();
    }
}

PeltaRecSyncRequest EngineServiceFixture::LoadRow(int rowid)
{
    // Stamped as taken, so that only this row is read back.
    Run(QStringLiteral("update sync_request set priority=priority+100 where rowid<>") + QString::number(rowid));
    PeltaRecSyncRequest row;
    RetriesDue();
    EXPECT_TRUE(engine_->GetNextRequest(row));
    EXPECT_EQ(row.rowid, rowid);
    Run(QStringLiteral("update sync_request set priority=priority-100 where rowid<>") + QString::number(rowid));
    return row;
}

QStringList EngineServiceFixture::RowStates()
{
    return Rows(QStringLiteral("select action, status, err_count from sync_request order by rowid"));
}

void EngineServiceFixture::AddLocal(const QString& relative, const QByteArray& bytes, std::int64_t mtime)
{
    MakeFile(relative, bytes, mtime);
    engine_->FileAdd(relative, 1, false, false);
}

void EngineServiceFixture::ModifyLocal(const QString& relative, const QByteArray& bytes, std::int64_t mtime)
{
    MakeFile(relative, bytes, mtime);
    engine_->FileModify(relative);
}

std::string EngineServiceFixture::FileRecord(const QString& relative)
{
    return Rows(QStringLiteral("select version, mtime, size from vfs_sync_file where path=") +
                PeltaRec::Literal(relative))
        .value(0)
        .toStdString();
}

void EngineServiceFixture::StoreFileRecord(const QString& relative, const QString& version, std::int64_t mtime,
                                           std::int64_t size)
{
    PeltaRecVfsSyncFile record;
    record.kind = XFSFile;
    record.path = relative;
    engine_->FillRecordKeys(record);
    record.version = version;
    record.mtime = static_cast<std::int32_t>(mtime);
    record.ctime = record.mtime;
    record.size = size;
    ASSERT_TRUE(engine_->Db().RecAdd(record, true));
}

std::optional<FakeItem> EngineServiceFixture::ServiceItem(const QString& servicePath)
{
    const std::optional<FakeItem> item = service_.State().FindItem(UserId, servicePath);
    if (!item || item->recycled)
        return std::nullopt;
    return item;
}

QString EngineServiceFixture::ServiceVersion(const QString& servicePath)
{
    const std::optional<FakeItem> item = ServiceItem(servicePath);
    return item ? QString::number(item->version) : QString();
}

QByteArray EngineServiceFixture::ServiceContent(const QString& servicePath)
{
    const std::optional<FakeItem> item = ServiceItem(servicePath);
    return item ? item->content.Bytes() : QByteArray("(none)");
}

void EngineServiceFixture::OtherAgentEdits(const QString& servicePath, const QByteArray& content,
                                           std::int64_t mtime)
{
    FakeChange change;
    change.objType = FakeObjType::File;
    change.action = FakeAction::Edit;
    change.path = servicePath;
    change.localMtime = mtime;
    change.size = content.size();
    const FakeCommitResult result =
        service_.State().CommitChange(UserId, QStringLiteral("another-agent"), change, content);
    ASSERT_TRUE(result.message.isEmpty()) << result.message.toStdString();
}

void EngineServiceFixture::NextMessage(const char* method, const QString& message, bool processed)
{
    Fault fault = Fault::Message(message);
    fault.processed = processed;
    service_.Faults().SetNext(method, fault);
}
