#include "sync/rules/LocalListing.h"

#include "foundation/ProcessState.h"
#include "foundation/log/PeltaLog.h"
#include "tests/support/FileContents.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class LocalListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.filePath(QStringLiteral("sync"));
        ASSERT_TRUE(QDir().mkpath(root_ + QStringLiteral("/folder/inner")));
        savedMask_ = LogMask.load();
        LogMask = 0x7FFFFFFF;
        AppLog.TakeBuffer();
    }
    void TearDown() override
    {
        LocalListing::Override({});
        LogMask = savedMask_;
        AppLog.TakeBuffer();
    }

    QByteArray Full(const char* rest) const { return (root_ + QString::fromUtf8(rest)).toUtf8(); }

    QTemporaryDir dir_;
    QString root_;
    int savedMask_ = 0;
};

QStringList ItemNames(const LocalListing& listing)
{
    QStringList names;
    for (const LocalEntry& entry : listing.Items())
        names << entry.name + (entry.kind == LocalKind::Folder ? QStringLiteral("/") : QString());
    names.sort();
    return names;
}

TEST_F(LocalListingTest, OnlyFilesAndFoldersAreItemsAndNothingElseIsOpenedOrFollowed)
{
    ASSERT_TRUE(WriteFileBytes(root_ + QStringLiteral("/folder/a.txt"), "12345"));
    ASSERT_EQ(::utimensat(AT_FDCWD, Full("/folder/a.txt").constData(),
                          std::array<timespec, 2>{timespec{0, UTIME_OMIT}, timespec{1000, 0}}.data(), 0),
              0);
    ASSERT_EQ(::mkfifo(Full("/folder/pipe").constData(), 0600), 0);
    ASSERT_EQ(::symlink("/", Full("/folder/root").constData()), 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = Full("/folder/socket");
    ASSERT_LT(socketPath.size(), int(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const LocalListing listing =
        LocalListing::Read(root_, root_ + QStringLiteral("/folder"), QStringLiteral("test"));
    ::close(socket);

    ASSERT_TRUE(listing.IsComplete());
    EXPECT_EQ(ItemNames(listing), (QStringList{QStringLiteral("a.txt"), QStringLiteral("inner/")}));
    const auto file = std::find_if(listing.Items().begin(), listing.Items().end(),
                                   [](const LocalEntry& entry) { return entry.kind == LocalKind::File; });
    ASSERT_NE(file, listing.Items().end());
    EXPECT_EQ(file->size, 5);
    EXPECT_EQ(file->mtime, 1000);
    // What is not an item is still there: it is never taken for missing.
    for (const char* name : {"pipe", "root", "socket", "a.txt", "inner"})
        EXPECT_TRUE(listing.Present().contains(QString::fromLatin1(name))) << name;
    const QString log = AppLog.TakeBuffer();
    EXPECT_TRUE(log.contains(QStringLiteral("test:skipped FIFO:") + root_ + QStringLiteral("/folder/pipe")));
    EXPECT_TRUE(log.contains(QStringLiteral("test:skipped symbolic link:") + root_ + QStringLiteral("/folder/root")));
    EXPECT_TRUE(log.contains(QStringLiteral("test:skipped socket:")));
}

TEST_F(LocalListingTest, NamesThatCannotBeRepresentedAreSkippedWithALogLine)
{
    // (A name longer than 255 bytes cannot be made here: the file system
    // refuses it.)
    const QByteArray folder = Full("/folder/");
    const QByteArray names[] = {QByteArray("bad\xff.txt"), QByteArray("back\\slash")};
    for (const QByteArray& name : names)
        ASSERT_EQ(::close(::open((folder + name).constData(), O_CREAT | O_WRONLY, 0600)), 0) << name.constData();

    const LocalListing listing =
        LocalListing::Read(root_, root_ + QStringLiteral("/folder"), QStringLiteral("test"));
    for (const QByteArray& name : names)
        ::unlink((folder + name).constData());

    ASSERT_TRUE(listing.IsComplete());
    EXPECT_EQ(ItemNames(listing), QStringList{QStringLiteral("inner/")});
    const QString log = AppLog.TakeBuffer();
    EXPECT_TRUE(log.contains(QStringLiteral("name is not UTF-8")));
    EXPECT_TRUE(log.contains(QStringLiteral("separator in name")));
}

TEST_F(LocalListingTest, AMissingFolderIsToldApartFromOneThatCannotBeRead)
{
    const LocalListing gone = LocalListing::Read(root_, root_ + QStringLiteral("/nothing"), QStringLiteral("test"));
    EXPECT_EQ(gone.GetOutcome(), LocalListing::Outcome::Missing);

    // A link in the folder's place is not a folder to list.
    ASSERT_EQ(::symlink("/", Full("/link").constData()), 0);
    const LocalListing link = LocalListing::Read(root_, root_ + QStringLiteral("/link"), QStringLiteral("test"));
    EXPECT_EQ(link.GetOutcome(), LocalListing::Outcome::Failed);
    EXPECT_TRUE(link.Items().empty());

    LocalListing::Override([](const QString& full) { return full.endsWith(QLatin1String("/folder")) ? EIO : 0; });
    const LocalListing failed = LocalListing::Read(root_, root_ + QStringLiteral("/folder"), QStringLiteral("test"));
    EXPECT_EQ(failed.GetOutcome(), LocalListing::Outcome::Failed);
    EXPECT_EQ(failed.Error(), EIO);
    EXPECT_TRUE(failed.Present().isEmpty());
}

TEST_F(LocalListingTest, EntriesOtherThanTheOneNamedAreContent)
{
    int error = 0;
    const QString inner = root_ + QStringLiteral("/folder/inner");
    EXPECT_FALSE(LocalListing::HasEntries(inner, QStringLiteral(".cache"), error));
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(QDir().mkdir(inner + QStringLiteral("/.cache")));
    EXPECT_FALSE(LocalListing::HasEntries(inner, QStringLiteral(".cache"), error));
    ASSERT_TRUE(WriteFileBytes(inner + QStringLiteral("/.hidden"), "x"));
    EXPECT_TRUE(LocalListing::HasEntries(inner, QStringLiteral(".cache"), error));

    EXPECT_FALSE(LocalListing::HasEntries(root_ + QStringLiteral("/nothing"), QString(), error));
    EXPECT_EQ(error, ENOENT);
}

}  // namespace
