#include "engine/send_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace ondaline;

TEST(SendQueue, BatchesWholeMessagesInOrderAndCountsUntilSent)
{
    SendQueue queue;
    EXPECT_FALSE(queue.take());
    EXPECT_EQ(queue.append(Bytes{1, 2, 3}), SendQueue::Append::queued);
    EXPECT_EQ(queue.append(Bytes{4, 5}), SendQueue::Append::queued);
    EXPECT_EQ(queue.sendQueueBytes(), 5);

    auto batch = queue.take();
    ASSERT_TRUE(batch);
    EXPECT_EQ(batch->bytes, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(queue.pendingBytes(), 0u);
    EXPECT_EQ(queue.sendQueueBytes(), 5);  // in flight still counts
    queue.batchFinished(batch->bytes.size(), batch->generation);
    EXPECT_EQ(queue.sendQueueBytes(), 0);
}

TEST(SendQueue, ResetForgetsBatchesOfTheOldConnection)
{
    SendQueue queue;
    queue.append(Bytes(100, 1));
    auto old = queue.take();
    queue.reset();
    queue.append(Bytes(10, 2));
    queue.batchFinished(old->bytes.size(), old->generation);  // a late completion
    EXPECT_EQ(queue.sendQueueBytes(), 10);
}

TEST(SendQueue, PastTheStallLimitItSaysSoOnceThenRefusesUntilReset)
{
    SendQueue queue;
    const Bytes chunk(1024 * 1024, 0);
    int stalls = 0, refusals = 0;
    for (int i = 0; i < 12; ++i) {
        switch (queue.append(chunk)) {
        case SendQueue::Append::nowStalled:
            ++stalls;
            break;
        case SendQueue::Append::refused:
            ++refusals;
            break;
        case SendQueue::Append::queued:
            break;
        }
    }
    EXPECT_EQ(stalls, 1);
    EXPECT_EQ(refusals, 3);
    EXPECT_LE(queue.sendQueueBytes(), SendQueue::stallLimitBytes + static_cast<std::int64_t>(chunk.size()));
    queue.reset();
    EXPECT_EQ(queue.append(chunk), SendQueue::Append::queued);
}

TEST(SendQueue, ConcurrentSendersAndFlushesKeepMessagesWholeAndTheCountExact)
{
    SendQueue queue;
    constexpr int senders = 4, messages = 2000;
    std::atomic<bool> done{false};
    std::vector<Bytes> batches;
    std::thread flusher([&] {
        while (!done) {
            if (auto batch = queue.take()) {
                queue.batchFinished(batch->bytes.size(), batch->generation);
                batches.push_back(std::move(batch->bytes));
            }
        }
        if (auto batch = queue.take()) {
            queue.batchFinished(batch->bytes.size(), batch->generation);
            batches.push_back(std::move(batch->bytes));
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < senders; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < messages; ++i) {
                // A message: its length, then that many copies of the sender's id.
                const auto length = static_cast<std::uint8_t>(1 + i % 200);
                Bytes message(1 + length, static_cast<std::uint8_t>(t));
                message[0] = length;
                queue.append(message);
            }
        });
    }
    for (auto& t : threads) t.join();
    done = true;
    flusher.join();

    EXPECT_EQ(queue.sendQueueBytes(), 0);
    std::vector<int> seen(senders, 0);
    for (const auto& batch : batches) {
        for (std::size_t at = 0; at < batch.size();) {
            const std::size_t length = batch[at];
            ASSERT_LE(at + 1 + length, batch.size()) << "a message was split across batches";
            const std::uint8_t sender = batch[at + 1];
            for (std::size_t k = 1; k <= length; ++k) ASSERT_EQ(batch[at + k], sender) << "messages interleaved";
            EXPECT_EQ(length, static_cast<std::size_t>(1 + seen[sender] % 200)) << "out of order";
            ++seen[sender];
            at += 1 + length;
        }
    }
    for (int t = 0; t < senders; ++t) EXPECT_EQ(seen[t], messages);
}
