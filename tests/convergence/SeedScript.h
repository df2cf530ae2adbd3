#pragma once

// The operations of one run, chosen by the seed alone: changes on this
// computer and on the second one, conflicts, faults of the service and
// restarts of the engine. The script keeps its own picture of the tree (what
// both sides meant to do) and picks the targets of later operations from it;
// whether an operation still finds its target when it is carried out is the
// run's business, never the script's, so the same seed always gives the same
// sequence.
//
// The kinds added later (a file held in use, an item whose name cannot
// exist here) come from a random stream of their own and never touch the
// script's picture of the tree, so the operations of the first kinds stay
// what they were for every seed.

#include "fakeservice/FakeFaults.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct Operation {
    enum class Kind {
        WriteFile,     // path, content (an add or an edit)
        MakeFolder,    // path, files inside at once
        Move,          // path -> path2 (a rename or a move, file or folder)
        Delete,        // path (file or folder)
        WriteBoth,     // path: content here, content2 on the other computer
        DeleteVsEdit,  // path deleted on this side (local), edited on the other with content2
        Fault,         // method, fault
        PushSilent,    // the push channel breaks until PushBack
        PushBack,
        Restart,        // Stop and Start of the engine
        RestartProgram, // a new engine object; queued events are lost as at exit
        RestartDuring,  // Stop once the service sees a call of method, then Start
        Pause,          // let the engine run pauseMs
        Settle,         // let the engine run until it is quiet
        // Added later, from the script's second stream:
        HoldInUse,      // path held here under a lock that conflicts with reading, for holdSteps steps
        OddNameThere,   // the other computer adds path, a name that cannot exist here: a file with
                        // content, or (content empty) a folder with files
    };

    Kind kind = Kind::Pause;
    bool local = true;  // the side of a change
    QString path;
    QString path2;
    QByteArray content;
    QByteArray content2;
    std::vector<std::pair<QString, QByteArray>> files;
    std::string method;
    Fault fault;
    int pauseMs = 0;
    int holdSteps = 0;

    QString Describe() const;
};

class SeedScript {
public:
    explicit SeedScript(std::uint64_t seed);

    int Steps() const { return steps_; }
    Operation Next(int step);
    // An operation of the later kinds to carry out after next (the step's
    // operation), or none.
    std::optional<Operation> Extra(int step, const Operation& next);

private:
    QByteArray NewContent(int step, char side, int index, std::int64_t size);
    std::int64_t PickSize();
    QString PickFolder(bool rootAllowed);
    QString PickFile();
    QString PickAny();
    QString FreeName(const QString& folder, bool folderName);
    bool Chance(int percent);
    int Below(int bound);
    int ExtraBelow(int bound);  // from the second stream

    Operation WriteFile(int step, bool local);
    Operation MakeFolder(int step, bool local);
    Operation MoveItem(bool local);
    Operation DeleteItem(bool local);
    Operation WriteBoth(int step);
    Operation DeleteVsEdit(int step);
    Operation FaultOperation();
    Operation RestartOperation();
    Operation HoldInUse(const Operation& next);
    Operation OddNameThere(int step);

    void ModelMove(const QString& from, const QString& to);
    void ModelDelete(const QString& path);

    std::uint64_t seed_;
    std::mt19937_64 random_;
    std::mt19937_64 extra_;
    int steps_ = 0;
    bool pushSilent_ = false;
    std::set<QString> folders_;                  // service paths, root aside
    std::map<QString, std::int64_t> files_;      // service path -> size
};
