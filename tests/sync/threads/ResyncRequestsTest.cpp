#include "sync/threads/ResyncRequests.h"

#include "foundation/Constants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// "<kind> <path> <stages>" of each pending request, in order.
std::vector<std::string> Pending(const ResyncRequests& requests)
{
    std::vector<std::string> texts;
    for (const ResyncRequests::Request& request : requests.Pending())
        texts.push_back(std::to_string(request.kind) + ' ' + request.path.toStdString() + ' ' +
                        std::to_string(request.stages));
    return texts;
}

// A request never replaces another one; asking again for a pending job adds
// nothing. Kinds that are no job are refused.
TEST(ResyncRequestsTest, EveryJobAskedWaitsOnce)
{
    ResyncRequests requests;
    EXPECT_TRUE(requests.Ask(XMOResyncLocal, QStringLiteral("\\a")));
    EXPECT_TRUE(requests.Ask(XMOResyncFull, QStringLiteral("\\ignored")));
    EXPECT_TRUE(requests.Ask(XMOResyncLocal, QStringLiteral("\\")));
    EXPECT_TRUE(requests.Ask(XMOResyncLocal, QStringLiteral("0")));
    EXPECT_TRUE(requests.Ask(XMOResyncLocal, QString()));
    EXPECT_TRUE(requests.Ask(XMOResyncLocal, QStringLiteral("\\a")));
    EXPECT_TRUE(requests.Ask(XMOResyncLocalNoRemoval, QStringLiteral("\\a")));
    EXPECT_TRUE(requests.Ask(XMOResyncFull, QStringLiteral("\\")));
    for (const int kind : {0, 1, 4, 11, 14})
        EXPECT_FALSE(requests.Ask(kind, QStringLiteral("\\"))) << kind;
    EXPECT_EQ(Pending(requests), (std::vector<std::string>{"8 \\a 1", "10 \\ 5", "8 \\ 1", "13 \\a 1"}));

    const SteadyTime now = SteadyClock::now();
    std::vector<int> taken;
    while (const auto request = requests.TakeDue(now))
        taken.push_back(request->kind);
    EXPECT_EQ(taken, (std::vector<int>{8, 10, 8, 13}));
    EXPECT_EQ(requests.NextDue(), SteadyTime::max());
}

// A job put back waits for its due time with the stages that failed; asked
// again meanwhile, it is due at once with all its stages. Put back after it
// was asked again during its run, it stays due at once.
TEST(ResyncRequestsTest, RetriesWaitUnlessAskedAgain)
{
    ResyncRequests requests;
    const SteadyTime now = SteadyClock::now();
    requests.Ask(XMOResyncAppStart, QString());
    auto job = requests.TakeDue(now);
    ASSERT_TRUE(job);
    requests.Retry({job->kind, job->path, ResyncRequests::JournalStage}, now + 1s);
    EXPECT_FALSE(requests.TakeDue(now));
    EXPECT_EQ(requests.NextDue(), now + 1s);
    job = requests.TakeDue(now + 1s);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->stages, ResyncRequests::JournalStage);

    requests.Retry(*job, now + 1s);
    requests.Ask(XMOResyncAppStart, QStringLiteral("\\"));
    job = requests.TakeDue(now);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->stages, ResyncRequests::LocalStage | ResyncRequests::JournalStage);

    requests.Ask(XMOResyncAppStart, QStringLiteral("\\"));  // asked while the job runs
    requests.Retry({job->kind, job->path, ResyncRequests::JournalStage}, now + 1s);
    EXPECT_EQ(Pending(requests), (std::vector<std::string>{"12 \\ 3"}));
    EXPECT_TRUE(requests.TakeDue(now));
}

// While the sync folder is being filled again, only the jobs that cannot
// remove anything are taken.
TEST(ResyncRequestsTest, JobsThatMayRemoveCanBeHeldBack)
{
    ResyncRequests requests;
    const SteadyTime now = SteadyClock::now();
    for (const XMOKind kind : {XMOResyncLocal, XMOResyncAppStart, XMOResyncRemote, XMOResyncFull, XMOResyncLocalNoRemoval})
        requests.Ask(kind, QStringLiteral("\\"));
    std::vector<int> taken;
    while (const auto request = requests.TakeDue(now, false))
        taken.push_back(request->kind);
    EXPECT_EQ(taken, (std::vector<int>{9, 10, 13}));
    EXPECT_EQ(requests.NextDue(false), SteadyTime::max());
    EXPECT_EQ(requests.NextDue(true), SteadyTime{});
    requests.Forget(XMOResyncLocal);
    EXPECT_EQ(Pending(requests), (std::vector<std::string>{"12 \\ 3"}));
}

}  // namespace
