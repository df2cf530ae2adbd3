#pragma once

// How the service reads a registered change, when it refuses one, and how a
// commit applies it to an account's tree.

#include "fakeservice/FakeRecords.h"
#include "fakeservice/FakeTree.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace ChangeRules {

struct Parsed {
    std::optional<FakeChange> change;
    QString message;  // the refusal when there is no change
};

// The change that setSyncJournal's action, obj_type and req_desc describe.
Parsed Parse(const QString& action, const QString& objType, const QString& reqDesc);

// The service's error text for the change against the tree as it stands, or
// an empty text when the change can be committed. A stale edit passes: it is
// committed as a conflict copy.
QString Check(const FakeTree& tree, const FakeChange& change, std::int64_t quotaTotalBytes);

struct Applied {
    FakeCommitResult result;
    FakeJournalEntry entry;  // without agent key and commit time
};

// Applies a change that passed Check. A file edit whose base version is not
// the stored one, or an add over a live file of another size or time, is
// stored as a conflict copy beside it.
Applied Apply(FakeTree& tree, const FakeChange& change, const FakeContent& content);

QString ObjTypeWord(FakeObjType type);
QString ActionWord(FakeAction action);

}  // namespace ChangeRules
