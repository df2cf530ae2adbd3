#pragma once

// When the stored login is tried again. A network failure is retried after
// 2 s; every third failure in a row raises the back-off step and waits
// 2 x step seconds instead, and a failed agent check does the same. The
// login timer never waits longer than MaxSeconds.

class LoginBackoff {
public:
    static constexpr int MaxSeconds = 300;
    static constexpr int FailuresPerStep = 3;

    struct Retry {
        int seconds = 0;
        bool stepRaised = false;  // the failure is shown to the user
    };

    // The login timer's interval in milliseconds for a wait of seconds: 0
    // waits 1 s and sets the step to 1; above 1000 the value is taken as
    // milliseconds; above MaxSeconds the wait is MaxSeconds and the step 150.
    int ArmMilliseconds(int seconds);

    // A stored login failed on the network; arm the timer with the result.
    Retry OnNetworkFailure();
    // The agent check failed on the network: the wait in seconds.
    int OnAgentCheckFailure();

    int Step() const { return step_; }
    int Failures() const { return failures_; }

private:
    int failures_ = 0;
    int step_ = 0;
};
