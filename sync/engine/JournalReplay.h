#pragma once

// One call of PeltaSync::ResyncJournal: asks the service for its change
// journal since a position and, in replay mode, applies what other agents
// committed (ReplayEntry), tells the tray and stores the new position.
//
// The reply is parsed once; its text is dropped before the entries are
// read, and each entry is read from the parsed document when its turn comes
// (nothing holds the journal a second time).
//
// The position moves only after a replay that ran to its end, to just after
// the commit time of the last entry that the position may pass
// (JournalPosition). An entry passes when it was applied, when it is this
// agent's own and its result is known here, when its commit failed on the
// service, and when its path cannot exist in the sync folder (nothing of it
// could ever be applied here).
//
// This agent's own entries are skipped while what they did is known here: a
// later entry of its own in the same batch names the path, the store holds
// the file with the entry's version, or a row of the path is still open
// (its commit or settling records the result). A file added or changed by
// this agent that is not known here - the service stored a commit under a
// conflict name of its own and its reply never came - is applied like
// another agent's entry, so that file reaches this folder. An entry that could not be read, and one that could not be applied,
// holds the position before it (logged): the next replay reads it again,
// and the later entries of this batch, applied now, again with it. A replay
// that stops (engine stopping, sync folder not mounted) or whose exchange
// failed stores nothing.
//
// One object per call, on the engine's thread.

#include "foundation/text/JsonValue.h"
#include "sync/engine/JournalEntry.h"
#include "sync/engine/ReplayEntry.h"

#include <vector>
#include "sync/rules/MountedFolder.h"

#include <QString>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>

class EngineNotices;
class PeltaSync;

class JournalReplay {
public:
    explicit JournalReplay(PeltaSync& engine);

    // The results of PeltaSync::ResyncJournal.
    int Run(const QString& position, int mode);

private:
    // The reply of getSyncJournal as a parsed object; an empty view when the
    // exchange failed or the reply is not an object (logged).
    JsonValue Ask(const QString& position, int mode);
    // commit_journal_count; one that is not an integer counts as 10.
    static std::int64_t Count(const XMap& reply);
    int Replay(const JsonValue& journal);
    // Counts the entries of other agents and notes, for each path named by
    // an entry of this agent's own, the index of the last such entry.
    int Survey(const JsonValue& journal, const QString& ownKey, bool& stopped);
    // Another agent's entry names its paths as they were when it was
    // committed; an own move committed after it moved them here already.
    // Such paths are given as they are after the own moves that follow.
    static void FollowOwnMoves(std::vector<JournalEntry>& entries, const QString& ownKey);
    EntryOutcome HandleOwn(const JournalEntry& entry, std::size_t index, ReplayEntry& apply);
    // Whether what an entry of this agent's own did is known here already;
    // nullopt when the store could not be read.
    std::optional<bool> OwnResultKnown(const JournalEntry& entry, std::size_t index);
    EntryOutcome Handle(const JournalEntry& entry, ReplayEntry& apply);
    EntryOutcome ApplyGuarded(const JournalEntry& entry, ReplayEntry& apply);
    void StorePosition(const QString& commitTime);
    void SetSyncStatus(bool busy);

    PeltaSync& engine_;
    std::shared_ptr<EngineNotices> notices_;
    MountedFolder mounted_;
    ReplayEntry::Batch batch_;
    std::map<QString, std::size_t> lastOwnEntry_;
};
