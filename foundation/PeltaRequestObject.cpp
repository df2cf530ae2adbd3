#include "foundation/PeltaRequestObject.h"

#include "foundation/log/PeltaLog.h"
#include "foundation/text/TextFormat.h"
#include "foundation/text/Xi18n.h"

#include <cmath>
#include <utility>

namespace {

using Seconds = std::chrono::duration<double>;

double SecondsBetween(SteadyTime from, SteadyTime to)
{
    return Seconds(to - from).count();
}

// What the status text needs of the guarded fields, copied under the lock so
// the text is built (and the texts fetched) without holding it.
struct StatusSnapshot {
    int kind = PeltaRequestObject::StatusNone;
    QString message;
    bool transferring = false;
    int action = PeltaRequestObject::ActionNone;
    QString fileName;
    std::int64_t total = 0;
    std::int64_t done = 0;
    SteadyTime start{};
    int fileStateCount = 0;
    QString firstFileStatePath;
};

QString NamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
}

QString WithLeadingBackslash(const QString& path)
{
    return path.startsWith(QLatin1Char('\\')) ? path : QLatin1Char('\\') + path;
}

// The verb of a transfer action, empty for an unknown action.
QString TransferVerb(int action)
{
    if (action == PeltaRequestObject::ActionDownload)
        return Xi18n::Text(XText::_DL);
    if (action == PeltaRequestObject::ActionUpload || action == PeltaRequestObject::ActionUploadAlt)
        return Xi18n::Text(XText::_UL);
    return QString();
}

// Verb, name, rate in KB per second and remaining time; empty while nothing
// has been transferred, no time has passed or nothing remains.
QString TransferText(const StatusSnapshot& s, const QString& verb, SteadyTime now)
{
    const double elapsed = SecondsBetween(s.start, now);
    if (s.done <= 0 || !(elapsed > 0))
        return QString();
    const float rate = static_cast<float>(static_cast<double>(s.done) / 1024.0 / elapsed);
    if (!(rate > 0) || !std::isfinite(rate))
        return QString();
    const double remaining = static_cast<double>(s.total - s.done) / 1024.0 / rate;
    if (!(remaining > 0) || !std::isfinite(remaining))
        return QString();

    double shown = remaining;
    XText unit = XText::_Sec;
    if (remaining > 3600) {
        shown = remaining / 3600;
        unit = XText::_Hour;
    } else if (remaining > 60) {
        shown = remaining / 60;
        unit = XText::_Min;
    }
    return FormatText(Xi18n::Text(XText::_TransferProgress),
                      {verb, s.fileName, rate, Xi18n::Text(XText::_Sec), shown, Xi18n::Text(unit)});
}

// The text while syncing: files waiting in the conflict tracker, then files
// in use here (which name themselves and win), else the plain syncing text.
QString InUseText(int conflictCount, const QString& firstConflict, const StatusSnapshot& s)
{
    QString text;
    if (conflictCount > 1)
        text = Xi18n::Text(XText::_ML0101);
    else if (conflictCount == 1 && !firstConflict.isEmpty())
        text = FormatText(Xi18n::Text(XText::_ML0102), {NamePart(firstConflict)});
    if (s.fileStateCount == 1)
        text = FormatText(Xi18n::Text(XText::_ML0102), {NamePart(s.firstFileStatePath)});
    else if (s.fileStateCount > 1)
        text = FormatText(Xi18n::Text(XText::_ML0103), {s.fileStateCount});
    return text.isEmpty() ? Xi18n::Text(XText::_ML0104) : text;
}

}  // namespace

PeltaRequestObject::PeltaRequestObject(PeltaTrackConflict& conflicts, Event& trayEvent, Clock clock)
    : conflicts_(conflicts),
      trayEvent_(trayEvent),
      clock_(clock ? std::move(clock) : Clock(&SteadyClock::now)),
      lastUpdate_(clock_())
{
}

// ---- Transfer progress -----------------------------------------------------

void PeltaRequestObject::BeginTransfer(int action, const QString& path, int requestId, std::int64_t total)
{
    ResetTransfer();
    {
        std::lock_guard lock(mutex_);
        const SteadyTime now = clock_();
        fileName_ = NamePart(path);
        action_ = action;
        requestId_ = requestId;
        total_ = total;
        transferStart_ = now;
        lastUpdate_ = now;
        statusKind_ = StatusTransfer;
        message_.clear();
    }
    trayEvent_.Set();
}

void PeltaRequestObject::ResumeAt(std::int64_t offset)
{
    std::lock_guard lock(mutex_);
    if (offset < 0 || offset >= total_)
        return;
    total_ -= offset;
    base_ = done_;
}

void PeltaRequestObject::UpdateTransferred(std::int64_t position)
{
    {
        std::lock_guard lock(mutex_);
        done_ = base_ + position;
        const SteadyTime now = clock_();
        if (SecondsBetween(lastUpdate_, now) <= Seconds(ProgressSignalInterval).count())
            return;
        statusKind_ = StatusTransfer;
        lastUpdate_ = now;
    }
    trayEvent_.Set();
}

void PeltaRequestObject::AddTransferred(std::int64_t count)
{
    {
        std::lock_guard lock(mutex_);
        base_ += count;
        done_ = base_;
        statusKind_ = StatusTransfer;
        lastUpdate_ = clock_();
    }
    trayEvent_.Set();
}

void PeltaRequestObject::ResetTransfer()
{
    {
        std::lock_guard lock(mutex_);
        fileName_.clear();
        action_ = ActionNone;
        total_ = 0;
        done_ = 0;
        base_ = 0;  // a transfer without a resume point must start from zero
        transferStart_ = SteadyTime{};
        requestId_ = 0;
        lastUpdate_ = clock_();
    }
    trayEvent_.Reset();
}

bool PeltaRequestObject::IsTransferring() const
{
    std::lock_guard lock(mutex_);
    return action_ != ActionNone && !fileName_.isEmpty();
}

PeltaRequestObject::TransferInfo PeltaRequestObject::CurrentTransfer() const
{
    std::lock_guard lock(mutex_);
    return TransferInfo{action_, fileName_, total_, done_, base_, requestId_};
}

// ---- Message and status text -----------------------------------------------

void PeltaRequestObject::SetMessage(const QString& text)
{
    if (text.isEmpty())
        return;
    {
        std::lock_guard lock(mutex_);
        message_ = text;
        statusKind_ = StatusMessage;
    }
    trayEvent_.Set();
}

QString PeltaRequestObject::Message() const
{
    std::lock_guard lock(mutex_);
    return message_;
}

int PeltaRequestObject::StatusKind() const
{
    std::lock_guard lock(mutex_);
    return statusKind_;
}

QString PeltaRequestObject::GetStatusText() const
{
    if (quotaFull_)
        return Xi18n::Text(XText::_QuotaFullMsg);
    if (AppState.load() == XAPPOffline)
        return Xi18n::Text(XText::_Connecting);

    // The tracker is read before this object's lock is taken, so the two
    // locks are never held together.
    const int conflictCount = conflicts_.Count();
    const QString firstConflict = conflictCount == 1 ? conflicts_.KeyAt(0) : QString();
    const SteadyTime now = clock_();

    StatusSnapshot s;
    {
        std::lock_guard lock(mutex_);
        s.kind = statusKind_;
        s.message = message_;
        s.transferring = action_ != ActionNone && !fileName_.isEmpty();
        s.action = action_;
        s.fileName = fileName_;
        s.total = total_;
        s.done = done_;
        s.start = transferStart_;
        s.fileStateCount = static_cast<int>(fileStates_.size());
        if (!fileStates_.empty())
            s.firstFileStatePath = fileStates_.begin()->first;
    }

    QString text;
    if (s.kind == StatusMessage) {
        text = s.message;
    } else if (s.kind == StatusTransfer && s.transferring) {
        const QString verb = TransferVerb(s.action);
        if (verb.isEmpty())
            return QString();  // an unknown action shows nothing at all
        text = TransferText(s, verb, now);
    }
    if (!text.isEmpty())
        return text;
    if (!syncing_)
        return Xi18n::Text(XText::_ML0105);
    return InUseText(conflictCount, firstConflict, s);
}

// ---- Self-change marks -----------------------------------------------------

void PeltaRequestObject::FileMon(const QString& path, int n, bool set)
{
    AppLog.Write(QStringLiteral("FileMon:") + path + QLatin1Char('(') + QString::number(n) + QLatin1Char(')'),
                 LogMonitor);

    const QString key = WithLeadingBackslash(path);
    std::lock_guard lock(mutex_);
    if (n == 0) {
        selfChanges_.erase(key);
        return;
    }
    if (n > 0) {
        SelfChange& mark = selfChanges_[key];
        mark.count = (set || n >= SelfChangeMark) ? n : mark.count + n;
        mark.stamp = clock_();
        return;
    }
    const auto found = selfChanges_.find(key);
    if (found == selfChanges_.end() || found->second.count == 0)
        return;
    found->second.count += n;
    if (found->second.count < 1)
        selfChanges_.erase(found);
}

bool PeltaRequestObject::IsFileMonitored(const QString& path)
{
    return FileMonCount(path) > 0;
}

int PeltaRequestObject::FileMonCount(const QString& path)
{
    const QString key = WithLeadingBackslash(path);
    std::lock_guard lock(mutex_);
    const auto found = selfChanges_.find(key);
    if (found == selfChanges_.end())
        return 0;
    const double age = SecondsBetween(found->second.stamp, clock_());
    if (found->second.count > 0 && age <= Seconds(SelfChangeLifetime).count())
        return found->second.count;
    selfChanges_.erase(found);
    return 0;
}

// ---- Per-file states -------------------------------------------------------

void PeltaRequestObject::SetFileState(const QString& path, int state)
{
    {
        std::lock_guard lock(mutex_);
        if (state == 0) {
            fileStates_.erase(path);
            return;
        }
        fileStates_[path] = QString::number(state);
    }
    trayEvent_.Set();
}

int PeltaRequestObject::FileState(const QString& path) const
{
    std::lock_guard lock(mutex_);
    const auto found = fileStates_.find(path);
    return found == fileStates_.end() ? 0 : found->second.toInt();
}

// ---- Folder-add marks ------------------------------------------------------

void PeltaRequestObject::FolderAddMark(const QString& folder)
{
    std::lock_guard lock(mutex_);
    folderAdds_[folder] = clock_();
}

int PeltaRequestObject::FolderAddCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(folderAdds_.size());
}

QStringList PeltaRequestObject::TakeExpiredFolderAdds()
{
    QStringList expired;
    std::lock_guard lock(mutex_);
    const SteadyTime now = clock_();
    for (auto it = folderAdds_.begin(); it != folderAdds_.end();) {
        if (SecondsBetween(it->second, now) > Seconds(FolderAddLifetime).count()) {
            expired.append(it->first);
            it = folderAdds_.erase(it);
        } else {
            ++it;
        }
    }
    return expired;
}

// ---- Running transfers -----------------------------------------------------

std::shared_ptr<TransferCancelFlag> PeltaRequestObject::RegisterTransfer(const QString& path)
{
    auto flag = std::make_shared<TransferCancelFlag>(false);
    std::lock_guard lock(mutex_);
    transfers_[path] = flag;
    return flag;
}

bool PeltaRequestObject::HasTransfer(const QString& path) const
{
    std::lock_guard lock(mutex_);
    return transfers_.contains(path);
}

bool PeltaRequestObject::CancelTransfer(const QString& path)
{
    std::lock_guard lock(mutex_);
    const auto found = transfers_.find(path);
    if (found == transfers_.end())
        return false;
    found->second->store(true);
    return true;
}

void PeltaRequestObject::RemoveTransfer(const QString& path)
{
    std::lock_guard lock(mutex_);
    transfers_.erase(path);
}

PeltaRequestObject RequestObject{TrackConflict};
