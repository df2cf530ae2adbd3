#include "tests/sync/SyncFixture.h"

#include "foundation/crypto/Crypto.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/log/PeltaLog.h"
#include "tests/support/FileContents.h"
#include "tests/support/PeltaDbQuery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

const QString SyncFixture::UserSn = QStringLiteral("12345");
const QString SyncFixture::AgentKey = QStringLiteral("0123456789abcdef0123456789abcdef");

void SyncFixture::SetUp()
{
    DatabaseTest::SetUp();
    env_.UseHomeIn(dir_.path().toStdString());
    syncRoot_ = dir_.filePath(QStringLiteral("sync"));
    ASSERT_TRUE(QDir().mkpath(syncRoot_));

    savedLogMask_ = LogMask.load();
    LogMask = 0x7FFFFFFF;
    savedUploadMethod_ = UploadMethod.load();
    UploadMethod = UploadMethodPostFile2;
    AppState = XAPPOnline;

    reg_ = std::make_unique<PeltaReg>(*registry_);
    settings_.Set(QStringLiteral("user_sn"), UserSn);
    settings_.Set(QStringLiteral("agent_key"), AgentKey);
    settings_.Set(QStringLiteral("sync_folder"), syncRoot_);
    status_ = std::make_unique<PeltaRequestObject>(conflicts_, trayEvent_);
    engine_ = NewEngine();
    TakeLog();
}

void SyncFixture::TearDown()
{
    engine_.reset();
    AppState = XAPPOnline;
    UploadMethod = savedUploadMethod_;
    LogMask = savedLogMask_;
    TakeLog();
    DatabaseTest::TearDown();
}

std::unique_ptr<PeltaSync> SyncFixture::NewEngine()
{
    return std::make_unique<PeltaSync>(reg_.get(), &settings_, *status_);
}

QString SyncFixture::Local(const QString& relative) const
{
    QString names = relative;
    return syncRoot_ + names.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

void SyncFixture::MakeFolder(const QString& relative)
{
    ASSERT_TRUE(QDir().mkpath(Local(relative))) << relative.toStdString();
}

void SyncFixture::MakeFile(const QString& relative, const QByteArray& bytes, std::int64_t mtime)
{
    ASSERT_TRUE(WriteFileBytes(Local(relative), bytes)) << relative.toStdString();
    if (mtime != 0)
        SetMtime(relative, mtime);
}

void SyncFixture::SetMtime(const QString& relative, std::int64_t mtime)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Local(relative).toUtf8().constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

void SyncFixture::Remove(const QString& relative)
{
    const QString full = Local(relative);
    if (QFileInfo(full).isDir())
        ASSERT_TRUE(QDir(full).removeRecursively());
    else
        ASSERT_TRUE(QFile::remove(full));
}

void SyncFixture::Move(const QString& from, const QString& to)
{
    ASSERT_EQ(::rename(Local(from).toUtf8().constData(), Local(to).toUtf8().constData()), 0);
}

QStringList SyncFixture::Rows(const QString& sql)
{
    return PeltaDbQuery::Rows(engine_->Db(), sql);
}

double SyncFixture::Number(const QString& sql)
{
    return PeltaDbQuery::Number(engine_->Db(), sql);
}

void SyncFixture::Run(const QString& sql)
{
    PeltaDbQuery::Run(engine_->Db(), sql);
}

QStringList SyncFixture::FileRows()
{
    return Rows(QStringLiteral("select path, key, parent, name from vfs_sync_file order by path"));
}

QStringList SyncFixture::FolderRows()
{
    return Rows(QStringLiteral("select path, key, parent, name from vfs_sync_folder order by path"));
}

QStringList SyncFixture::Requests()
{
    return Rows(QStringLiteral("select action, path, path2, status from sync_request order by rowid"));
}

QStringList SyncFixture::Opts(int action)
{
    return Rows(QStringLiteral("select opt from sync_request where action=") + QString::number(action) +
                QStringLiteral(" order by rowid"));
}

QString SyncFixture::Markers(const QString& relative) const
{
    const QString base = reg_->MarkerFolder() + QLatin1Char('.') + Md5Hex(relative) + QLatin1Char('.');
    QString present;
    for (const char* suffix : {"1", "9"}) {
        if (QFileInfo::exists(base + QLatin1String(suffix)))
            present += QLatin1String(suffix);
    }
    return present;
}

QString SyncFixture::TakeLog()
{
    return AppLog.TakeBuffer();
}
