#include "sync/rules/PendingLocalMoves.h"

#include <algorithm>

std::mutex PendingLocalMoves::mutex_;
std::vector<PendingLocalMoves::Move> PendingLocalMoves::moves_;

void PendingLocalMoves::Seen(const QString& from, const QString& to)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    DropExpired(now);
    moves_.push_back(Move{from, to, now});
}

void PendingLocalMoves::TakenIn(const QString& from, const QString& to)
{
    std::lock_guard lock(mutex_);
    const auto found =
        std::find_if(moves_.begin(), moves_.end(), [&](const Move& move) { return move.from == from && move.to == to; });
    if (found != moves_.end())
        moves_.erase(found);
}

bool PendingLocalMoves::MovedAway(const QString& path)
{
    std::lock_guard lock(mutex_);
    DropExpired(Clock::now());
    return std::any_of(moves_.begin(), moves_.end(), [&](const Move& move) {
        return path == move.from || path.startsWith(move.from + QLatin1Char('\\'));
    });
}

void PendingLocalMoves::Clear()
{
    std::lock_guard lock(mutex_);
    moves_.clear();
}

void PendingLocalMoves::DropExpired(Clock::time_point now)
{
    moves_.erase(std::remove_if(moves_.begin(), moves_.end(),
                                [&](const Move& move) { return now - move.seen > Lifetime; }),
                 moves_.end());
}
