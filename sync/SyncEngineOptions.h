#pragma once

// The tuning of the engine's threads that SyncEngine creates. The defaults
// are those the application runs with; tests and benchmarks shorten the
// waits and point the push channel at a fake service.

#include "client/PeltaAPEThread.h"
#include "sync/monitor/PeltaDirectoryMonitorThread.h"
#include "sync/threads/PeltaQueueSubThread.h"
#include "sync/threads/PeltaResyncJournalThread.h"
#include "sync/threads/PeltaResyncLocalThread.h"
#include "sync/threads/PeltaSyncFinalThread.h"
#include "sync/threads/PeltaSyncPreThread.h"

#include <QString>

#include <chrono>

struct SyncEngineOptions {
    // The monitor's notice is the engine's own (it reaches the application's
    // notices); an empty isOwnChange becomes the engine's test of its own
    // changes (SelfChange); other fields as given.
    PeltaDirectoryMonitorThread::Options monitor;
    // How long the merging thread holds an event for the next one.
    std::chrono::milliseconds eventHold = PeltaSyncPreThread::DefaultHold;
    PeltaSyncFinalThread::Options final;
    PeltaResyncLocalThread::Options resyncLocal;
    // Its committed (the push channel's SEND) is the engine's own.
    PeltaQueueSubThread::Options queueSub;
    PeltaResyncJournalThread::Options journal;
    // The push channel: whether it runs, its timing, and its address (empty:
    // made from user_sn and the server profile's push-host suffix).
    bool pushChannel = true;
    PeltaAPETiming push;
    QString pushUrl;
};
