// The engine against loopback peers: configuration, connecting, failing,
// disconnecting. The RTMP conversation itself is tested with the session.

#include "engine/ondaline.h"

#include "support/fault_relay.h"
#include "support/log_capture.h"
#include "support/recording_delegate.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>

using namespace std::chrono_literals;
using namespace ondaline;
using test::LogCapture;
using test::RecordingDelegate;
using test::TCPPeer;

namespace {

class OndalineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine_ = Ondaline::create(main_);
        engine_->setDelegate(delegate_);
    }

    // Lets every notice already posted reach the delegate.
    void settle()
    {
        engine_->networkQueue().sync([] {});
        main_->drain();
    }

    std::vector<std::string> stateLines(const LogCapture& log) const
    {
        std::vector<std::string> lines;
        for (const auto& line : log.messages()) {
            if (line.starts_with("Ondaline")) lines.push_back(line);
        }
        return lines;
    }

    std::shared_ptr<platform::QueueMainExecutor> main_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Ondaline> engine_;
};

}  // namespace

TEST_F(OndalineTest, StartsIdleWithTheDefaults)
{
    EXPECT_EQ(engine_->state(), StreamState::idle);
    EXPECT_FALSE(engine_->isConnected());
    EXPECT_EQ(engine_->streamMode(), StreamMode::rtmp);
    EXPECT_EQ(engine_->totalBytesSent(), 0u);
    EXPECT_EQ(engine_->audioPacketsSent(), 0u);
    EXPECT_EQ(engine_->spectrumLevels(), std::vector<float>(40, 0.0f));
    EXPECT_EQ(engine_->serverFields().serverPort, 1935);
    EXPECT_EQ(engine_->config(), Configuration{});
    EXPECT_EQ(engine_->icecastConfig(), IcecastConfig{});
    EXPECT_EQ(engine_->nowPlayingConfig(), NowPlayingConfig{});

    const Bytes& carrier = engine_->carrierBuffer();
    ASSERT_EQ(carrier.size(), 8192u);
    EXPECT_EQ(&carrier, &engine_->carrierBuffer());
    auto sample = [&](int index) {
        float value;
        std::memcpy(&value, carrier.data() + 4 * index, 4);
        return value;
    };
    EXPECT_EQ(sample(0), 0.0f);
    EXPECT_EQ(sample(1), 0.0f);
    EXPECT_FLOAT_EQ(sample(960), 0.001f);  // frame 480: a quarter period of 25 Hz at 48 kHz
    EXPECT_EQ(sample(960), sample(961));
}

TEST_F(OndalineTest, ConfigureWritesTheFiveSettings)
{
    engine_->configure("rtmp://h/app", "key", 128000, 48000, 1);
    EXPECT_EQ(engine_->config(), (Configuration{"rtmp://h/app", "key", 128000, 48000, 1}));
    engine_->configure("rtmp://h/app", "key");
    EXPECT_EQ(engine_->config().audioBitrate, 320000);
    EXPECT_EQ(engine_->state(), StreamState::idle);
}

TEST_F(OndalineTest, BadURLOrEmptyKeyIsReportedWithoutAConnection)
{
    LogCapture log;
    engine_->configure("http://h/live", "");
    engine_->connect();
    EXPECT_EQ(engine_->state(), StreamState::error);
    engine_->configure("rtmp://127.0.0.1/live", "");
    engine_->connect();  // from error a new attempt may start
    settle();
    EXPECT_EQ(stateLines(log), (std::vector<std::string>{
                                   "Ondaline ERROR: Invalid RTMP URL: http://h/live",
                                   "Ondaline: State → Error",
                                   "Ondaline ERROR: Stream key is empty",
                               }));
    EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"state:Error", "error:Invalid RTMP URL: http://h/live",
                                                             "error:Stream key is empty"}));
    EXPECT_EQ(engine_->state(), StreamState::error);
}

TEST_F(OndalineTest, AKeyInAnInvalidServerURLIsMaskedInTheErrorAndTheLog)
{
    LogCapture log;
    engine_->configure("live.example.com/app/abcd-1234-efgh", "abcd-1234-efgh");
    engine_->connect();
    settle();
    EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"state:Error", "error:Invalid RTMP URL: "
                                                                            "live.example.com/app/***"}));
    for (const std::string& line : log.messages()) EXPECT_EQ(line.find("abcd-1234"), std::string::npos) << line;
}

TEST_F(OndalineTest, RefusedConnectionReportsThenSettlesIdle)
{
    LogCapture log;
    const auto port = test::closedPort();
    engine_->configure("rtmp://127.0.0.1:" + std::to_string(port) + "/live", "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("state:Idle"));
    settle();
    EXPECT_EQ(stateLines(log), (std::vector<std::string>{
                                   "Ondaline: State → Connecting…",
                                   "Ondaline: Connecting to 127.0.0.1:" + std::to_string(port) + " app=live tls=false",
                                   "Ondaline: Connection failed: Connection refused",
                                   "Ondaline ERROR: Connection failed: Connection refused",
                                   "Ondaline: State → Error",
                                   "Ondaline: State → Idle",
                               }));
    EXPECT_EQ(delegate_->count("error:Connection failed: Connection refused"), 1);
    EXPECT_EQ(engine_->state(), StreamState::idle);
    EXPECT_EQ(engine_->reconnectAttempts(), 0);  // never live: no retry
}

TEST_F(OndalineTest, ReadyConnectionStartsTheHandshakeAndDisconnectEndsIdle)
{
    std::promise<void> peerSawEnd;
    TCPPeer peer([&](int s) {
        TCPPeer::readToEnd(s);
        peerSawEnd.set_value();
    });
    LogCapture log;
    engine_->configure("rtmp://127.0.0.1:" + std::to_string(peer.port()) + "/live/", "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("state:RTMP Handshake…"));
    EXPECT_EQ(engine_->serverFields().serverApp, "live");

    LogCapture again;
    engine_->connect();
    EXPECT_EQ(again.messages(), std::vector<std::string>{"Ondaline: Cannot connect — state is RTMP Handshake…"});

    engine_->disconnect();
    EXPECT_EQ(engine_->state(), StreamState::idle);  // on return
    ASSERT_EQ(peerSawEnd.get_future().wait_for(10s), std::future_status::ready);
    settle();
    EXPECT_EQ(stateLines(log),
              (std::vector<std::string>{
                  "Ondaline: State → Connecting…",
                  "Ondaline: Connecting to 127.0.0.1:" + std::to_string(peer.port()) + " app=live tls=false",
                  "Ondaline: TCP connected — starting RTMP handshake",
                  "Ondaline: State → RTMP Handshake…",
                  "Ondaline: Cannot connect — state is RTMP Handshake…",
                  "Ondaline: State → Disconnecting…",
                  "Ondaline: Disconnecting…",
                  "Ondaline: State → Idle",
              }));
    // The delegate hears the state changes before the disconnect.
    const auto events = delegate_->events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "disconnect");
    EXPECT_EQ(delegate_->count("disconnect"), 1);

    LogCapture after;
    engine_->disconnect();  // idle: nothing at all
    settle();
    EXPECT_TRUE(after.messages().empty());
    EXPECT_EQ(delegate_->count("disconnect"), 1);
}

TEST_F(OndalineTest, DisconnectWhileTheTLSHandshakeHangs)
{
    // The peer accepts TCP and never answers, so the attempt stays connecting.
    std::promise<void> accepted;
    TCPPeer peer([&](int s) {
        accepted.set_value();
        TCPPeer::readToEnd(s);
    });
    engine_->configure("rtmps://127.0.0.1:" + std::to_string(peer.port()) + "/live", "key");
    engine_->connect();
    accepted.get_future().wait();
    EXPECT_EQ(engine_->state(), StreamState::connecting);
    engine_->disconnect();
    EXPECT_EQ(engine_->state(), StreamState::idle);
    settle();
    EXPECT_EQ(delegate_->count("disconnect"), 1);
    EXPECT_EQ(delegate_->count("state:Error"), 0);
}

TEST_F(OndalineTest, FirstAttemptStillConnectingAfterTenSecondsIsReportedOnce)
{
    TCPPeer peer([](int s) { TCPPeer::readToEnd(s); });  // TCP only: the TLS handshake never ends
    LogCapture log;
    const std::string address = "127.0.0.1:" + std::to_string(peer.port());
    engine_->configure("rtmps://" + address + "/live", "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("state:Idle", 30s));
    settle();
    const std::string message = "Connection timed out after 10 s (" + address + ") — the port may not speak TLS";
    EXPECT_EQ(stateLines(log), (std::vector<std::string>{
                                   "Ondaline: State → Connecting…",
                                   "Ondaline: Connecting to " + address + " app=live tls=true",
                                   "Ondaline ERROR: " + message,
                                   "Ondaline: State → Error",
                                   "Ondaline: State → Idle",
                               }));
    EXPECT_EQ(delegate_->count("error:" + message), 1);
    // A state notice reads the state when it runs: Idle may follow Error
    // before the main thread gets to it.
    EXPECT_LE(delegate_->count("state:Error"), 1);
    EXPECT_EQ(engine_->reconnectAttempts(), 0);  // never live: no retry
    EXPECT_GE(delegate_->statsTicks(), 5);       // one a second while it waited
}

TEST_F(OndalineTest, ANewAttemptIsNotDisturbedByTheOldOnesNotices)
{
    // The first attempt fails; while its notices are still on their way the
    // user starts again, towards a peer that answers.
    TCPPeer peer([](int s) { TCPPeer::readToEnd(s); });
    engine_->configure("rtmp://127.0.0.1:" + std::to_string(test::closedPort()) + "/live", "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("error:Connection failed: Connection refused"));
    engine_->configure("rtmp://127.0.0.1:" + std::to_string(peer.port()) + "/live", "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("state:RTMP Handshake…"));
    std::this_thread::sleep_for(100ms);  // room for a stray notice of the first attempt
    EXPECT_EQ(engine_->state(), StreamState::handshaking);
    engine_->disconnect();
}

// A connection reset as soon as it is accepted fails the handshake's send
// and its read alike; which the engine hears of first is up to the timing,
// so the attempt is repeated. Each failed attempt is one error, no more.
TEST_F(OndalineTest, AConnectionResetAtOnceIsReportedOnce)
{
    test::FaultRelay relay(test::closedPort());
    relay.refuse(true);
    engine_->configure("rtmp://127.0.0.1:" + std::to_string(relay.port()) + "/live", "key");
    constexpr int attempts = 20;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        engine_->connect();
        ASSERT_TRUE(relay.waitUntil([&](const auto& counters) { return counters.refused == std::uint64_t(attempt); },
                                    10s));
        for (const auto giveUp = std::chrono::steady_clock::now() + 10s;
             engine_->state() != StreamState::idle && std::chrono::steady_clock::now() < giveUp;) {
            std::this_thread::sleep_for(1ms);
        }
        settle();
    }
    int errors = 0;
    for (const auto& event : delegate_->events()) errors += event.starts_with("error:");
    EXPECT_EQ(errors, attempts);
}

TEST_F(OndalineTest, ReleasingAnIdleEngineLeavesNothingBehind)
{
    std::weak_ptr<Ondaline> weak = engine_;
    engine_.reset();
    EXPECT_TRUE(weak.expired());
    main_->drain();
}
