#pragma once

// Values shared by every thread of the process: the application state, the
// failure and notice counters, the switches chosen at start, quota figures,
// transfer tuning, the endpoints of the server profile, the named events and
// the shared locks. Each exists once; counters and flags are atomic so that
// concurrent updates are never lost.

#include "foundation/PeltaQueue.h"
#include "platform/Event.h"

#include <QMap>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

enum XAPPState : int {
    XAPPOnline = 1,
    XAPPOffline = 2,
    XAPPLogin = 3,
    XAPPExit = 4,
};

using SteadyClock = std::chrono::steady_clock;
using SteadyTime = SteadyClock::time_point;  // SteadyTime{} means "never"

// Application state and counters.
extern std::atomic<XAPPState> AppState;
extern std::atomic<int> NetFailCount;
extern std::atomic<int> ApeErrCount;
extern std::atomic<int> JournalRequestCount;
extern std::atomic<SteadyTime> LastApeOkTime;

// Switches chosen at start.
extern std::atomic<bool> DebugMode;
extern std::atomic<bool> ShowLogWindow;
extern std::atomic<bool> DevUpdate;
extern std::atomic<bool> ResyncRunning;

// Quota figures, in MB.
extern std::atomic<float> QuotaTotal;
extern std::atomic<float> QuotaUsed;
extern std::atomic<float> QuotaMaxFileSize;
extern std::atomic<SteadyTime> QuotaCheckTime;
extern std::atomic<SteadyTime> QuotaNoticeTime;
extern std::atomic<SteadyTime> BalloonTime;
extern std::atomic<SteadyTime> SyncStartTime;
extern std::atomic<bool> IconRefreshDone;

// Transfer tuning.
extern std::atomic<std::int64_t> UploadBitRate;    // bits per second, 0 = unlimited
extern std::atomic<std::int64_t> DownloadBitRate;  // bits per second, 0 = unlimited
extern std::atomic<int> UploadMethod;              // index into UploadMethodNames
extern std::atomic<std::int64_t> UploadPartSize;   // bytes
extern std::atomic<int> CurrentLcid;
extern std::atomic<int> LogMask;

// Server profile and credentials: written while the process is wired, before
// any worker thread starts, and read-only afterwards.
extern QString ServerProfile;
extern QString ServiceUrl;
extern QString UploadUrl;
extern QString WebHomeUrl;
extern QString ApeHostSuffix;
extern QString SignedApiUrl;
extern QString ApiKey;
extern QString ApiSecret;
extern QMap<QString, QString> ApiMethodMap;

// The nine named events.
extern Event evtLog;                  // "Global\XLog", manual
extern Event evtFSQueue;              // "Global\XFSQueue", manual
extern Event evtFSFinalQueue;         // "Global\XFSFianlQueue", manual
extern Event evtResyncLocal;          // "Global\ResyncLocal", manual
extern Event evtRequestQueue;         // "Global\XRequestQueue", automatic
extern Event evtRequestSyncJournal;   // "Global\XRequestSyncJournal", automatic
extern Event evtRequestFileTransfer;  // "Global\XRequestFileTransfer", automatic
extern Event evtTryLogin;             // "Global\XTryLogin", automatic
extern Event evtTrayIconMsn;          // "Global\XTrayIconMsg", automatic

// The two work queues: raw folder events, and merged events with resync commands.
extern PeltaQueue FSQueue;
extern PeltaQueue FSFinalQueue;

// The four shared locks.
extern std::mutex csFSQueue;
extern std::mutex csFSFinalQueue;
extern std::recursive_mutex csProfileDb;
extern std::recursive_mutex csConfigDb;

// Gives the shared values their start values and resets every event but the
// log's; called once while the process is wired, before any worker starts.
void InitProcessState();
