#include "foundation/Constants.h"
#include "foundation/ProcessState.h"

#include <gtest/gtest.h>

// Init puts back the state, counters and tuning a previous run left behind
// and clears every event but the log's: lines already waiting for the log
// thread must still be written.
TEST(ProcessState, InitGivesStartValuesAndClearsEveryEventButTheLogs)
{
    AppState = XAPPExit;
    NetFailCount = 3;
    ApeErrCount = 2;
    JournalRequestCount = 5;
    LastApeOkTime = SteadyTime{};
    UploadMethod = UploadMethodPutFile;
    UploadPartSize = 1;
    LogMask = 0;
    ServerProfile = QStringLiteral("TEST");
    ServiceUrl.clear();
    Event* const cleared[] = {&evtFSQueue, &evtFSFinalQueue, &evtResyncLocal, &evtRequestQueue,
                              &evtRequestSyncJournal, &evtRequestFileTransfer, &evtTryLogin, &evtTrayIconMsn};
    for (Event* event : cleared)
        event->Set();
    evtLog.Set();

    InitProcessState();

    EXPECT_EQ(AppState.load(), XAPPOnline);
    EXPECT_EQ(NetFailCount.load(), 0);
    EXPECT_EQ(ApeErrCount.load(), 0);
    EXPECT_EQ(JournalRequestCount.load(), 0);
    EXPECT_NE(LastApeOkTime.load(), SteadyTime{});
    EXPECT_EQ(UploadMethod.load(), UploadMethodPostFile2);
    EXPECT_EQ(UploadPartSize.load(), 1048576);
    EXPECT_EQ(LogMask.load(), 0x3007);
    EXPECT_EQ(ServerProfile, DefaultProfile);
    EXPECT_EQ(ServiceUrl, ReleaseServiceUrl);
    for (Event* event : cleared)
        EXPECT_FALSE(event->IsSignalled()) << event->Name().toStdString();
    EXPECT_TRUE(evtLog.IsSignalled());
    evtLog.Reset();
}
