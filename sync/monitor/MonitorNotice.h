#pragma once

// What the directory monitor tells the user. The shell implements it and
// hands it to the monitor; the monitor calls it from its own thread, so an
// implementation hands the notice on without blocking (for instance through
// UserMessageSink) and never waits for the user-interface thread.

class MonitorNotice {
public:
    virtual ~MonitorNotice();

    // Some folders of the sync folder cannot be watched because the system's
    // limit of inotify watches is reached; changes in them are found by
    // periodic rescans until watches become free. limit is the system limit
    // (0 when unknown), inUse the number of watches the monitor holds.
    virtual void WatchLimitReached(int limit, int inUse) = 0;
};
