#pragma once

// The fake service's stop flag: raised once when the service stops, it ends
// every wait that a held reply is in, so that stopping stays prompt.

#include <chrono>
#include <condition_variable>
#include <mutex>

class StopSignal {
public:
    void Raise();
    bool Raised() const;

    // Waits for the duration unless the signal is raised first; false when
    // it was raised.
    bool WaitFor(std::chrono::milliseconds duration);

private:
    mutable std::mutex mutex_;
    std::condition_variable raised_;
    bool isRaised_ = false;
};
