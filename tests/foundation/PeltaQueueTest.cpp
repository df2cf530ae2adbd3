#include "foundation/Constants.h"
#include "foundation/PeltaQueue.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

TEST(PeltaQueue, EmptyPopAndFifoOrder)
{
    PeltaQueue queue;
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Count(), 0);

    queue.Push(std::make_unique<PeltaFSQueue>(XMOAdded, QStringLiteral("\\a")));
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
}

// Items left in a queue are freed with it (the sanitizer reports a leak otherwise).
TEST(PeltaQueue, DestroyingAQueueFreesItsItems)
{
    PeltaQueue queue;
    for (int i = 0; i < 3; ++i)
        queue.Push(std::make_unique<PeltaFSQueue>(XMOModified, QString::number(i)));
}

// A producer and a consumer that take no external lock neither lose nor
// duplicate items, and each producer's items keep their order.
TEST(PeltaQueue, ConcurrentPushAndPopWithoutExternalLock)
{
    PeltaQueue queue;
    constexpr int perProducer = 5000;
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p)
        producers.emplace_back([&queue, p] {
            for (int i = 0; i < perProducer; ++i)
                queue.Push(std::make_unique<PeltaFSQueue>(p, QString::number(i)));
        });

    std::set<std::pair<int, int>> seen;
    int lastOf[2] = {-1, -1};
    bool ordered = true;
    while (seen.size() < 2 * perProducer) {
        auto item = queue.Pop();
        if (!item) {
            std::this_thread::yield();
            continue;
        }
        const int n = item->path.toInt();
        ordered = ordered && n > lastOf[item->status];
        lastOf[item->status] = n;
        seen.insert({item->status, n});
    }
    for (auto& t : producers)
        t.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(queue.Count(), 0);
}
