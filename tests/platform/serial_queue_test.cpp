#include "platform/dispatch/serial_queue.h"
#include "platform/random_bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using ondaline::platform::SerialQueue;

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread)
{
    SerialQueue queue("com.example.order");
    std::vector<int> seen;  // touched only on the queue
    std::thread::id worker;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            EXPECT_TRUE(queue.isCurrent());
            worker = std::this_thread::get_id();
            seen.push_back(i);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, KeepsEachProducersOrderUnderConcurrentPosts)
{
    SerialQueue queue("com.example.producers");
    constexpr int producers = 4, perProducer = 500;
    std::vector<std::vector<int>> seen(producers);
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i) queue.async([&, p, i] { seen[p].push_back(i); });
        });
    }
    for (auto& t : threads) t.join();
    queue.sync([] {});
    for (int p = 0; p < producers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<std::size_t>(perProducer));
        for (int i = 0; i < perProducer; ++i) EXPECT_EQ(seen[p][i], i);
    }
}

TEST(SerialQueue, DelayedTasksRunByDeadlineNotBySubmission)
{
    SerialQueue queue("com.example.delay");
    std::promise<std::vector<int>> result;
    auto order = std::make_shared<std::vector<int>>();
    const auto start = SerialQueue::Clock::now();
    queue.asyncAfter(60ms, [&, order] {
        order->push_back(2);
        EXPECT_GE(SerialQueue::Clock::now() - start, 60ms);
        result.set_value(*order);
    });
    queue.asyncAt(start + 20ms, [order] { order->push_back(1); });
    queue.async([order] { order->push_back(0); });
    EXPECT_EQ(result.get_future().get(), (std::vector<int>{0, 1, 2}));
}

TEST(SerialQueue, SyncWaitsRunsInlineOnItselfAndPassesExceptionsBack)
{
    SerialQueue queue("com.example.sync");
    int value = 0;
    queue.sync([&] { value = 1; });
    EXPECT_EQ(value, 1);

    // Nested sync on the same queue must not deadlock.
    queue.sync([&] { queue.sync([&] { value = 2; }); });
    EXPECT_EQ(value, 2);

    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST(SerialQueue, ThrowingTaskDoesNotStopTheQueue)
{
    SerialQueue queue("com.example.throw");
    queue.async([] { throw std::runtime_error("a task failed on purpose"); });
    std::atomic<bool> ran{false};
    queue.async([&] { ran = true; });
    queue.sync([] {});
    EXPECT_TRUE(ran);
}

TEST(SerialQueue, DestroyingDropsTasksNotYetStartedWithoutWaitingForThem)
{
    auto ran = std::make_shared<std::atomic<bool>>(false);
    const auto start = SerialQueue::Clock::now();
    {
        SerialQueue queue("com.example.drop");
        queue.asyncAfter(1h, [ran] { *ran = true; });
    }
    EXPECT_FALSE(*ran);
    EXPECT_LT(SerialQueue::Clock::now() - start, 30s);
    // The dropped task's captures are released.
    EXPECT_EQ(ran.use_count(), 1);
}

TEST(SerialQueue, DestroyedFromOneOfItsOwnTasks)
{
    auto queue = std::make_unique<SerialQueue>("com.example.self");
    std::promise<void> posted, done;
    auto postedFuture = posted.get_future();
    queue->async([&] {
        postedFuture.wait();  // async() has returned: nobody else uses the queue now
        queue.reset();        // destroys the queue while this task runs on it
        done.set_value();
    });
    posted.set_value();
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_EQ(queue, nullptr);
}

// The exit that comes while such a queue's thread still tears its owner down
// waits for it, and for what OpenSSL kept for that thread to be freed (lost
// to a leak check otherwise, as an engine's network thread's was).
TEST(SerialQueueDeathTest, ExitWaitsForAQueueDestroyedFromItsOwnTask)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto* queue = new SerialQueue("com.example.loose");
            std::promise<void> posted;
            std::promise<void> letGo;
            auto postedFuture = posted.get_future();
            queue->async([&] {
                std::array<std::uint8_t, 32> bytes{};
                (void)ondaline::platform::randomBytes(bytes);
                postedFuture.wait();
                delete queue;
                letGo.set_value();
                std::this_thread::sleep_for(300ms);
                std::fputs("owner torn down\n", stderr);
            });
            posted.set_value();
            letGo.get_future().wait();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "owner torn down");
}
