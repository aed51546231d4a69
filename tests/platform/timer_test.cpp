#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using ondaline::platform::SerialQueue;
using ondaline::platform::Timer;
using Clock = Timer::Clock;

namespace {

// Waits on the queue until `duration` has passed, then drains it.
void settle(SerialQueue& queue, Clock::duration duration)
{
    std::promise<void> done;
    queue.asyncAfter(duration, [&] { done.set_value(); });
    done.get_future().wait();
}

}  // namespace

TEST(Timer, OneShotFiresOnceNotBeforeItsDeadline)
{
    SerialQueue queue("com.example.timer");
    Timer timer = queue.makeTimer();
    std::atomic<int> fired{0};
    const auto deadline = Clock::now() + 30ms;
    Clock::time_point firedAt;
    timer.scheduleOnce(deadline, [&] {
        firedAt = Clock::now();
        EXPECT_TRUE(queue.isCurrent());
        ++fired;
    });
    EXPECT_TRUE(timer.isScheduled());
    settle(queue, 100ms);
    EXPECT_EQ(fired, 1);
    EXPECT_GE(firedAt, deadline);
    EXPECT_FALSE(timer.isScheduled());
}

TEST(Timer, RepeatingTicksStayOnTheGridOfAbsoluteDeadlines)
{
    SerialQueue queue("com.example.repeat");
    Timer timer = queue.makeTimer();
    std::vector<Clock::time_point> ticks;  // queue only
    const auto first = Clock::now() + 5ms;
    const auto interval = 7ms;
    std::promise<void> enough;
    timer.scheduleRepeating(first, interval, [&] {
        ticks.push_back(Clock::now());
        if (ticks.size() == 10) {
            timer.cancel();
            enough.set_value();
        }
    });
    enough.get_future().wait();
    settle(queue, 30ms);
    ASSERT_EQ(ticks.size(), 10u);
    // Every tick is at or after its slot on the grid: never early, and a late
    // tick does not push the later slots back.
    for (std::size_t k = 0; k < ticks.size(); ++k) EXPECT_GE(ticks[k], first + k * interval) << "tick " << k;
}

TEST(Timer, LateRepeatingTimerSkipsMissedTicksInsteadOfBursting)
{
    SerialQueue queue("com.example.late");
    Timer timer = queue.makeTimer();
    std::atomic<int> ticks{0};
    queue.async([] { std::this_thread::sleep_for(100ms); });  // the queue is busy for 10 intervals
    timer.scheduleRepeating(Clock::now(), 10ms, [&] { ++ticks; });
    settle(queue, 0ms);  // runs right after the busy task and whatever fired then
    EXPECT_LE(ticks, 2);
    timer.cancel();
}

TEST(Timer, CancelledHandlerAlreadyQueuedNeverRuns)
{
    SerialQueue queue("com.example.queued");
    Timer timer = queue.makeTimer();
    std::promise<void> release;
    auto released = release.get_future().share();
    queue.async([released] { released.wait(); });  // hold the queue

    std::atomic<bool> fired{false};
    timer.scheduleOnce(Clock::now(), [&] { fired = true; });
    std::this_thread::sleep_for(20ms);  // the deadline passes; the handler waits behind the blocker
    timer.cancel();
    release.set_value();
    settle(queue, 20ms);
    EXPECT_FALSE(fired);
}

TEST(Timer, SchedulingAgainReplacesThePreviousSchedule)
{
    SerialQueue queue("com.example.replace");
    Timer timer = queue.makeTimer();
    std::atomic<int> first{0}, second{0};
    timer.scheduleOnce(Clock::now() + 10ms, [&] { ++first; });
    timer.scheduleOnce(Clock::now() + 20ms, [&] { ++second; });
    settle(queue, 60ms);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST(Timer, HandlerMayCancelRescheduleOrDestroyItsOwnTimer)
{
    SerialQueue queue("com.example.self");

    Timer repeating = queue.makeTimer();
    std::atomic<int> repeats{0};
    repeating.scheduleRepeating(Clock::now(), 1ms, [&] {
        ++repeats;
        repeating.cancel();
    });

    Timer chained = queue.makeTimer();
    std::atomic<int> chainRuns{0};
    std::function<void()> again = [&] {
        if (++chainRuns < 3) chained.scheduleAfter(1ms, again);
    };
    chained.scheduleAfter(1ms, again);

    auto owned = std::make_unique<Timer>(queue.makeTimer());
    std::atomic<bool> destroyed{false};
    // Scheduled from the queue, so the handler cannot run before
    // scheduleRepeating() has returned.
    queue.async([&] {
        owned->scheduleRepeating(Clock::now(), 1ms, [&] {
            owned.reset();
            destroyed = true;
        });
    });

    settle(queue, 50ms);
    EXPECT_EQ(repeats, 1);
    EXPECT_EQ(chainRuns, 3);
    EXPECT_TRUE(destroyed);
}

TEST(Timer, NoHandlerRunsAfterCancelReturnsFromAnotherThread)
{
    SerialQueue queue("com.example.race");
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        Timer timer = queue.makeTimer();
        std::atomic<bool> cancelled{false};
        std::atomic<int> lateRuns{0};
        std::atomic<bool> running{false};
        timer.scheduleRepeating(Clock::now(), 100us, [&] {
            running = true;
            if (cancelled) ++lateRuns;
            std::this_thread::sleep_for(50us);
            running = false;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        timer.cancel();
        cancelled = true;
        EXPECT_FALSE(running) << "round " << round;
        std::this_thread::sleep_for(300us);
        EXPECT_EQ(lateRuns, 0) << "round " << round;
    }
    queue.sync([] {});
}

TEST(Timer, ConcurrentSchedulesAndCancelsFromManyThreads)
{
    SerialQueue queue("com.example.storm");
    Timer timer = queue.makeTimer();
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                if ((i + t) % 3 == 0) timer.cancel();
                else timer.scheduleAfter(std::chrono::microseconds(i % 50), [&] { ++runs; });
            }
        });
    }
    for (auto& thread : threads) thread.join();
    timer.cancel();
    const int afterCancel = runs;
    settle(queue, 20ms);
    EXPECT_EQ(runs, afterCancel);
}

TEST(Timer, OutlivesItsQueueWithoutFiring)
{
    auto queue = std::make_unique<SerialQueue>("com.example.gone");
    Timer timer = queue->makeTimer();
    std::atomic<bool> fired{false};
    timer.scheduleOnce(Clock::now() + 1h, [&] { fired = true; });
    queue.reset();
    timer.scheduleOnce(Clock::now(), [&] { fired = true; });
    timer.cancel();
    EXPECT_FALSE(fired);
}
