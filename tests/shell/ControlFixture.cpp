#include "tests/shell/ControlFixture.h"

#include "tests/support/WaitUntil.h"

#include "foundation/ProcessState.h"
#include "foundation/UserMessageSink.h"
#include "foundation/db/LithosSQLiteStatement.h"
#include "foundation/log/PeltaLog.h"
#include "foundation/settings/PeltaReg.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "shell/settings/DebugFile.h"
#include "sync/engine/EngineNotices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

void ControlFixture::SetUp()
{
    ASSERT_TRUE(service_.IsRunning());
    ASSERT_TRUE(dir_.isValid());
    env_.Set("TESSARON_HOME", dir_.filePath(QStringLiteral("data")).toStdString());
    env_.UseHomeIn(dir_.path().toStdString());
    ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("data"))));
    ASSERT_TRUE(service_.State().AddAccount(TestAccount::Spec()));
    Lithos::SQLiteStatement::SetPauseDuration(std::chrono::milliseconds(1));
    savedLogMask_ = LogMask.load();
    TakeLog();
}

void ControlFixture::TearDown()
{
    control_.reset();
    QCoreApplication::processEvents();
    EngineNotices::Install(nullptr);
    UserMessageSink::Install(nullptr);
    Lithos::SQLiteStatement::SetPauseDuration(Lithos::SQLiteStatement::DefaultPause);
    AppState = XAPPOnline;
    LogMask = savedLogMask_;
    DebugMode = false;
    TakeLog();
}

QString ControlFixture::DataPath(const QString& name) const
{
    return dir_.filePath(QStringLiteral("data/") + name);
}

QString ControlFixture::HomePath(const QString& name) const
{
    return dir_.filePath(QStringLiteral("home/") + name);
}

void ControlFixture::WriteDebugFile(const QStringList& lines)
{
    QFile file(DataPath(DebugFile::FileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(lines.join(u'\n').toUtf8() + '\n');
}

QStringList ControlFixture::FakeDebugLines() const
{
    return {QString::fromStdString(service_.BaseUrl()),
            QString(),
            QString::fromStdString(service_.UploadUrl()),
            QString::fromStdString(service_.PushUrl()),
            QStringLiteral("DEV"),
            QStringLiteral("account_server=") + QString::fromStdString(service_.AccountUrl()),
            QStringLiteral("signed_api=") + QString::fromStdString(service_.ApiUrl())};
}

void ControlFixture::MakeControl(TFrmControl::Options options)
{
    control_.reset();
    options.registry = registry_.get();
    if (!options.engineFactory) {
        options.engineFactory = [log = engine_](PeltaReg&, PeltaSyncAgentSetting&, std::shared_ptr<EngineNotices>) {
            return std::make_unique<RecordingEngine>(log);
        };
    }
    control_ = std::make_unique<TFrmControl>(view_, std::move(options));
    LogMask = 0x7FFFFFFF;
}

void ControlFixture::BindAndRestart(const QString& password)
{
    WriteDebugFile(FakeDebugLines());
    MakeControl();
    control_->ImportRegistrySettings();
    control_->SaveBinding(TestAccount::Login, password, QStringLiteral("laptop"));
    const PeltaSyncAgentSetting& settings = control_->Settings();
    service_.State().RegisterAgent(UserId, FakeAgent{settings.Get(QStringLiteral("agent_key")),
                                                     settings.Get(QStringLiteral("agent_name_base64")),
                                                     settings.Get(QStringLiteral("sync_folder_md5sum")),
                                                     control_->Reg().AgentVer()});
    control_.reset();
    engine_->calls.clear();
    MakeControl();
}

void ControlFixture::StartToMain()
{
    control_->GotoStep(XGOSplash);
    ASSERT_TRUE(Pump([this] { return engine_->running; })) << TakeLog().toStdString();
}

bool ControlFixture::Pump(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return WaitUntil(
        [&condition] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return condition();
        },
        timeout);
}

QString ControlFixture::TakeLog()
{
    return AppLog.TakeBuffer();
}
