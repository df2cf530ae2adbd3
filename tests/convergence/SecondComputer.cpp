#include "tests/convergence/SecondComputer.h"

#include "fakeservice/FakeService.h"
#include "fakeservice/PushChannel.h"

#include <utility>

const QString SecondComputer::AgentKey = QStringLiteral("fedcba9876543210fedcba9876543210");

SecondComputer::SecondComputer(FakeService& service, QString userId, QString userSn)
    : service_(service), userId_(std::move(userId)), userSn_(std::move(userSn))
{
    service_.State().RegisterAgent(userId_, FakeAgent{AgentKey, QStringLiteral("c2Vjb25k"), QString(), QString()});
}

QString SecondComputer::AddFolder(const QString& path)
{
    FakeChange change;
    change.objType = FakeObjType::Folder;
    change.action = FakeAction::Add;
    change.path = path;
    change.localMtime = ++mtime_;
    return Commit(change);
}

QString SecondComputer::WriteFile(const QString& path, const QByteArray& content)
{
    FakeChange change;
    change.objType = FakeObjType::File;
    change.path = path;
    change.localMtime = ++mtime_;
    change.size = content.size();
    const std::optional<FakeItem> existing = Live(path);
    change.action = existing && !existing->isFolder ? FakeAction::Edit : FakeAction::Add;
    if (change.action == FakeAction::Edit)
        change.baseVersion = QString::number(existing->version);
    return Commit(change, content);
}

QString SecondComputer::Move(const QString& from, const QString& to)
{
    const std::optional<FakeItem> existing = Live(from);
    FakeChange change;
    change.objType = existing && existing->isFolder ? FakeObjType::Folder : FakeObjType::File;
    change.action = FakeAction::Move;
    change.origPath = from;
    change.destPath = to;
    change.localMtime = ++mtime_;
    return Commit(change);
}

QString SecondComputer::Delete(const QString& path)
{
    const std::optional<FakeItem> existing = Live(path);
    FakeChange change;
    change.objType = existing && existing->isFolder ? FakeObjType::Folder : FakeObjType::File;
    change.action = FakeAction::Recycle;
    change.path = path;
    change.localMtime = ++mtime_;
    return Commit(change);
}

void SecondComputer::Notify()
{
    service_.Push().InjectMessage(PushChannel::ChannelOf(userSn_), QStringLiteral("1"));
}

QString SecondComputer::Commit(const FakeChange& change, const QByteArray& content)
{
    const FakeCommitResult result = service_.State().CommitChange(userId_, AgentKey, change, content);
    if (result.message.isEmpty() && notifying_)
        Notify();
    return result.message;
}

std::optional<FakeItem> SecondComputer::Live(const QString& path) const
{
    const std::optional<FakeItem> item = service_.State().FindItem(userId_, path);
    if (!item || item->recycled)
        return std::nullopt;
    return item;
}
