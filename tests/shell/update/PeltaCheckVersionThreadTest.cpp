#include "shell/update/PeltaCheckVersionThread.h"
#include "tests/shell/update/UpdateServer.h"

#include "tests/support/WaitUntil.h"

#include "foundation/ProcessState.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <mutex>
#include <vector>

namespace {

QString Md5(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class PeltaCheckVersionThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.Ready());
        ASSERT_TRUE(dir_.isValid());
        AppState = XAPPOnline;
    }

    QString Folder() const { return dir_.filePath(QStringLiteral("update")); }
    QString File(const QString& name) const { return Folder() + u'/' + name; }

    QByteArray EntryText(const QString& name, const QString& version, const QString& url, const QString& md5) const
    {
        return QStringLiteral("\"%1\":{\"version\":\"%2\",\"url\":\"%3\",\"md5sum\":\"%4\"}")
            .arg(name, version, url, md5)
            .toUtf8();
    }

    void ServeList(const QList<QByteArray>& entries) { server_.Serve("/checkVer.php", "{" + entries.join(',') + "}"); }

    PeltaCheckVersionThread::Setup MakeSetup(bool reportNone = true)
    {
        PeltaCheckVersionThread::Setup setup;
        setup.updateFolder = Folder();
        setup.runningVersion3 = QStringLiteral("1.0.0");
        setup.runningVersion4 = QStringLiteral("1.0.0.1");
        setup.baseInstallVersion = QStringLiteral("0.8.116");
        setup.reportNone = reportNone;
        setup.http.listUrl = server_.PlainUrl("/checkVer.php?%d");
        setup.http.caFile = server_.CaFile();
        setup.http.connectTimeout = std::chrono::milliseconds(3000);
        setup.callback = [this](const QString& type, const QString& version) {
            std::lock_guard<std::mutex> guard(mutex_);
            reports_ << type + u'|' + version;
        };
        return setup;
    }

    QStringList Run(PeltaCheckVersionThread::Setup setup)
    {
        PeltaCheckVersionThread thread(std::move(setup));
        thread.Start();
        thread.Join();
        std::lock_guard<std::mutex> guard(mutex_);
        return reports_;
    }

    UpdateServer server_;
    QTemporaryDir dir_;
    std::mutex mutex_;
    QStringList reports_;
};

TEST_F(PeltaCheckVersionThreadTest, ANewerUpdaterIsVerifiedAndReplacesTheOldOneWhichIsKept)
{
    ASSERT_TRUE(QDir().mkpath(Folder()));
    QFile old(File(QStringLiteral("Updater.exe")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old updater");
    old.close();
    const QByteArray updater = "new updater";
    server_.Serve("/Updater.exe", updater);
    ServeList({EntryText(QStringLiteral("Updater.exe"), QStringLiteral("1.2.3"), server_.SecureUrl("/Updater.exe"),
                         Md5(updater))});

    EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("|")});
    EXPECT_EQ(Read(File(QStringLiteral("Updater.exe"))), updater);
    EXPECT_EQ(Read(File(QStringLiteral("Updater.bak"))), QByteArray("old updater"));
    EXPECT_FALSE(QFile::exists(File(QStringLiteral("~Updater.exe"))));
}

TEST_F(PeltaCheckVersionThreadTest, ANewerProgramIsDownloadedOverHttpsAndReported)
{
    const QByteArray program = "program 9";
    server_.Serve("/tessaron", program);
    ServeList({EntryText(QStringLiteral("Tessaron.exe"), QStringLiteral("9.0.0"), server_.SecureUrl("/tessaron"),
                         Md5(program))});
    EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("Tessaron|9.0.0")});
    EXPECT_EQ(Read(File(QStringLiteral("~Tessaron.exe"))), program);

    // A later pass takes the file already there by its digest.
    reports_.clear();
    EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("Tessaron|9.0.0")});
    EXPECT_EQ(server_.Requests("/tessaron"), 1);
}

TEST_F(PeltaCheckVersionThreadTest, CodeListedOnlyOverPlainHttpIsNeverFetchedButTheUserIsTold)
{
    const QByteArray program = "program 9";
    server_.Serve("/tessaron", program);
    ServeList({EntryText(QStringLiteral("Tessaron.exe"), QStringLiteral("9.0.0"), server_.PlainUrl("/tessaron"),
                         Md5(program))});
    EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("Notice|9.0.0")});
    EXPECT_EQ(server_.Requests("/tessaron"), 0);
    EXPECT_FALSE(QFile::exists(File(QStringLiteral("~Tessaron.exe"))));
}

TEST_F(PeltaCheckVersionThreadTest, ADownloadThatIsShortOrAlteredReplacesNothing)
{
    ASSERT_TRUE(QDir().mkpath(Folder()));
    QFile old(File(QStringLiteral("Updater.exe")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old updater");
    old.close();
    server_.Serve("/altered", "tampered bytes");
    server_.Serve("/short", "the first half", true);
    for (const char* path : {"/altered", "/short"}) {
        ServeList({EntryText(QStringLiteral("Updater.exe"), QStringLiteral("1.2.3"), server_.SecureUrl(path),
                             Md5("the real updater"))});
        reports_.clear();
        EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("|")}) << path;
        EXPECT_EQ(server_.Requests(path), 1);
        EXPECT_EQ(Read(File(QStringLiteral("Updater.exe"))), QByteArray("old updater"));
        EXPECT_FALSE(QFile::exists(File(QStringLiteral("Updater.bak"))));
        EXPECT_EQ(QDir(Folder()).entryList(QDir::Files), QStringList{QStringLiteral("Updater.exe")}) << path;
    }
}

TEST_F(PeltaCheckVersionThreadTest, NamesThatAreNotPlainFileNamesNeverBecomePaths)
{
    const QByteArray bytes = "x";
    server_.Serve("/x", bytes);
    ServeList({EntryText(QStringLiteral("../evil"), QStringLiteral("1.0"), server_.SecureUrl("/x"), Md5(bytes)),
               EntryText(QStringLiteral("sub/evil"), QStringLiteral("1.0"), server_.SecureUrl("/x"), Md5(bytes)),
               EntryText(QStringLiteral("sub\\\\evil"), QStringLiteral("1.0"), server_.SecureUrl("/x"), Md5(bytes)),
               EntryText(QStringLiteral("fine.dat"), QStringLiteral("1.0"), server_.SecureUrl("/x"), Md5(bytes))});
    Run(MakeSetup());
    EXPECT_EQ(server_.Requests("/x"), 1);  // only the plain name was fetched
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files), QStringList{QStringLiteral("~fine.dat")});
    EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("~evil"))));
    EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("evil"))));
}

TEST_F(PeltaCheckVersionThreadTest, AListThatCannotBeUsedIsReportedAndChangesNothing)
{
    server_.Serve("/checkVer.php", "<html>not a list</html>");
    EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("Failed|")});
    EXPECT_FALSE(QFileInfo::exists(Folder()));
    reports_.clear();
    EXPECT_TRUE(Run(MakeSetup(false)).isEmpty());  // the automatic check says nothing
}

TEST_F(PeltaCheckVersionThreadTest, APassWaitsWhileAnotherReplacesFiles)
{
    const QByteArray program = "program 9";
    server_.Serve("/tessaron", program);
    ServeList({EntryText(QStringLiteral("Tessaron.exe"), QStringLiteral("9.0.0"), server_.SecureUrl("/tessaron"),
                         Md5(program))});
    std::unique_lock<std::mutex> replacing(PeltaCheckVersionThread::ReplaceLock());
    PeltaCheckVersionThread thread(MakeSetup());
    thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return server_.Requests("/checkVer.php") == 1 && QFileInfo::exists(Folder()); }));
    EXPECT_EQ(server_.Requests("/tessaron"), 0);
    EXPECT_TRUE(thread.Running());
    replacing.unlock();
    thread.Join();
    EXPECT_EQ(server_.Requests("/tessaron"), 1);
}

TEST_F(PeltaCheckVersionThreadTest, NoTransferRunsOutsideTheOnlineState)
{
    server_.Serve("/tessaron", QByteArray(64, 'p'));
    ServeList({EntryText(QStringLiteral("Tessaron.exe"), QStringLiteral("9.0.0"), server_.SecureUrl("/tessaron"),
                         Md5(QByteArray(64, 'p')))});
    AppState = XAPPLogin;
    EXPECT_EQ(Run(MakeSetup()), QStringList{QStringLiteral("Failed|")});
    AppState = XAPPOnline;
    EXPECT_FALSE(QFile::exists(File(QStringLiteral("~Tessaron.exe"))));
}

}  // namespace
