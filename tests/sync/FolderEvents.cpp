#include "tests/sync/FolderEvents.h"

#include "foundation/Constants.h"
#include "foundation/ProcessState.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

std::string Describe(const PeltaFSQueue& event)
{
    switch (event.status) {
    case XMOAdded:
        return "added " + event.path.toStdString();
    case XMORemoved:
        return "removed " + event.path.toStdString();
    case XMOModified:
        return "modified " + event.path.toStdString();
    case XMORenameOldName:
        return "move " + event.path.toStdString() + " -> " + event.path2.toStdString();
    default:
        return "command " + std::to_string(event.status) + " " + event.path.toStdString();
    }
}

std::vector<std::string> Describe(const std::vector<PeltaFSQueue>& events)
{
    std::vector<std::string> texts;
    for (const PeltaFSQueue& event : events)
        texts.push_back(Describe(event));
    return texts;
}

std::vector<PeltaFSQueue> TakeAll(PeltaQueue& queue, std::mutex& lock)
{
    std::vector<PeltaFSQueue> items;
    std::lock_guard guard(lock);
    while (auto item = queue.Pop())
        items.push_back(*item);
    return items;
}

void ResetFolderEventQueues()
{
    TakeAll(FSQueue, csFSQueue);
    TakeAll(FSFinalQueue, csFSFinalQueue);
    evtFSQueue.Reset();
    evtFSFinalQueue.Reset();
    AppState = XAPPOnline;
}

QByteArray TestFolder::Full(const QString& relative) const
{
    return (root_ + QStringLiteral("/") + relative).toUtf8();
}

void TestFolder::Write(const QString& relative, const std::vector<QByteArray>& chunks) const
{
    const int fd = ::open(Full(relative).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << relative.toStdString();
    for (const QByteArray& chunk : chunks)
        ASSERT_EQ(::write(fd, chunk.constData(), chunk.size()), chunk.size());
    ::close(fd);
}

void TestFolder::MakeFolder(const QString& relative) const
{
    ASSERT_EQ(::mkdir(Full(relative).constData(), 0755), 0) << relative.toStdString();
}

void TestFolder::Rename(const QString& from, const QString& to) const
{
    RenameAbsolute(Full(from), Full(to));
}

void TestFolder::RenameAbsolute(const QByteArray& from, const QByteArray& to)
{
    ASSERT_EQ(std::rename(from.constData(), to.constData()), 0) << from.constData() << " -> " << to.constData();
}

void TestFolder::Remove(const QString& relative) const
{
    ASSERT_EQ(::unlink(Full(relative).constData()), 0) << relative.toStdString();
}

void TestFolder::RemoveFolder(const QString& relative) const
{
    ASSERT_EQ(::rmdir(Full(relative).constData()), 0) << relative.toStdString();
}
