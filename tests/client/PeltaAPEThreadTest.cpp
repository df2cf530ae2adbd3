#include "client/PeltaAPEThread.h"
#include "foundation/ProcessState.h"
#include "fakeservice/FakeService.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;

const QString UserSn = QStringLiteral("700001");
const QString Channel = QStringLiteral("tessaron700001");

// A clock the test moves by hand.
struct ManualClock {
    SteadyTime now = SteadyTime{} + std::chrono::hours(1000);
    PeltaAPEThread::Clock Function()
    {
        return [this] { return now; };
    }
};

PeltaAPETiming QuickTiming()
{
    PeltaAPETiming timing;
    timing.errorWait = 0ms;
    timing.minGap = 20ms;
    timing.failurePeriod = 1s;
    return timing;
}

class PeltaAPEThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AppState = XAPPOnline;
        NetFailCount = 0;
        ApeErrCount = 0;
        JournalRequestCount = 0;
        QuotaTotal = 0;
        evtRequestSyncJournal.Reset();
    }
    void TearDown() override
    {
        AppState = XAPPOnline;
        NetFailCount = 0;
        ApeErrCount = 0;
        JournalRequestCount = 0;
        LastApeOkTime = SteadyTime{};
        evtRequestSyncJournal.Reset();
    }

    std::unique_ptr<PeltaAPEThread> MakeThread(const QString& name, PeltaAPEThread::Clock clock = {},
                                               const QString& url = QString())
    {
        auto thread = std::make_unique<PeltaAPEThread>(std::move(clock), QuickTiming());
        thread->SetUrl(url);
        thread->SetUserSn(UserSn);
        thread->SetName(name);
        thread->SetChannels(Channel);
        return thread;
    }

    static QString LoginReply(const QString& sessid, const QString& pipe, const QString& channel = Channel)
    {
        return QStringLiteral(R"([{"raw":"LOGIN","data":{"sessid":"%1"}},)"
                              R"({"raw":"CHANNEL","data":{"pipe":{"pubid":"%2","properties":{"name":"%3"}}}}])")
            .arg(sessid, pipe, channel.toLower());
    }
};

TEST_F(PeltaAPEThreadTest, CommandTextsCountEveryCommandObject)
{
    auto thread = MakeThread(QStringLiteral("7000011234"));
    EXPECT_EQ(thread->BuildCommand(XAPELogin),
              QStringLiteral(R"([{"cmd":"CONNECT","chl":0,"params":{"name":"7000011234"}},)"
                             R"({"cmd":"JOIN","chl":1,"params":{"channels":"tessaron700001"}}])"));
    ASSERT_TRUE(thread->HandleResponse(LoginReply(QStringLiteral("S1"), QStringLiteral("P1"))));
    EXPECT_EQ(thread->BuildCommand(XAPECheck), QStringLiteral(R"([{"cmd":"CHECK","chl":2,"sessid":"S1"}])"));
    const QRegularExpression send(QStringLiteral(
        R"(^\[\{"cmd":"SEND","chl":3,"params":\{"msg":"\d+","pipe":"P1"\},"sessid":"S1"\}\]$)"));
    EXPECT_TRUE(send.match(thread->BuildCommand(XAPEPost)).hasMatch());
    EXPECT_TRUE(thread->BuildCommand(XAPEJoinChannel).isEmpty());
    EXPECT_TRUE(thread->BuildCommand(XAPENOP).isEmpty());
    EXPECT_EQ(thread->Chl(), 4);
}

struct ResponseCase {
    const char* name;
    XAPECommand entry;  // the state when the reply arrives
    const char* reply;
    bool ok;
    XAPECommand state;
    XAPECommand pending;
    int journalRequests;
    bool nameChanged;
};

const ResponseCase ResponseCases[] = {
    {"empty array", XAPECheck, "[]", true, XAPECheck, XAPENOP, 0, false},
    {"close", XAPECheck, R"([{"raw":"CLOSE","data":{}}])", true, XAPECheck, XAPENOP, 0, false},
    {"empty body", XAPECheck, "", false, XAPECheck, XAPENOP, 0, false},
    {"object", XAPECheck, R"({"raw":"DATA"})", false, XAPECheck, XAPENOP, 0, false},
    {"html", XAPECheck, "<html>busy</html>", false, XAPECheck, XAPENOP, 0, false},
    {"other channel", XAPELogin,
     R"([{"raw":"CHANNEL","data":{"pipe":{"pubid":"X","properties":{"name":"tessaron9"}}}}])", true, XAPELogin,
     XAPENOP, 0, false},
    {"session lost", XAPECheck, R"([{"raw":"ERR","data":{"code":"004"}}])", false, XAPELogin, XAPENOP, 0, false},
    {"name taken", XAPELogin, R"([{"raw":"ERR","data":{"code":"007"}}])", false, XAPELogin, XAPENOP, 0, true},
    {"refused", XAPECheck, R"([{"raw":"ERR","data":{"code":"006"}}])", false, XAPECheck, XAPENOP, 0, false},
    {"other error", XAPECheck, R"([{"raw":"ERR","data":{"code":"005"}},{"raw":"IDNET","data":{}}])", true,
     XAPECheck, XAPENOP, 0, false},
    {"data", XAPECheck, R"([{"raw":"DATA","data":{"msg":"1700000000"}}])", true, XAPECheck, XAPENOP, 1, false},
    {"data then refusal", XAPECheck,
     R"([{"raw":"DATA","data":{"msg":"1"}},{"raw":"ERR","data":{"code":"006"}},{"raw":"DATA","data":{"msg":"2"}}])",
     false, XAPECheck, XAPENOP, 1, false},
};

class PeltaAPEResponseTest : public PeltaAPEThreadTest, public ::testing::WithParamInterface<ResponseCase> {};

TEST_P(PeltaAPEResponseTest, HandlesTheReply)
{
    const ResponseCase& c = GetParam();
    auto thread = MakeThread(QStringLiteral("old"));
    // Log in first so that state, sessid and pipe are known.
    ASSERT_TRUE(thread->HandleResponse(LoginReply(QStringLiteral("S"), QStringLiteral("P"))));
    // A lost session leads back to the login state (a SEND that loses it is
    // covered by the loop test against the fake).
    if (c.entry == XAPELogin) {
        ASSERT_FALSE(thread->HandleResponse(R"([{"raw":"ERR","data":{"code":"004"}}])"));
    }
    ASSERT_EQ(thread->State(), c.entry);
    JournalRequestCount = 0;
    evtRequestSyncJournal.Reset();
    EXPECT_EQ(thread->HandleResponse(QString::fromUtf8(c.reply)), c.ok);
    EXPECT_EQ(thread->State(), c.state);
    EXPECT_EQ(thread->Pending(), c.pending);
    EXPECT_EQ(JournalRequestCount.load(), c.journalRequests);
    EXPECT_EQ(evtRequestSyncJournal.IsSignalled(), c.journalRequests > 0);
    EXPECT_EQ(thread->Name() != QStringLiteral("old"), c.nameChanged);
    if (c.nameChanged) {
        EXPECT_TRUE(thread->Name().startsWith(UserSn));
    }
    EXPECT_EQ(thread->SessId(), QStringLiteral("S"));
    EXPECT_EQ(thread->Pipe(), QStringLiteral("P"));
}

INSTANTIATE_TEST_SUITE_P(Replies, PeltaAPEResponseTest, ::testing::ValuesIn(ResponseCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

// A login that brings a new session (the client was made again, or the old
// session was lost): notices sent to the old one are read by no one, so the
// journal is pulled once. The first session of a run asks for nothing.
TEST_F(PeltaAPEThreadTest, ANewSessionAsksForAPull)
{
    auto thread = MakeThread(QStringLiteral("n"));
    JournalRequestCount = 0;
    evtRequestSyncJournal.Reset();
    ASSERT_TRUE(thread->HandleResponse(LoginReply(QStringLiteral("S"), QStringLiteral("P"))));
    ASSERT_TRUE(thread->HandleResponse(LoginReply(QStringLiteral("S"), QStringLiteral("P"))));
    EXPECT_EQ(JournalRequestCount.load(), 0);
    EXPECT_FALSE(evtRequestSyncJournal.IsSignalled());

    ASSERT_TRUE(thread->HandleResponse(LoginReply(QStringLiteral("T"), QStringLiteral("P"))));
    EXPECT_EQ(JournalRequestCount.load(), 1);
    EXPECT_TRUE(evtRequestSyncJournal.IsSignalled());
    JournalRequestCount = 0;
    evtRequestSyncJournal.Reset();
}

TEST_F(PeltaAPEThreadTest, NewQuotaSetsTheTotalAndAsksForTheQuota)
{
    auto thread = MakeThread(QStringLiteral("n"));
    QuotaCheckTime = SteadyClock::now();
    EXPECT_TRUE(thread->HandleResponse(R"([{"raw":"DATA","data":{"msg":"newQuota=2048"}}])"));
    EXPECT_EQ(QuotaTotal.load(), 2048.0f);
    EXPECT_EQ(QuotaCheckTime.load(), SteadyTime{});
    EXPECT_EQ(JournalRequestCount.load(), 1);
    EXPECT_TRUE(evtRequestSyncJournal.IsSignalled());

    QuotaCheckTime = SteadyClock::now();
    EXPECT_TRUE(thread->HandleResponse(R"([{"raw":"DATA","data":{"msg":"newQuota=lots"}}])"));
    EXPECT_EQ(QuotaTotal.load(), 2048.0f);
    EXPECT_EQ(QuotaCheckTime.load(), SteadyTime{});
    EXPECT_EQ(JournalRequestCount.load(), 2);
}

TEST_F(PeltaAPEThreadTest, AddressesAndNames)
{
    const QDateTime before(QDate(2012, 5, 2), QTime(23, 59));
    const QDateTime after(QDate(2012, 5, 3), QTime(0, 1));
    EXPECT_EQ(PeltaAPEThread::Shard(12345, before), 1);
    EXPECT_EQ(PeltaAPEThread::Shard(12345, after), 9);
    EXPECT_EQ(PeltaAPEThread::Shard(26, before), 0);
    EXPECT_EQ(PeltaAPEThread::PushUrl(QStringLiteral("26"), after, QStringLiteral("RELEASE"),
                                      QStringLiteral(".push.example/0/? ")),
              QStringLiteral("http://a.push.example/0/? "));
    EXPECT_EQ(PeltaAPEThread::PushUrl(QStringLiteral("26"), after, QStringLiteral("DEV"),
                                      QStringLiteral(" HTTP://127.0.0.1:9/0/?  ")),
              QStringLiteral("HTTP://127.0.0.1:9/0/? "));
    EXPECT_EQ(PeltaAPEThread::MakeName(UserSn, 1712345678), QStringLiteral("7000012345678"));
    EXPECT_EQ(PeltaAPEThread::ChannelName(UserSn), Channel);
}

TEST_F(PeltaAPEThreadTest, OutcomesCountFailuresAndWakeThePullAfterSilence)
{
    ManualClock clock;
    auto thread = MakeThread(QStringLiteral("n"), clock.Function());

    // Silence longer than 120 s: the first success wakes the journal pull once.
    LastApeOkTime = clock.now - 121s;
    NetFailCount = 3;
    thread->RecordOutcome(false);
    EXPECT_EQ(JournalRequestCount.load(), 1);
    EXPECT_TRUE(evtRequestSyncJournal.Wait(0) == Event::WaitResult::Signalled);
    EXPECT_EQ(NetFailCount.load(), 0);
    EXPECT_EQ(LastApeOkTime.load(), clock.now);
    clock.now += 119s;
    thread->RecordOutcome(false);
    EXPECT_EQ(JournalRequestCount.load(), 1);

    // Every fourth failure in a row switches offline back to online, and
    // never overwrites an exit or a login.
    for (const XAPPState start : {XAPPOffline, XAPPExit, XAPPLogin}) {
        AppState = start;
        for (int i = 0; i < 3; ++i)
            thread->RecordOutcome(true);
        EXPECT_EQ(AppState.load(), start);
        thread->RecordOutcome(true);
        EXPECT_EQ(AppState.load(), start == XAPPOffline ? XAPPOnline : start);
    }
    EXPECT_EQ(ApeErrCount.load(), 12);
    EXPECT_EQ(NetFailCount.load(), 12);
}

TEST_F(PeltaAPEThreadTest, BackoffFillsTheFailurePeriod)
{
    ManualClock clock;
    auto thread = MakeThread(QStringLiteral("n"), clock.Function());  // period 1 s
    const SteadyTime start = clock.now;
    EXPECT_EQ(thread->BackoffDelay(start), 1000ms);
    clock.now += 400ms;  // whole seconds count
    EXPECT_EQ(thread->BackoffDelay(start), 1000ms);
    clock.now += 5s;
    EXPECT_EQ(thread->BackoffDelay(start), 0ms);

    PeltaAPETiming standard;
    PeltaAPEThread full(clock.Function(), standard);
    EXPECT_EQ(full.BackoffDelay(clock.now - 5s), 15000ms);
    EXPECT_EQ(full.BackoffDelay(clock.now - 25s), 0ms);
}

TEST_F(PeltaAPEThreadTest, CallsOnAStoppedChannelDoNothing)
{
    auto thread = MakeThread(QStringLiteral("n"));
    thread->SendPost();
    thread->Stop();
    thread->ReloadProxy();
    EXPECT_EQ(thread->Pending(), XAPENOP);
    thread->Terminate();
    thread->Join();
}

// ---- Against the fake channel server ------------------------------------------------

class PeltaAPEChannelTest : public PeltaAPEThreadTest {
protected:
    void SetUp() override
    {
        PeltaAPEThreadTest::SetUp();
        ASSERT_TRUE(service_.IsRunning());
        service_.Push().SetHoldTime(5s);
        url_ = QString::fromStdString(service_.PushUrl()) + u' ';
    }

    bool Joined(std::size_t sessions)
    {
        std::size_t joined = 0;
        for (const FakePushSession& session : service_.Push().Sessions())
            joined += session.channel.isEmpty() ? 0 : 1;
        return joined == sessions;
    }

    int CommandCount(const char* cmd)
    {
        int count = 0;
        for (const QJsonObject& command : service_.Push().Commands())
            count += command.value(QStringLiteral("cmd")).toString() == QLatin1String(cmd) ? 1 : 0;
        return count;
    }

    FakeService service_;
    QString url_;
};

TEST_F(PeltaAPEChannelTest, TwoAgentsExchangeANotice)
{
    auto first = MakeThread(QStringLiteral("first"), {}, url_);
    auto second = MakeThread(QStringLiteral("second"), {}, url_);
    ASSERT_TRUE(first->Start());
    ASSERT_TRUE(second->Start());
    ASSERT_TRUE(WaitUntil([&] {
        return Joined(2) && first->State() == XAPECheck && second->State() == XAPECheck && CommandCount("CHECK") >= 2;
    }));
    const int before = JournalRequestCount.load();
    evtRequestSyncJournal.Reset();

    first->SendPost();
    ASSERT_TRUE(WaitUntil([&] { return JournalRequestCount.load() > before; }, 3s));
    EXPECT_EQ(evtRequestSyncJournal.Wait(1000), Event::WaitResult::Signalled);
    EXPECT_EQ(CommandCount("SEND"), 1);
    EXPECT_EQ(NetFailCount.load(), 0);

    first->Terminate();
    second->Terminate();
    first->Join();
    second->Join();
}

TEST_F(PeltaAPEChannelTest, StoppingInterruptsAHeldPollAtOnce)
{
    service_.Push().SetHoldTime(20s);
    auto thread = MakeThread(QStringLiteral("held"), {}, url_);
    ASSERT_TRUE(thread->Start());
    // The CHECK has arrived; with nothing queued it is held.
    ASSERT_TRUE(WaitUntil([&] { return CommandCount("CHECK") >= 1; }));
    const auto before = std::chrono::steady_clock::now();
    thread->Terminate();
    thread->Join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(thread->Running());
}

TEST_F(PeltaAPEChannelTest, ALostSessionLogsInAgainAndRepeatsTheSend)
{
    auto sender = MakeThread(QStringLiteral("sender"), {}, url_);
    auto receiver = MakeThread(QStringLiteral("receiver"), {}, url_);
    ASSERT_TRUE(sender->Start());
    ASSERT_TRUE(receiver->Start());
    ASSERT_TRUE(WaitUntil([&] { return Joined(2) && sender->State() == XAPECheck && CommandCount("CHECK") >= 2; }));
    const int connects = CommandCount("CONNECT");
    const int before = JournalRequestCount.load();

    service_.Push().FailNext(QStringLiteral("004"));  // the SEND's answer
    sender->SendPost();
    // The new session asks for a pull, and so does the receiver's notice.
    ASSERT_TRUE(WaitUntil([&] { return CommandCount("SEND") >= 2 && JournalRequestCount.load() >= before + 2; }));
    // The fake keeps the refused session, so the new login may also meet
    // ERR 007 (name taken) and log in once more under a new name.
    EXPECT_GE(CommandCount("CONNECT"), connects + 1);
    EXPECT_EQ(CommandCount("SEND"), 2);

    sender->Terminate();
    receiver->Terminate();
}

TEST_F(PeltaAPEChannelTest, FailuresBackOffAndCount)
{
    // Nothing listens there: every exchange fails at once.
    auto thread = MakeThread(QStringLiteral("lost"), {}, QStringLiteral("http://127.0.0.1:1/0/? "));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(thread->Start());
    ASSERT_TRUE(WaitUntil([&] { return NetFailCount.load() >= 2; }, 5s));
    // The failure period is 1 s: two failures take at least one period.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_GE(ApeErrCount.load(), 1);
    thread->Terminate();
    thread->Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

}  // namespace
