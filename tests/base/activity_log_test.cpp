#include "base/activity_log.h"

#include "platform/dispatch/main_executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <future>
#include <regex>
#include <thread>
#include <vector>

using namespace std::chrono;
using ondaline::ActivityLog;
using ondaline::platform::QueueMainExecutor;

namespace {

// Log times are local; pin the zone so the expected texts are fixed.
class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }

    // 2026-12-07 14:03:27.081 UTC
    static system_clock::time_point fixedTime() { return system_clock::time_point(1796652207081ms); }

    static std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> result;
        std::size_t pos = 0;
        for (;;) {
            const auto end = text.find('\n', pos);
            result.push_back(text.substr(pos, end - pos));
            if (end == std::string::npos) return result;
            pos = end + 1;
        }
    }
};

}  // namespace

TEST_F(ActivityLogTest, StartsWithTheHeaderLineAlone)
{
    auto log = std::make_shared<ActivityLog>(fixedTime);
    EXPECT_EQ(log->allText(), "═══ Ondaline Session Log — 2026-12-07 14:03:27 UTC ═══");
}

TEST_F(ActivityLogTest, StampsEachLineWithTheTimeToTheMillisecond)
{
    auto log = std::make_shared<ActivityLog>(fixedTime);
    log->append("Ondaline: State → Live");
    log->append("two\nlines stay one entry");
    EXPECT_EQ(log->allText(), "═══ Ondaline Session Log — 2026-12-07 14:03:27 UTC ═══\n"
                              "[14:03:27.081] Ondaline: State → Live\n"
                              "[14:03:27.081] two\nlines stay one entry");
    EXPECT_EQ(ondaline::formatLogTime(system_clock::time_point(5ms)), "00:00:00.005");
    EXPECT_EQ(ondaline::formatLogTime(system_clock::time_point(-1ms)), "23:59:59.999");
}

TEST_F(ActivityLogTest, KeepsTheNewestFiveThousandLines)
{
    auto log = std::make_shared<ActivityLog>(fixedTime);
    for (int i = 1; i <= 5000; ++i) log->append("line " + std::to_string(i));
    auto stored = lines(log->allText());
    ASSERT_EQ(stored.size(), 5000u);
    EXPECT_EQ(stored.front(), "[14:03:27.081] line 1");  // the header went first
    EXPECT_EQ(stored.back(), "[14:03:27.081] line 5000");

    log->append("line 5001");
    stored = lines(log->allText());
    ASSERT_EQ(stored.size(), 5000u);
    EXPECT_EQ(stored.front(), "[14:03:27.081] line 2");
    EXPECT_EQ(stored.back(), "[14:03:27.081] line 5001");
}

TEST_F(ActivityLogTest, CallsOnNewEntryOnTheMainExecutorOncePerLine)
{
    auto main = std::make_shared<QueueMainExecutor>();
    auto log = std::make_shared<ActivityLog>();
    log->setMainExecutor(main);
    std::atomic<int> calls{0};
    std::atomic<bool> offMain{false};
    log->setOnNewEntry([&] {
        if (!main->queue().isCurrent()) offMain = true;
        ++calls;
    });
    for (int i = 0; i < 10; ++i) log->append("x");
    main->drain();
    EXPECT_EQ(calls, 10);
    EXPECT_FALSE(offMain);
}

TEST_F(ActivityLogTest, QueuedNotificationsCallTheCallbackSetWhenTheyRun)
{
    auto main = std::make_shared<QueueMainExecutor>();
    auto log = std::make_shared<ActivityLog>();
    log->setMainExecutor(main);

    // Without a callback the lines are stored and the tasks do nothing.
    log->append("unheard");
    main->drain();
    EXPECT_NE(log->allText().find("] unheard"), std::string::npos);

    std::promise<void> release;
    auto released = release.get_future().share();
    main->post([released] { released.wait(); });
    for (int i = 0; i < 3; ++i) log->append("pending");
    std::atomic<int> calls{0};
    log->setOnNewEntry([&] { ++calls; });
    release.set_value();
    main->drain();
    EXPECT_EQ(calls, 3);
}

TEST_F(ActivityLogTest, NotificationsForAGoneLogDoNothing)
{
    auto main = std::make_shared<QueueMainExecutor>();
    std::promise<void> release;
    auto released = release.get_future().share();
    main->post([released] { released.wait(); });
    std::atomic<int> calls{0};
    {
        auto log = std::make_shared<ActivityLog>();
        log->setMainExecutor(main);
        log->setOnNewEntry([&] { ++calls; });
        log->append("soon gone");
    }
    release.set_value();
    main->drain();
    EXPECT_EQ(calls, 0);
}

TEST_F(ActivityLogTest, ManyThreadsLogWholeLines)
{
    auto main = std::make_shared<QueueMainExecutor>();
    auto log = std::make_shared<ActivityLog>();
    log->setMainExecutor(main);
    std::atomic<int> calls{0};
    log->setOnNewEntry([&] { ++calls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) log->append("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    }
    std::thread reader([&] {
        for (int i = 0; i < 50; ++i) (void)log->allText();
    });
    for (auto& t : threads) t.join();
    reader.join();
    main->drain();
    EXPECT_EQ(calls, 2000);

    const std::regex shape(R"(\[\d\d:\d\d:\d\d\.\d{3}\] thread \d line \d+)");
    const auto stored = lines(log->allText());
    ASSERT_EQ(stored.size(), 2001u);
    for (std::size_t i = 1; i < stored.size(); ++i) EXPECT_TRUE(std::regex_match(stored[i], shape)) << stored[i];
}

TEST_F(ActivityLogTest, SharedLogIsOneInstance)
{
    EXPECT_EQ(&ActivityLog::shared(), &ActivityLog::shared());
    EXPECT_TRUE(ActivityLog::shared().allText().starts_with("═══ Ondaline Session Log — "));
}
