#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace ondaline::platform;

TEST(Clock, AbsoluteTimeNeverGoesBack)
{
    double previous = absoluteTime();
    for (int i = 0; i < 1000; ++i) {
        const double now = absoluteTime();
        EXPECT_GE(now, previous);
        previous = now;
    }
    SystemClock system;
    EXPECT_GE(system.now(), previous);
}

TEST(Clock, ManualClockMovesOnlyWhenToldEvenFromManyThreads)
{
    ManualClock clock(50.0);
    EXPECT_EQ(clock.now(), 50.0);
    clock.set(100.0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) clock.advance(0.25);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_DOUBLE_EQ(clock.now(), 1100.0);
}
