#pragma once

// The program: decides whether this process may run (one agent per user and
// data folder), handles "/update" and "/home", builds the control form over
// the tray, sends it to its splash step and runs the event loop until the
// control form has closed. SIGTERM and SIGINT go through the exit step.

class ProgramEntry {
public:
    // How long a start by the updater waits for the old instance to end.
    static constexpr int UpdateWaitSeconds = 30;

    static int Run(int argc, char** argv);
};
