#include "foundation/ProcessState.h"

#include "foundation/Constants.h"

std::atomic<XAPPState> AppState{XAPPOnline};
std::atomic<int> NetFailCount{0};
std::atomic<int> ApeErrCount{0};
std::atomic<int> JournalRequestCount{0};
std::atomic<SteadyTime> LastApeOkTime{SteadyTime{}};

std::atomic<bool> DebugMode{false};
std::atomic<bool> ShowLogWindow{false};
std::atomic<bool> DevUpdate{false};
std::atomic<bool> ResyncRunning{false};

std::atomic<float> QuotaTotal{0.0f};
std::atomic<float> QuotaUsed{0.0f};
std::atomic<float> QuotaMaxFileSize{0.0f};
std::atomic<SteadyTime> QuotaCheckTime{SteadyTime{}};
std::atomic<SteadyTime> QuotaNoticeTime{SteadyTime{}};
std::atomic<SteadyTime> BalloonTime{SteadyTime{}};
std::atomic<SteadyTime> SyncStartTime{SteadyTime{}};
std::atomic<bool> IconRefreshDone{false};

std::atomic<std::int64_t> UploadBitRate{0};
std::atomic<std::int64_t> DownloadBitRate{0};
std::atomic<int> UploadMethod{UploadMethodPostFile2};
std::atomic<std::int64_t> UploadPartSize{1048576};
std::atomic<int> CurrentLcid{1028};
std::atomic<int> LogMask{0x3007};

QString ServerProfile;
QString ServiceUrl;
QString UploadUrl;
QString WebHomeUrl;
QString ApeHostSuffix;
QString SignedApiUrl;
QString ApiKey;
QString ApiSecret;
QMap<QString, QString> ApiMethodMap;

Event evtLog(QStringLiteral("Global\\XLog"), Event::ResetKind::Manual);
Event evtFSQueue(QStringLiteral("Global\\XFSQueue"), Event::ResetKind::Manual);
Event evtFSFinalQueue(QStringLiteral("Global\\XFSFianlQueue"), Event::ResetKind::Manual);
Event evtResyncLocal(QStringLiteral("Global\\ResyncLocal"), Event::ResetKind::Manual);
Event evtRequestQueue(QStringLiteral("Global\\XRequestQueue"), Event::ResetKind::Automatic);
Event evtRequestSyncJournal(QStringLiteral("Global\\XRequestSyncJournal"), Event::ResetKind::Automatic);
Event evtRequestFileTransfer(QStringLiteral("Global\\XRequestFileTransfer"), Event::ResetKind::Automatic);
Event evtTryLogin(QStringLiteral("Global\\XTryLogin"), Event::ResetKind::Automatic);
Event evtTrayIconMsn(QStringLiteral("Global\\XTrayIconMsg"), Event::ResetKind::Automatic);

PeltaQueue FSQueue;
PeltaQueue FSFinalQueue;

std::mutex csFSQueue;
std::mutex csFSFinalQueue;
std::recursive_mutex csProfileDb;
std::recursive_mutex csConfigDb;

void InitProcessState()
{
    const SteadyTime now = SteadyClock::now();
    AppState = XAPPOnline;
    NetFailCount = 0;
    ApeErrCount = 0;
    JournalRequestCount = 0;
    LastApeOkTime = now;
    SyncStartTime = now;
    UploadMethod = UploadMethodPostFile2;
    UploadPartSize = 1048576;
    CurrentLcid = 1028;
    LogMask = 0x3007;
    ServerProfile = DefaultProfile;
    ServiceUrl = ReleaseServiceUrl;
    UploadUrl = ReleaseUploadUrl;
    WebHomeUrl = ReleaseWebHomeUrl;
    ApeHostSuffix = ReleaseApeHostSuffix;
    SignedApiUrl = ReleaseSignedApiUrl;
    ApiKey = ProgramApiKey;
    ApiSecret = ProgramApiSecret;

    for (Event* event : {&evtFSQueue, &evtFSFinalQueue, &evtResyncLocal, &evtRequestQueue,
                         &evtRequestSyncJournal, &evtRequestFileTransfer, &evtTryLogin, &evtTrayIconMsn})
        event->Reset();
}
