#include "foundation/ProcessState.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(ProcessState, EventsHaveTheirNamesAndResetKinds)
{
    struct Case {
        const Event& event;
        const char* name;
        bool manual;
    };
    const Case cases[] = {
        {evtLog, "Global\\XLog", true},
        {evtFSQueue, "Global\\XFSQueue", true},
        {evtFSFinalQueue, "Global\\XFSFianlQueue", true},
        {evtResyncLocal, "Global\\ResyncLocal", true},
        {evtRequestQueue, "Global\\XRequestQueue", false},
        {evtRequestSyncJournal, "Global\\XRequestSyncJournal", false},
        {evtRequestFileTransfer, "Global\\XRequestFileTransfer", false},
        {evtTryLogin, "Global\\XTryLogin", false},
        {evtTrayIconMsn, "Global\\XTrayIconMsg", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.event.Name(), QString::fromLatin1(c.name));
        EXPECT_EQ(c.event.IsManualReset(), c.manual) << c.name;
    }
}

TEST(ProcessState, InitGivesStartValuesAndClearsEvents)
{
    evtRequestQueue.Set();
    AppState = XAPPExit;
    InitProcessState();
    EXPECT_EQ(AppState.load(), XAPPOnline);
    EXPECT_EQ(UploadMethod.load(), 2);
    EXPECT_EQ(UploadPartSize.load(), 1048576);
    EXPECT_EQ(LogMask.load(), 0x3007);
    EXPECT_EQ(ServerProfile, QStringLiteral("RELEASE"));
    EXPECT_NE(LastApeOkTime.load(), SteadyTime{});
    EXPECT_FALSE(evtRequestQueue.IsSignalled());
}

TEST(ProcessState, ConcurrentCounterUpdatesAllCount)
{
    NetFailCount = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 10000; ++i)
                ++NetFailCount;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(NetFailCount.load(), 40000);
    NetFailCount = 0;
}
