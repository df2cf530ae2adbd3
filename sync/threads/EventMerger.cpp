#include "sync/threads/EventMerger.h"

#include "foundation/Constants.h"
#include "foundation/log/PeltaLog.h"
#include "sync/monitor/MonitorPath.h"

namespace {

void Log(const QString& text)
{
    AppLog.Write(text, LogQueue);
}

QString Describe(const PeltaFSQueue& event)
{
    return XMOName(event.status) + QStringLiteral(",") + event.path + QStringLiteral(",") + event.path2;
}

bool IsFolderEvent(int kind)
{
    return kind >= XMOAdded && kind <= XMORenameOldName;
}

}  // namespace

EventMerger::EventMerger(Sink sink, FolderTest isFolder) : sink_(std::move(sink)), isFolder_(std::move(isFolder)) {}

void EventMerger::Take(const PeltaFSQueue& event)
{
    Log(QStringLiteral("FSQueue:queue:status=") + Describe(event));
    PeltaFSQueue next;
    event.CopyTo(next);
    if (next.status == XMORenameOldName && next.path == next.path2)
        next.status = XMOModified;  // a rename to itself changed at most the content
    if (!IsFolderEvent(next.status)) {
        FlushHeld();
        Log(QStringLiteral("FSQueue:command:") + QString::number(next.status) + QStringLiteral(",") + next.path);
        Flush(next.status, next.path, next.path2);
        return;
    }
    if (HasHeld()) {
        Log(QStringLiteral("FSQueue:lastQueue:status=") + Describe(held_));
        Merge(next);
        held_.Clear();
    }
    if (IsFolderEvent(next.status))
        next.CopyTo(held_);
}

void EventMerger::FlushHeld()
{
    if (!HasHeld())
        return;
    switch (held_.status) {
    case XMOAdded:
        Log(QStringLiteral("FSQueueD:XMOAdded:") + held_.path);
        break;
    case XMORemoved:
        Log(QStringLiteral("FSQueueD:Delete:") + held_.path);
        break;
    case XMOModified:
        Log(QStringLiteral("FSQueueD:XMOModified:") + held_.path);
        break;
    default:
        Log(QStringLiteral("FSQueueD:XMORename:") + held_.path + QStringLiteral(",") + held_.path2);
        break;
    }
    const PeltaFSQueue held = held_;
    held_.Clear();
    Flush(held.status, held.path, held.path2);
}

void EventMerger::Merge(PeltaFSQueue& next)
{
    switch (held_.status) {
    case XMORemoved:
        MergeAfterRemoved(next);
        break;
    case XMOAdded:
        MergeAfterAdded(next);
        break;
    case XMORenameOldName:
        MergeAfterMove(next);
        break;
    default:
        MergeAfterModified(next);
        break;
    }
}

void EventMerger::MergeAfterRemoved(PeltaFSQueue& next)
{
    if (next.status == XMOAdded && next.path == held_.path) {
        Log(QStringLiteral("FSQueue:XMOModified:replaced:") + next.path);
        next.status = XMOModified;  // held in place of the removal
        return;
    }
    Log(QStringLiteral("FSQueue2:Delete:") + held_.path);
    Flush(XMORemoved, held_.path);
}

void EventMerger::MergeAfterAdded(PeltaFSQueue& next)
{
    const bool samePath = next.path == held_.path;
    if (next.status == XMOModified && samePath) {
        Log(QStringLiteral("FSQueue:XMOModified:skip:") + held_.path);
        held_.CopyTo(next);
        return;
    }
    const bool modifiedOrAdded = next.status == XMOModified || next.status == XMOAdded;
    if (modifiedOrAdded && !samePath && MonitorPath::Parent(held_.path) == next.path) {
        held_.CopyTo(next);  // the parent folder's event after the addition inside it
        return;
    }
    if (next.status == XMORenameOldName && samePath) {
        if (IsFolder(next.path2)) {
            Log(QStringLiteral("FSQueue:XMOAdded:") + next.path2);
            Flush(XMOAdded, next.path2);
        } else {
            Log(QStringLiteral("FSQueue:XMOModified:") + next.path2);
            Flush(XMOModified, next.path2);
        }
        next.Clear();
        return;
    }
    if (next.status == XMORemoved && samePath) {
        next.Clear();  // added and removed again: nothing happened
        return;
    }
    Log(QStringLiteral("FSQueue:XMOAdded:") + held_.path);
    Flush(XMOAdded, held_.path);
}

void EventMerger::MergeAfterMove(PeltaFSQueue& next)
{
    const QString& from = held_.path;
    const QString& to = held_.path2;
    if (next.status == XMORenameOldName && next.path2 == from && !IsFolder(from)) {
        Log(QStringLiteral("FSQueue:XMOModified:") + from);
        Flush(XMOModified, from);
        if (next.path == to) {
            next.Clear();  // renamed straight back
            return;
        }
        // The backup name stays an item of its own unless it goes away.
        next = PeltaFSQueue(XMOAdded, to);
        return;
    }
    if (next.status == XMOModified && next.path == to) {
        held_.CopyTo(next);
        return;
    }
    Log(QStringLiteral("FSQueue:XMORename:") + from + QStringLiteral(",") + to);
    Flush(XMORenameOldName, from, to);
}

void EventMerger::MergeAfterModified(PeltaFSQueue& next)
{
    const bool modifiedOrAdded = next.status == XMOModified || next.status == XMOAdded;
    if (modifiedOrAdded && next.path == held_.path)
        return;  // the new event is held in its place
    Log(QStringLiteral("FSQueue:XMOModified:") + held_.path);
    Flush(XMOModified, held_.path);
}

void EventMerger::Flush(int kind, const QString& path, const QString& path2)
{
    sink_(PeltaFSQueue(kind, path, path2));
}

bool EventMerger::IsFolder(const QString& path) const
{
    return isFolder_ && isFolder_(path);
}
