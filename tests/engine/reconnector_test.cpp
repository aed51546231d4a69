#include "engine/reconnector.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using namespace ondaline;
using test::LogCapture;

namespace {

// Stands in for the engine: records what the rules ask for, and fires the
// scheduled retry when the test says so. No real time passes.
struct FakeEngine {
    std::vector<StreamState> states;
    struct Notice {
        NoticeKind kind;
        std::function<std::string()> text;
        bool retryPending;  // what a Stop pressed on hearing it would find
    };
    std::vector<Notice> notices;
    std::vector<long> delays;
    std::function<void()> pending;
    int connects = 0;

    Reconnector reconnector{Reconnector::Hooks{
        .setState = [this](StreamState s) { states.push_back(s); },
        .notifyError =
            [this](NoticeKind kind, std::function<std::string()> text) {
                notices.push_back({kind, std::move(text), static_cast<bool>(pending)});
            },
        .schedule =
            [this](std::chrono::seconds delay, std::function<void()> fire) {
                delays.push_back(static_cast<long>(delay.count()));
                pending = std::move(fire);
            },
        .cancelScheduled = [this] { pending = nullptr; },
        .connect = [this] { ++connects; },
    }};

    void fire()
    {
        auto retry = std::move(pending);
        pending = nullptr;
        ASSERT_TRUE(retry);
        retry();
    }
    std::string notice(std::size_t i) const { return notices.at(i).text(); }
};

}  // namespace

TEST(Reconnector, DelaysGrowBy5sUpTo30sThenItGivesUpAfterTenRetries)
{
    FakeEngine engine;
    engine.reconnector.streamWentLive();
    LogCapture log;

    for (int i = 0; i < 10; ++i) {
        engine.reconnector.attemptReconnect();
        EXPECT_EQ(engine.notice(engine.notices.size() - 1), "Reconnecting (" + std::to_string(i + 1) + "/10)…");
        EXPECT_EQ(engine.notices.back().kind, NoticeKind::retrying);
        EXPECT_TRUE(engine.notices.back().retryPending);
        engine.fire();  // the retry fails again, as a server that stays down makes it
    }
    EXPECT_EQ(engine.delays, (std::vector<long>{10, 15, 20, 25, 30, 30, 30, 30, 30, 30}));
    EXPECT_EQ(engine.connects, 10);
    EXPECT_EQ(engine.states, std::vector<StreamState>(10, StreamState::idle));

    engine.reconnector.attemptReconnect();  // the eleventh call
    EXPECT_EQ(engine.states.back(), StreamState::error);
    EXPECT_EQ(engine.notice(engine.notices.size() - 1), "Disconnected after 10 reconnect attempts");
    EXPECT_EQ(engine.notices.back().kind, NoticeKind::failure);
    EXPECT_FALSE(engine.reconnector.wasPublishing());
    EXPECT_FALSE(engine.pending);
    EXPECT_EQ(engine.reconnector.attempts(), 10);

    engine.reconnector.attemptReconnect();  // gives up again at once
    EXPECT_EQ(engine.notice(engine.notices.size() - 1), "Disconnected after 10 reconnect attempts");

    const auto lines = log.messages();
    EXPECT_EQ(lines.front(), "Ondaline: Reconnecting in 10s (attempt 1/10)…");
    EXPECT_EQ(lines[1], "Ondaline: Attempting reconnect #1");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Ondaline: Reconnecting in 30s (attempt 10/10)…"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Ondaline: Max reconnect attempts (10) reached, giving up"),
              lines.end());
}

TEST(Reconnector, GoingLiveAgainStartsTheCountAfresh)
{
    FakeEngine engine;
    engine.reconnector.streamWentLive();
    for (int i = 0; i < 4; ++i) {
        engine.reconnector.attemptReconnect();
        engine.fire();
    }
    engine.reconnector.streamWentLive();  // retry 4 got the stream back
    engine.reconnector.attemptReconnect();
    EXPECT_EQ(engine.delays.back(), 10);
    EXPECT_EQ(engine.notice(engine.notices.size() - 1), "Reconnecting (1/10)…");
}

TEST(Reconnector, NoticeCountsAsOfItsDeliveryAndCancelForgetsTheStream)
{
    FakeEngine engine;
    engine.reconnector.streamWentLive();
    engine.reconnector.attemptReconnect();
    engine.reconnector.attemptReconnect();  // replaces the pending retry with a longer one
    EXPECT_EQ(engine.delays, (std::vector<long>{10, 15}));
    EXPECT_EQ(engine.notice(0), "Reconnecting (2/10)…");  // delivered after the second call

    engine.reconnector.cancelReconnect();
    EXPECT_FALSE(engine.pending);
    EXPECT_EQ(engine.reconnector.attempts(), 0);
    EXPECT_FALSE(engine.reconnector.wasPublishing());
    EXPECT_EQ(engine.connects, 0);
}

// An hour with an outage every six minutes, each a little longer than the
// last (up to nine failed retries): every one is recovered, the count starts
// afresh each time the stream is live again, and the wait never exceeds 30 s.
TEST(Reconnector, AnHourOfOutagesIsRecoveredEveryTime)
{
    FakeEngine engine;
    double simulated = 0;
    int recovered = 0;
    for (int outage = 0; outage < 10; ++outage, simulated += 360) {
        engine.reconnector.streamWentLive();
        engine.reconnector.resetAttempts();
        const int failures = outage % 10;
        engine.reconnector.attemptReconnect();  // the connection is lost
        for (int i = 0; i < failures; ++i) {
            engine.fire();
            engine.reconnector.attemptReconnect();  // that retry failed too
        }
        engine.fire();  // this one goes live
        simulated += static_cast<double>(std::accumulate(engine.delays.end() - failures - 1, engine.delays.end(), 0L));
        EXPECT_EQ(engine.reconnector.attempts(), failures + 1);
        ++recovered;
    }
    EXPECT_EQ(recovered, 10);
    EXPECT_GE(simulated, 3600);
    EXPECT_EQ(std::count(engine.states.begin(), engine.states.end(), StreamState::error), 0);
    EXPECT_LE(*std::max_element(engine.delays.begin(), engine.delays.end()), 30);
}
