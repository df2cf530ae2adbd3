#pragma once

// Stands in for the journal thread: registered as the process's journal
// puller from construction, it waits for a pull to be asked for and runs
// one, calling replay inside it; the pull ends answered or failed as told.
// Joined on destruction.

#include <atomic>
#include <functional>
#include <thread>

class JournalStandIn {
public:
    explicit JournalStandIn(std::function<void()> replay, bool answered = true);
    ~JournalStandIn();
    JournalStandIn(const JournalStandIn&) = delete;
    JournalStandIn& operator=(const JournalStandIn&) = delete;

    // Whether a pull was asked for and ran.
    bool Pulled() const { return pulled_.load(); }

private:
    void Run();

    std::function<void()> replay_;
    const bool answered_;
    std::atomic<bool> registered_{false};
    std::atomic<bool> pulled_{false};
    std::thread thread_;
};
