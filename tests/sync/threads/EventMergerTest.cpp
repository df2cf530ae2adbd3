#include "sync/threads/EventMerger.h"

#include "foundation/Constants.h"
#include "tests/sync/FolderEvents.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

PeltaFSQueue Added(const char* path) { return PeltaFSQueue(XMOAdded, QString::fromUtf8(path)); }
PeltaFSQueue Removed(const char* path) { return PeltaFSQueue(XMORemoved, QString::fromUtf8(path)); }
PeltaFSQueue Modified(const char* path) { return PeltaFSQueue(XMOModified, QString::fromUtf8(path)); }
PeltaFSQueue Move(const char* from, const char* to)
{
    return PeltaFSQueue(XMORenameOldName, QString::fromUtf8(from), QString::fromUtf8(to));
}

struct MergeCase {
    const char* name;
    std::vector<PeltaFSQueue> input;
    std::vector<std::string> passedOn;  // what leaves, the held event flushed last
    std::set<QString> folders = {};

void PrintTo(const MergeCase& value, std::ostream* out) { *out << value.name; }
};

// Feeds the events in order, then lets the hold time pass.
std::vector<std::string> Merge(const MergeCase& mergeCase)
{
    std::vector<PeltaFSQueue> out;
    EventMerger merger([&](const PeltaFSQueue& event) { out.push_back(event); },
                       [&](const QString& path) { return mergeCase.folders.count(path) > 0; });
    for (const PeltaFSQueue& event : mergeCase.input)
        merger.Take(event);
    merger.FlushHeld();
    EXPECT_FALSE(merger.HasHeld());
    return Describe(out);
}

class EventMergerTest : public testing::TestWithParam<MergeCase> {};

TEST_P(EventMergerTest, PassesOnWhatIsLeftOfABurst)
{
    EXPECT_EQ(Merge(GetParam()), GetParam().passedOn);
}

const MergeCase mergeCases[] = {
    {"AddedThenWritten", {Added("\\f"), Modified("\\f"), Modified("\\f")}, {"added \\f"}},
    {"AddedThenRemoved", {Added("\\f"), Removed("\\f")}, {}},
    {"AddedInsideThenParentChanged", {Added("\\d\\f"), Modified("\\d")}, {"added \\d\\f"}},
    {"TwoAdditions", {Added("\\a"), Added("\\b")}, {"added \\a", "added \\b"}},
    {"AddedThenRenamedFile", {Added("\\a"), Move("\\a", "\\b")}, {"modified \\b"}},
    {"AddedThenRenamedFolder", {Added("\\a"), Move("\\a", "\\b")}, {"added \\b"}, {"\\b"}},
    {"RenamedThenWritten", {Move("\\a", "\\b"), Modified("\\b")}, {"move \\a -> \\b"}},
    {"TwoMoves", {Move("\\a", "\\b"), Move("\\c", "\\d")}, {"move \\a -> \\b", "move \\c -> \\d"}},
    {"FolderMovedAsideAndReplaced",
     {Move("\\a", "\\b"), Move("\\x", "\\a")},
     {"move \\a -> \\b", "move \\x -> \\a"},
     {"\\a"}},
    {"TwoModifications", {Modified("\\f"), Modified("\\f")}, {"modified \\f"}},
    {"ModifiedThenRemoved", {Modified("\\f"), Removed("\\f")}, {"modified \\f", "removed \\f"}},
    {"TwoRemovals", {Removed("\\a"), Removed("\\b")}, {"removed \\a", "removed \\b"}},
    // Only the kernel pairs a move: neighbours stay what they are.
    {"RemovedThenOtherAdded", {Removed("\\a"), Added("\\b")}, {"removed \\a", "added \\b"}},
    // Removed and back under the same name: its content may have changed.
    {"RemovedThenAddedAgain", {Removed("\\f"), Added("\\f"), Modified("\\f")}, {"modified \\f"}},
    // A rename to itself changes nothing but perhaps the content.
    {"RenameToItself", {Move("\\f", "\\f")}, {"modified \\f"}},
    // A save through a backup name, the backup removed afterwards.
    {"SaveThroughBackup",
     {Added("\\t"), Move("\\a", "\\a.bak"), Move("\\t", "\\a"), Removed("\\a.bak")},
     {"added \\t", "modified \\a"}},
    // The backup kept: it is an item of its own and must not be lost.
    {"SaveKeepingBackup", {Move("\\a", "\\a~"), Move("\\t", "\\a")}, {"modified \\a", "added \\a~"}},
    {"RenamedStraightBack", {Move("\\a", "\\b"), Move("\\b", "\\a")}, {"modified \\a"}},
    // A command passes the held event on first: the order is kept.
    {"CommandKeepsOrder",
     {Added("\\a"), PeltaFSQueue(XMOResyncLocal, QStringLiteral("\\")), Added("\\b")},
     {"added \\a", "command 8 \\", "added \\b"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, EventMergerTest, testing::ValuesIn(mergeCases),
                         [](const testing::TestParamInfo<MergeCase>& info) { return info.param.name; });

}  // namespace
