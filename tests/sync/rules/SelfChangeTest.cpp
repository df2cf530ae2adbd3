// The test of the engine's own changes: while its operation runs every
// change on the marked path is its own; under the settle mark only while the
// disk still agrees with the store's record; without a mark never.

#include "sync/rules/SelfChange.h"

#include "foundation/PeltaRequestObject.h"
#include "tests/sync/SyncFixture.h"

#include <gtest/gtest.h>

namespace {

class SelfChangeTest : public SyncFixture {
protected:
    // The item at path as the engine records it.
    void Record(const QString& path) { engine_->FileAdd(path, 0, false, false); }

    bool IsOwn(const QString& path) { return SelfChange::IsOwn(*status_, engine_->Db(), engine_->SyncFolder(), path); }
};

struct Case {
    const char* path;
    bool ownWhenSettling;
};

// What each path holds after the setup below, and whether a change there
// under the settle mark is the engine's own.
const Case kCases[] = {
    {"\\same.txt", true},      // as recorded
    {"\\gone.txt", true},      // neither there nor recorded: the engine's removal
    {"\\Folder", true},        // a recorded folder
    {"\\edited.txt", false},   // another content and time
    {"\\touched.txt", false},  // the same size, another time
    {"\\removed.txt", false},  // recorded, no longer there: removed or renamed
    {"\\new.txt", false},      // there, not recorded
    {"\\kind", false},         // recorded as a folder, now a file
};

TEST_F(SelfChangeTest, AChangeIsTheEnginesOnlyWhileItsOperationRunsOrTheDiskAgreesWithTheStore)
{
    for (const char* name : {"\\same.txt", "\\edited.txt", "\\touched.txt", "\\removed.txt"}) {
        MakeFile(QString::fromLatin1(name), "recorded", 1000);
        Record(QString::fromLatin1(name));
    }
    MakeFolder(QStringLiteral("\\Folder"));
    Record(QStringLiteral("\\Folder"));
    MakeFolder(QStringLiteral("\\kind"));
    Record(QStringLiteral("\\kind"));

    MakeFile(QStringLiteral("\\edited.txt"), "changed by the user", 2000);
    SetMtime(QStringLiteral("\\touched.txt"), 2000);
    Remove(QStringLiteral("\\removed.txt"));
    MakeFile(QStringLiteral("\\new.txt"), "new", 1000);
    Remove(QStringLiteral("\\kind"));
    MakeFile(QStringLiteral("\\kind"), "a file now", 1000);

    for (const Case& item : kCases) {
        const QString path = QString::fromLatin1(item.path);
        SCOPED_TRACE(item.path);
        EXPECT_FALSE(IsOwn(path)) << "no mark";
        status_->FileMon(path, PeltaRequestObject::SelfChangeMark, false);
        EXPECT_TRUE(IsOwn(path)) << "the operation runs";
        status_->FileMon(path, 1, true);
        EXPECT_EQ(IsOwn(path), item.ownWhenSettling) << "settling";
        // The test leaves the mark as it is.
        EXPECT_TRUE(status_->IsFileMonitored(path));
    }
    EXPECT_TRUE(
        TakeLog().contains(QStringLiteral("FileMon:changed since the engine's own change, the user's:\\edited.txt")));
}

}  // namespace
