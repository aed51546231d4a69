#include "platform/net/connection.h"

#include "platform/dispatch/serial_queue.h"
#include "support/connection_probe.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using namespace ondaline;
using platform::Connection;
using platform::ConnectionOptions;
using platform::ReceiveResult;
using test::ConnectionProbe;
using test::TCPPeer;
using Kind = ConnectionProbe::Kind;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Fixture {
    ConnectionProbe probe;  // outlives the queue that reports to it
    platform::SerialQueue queue{"com.example.net"};
};

std::shared_ptr<Connection> start(Fixture& f, std::uint16_t port, ConnectionOptions options = {})
{
    auto connection = std::make_shared<Connection>("127.0.0.1", port, options);
    connection->setStateHandler(f.probe.handler());
    connection->start(f.queue);
    return connection;
}

std::future<ReceiveResult> receive(Connection& connection, std::size_t minimum, std::size_t maximum)
{
    auto promise = std::make_shared<std::promise<ReceiveResult>>();
    auto result = promise->get_future();
    connection.receive(minimum, maximum, [promise](ReceiveResult r) { promise->set_value(std::move(r)); });
    return result;
}

std::future<std::optional<std::string>> send(Connection& connection, Bytes bytes)
{
    auto promise = std::make_shared<std::promise<std::optional<std::string>>>();
    auto result = promise->get_future();
    connection.send(std::move(bytes), [promise](const std::optional<std::string>& e) { promise->set_value(e); });
    return result;
}

}  // namespace

TEST(Connection, ReadyThenCancelledExactlyOnceAfterSendingWhatWasQueued)
{
    std::promise<Bytes> received;
    TCPPeer peer([&](int s) { received.set_value(TCPPeer::readToEnd(s)); });
    Fixture f;
    auto connection = start(f, peer.port());
    ASSERT_TRUE(f.probe.waitFor(Kind::ready));

    Bytes big(1 << 20, 0x5A);
    auto sent = send(*connection, big);
    connection->cancel();  // right behind the send: it still goes out first
    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled));
    EXPECT_EQ(sent.get(), std::nullopt);
    EXPECT_EQ(received.get_future().get(), big);

    f.queue.sync([] {});
    EXPECT_EQ(f.probe.kinds(), (std::vector<Kind>{Kind::preparing, Kind::ready, Kind::cancelled}));
}

TEST(Connection, RefusedPortFailsThenCancelsOnce)
{
    Fixture f;
    auto connection = start(f, test::closedPort());
    ASSERT_TRUE(f.probe.waitFor(Kind::failed));
    EXPECT_EQ(f.probe.lastError(), "Connection refused");

    auto late = send(*connection, Bytes{1, 2, 3});
    EXPECT_EQ(late.get(), "Connection refused");

    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled));
    f.queue.sync([] {});
    EXPECT_EQ(f.probe.kinds(), (std::vector<Kind>{Kind::preparing, Kind::failed, Kind::cancelled}));
}

TEST(Connection, CancelBeforeReadyReportsOnlyCancelled)
{
    TCPPeer peer(nullptr, /*acceptConnection=*/false);
    Fixture f;
    auto connection = std::make_shared<Connection>("127.0.0.1", peer.port(), ConnectionOptions{});
    connection->setStateHandler(f.probe.handler());
    connection->start(f.queue);
    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled));
    f.queue.sync([] {});
    const auto kinds = f.probe.kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Kind::cancelled), 1);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Kind::ready), 0);
}

TEST(Connection, SendsFromTwoThreadsArriveWholeAndInCallOrder)
{
    // Large messages, far beyond the socket buffers, between small ones; with
    // writes on the caller's thread the small ones may leave at once, the
    // rest of a large one goes through the queue.
    constexpr int messagesPerThread = 40;
    const auto sizeOf = [](int i) { return i % 2 ? std::size_t(300) : std::size_t(256 * 1024); };
    for (const bool onCallersThread : {false, true}) {
        SCOPED_TRACE(onCallersThread ? "written on the caller's thread" : "written on the queue");
        std::promise<Bytes> received;
        TCPPeer peer([&](int s) { received.set_value(TCPPeer::readToEnd(s)); });
        Fixture f;
        auto connection = start(f, peer.port(), {.writeOnCallersThread = onCallersThread});
        ASSERT_TRUE(f.probe.waitFor(Kind::ready));

        std::atomic<int> failures{0}, completions{0};
        auto sender = [&](std::uint8_t thread) {
            for (int i = 0; i < messagesPerThread; ++i) {
                Bytes message(sizeOf(i), thread);
                message[1] = static_cast<std::uint8_t>(i);
                connection->send(std::move(message), [&](const std::optional<std::string>& e) {
                    if (e) ++failures;
                    ++completions;
                });
            }
        };
        std::thread a(sender, 1), b(sender, 2);
        a.join();
        b.join();
        connection->cancel();
        ASSERT_TRUE(f.probe.waitFor(Kind::cancelled, 60s));
        const Bytes all = received.get_future().get();
        EXPECT_EQ(failures, 0);
        EXPECT_EQ(completions, 2 * messagesPerThread);

        int next[3] = {0, 0, 0};
        std::size_t offset = 0;
        while (offset < all.size()) {
            const std::uint8_t thread = all[offset];
            ASSERT_TRUE(thread == 1 || thread == 2);
            const int index = all[offset + 1];
            ASSERT_EQ(index, next[thread]++) << "message out of order";
            const std::size_t size = sizeOf(index);
            ASSERT_LE(offset + size, all.size());
            // Whole: no other message's bytes inside this one.
            for (std::size_t k = 2; k < size; k += 97) ASSERT_EQ(all[offset + k], thread);
            ASSERT_EQ(all[offset + size - 1], thread);
            offset += size;
        }
        EXPECT_EQ(next[1] + next[2], 2 * messagesPerThread);
    }
}

TEST(Connection, ASmallSendOnTheCallersThreadCompletesBeforeItReturns)
{
    std::promise<Bytes> received;
    TCPPeer peer([&](int s) { received.set_value(TCPPeer::readToEnd(s)); });
    Fixture f;
    auto connection = start(f, peer.port(), {.writeOnCallersThread = true});
    ASSERT_TRUE(f.probe.waitFor(Kind::ready));
    for (int i = 0; i < 3; ++i) {
        bool completed = false;
        std::this_thread::sleep_for(50ms);  // the queue has let go of the last write
        connection->send(Bytes(100, std::uint8_t(i)), [&](const std::optional<std::string>& e) {
            EXPECT_FALSE(e);
            completed = true;
        });
        EXPECT_TRUE(completed) << "send " << i;
    }
    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled));
    EXPECT_EQ(received.get_future().get().size(), 300u);
}

// A small send never overtakes a large one the socket could not take at
// once: neither while the rest of it waits for the queue, nor while the
// queue writes it. The queue is held at both moments and the peer has read
// all that arrived, so the socket has room for a small write on the spot.
TEST(Connection, ASmallSendWaitsForTheRestOfALargeOne)
{
    constexpr std::size_t large = 16 << 20, small = 300;
    std::promise<void> drain[2];
    std::promise<std::size_t> drained[2];
    std::promise<Bytes> received;
    TCPPeer peer([&](int s) {
        Bytes all;
        std::uint8_t buffer[65536];
        for (int i = 0; i < 2; ++i) {
            if (drain[i].get_future().wait_for(30s) != std::future_status::ready) return;
            const std::size_t before = all.size();
            pollfd in{s, POLLIN, 0};
            for (ssize_t n = 1; n > 0 && poll(&in, 1, 300) == 1;) {  // until nothing more comes
                n = read(s, buffer, sizeof buffer);
                if (n > 0) all.insert(all.end(), buffer, buffer + n);
            }
            drained[i].set_value(all.size() - before);
        }
        const Bytes rest = TCPPeer::readToEnd(s);
        all.insert(all.end(), rest.begin(), rest.end());
        received.set_value(std::move(all));
    });
    // Completions may still run on the queue after a failed assertion
    // returns: what they write outlives it.
    std::mutex lock;
    std::vector<std::uint8_t> completed;
    std::promise<void> allSent;
    Fixture f;
    auto connection = start(f, peer.port(), {.writeOnCallersThread = true});
    ASSERT_TRUE(f.probe.waitFor(Kind::ready));
    f.queue.sync([] {});  // it has let go of the socket

    auto send = [&](std::size_t size, std::uint8_t tag) {
        connection->send(Bytes(size, tag), [&, tag](const std::optional<std::string>& e) {
            EXPECT_FALSE(e) << *e;
            std::lock_guard guard(lock);
            completed.push_back(tag);
            if (completed.size() == 3) allSent.set_value();
        });
    };
    std::promise<void> release[2], held[2];
    auto hold = [&](int i) {
        f.queue.async([&, i] {
            held[i].set_value();
            release[i].get_future().wait();
        });
    };

    hold(0);
    held[0].get_future().wait();
    send(large, 1);  // the rest waits for the queue
    hold(1);         // right after the queue starts writing that rest
    drain[0].set_value();
    EXPECT_GT(drained[0].get_future().get(), 0u) << "the large send went out in part at once";
    send(small, 2);
    release[0].set_value();
    held[1].get_future().wait();
    drain[1].set_value();
    drained[1].get_future().wait();
    send(small, 3);
    release[1].set_value();

    // All written before the cancel, whose bound for what is queued a slow
    // machine can spend on 16 MB.
    ASSERT_EQ(allSent.get_future().wait_for(60s), std::future_status::ready);
    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled, 60s));
    const Bytes all = received.get_future().get();
    ASSERT_EQ(all.size(), large + 2 * small);
    Bytes expected(large, 1);
    expected.resize(large + small, 2);
    expected.resize(large + 2 * small, 3);
    EXPECT_TRUE(all == expected) << "first out of place at byte "
                                 << std::mismatch(all.begin(), all.end(), expected.begin()).first - all.begin();
    EXPECT_EQ(completed, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(Connection, ReceiveGivesAShortTailThenEndOfStream)
{
    TCPPeer peer([](int s) {
        TCPPeer::writeAll(s, Bytes(100, 7));
        std::this_thread::sleep_for(20ms);
        TCPPeer::writeAll(s, Bytes(10, 8));
    });
    Fixture f;
    auto connection = start(f, peer.port());

    const auto first = receive(*connection, 60, 80).get();  // may be asked before ready
    EXPECT_GE(first.bytes.size(), 60u);
    EXPECT_LE(first.bytes.size(), 80u);
    EXPECT_FALSE(first.error);

    std::size_t total = first.bytes.size();
    ReceiveResult next;
    do {
        next = receive(*connection, 200, 200).get();  // more than will ever come
        total += next.bytes.size();
        EXPECT_FALSE(next.error);
    } while (!next.bytes.empty());
    EXPECT_EQ(total, 110u);
    EXPECT_TRUE(next.isComplete);
    EXPECT_FALSE(next.error);
    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled));
}

TEST(Connection, TLSToAPeerThatHangsUpFailsTheHandshake)
{
    TCPPeer peer([](int) {});  // accepts and closes at once
    Fixture f;
    ConnectionOptions options;
    options.useTLS = true;
    auto connection = start(f, peer.port(), options);
    ASSERT_TRUE(f.probe.waitFor(Kind::failed));
    EXPECT_TRUE(f.probe.lastError().starts_with("TLS handshake failed: ")) << f.probe.lastError();
    connection->cancel();
    ASSERT_TRUE(f.probe.waitFor(Kind::cancelled));
}

TEST(Connection, DroppingTheLastHandleClosesTheSocket)
{
    std::promise<Bytes> received;
    TCPPeer peer([&](int s) { received.set_value(TCPPeer::readToEnd(s)); });
    Fixture f;
    {
        auto connection = start(f, peer.port());
        ASSERT_TRUE(f.probe.waitFor(Kind::ready));
        connection->send(Bytes{1, 2, 3}, nullptr);
    }
    auto result = received.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);  // the peer saw the end
    EXPECT_EQ(result.get(), (Bytes{1, 2, 3}));
}
