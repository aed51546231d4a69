// Never two sources: a switch makes everything of the switches before it
// stale and waits for the buffer being handled under the old token.

#include "sources/source_token.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace ondaline;
using namespace ondaline::sources;
using namespace std::chrono_literals;

TEST(SourceTokenGate, OnlyTheNewestTokenIsCurrentAndASwitchWaitsForItsWork)
{
    SourceTokenGate gate;
    const auto token = gate.take();
    std::atomic<bool> inside = false, handled = false, switched = false;
    std::atomic<int> afterSwitch = 0;
    std::thread source([&] {
        gate.whileCurrent(token, [&] {
            inside = true;
            std::this_thread::sleep_for(50ms);
            handled = true;
        });
        while (!switched) std::this_thread::yield();
        for (int i = 0; i < 100; ++i) gate.whileCurrent(token, [&] { ++afterSwitch; });
    });
    while (!inside) std::this_thread::yield();
    const auto next = gate.take();
    EXPECT_TRUE(handled);  // the buffer under way was handled whole
    switched = true;
    source.join();
    EXPECT_EQ(afterSwitch, 0);
    EXPECT_TRUE(gate.isCurrent(next) && !gate.isCurrent(token) && !gate.isCurrent(0));
    gate.close();
    EXPECT_FALSE(gate.isCurrent(next));
    EXPECT_FALSE(gate.isCurrent(gate.take()));  // closed for good
}
