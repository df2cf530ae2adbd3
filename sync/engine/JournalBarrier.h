#pragma once

// Lets a thread that met a refusal of the service wait until the change
// journal has been replayed past that refusal.
//
// The service refuses an upload or a folder's registration with "parent not
// exist" when its parent folder is not there. Often another computer moved
// or removed that folder, and the journal thread is about to replay exactly
// that here. Making the folder on the service again before the replay has
// run would bring the old folder back there for good (the replay moves the
// folder here afterwards and nothing removes the remade one). So the caller
// first waits for a pull of the journal that began after the refusal: every
// entry committed before the refusal has then been replayed, and whether the
// folder still exists here tells whether it is to be made.
//
// The journal thread holds a Puller for as long as it runs and a Pull around
// each pull of the journal, marking it Answered when the pull ran to an
// answer (entries replayed, or nothing new). Process-wide state; any thread.

#include <chrono>
#include <cstdint>
#include <functional>

class JournalBarrier {
public:
    using Duration = std::chrono::milliseconds;
    static constexpr Duration DefaultLimit{10000};

    // The journal thread's lifetime.
    class Puller {
    public:
        Puller();
        ~Puller();
        Puller(const Puller&) = delete;
        Puller& operator=(const Puller&) = delete;
    };

    // One pull of the journal.
    class Pull {
    public:
        Pull();
        ~Pull();
        Pull(const Pull&) = delete;
        Pull& operator=(const Pull&) = delete;
        void Answered() { answered_ = true; }

    private:
        std::uint64_t number_;
        bool answered_ = false;
    };

    // Asks the journal thread for a pull and waits until a pull that began
    // after this call has ended. True when that pull ran to an answer, and
    // at once when no journal thread runs or the caller is the journal
    // thread itself (it replays the journal in order already). False when
    // the pull failed, the limit passed or stop() turned true, and at once
    // while a full resync holds the pulls back: what depends on the replay
    // is to wait for a later try.
    static bool WaitForReplay(const std::function<bool()>& stop, Duration limit = DefaultLimit);
};
