#include "sync/rules/LocalItem.h"

#include "tests/support/FileContents.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class LocalItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        root_ = dir_.filePath(QStringLiteral("sync"));
        ASSERT_TRUE(QDir().mkpath(root_ + QStringLiteral("/folder")));
        ASSERT_TRUE(WriteFileBytes(root_ + QStringLiteral("/folder/file.txt"), "12345"));
        ASSERT_EQ(::mkfifo(Full("/pipe").toUtf8().constData(), 0600), 0);
        ASSERT_EQ(::symlink("/", Full("/root").toUtf8().constData()), 0);
        ASSERT_EQ(::symlink("folder/file.txt", Full("/link.txt").toUtf8().constData()), 0);
    }

    QString Full(const char* rest) const { return root_ + QString::fromUtf8(rest); }

    QTemporaryDir dir_;
    QString root_;
};

// Runs the operation on a thread of its own. Should it block on the FIFO,
// opening the FIFO's other end sets it free, so the test fails instead of
// hanging.
bool FinishesWithoutBlocking(const QString& fifo, const std::function<void()>& operation)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        operation();
        done = true;
    });
    const bool finished = WaitUntil([&] { return done.load(); }, std::chrono::seconds(5));
    if (!finished) {
        const int writer = ::open(fifo.toUtf8().constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
    worker.join();
    return finished;
}

TEST_F(LocalItemTest, OnlyRegularFilesAndFoldersAreItems)
{
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = Full("/socket").toUtf8();
    ASSERT_LT(socketPath.size(), int(sizeof address.sun_path));
    std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const struct {
        const char* rest;
        LocalKind kind;
    } cases[] = {
        {"", LocalKind::Folder},
        {"/", LocalKind::Folder},
        {"/folder", LocalKind::Folder},
        {"/folder/file.txt", LocalKind::File},
        {"/missing", LocalKind::Missing},
        {"/folder/file.txt/below", LocalKind::Missing},
        {"/pipe", LocalKind::Other},
        {"/socket", LocalKind::Other},
        {"/link.txt", LocalKind::Other},
        {"/root", LocalKind::Other},
        {"/root/etc", LocalKind::Other},
        {"/root/etc/passwd", LocalKind::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(int(LocalItem::Stat(root_, Full(c.rest)).kind), int(c.kind)) << c.rest;
    ::close(socket);

    const LocalFacts file = LocalItem::Stat(root_, Full("/folder/file.txt"));
    EXPECT_EQ(file.size, 5);
    EXPECT_GT(file.mtime, 0);
    EXPECT_GT(file.ctime, 0);
}

TEST_F(LocalItemTest, PathsOutsideTheRootAreRefused)
{
    int error = 0;
    for (const QString& full : {root_ + QStringLiteral("x/file.txt"), dir_.path() + QStringLiteral("/other"),
                                root_ + QStringLiteral("/folder/../../other")}) {
        EXPECT_FALSE(LocalItem::OpenFile(root_, full, error).IsOpen()) << full.toStdString();
        EXPECT_EQ(LocalItem::Stat(root_, full).kind == LocalKind::File, false) << full.toStdString();
    }
    EXPECT_FALSE(LocalItem::OpenFile(root_, dir_.path() + QStringLiteral("/other"), error).IsOpen());
    EXPECT_EQ(error, EPERM);
}

TEST_F(LocalItemTest, NoOperationOpensAFifoOrFollowsALink)
{
    const QString fifo = Full("/pipe");
    int error = 0;
    EXPECT_TRUE(FinishesWithoutBlocking(fifo, [&] { EXPECT_FALSE(LocalItem::OpenFile(root_, fifo, error).IsOpen()); }));
    EXPECT_EQ(error, EINVAL);
    EXPECT_TRUE(FinishesWithoutBlocking(fifo, [&] {
        EXPECT_FALSE(LocalItem::SetModificationTime(root_, fifo, 1000, error));
    }));

    EXPECT_FALSE(LocalItem::OpenFile(root_, Full("/link.txt"), error).IsOpen());
    EXPECT_EQ(error, ELOOP);
    EXPECT_FALSE(LocalItem::OpenFile(root_, Full("/root/etc/hostname"), error).IsOpen());
    EXPECT_EQ(error, ELOOP);
    EXPECT_FALSE(LocalItem::OpenFolder(root_, Full("/root"), error).IsOpen());

    // Nothing is made or written through a link to a folder outside.
    const QString outside = dir_.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(outside));
    ASSERT_EQ(::symlink(outside.toUtf8().constData(), Full("/out").toUtf8().constData()), 0);
    EXPECT_FALSE(LocalItem::MakeFolder(root_, Full("/out/made"), error));
    EXPECT_EQ(error, ELOOP);
    EXPECT_FALSE(LocalItem::CreateFile(root_, Full("/out/written"), error).IsOpen());
    EXPECT_TRUE(QDir(outside).isEmpty());

    // The link's target keeps its time.
    const LocalFacts before = LocalItem::Stat(root_, Full("/folder/file.txt"));
    EXPECT_FALSE(LocalItem::SetModificationTime(root_, Full("/link.txt"), 1000, error));
    EXPECT_EQ(LocalItem::Stat(root_, Full("/folder/file.txt")).mtime, before.mtime);
}

}  // namespace
