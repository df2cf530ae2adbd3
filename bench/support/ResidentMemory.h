#pragma once

// This process's resident memory, from /proc/self/status, in KiB.

class ResidentMemory {
public:
    // The resident size now (VmRSS); -1 when it cannot be read.
    static long long NowKb();
    // The highest resident size since the start or the last ResetPeak()
    // (VmHWM); -1 when it cannot be read.
    static long long PeakKb();
    // Starts a fresh peak: VmHWM falls back to the current resident size.
    static void ResetPeak();

private:
    static long long StatusKb(const char* field);
};
