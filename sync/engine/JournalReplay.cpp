#include "sync/engine/JournalReplay.h"

#include "client/PeltaAPI.h"
#include "foundation/Constants.h"
#include "foundation/ProcessState.h"
#include "foundation/db/LithosSQLiteException.h"
#include "foundation/db/PeltaDb.h"
#include "foundation/settings/PeltaSyncAgentSetting.h"
#include "sync/engine/EngineNotices.h"
#include "sync/engine/PeltaSync.h"
#include "sync/rules/JournalPosition.h"
#include "sync/rules/PathGuard.h"

#include <exception>

namespace {

const QString kWhere = QStringLiteral("PeltaSync:ResyncJournal:");
constexpr int kCountMode = 2;
constexpr std::int64_t kUnreadableCount = 10;

bool IsOwn(const QString& agentKey, const QString& ownKey)
{
    return !ownKey.isEmpty() && agentKey == ownKey;
}

// path as it is after the move of from to to: unchanged unless it is from
// or lies below it.
QString AfterMove(const QString& path, const QString& from, const QString& to)
{
    if (path == from)
        return to;
    if (path.startsWith(from + QLatin1Char('\\')))
        return to + path.mid(from.size());
    return path;
}

}  // namespace

JournalReplay::JournalReplay(PeltaSync& engine)
    : engine_(engine), notices_(EngineNotices::Installed()), mounted_(engine.SyncFolder(), notices_.get())
{
}

int JournalReplay::Run(const QString& position, int mode)
{
    if (!engine_.IsRunning())
        return PeltaSync::JournalStopped;
    const bool counting = mode == kCountMode;
    if (!counting) {
        const MountedFolder::State state = mounted_.Check();
        if (state != MountedFolder::State::Mounted) {
            PeltaSync::Log(kWhere + QStringLiteral("sync folder ") + MountedFolder::StateName(state) +
                               QStringLiteral(", nothing replayed"),
                           LogGeneral);
            return PeltaSync::JournalStopped;
        }
    }
    const JsonValue reply = Ask(position, mode);
    if (!engine_.IsRunning())
        return PeltaSync::JournalStopped;
    if (!reply.IsObject())
        return PeltaSync::JournalExchangeFailed;

    const XMap fields = reply.ObjectToMap();
    const std::int64_t count = Count(fields);
    if (counting)
        return count >= PeltaSync::JournalLongCount ? PeltaSync::JournalLong : PeltaSync::JournalNothingNew;
    if (count < 0) {
        PeltaSync::Log(kWhere + QStringLiteral("negative commit_journal_count"), LogGeneral);
        return PeltaSync::JournalExchangeFailed;
    }
    if (count == 0)
        return PeltaSync::JournalNothingNew;
    const std::optional<JsonValue> journal = reply.FindArray(QStringLiteral("commit_journal"));
    if (fields.find(QStringLiteral("commit_journal")) == fields.end() || !journal) {
        PeltaSync::Log(kWhere + QStringLiteral("reply without its commit_journal array"), LogGeneral);
        return PeltaSync::JournalExchangeFailed;
    }
    return Replay(*journal);
}

JsonValue JournalReplay::Ask(const QString& position, int mode)
{
    QString url;
    QString body;
    if (!engine_.Api().BuildGetSyncJournal(position, mode == kCountMode ? kCountMode : 1, url, body))
        return JsonValue();
    if (mode != kCountMode)
        PeltaSync::Log(QStringLiteral("ResyncJournal:") + position, LogGeneral);
    if (!engine_.IsRunning())
        return JsonValue();
    QString reply;
    if (!engine_.Api().CallAgentAPI(url, body, true, reply, PeltaAPI::CallEffect::OnlyReads)) {
        PeltaSync::Log(kWhere + QStringLiteral("getSyncJournal failed:") + reply, LogGeneral);
        return JsonValue();
    }
    JsonValue parsed = JsonValue::Parse(reply);
    if (!parsed.IsObject())
        PeltaSync::Log(kWhere + QStringLiteral("reply is not a JSON object"), LogGeneral);
    return parsed;
}

std::int64_t JournalReplay::Count(const XMap& reply)
{
    const auto found = reply.find(QStringLiteral("commit_journal_count"));
    bool ok = false;
    const std::int64_t count = found == reply.end() ? 0 : found->second.toLongLong(&ok);
    if (ok)
        return count;
    PeltaSync::Log(kWhere + QStringLiteral("commit_journal_count is not an integer, taken as 10"), LogGeneral);
    return kUnreadableCount;
}

// ---- Replaying -----------------------------------------------------------------------------

int JournalReplay::Survey(const JsonValue& journal, const QString& ownKey, bool& stopped)
{
    int foreign = 0;
    std::size_t index = 0;
    lastOwnEntry_.clear();
    for (const JsonValue& value : journal) {
        if (!engine_.IsRunning()) {
            stopped = true;
            return foreign;
        }
        if (!IsOwn(PeltaSync::Field(value.ObjectToMap(), "agent_key"), ownKey)) {
            ++foreign;
        } else {
            const JournalEntry entry = JournalEntry::Read(value);
            if (!entry.path.isEmpty())
                lastOwnEntry_[entry.path] = index;
        }
        ++index;
    }
    return foreign;
}

int JournalReplay::Replay(const JsonValue& journal)
{
    const QString ownKey = engine_.Settings()->Get(QStringLiteral("agent_key"));
    bool stopped = false;
    const bool busy = Survey(journal, ownKey, stopped) > 0;
    if (stopped)
        return PeltaSync::JournalStopped;
    if (busy)
        SetSyncStatus(true);

    std::vector<JournalEntry> entries;
    for (const JsonValue& value : journal)
        entries.push_back(JournalEntry::Read(value));
    FollowOwnMoves(entries, ownKey);

    ReplayEntry apply(engine_, mounted_, batch_);
    QString positionTime;
    bool held = false;
    std::size_t index = 0;
    for (const JournalEntry& entry : entries) {
        if (!engine_.IsRunning()) {
            stopped = true;
            break;
        }
        const EntryOutcome outcome =
            IsOwn(entry.agentKey, ownKey) ? HandleOwn(entry, index, apply) : Handle(entry, apply);
        ++index;
        if (outcome == EntryOutcome::Stop) {
            stopped = true;
            break;
        }
        if (held)
            continue;
        if (outcome == EntryOutcome::NotApplied) {
            held = true;
            PeltaSync::Log(kWhere + QStringLiteral("the position stays before ") + entry.commitTime, LogGeneral);
            continue;
        }
        positionTime = entry.commitTime;
    }
    if (busy)
        SetSyncStatus(false);
    if (stopped)
        return PeltaSync::JournalStopped;
    if (journal.Size() > 0) {
        engine_.NotifySyncResult(batch_.counts, batch_.lastPath);
        engine_.RefreshParentIcons(batch_.parents);
    }
    StorePosition(positionTime);
    return PeltaSync::JournalReplayed;
}

void JournalReplay::FollowOwnMoves(std::vector<JournalEntry>& entries, const QString& ownKey)
{
    for (std::size_t own = 0; own < entries.size(); ++own) {
        const JournalEntry& move = entries[own];
        if (!IsOwn(move.agentKey, ownKey) || !move.IsMove() || move.state != JournalEntry::State::Usable ||
            move.path == move.destPath)
            continue;
        for (std::size_t before = 0; before < own; ++before) {
            JournalEntry& entry = entries[before];
            if (IsOwn(entry.agentKey, ownKey) || entry.state != JournalEntry::State::Usable)
                continue;
            const QString path = AfterMove(entry.path, move.path, move.destPath);
            const QString destPath =
                entry.IsMove() ? AfterMove(entry.destPath, move.path, move.destPath) : entry.destPath;
            if (path == entry.path && destPath == entry.destPath)
                continue;
            PeltaSync::Log(kWhere + QStringLiteral("entry follows an own later move:") + entry.Describe(),
                           LogGeneral);
            entry.path = path;
            entry.destPath = destPath;
        }
    }
}

EntryOutcome JournalReplay::HandleOwn(const JournalEntry& entry, std::size_t index, ReplayEntry& apply)
{
    const bool storesFile = entry.kind == XSYNCFileAdd || entry.kind == XSYNCFileMod;
    if (entry.state != JournalEntry::State::Usable || !storesFile)
        return EntryOutcome::Applied;
    const std::optional<bool> known = OwnResultKnown(entry, index);
    if (!known) {
        PeltaSync::Log(kWhere + QStringLiteral("own entry not checked, store unreadable:") + entry.Describe(),
                       LogGeneral);
        return EntryOutcome::NotApplied;
    }
    if (*known)
        return EntryOutcome::Applied;
    PeltaSync::Log(kWhere + QStringLiteral("own entry not known here, applied:") + entry.Describe() +
                       QStringLiteral(",version=") + entry.version,
                   LogGeneral);
    return Handle(entry, apply);
}

std::optional<bool> JournalReplay::OwnResultKnown(const JournalEntry& entry, std::size_t index)
{
    const auto last = lastOwnEntry_.find(entry.path);
    if (last != lastOwnEntry_.end() && last->second > index)
        return true;
    try {
        PeltaRecVfsSyncFile stored;
        stored.kind = XFSFile;
        stored.path = entry.path;
        const bool found = engine_.Db().RecGet(stored);
        if (stored.error)
            return std::nullopt;
        return (found && stored.version == entry.version) || engine_.PathRowOpen(entry.path);
    } catch (const Lithos::SQLiteException& failure) {
        PeltaSync::Log(kWhere + QStringLiteral("Exception:") + PeltaDb::FormatSQLiteException(failure), LogGeneral);
    }
    return std::nullopt;
}

EntryOutcome JournalReplay::Handle(const JournalEntry& entry, ReplayEntry& apply)
{
    switch (entry.state) {
    case JournalEntry::State::Failed:
        return EntryOutcome::Applied;
    case JournalEntry::State::Unreadable:
        PeltaSync::Log(kWhere + QStringLiteral("entry not readable (") + entry.problem + QStringLiteral("):") +
                           entry.commitTime,
                       LogGeneral);
        return EntryOutcome::NotApplied;
    case JournalEntry::State::Refused:
        PathGuard::LogRefused(kWhere + QStringLiteral("entry"), entry.IsMove() ? entry.Describe() : entry.path,
                              entry.problem);
        // A move has another side that could exist here.
        return entry.IsMove() ? EntryOutcome::NotApplied : EntryOutcome::Applied;
    case JournalEntry::State::Usable:
        break;
    }
    ++batch_.counts[static_cast<std::size_t>(entry.kind)];
    if (DebugMode.load())
        PeltaSync::Log(QStringLiteral("reSyncJournal:") + entry.Describe(), LogSync);
    return ApplyGuarded(entry, apply);
}

EntryOutcome JournalReplay::ApplyGuarded(const JournalEntry& entry, ReplayEntry& apply)
{
    try {
        return apply.Apply(entry);
    } catch (const Lithos::SQLiteException& failure) {
        PeltaSync::Log(kWhere + QStringLiteral("Exception:") + PeltaDb::FormatSQLiteException(failure), LogGeneral);
    } catch (const std::exception& failure) {
        PeltaSync::Log(kWhere + QStringLiteral("Exception:") + QString::fromLocal8Bit(failure.what()), LogGeneral);
    }
    return EntryOutcome::NotApplied;
}

void JournalReplay::StorePosition(const QString& commitTime)
{
    if (commitTime.isEmpty())
        return;
    const QString next = JournalPosition::After(commitTime);
    if (next.isEmpty()) {
        PeltaSync::Log(kWhere + QStringLiteral("commit time is not a decimal number, position unchanged:") +
                           commitTime,
                       LogGeneral);
        return;
    }
    PeltaSync::Log(kWhere + QStringLiteral("last_sync_time=") + next, LogGeneral);
    engine_.StoreSetting(QStringLiteral("last_sync_time"), next);
}

void JournalReplay::SetSyncStatus(bool busy)
{
    PeltaSync::Log(QStringLiteral("PeltaSync:ResyncLocal:1:SetSyncStatus=") +
                       (busy ? QStringLiteral("true") : QStringLiteral("false")),
                   LogIcon);
    if (notices_)
        notices_->SetSyncStatus(busy, false, 0);
}
