#pragma once

// A change here recorded as far as its record: from construction the test
// thread holds the local change lock, as the final queue holds it between
// writing a record and opening the upload row.

#include "sync/rules/LocalChangeLock.h"

#include <functional>
#include <optional>

class HalfRecordedChange {
public:
    HalfRecordedChange() : lock_(std::in_place) {}

    // Runs act on a thread of its own and waits until it reached the lock
    // (or ended); then runs rest (the rest of the recording), lets the lock
    // go and waits for act to end. False when act ended without meeting the
    // lock, that is without waiting for the recording.
    bool RaceWith(const std::function<void()>& act, const std::function<void()>& rest);

private:
    std::optional<LocalChangeLock> lock_;
};
