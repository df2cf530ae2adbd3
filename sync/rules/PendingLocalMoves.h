#pragma once

// The moves the folder monitor has seen here that the engine has not taken
// in yet (the event is still queued, held for merging or being applied). A
// download whose folder is missing asks here whether the folder moved away -
// then it must not make the folder again under its old name - or was
// deleted here, when making it again is what keeps a file changed there.
//
// Paths are relative to the sync folder ("\A\b") and compared exactly. A
// move whose event the merging turned into something else is never taken
// in: it counts only for a bounded time after it was seen.

#include <QString>

#include <chrono>
#include <mutex>
#include <vector>

class PendingLocalMoves {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds Lifetime{60};

    // The monitor saw from moved to to.
    static void Seen(const QString& from, const QString& to);
    // The engine took the move in (its records and rows follow it now).
    static void TakenIn(const QString& from, const QString& to);
    // Whether path, or a folder above it, moved away here and that move is
    // not taken in yet.
    static bool MovedAway(const QString& path);
    static void Clear();

private:
    struct Move {
        QString from;
        QString to;
        Clock::time_point seen;
    };
    static void DropExpired(Clock::time_point now);

    static std::mutex mutex_;
    static std::vector<Move> moves_;  // guarded by mutex_
};
