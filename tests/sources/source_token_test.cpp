// Never two sources: a switch makes everything of the switches before it
// stale, waits for the buffer being handled under the old token, and a start
// that ends stale is undone wherever that is noticed, and never shown.

#include "sources/source_token.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace ondaline;
using namespace ondaline::sources;
using namespace std::chrono_literals;

namespace {

// What reached `undo` and `finish` of one start.
struct Outcome {
    std::shared_ptr<platform::QueueMainExecutor> main;
    std::atomic<int> undone{0}, finished{0}, result{0};
    std::atomic<bool> finishedOnMain = false;
    std::function<void(int&)> undo()
    {
        return [this](int& r) {
            result = r;
            ++undone;
        };
    }
    std::function<void(int&)> finish()
    {
        return [this](int& r) {
            result = r;
            finishedOnMain = main->queue().isCurrent();
            ++finished;
        };
    }
};

}  // namespace

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

// A current start is shown on the main thread. One whose token goes stale
// during it, or while its outcome waits for the main thread, is undone; one
// stale before the worker reaches it never runs.
TEST(SourceStarter, OnlyACurrentStartIsShownAndStaleOnesAreUndone)
{
    auto main = std::make_shared<platform::QueueMainExecutor>();
    Outcome shown{main}, during{main}, before{main}, late{main};
    std::promise<void> entered, release, mainFree, queued;
    std::atomic<bool> beforeRan = false;
    SourceStarter starter(main);
    const auto gate = starter.gate();

    starter.start<int>(
        gate->take(), [] { return 7; }, shown.undo(), shown.finish());
    while (shown.finished == 0) main->drain();
    starter.start<int>(
        gate->take(),
        [&] {
            entered.set_value();
            release.get_future().wait();
            return 1;
        },
        during.undo(), during.finish());
    entered.get_future().wait();
    starter.start<int>(
        gate->take(),
        [&] {
            beforeRan = true;
            return 2;
        },
        before.undo(), before.finish());
    gate->take();
    release.set_value();

    // The main thread is busy; the start after `late` runs once late's
    // outcome is queued there.
    main->post([free = mainFree.get_future().share()] { free.wait(); });
    const auto token = gate->take();
    starter.start<int>(
        token, [] { return 3; }, late.undo(), late.finish());
    starter.start<int>(
        token,
        [&] {
            queued.set_value();
            return 4;
        },
        [](int&) {}, [](int&) {});
    queued.get_future().wait();
    gate->take();
    mainFree.set_value();
    main->drain();

    EXPECT_EQ(shown.result, 7);
    EXPECT_TRUE(shown.finishedOnMain);
    EXPECT_EQ(shown.undone, 0);
    EXPECT_EQ(during.undone, 1);
    EXPECT_EQ(during.result, 1);
    EXPECT_FALSE(beforeRan);
    EXPECT_EQ(late.undone, 1);
    EXPECT_EQ(late.result, 3);
    EXPECT_EQ(during.finished + before.finished + before.undone + late.finished, 0);
}

// The owner going while a start runs: it waits for the start and undoes it.
TEST(SourceStarter, GoingAwayUndoesTheStartUnderWay)
{
    auto main = std::make_shared<platform::QueueMainExecutor>();
    Outcome outcome{main};
    std::promise<void> entered, release;
    auto starter = std::make_unique<SourceStarter>(main);
    starter->start<int>(
        starter->gate()->take(),
        [&] {
            entered.set_value();
            release.get_future().wait();
            return 5;
        },
        outcome.undo(), outcome.finish());
    entered.get_future().wait();
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        release.set_value();
    });
    starter.reset();
    releaser.join();
    main->drain();
    EXPECT_EQ(outcome.undone, 1);
    EXPECT_EQ(outcome.finished, 0);
}
