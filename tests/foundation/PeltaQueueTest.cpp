#include "foundation/Constants.h"
#include "foundation/PeltaQueue.h"

#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <utility>
#include <vector>

// A null item is not queued: Pop's null means "empty", and a queued null
// would hide the items behind it.
TEST(PeltaQueue, EmptyPopFifoOrderAndNoNullItems)
{
    PeltaQueue queue;
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Count(), 0);

    queue.Push(std::make_unique<PeltaFSQueue>(XMOAdded, QStringLiteral("\\a")));
    queue.Push(nullptr);
    queue.Push(std::make_unique<PeltaFSQueue>(XMORenameOldName, QStringLiteral("\\b"), QStringLiteral("\\c")));
    EXPECT_EQ(queue.Count(), 2);

    auto first = queue.Pop();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->path, QStringLiteral("\\a"));
    EXPECT_TRUE(first->path2.isEmpty());
    auto second = queue.Pop();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->status, XMORenameOldName);
    EXPECT_EQ(second->path2, QStringLiteral("\\c"));
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.Pop(), nullptr);
}

// Two producers and a consumer that take no external lock neither lose nor
// duplicate items, and each producer's items keep their order. A lost item
// fails the test after the bounded wait instead of hanging it.
TEST(PeltaQueue, ConcurrentPushAndPopWithoutExternalLock)
{
    PeltaQueue queue;
    constexpr int Producers = 2;
    constexpr int PerProducer = 5000;
    std::vector<std::thread> producers;
    for (int p = 0; p < Producers; ++p)
        producers.emplace_back([&queue, p] {
            for (int i = 0; i < PerProducer; ++i)
                queue.Push(std::make_unique<PeltaFSQueue>(p, QString::number(i)));
        });

    std::set<std::pair<int, int>> seen;
    int popped = 0;
    int lastOf[Producers] = {-1, -1};
    bool ordered = true;
    auto drain = [&] {
        while (auto item = queue.Pop()) {
            ++popped;
            const int n = item->path.toInt();
            ordered = ordered && n > lastOf[item->status];
            lastOf[item->status] = n;
            seen.insert({item->status, n});
        }
        return seen.size() == Producers * PerProducer;
    };
    const bool all = WaitUntil(drain);
    for (auto& t : producers)
        t.join();
    drain();
    EXPECT_TRUE(all) << seen.size() << " distinct items arrived";
    EXPECT_EQ(popped, Producers * PerProducer);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(queue.Count(), 0);
}
