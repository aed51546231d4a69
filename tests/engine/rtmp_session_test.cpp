// The engine's RTMP session against scripted servers: the normal publish
// sequence, odd and hostile replies, and the bounds on what a server may
// send.

#include "engine/ondaline.h"

#include "engine/rtmp/commands.h"
#include "support/log_capture.h"
#include "support/recording_delegate.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using namespace ondaline;
using test::LogCapture;
using test::RecordingDelegate;
using test::ScriptedRTMPServer;
using test::TCPPeer;

namespace {

class RTMPSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine_ = Ondaline::create(main_);
        engine_->setDelegate(delegate_);
    }
    void TearDown() override
    {
        engine_->disconnect();
        peer_.reset();
    }

    // Starts a scripted server and connects the engine to it.
    void serve(std::function<void(ScriptedRTMPServer&)> script, StreamMode mode = StreamMode::rtmp)
    {
        peer_ = std::make_unique<TCPPeer>([script = std::move(script)](int s) {
            ScriptedRTMPServer server(s);
            script(server);
        });
        engine_->setStreamMode(mode);
        engine_->configure("rtmp://127.0.0.1:" + std::to_string(peer_->port()) + "/live", "secret-key");
        engine_->connect();
    }

    // Keeps the server's side open until the client goes.
    static void holdUntilClientCloses(ScriptedRTMPServer& server) { server.readUntilClosed(); }

    // The failed attempt's connection is closed after the error: error, then idle.
    bool becomesIdle()
    {
        for (int i = 0; i < 250; ++i) {
            if (engine_->state() == StreamState::idle) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void settle()
    {
        engine_->networkQueue().sync([] {});
        main_->drain();
    }

    std::shared_ptr<platform::QueueMainExecutor> main_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Ondaline> engine_;
    std::unique_ptr<TCPPeer> peer_;
};

}  // namespace

TEST_F(RTMPSession, PublishesThroughTheCommandSequenceAndClosesIt)
{
    std::promise<std::vector<std::string>> seen;
    LogCapture log;
    serve([&](ScriptedRTMPServer& server) {
        std::vector<std::string> commands;
        if (!server.handshake()) return;
        auto connect = server.waitForCommand("connect");
        const auto& object = *(*connect)[2].objectValue();
        commands.push_back("connect " + std::to_string(int(*(*connect)[1].numberValue())) +
                           " app=" + *object.at("app").stringValue() + " tcUrl=" + *object.at("tcUrl").stringValue());
        server.sendResult(1);
        for (const char* name : {"releaseStream", "FCPublish", "createStream"}) {
            auto values = server.waitForCommand(name);
            commands.push_back(std::string(name) + " " + std::to_string(int(*(*values)[1].numberValue())));
        }
        server.sendResult(4, AMF0Value::number(1));
        auto publish = server.waitForCommand("publish");
        commands.push_back("publish " + *(*publish)[3].stringValue() + " " + *(*publish)[4].stringValue());
        server.sendStatus("NetStream.Publish.Start");
        for (const char* name : {"FCUnpublish", "deleteStream"}) {
            auto values = server.waitForCommand(name);
            commands.push_back(std::string(name) + " " + std::to_string(int(*(*values)[1].numberValue())));
        }
        commands.push_back(server.nextMessage() ? "more" : "closed");
        seen.set_value(commands);
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
    EXPECT_EQ(engine_->state(), StreamState::publishing);
    engine_->disconnect();

    auto commands = seen.get_future();
    ASSERT_EQ(commands.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(commands.get(),
              (std::vector<std::string>{"connect 1 app=live tcUrl=rtmp://127.0.0.1:" + std::to_string(peer_->port()) +
                                            "/live",
                                        "releaseStream 2", "FCPublish 3", "createStream 4", "publish secret-key live",
                                        "FCUnpublish 5", "deleteStream 6", "closed"}));
    for (const char* line :
         {"Ondaline: Handshake complete", "Ondaline: Set outgoing chunk size: 128 → 4096",
          "Ondaline: Received command: _result",
          "Ondaline: connect accepted — sending releaseStream/FCPublish/createStream",
          "Ondaline: Got stream ID = 1 — publishing", "Ondaline: onStatus code=NetStream.Publish.Start",
          "Ondaline: ✓ Publishing live!", "Ondaline: State → Live"}) {
        EXPECT_TRUE(log.contains(line)) << line;
    }
    settle();
    const auto events = delegate_->events();
    const auto live = std::find(events.begin(), events.end(), "connect");
    EXPECT_NE(std::find(events.begin(), live, "state:Live"), live);  // the state notice comes first
}

TEST_F(RTMPSession, WrongVersionOrShortReplyEndsTheHandshake)
{
    serve([](ScriptedRTMPServer& server) {
        server.handshake(6);
        holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("error:Unsupported RTMP version: 6"));
    EXPECT_TRUE(becomesIdle());

    serve([](ScriptedRTMPServer&) {});  // handshake never answered: the peer hangs up at once
    ASSERT_TRUE(delegate_->waitFor("error:Incomplete handshake response"));
}

TEST_F(RTMPSession, ServerThatNeverAnswersHitsTheNegotiationLimit)
{
    serve([](ScriptedRTMPServer& server) {
        server.handshake();
        holdUntilClientCloses(server);  // reads, never replies
    });
    ASSERT_TRUE(delegate_->waitFor("error:RTMP negotiation timed out", 30s));
}

TEST_F(RTMPSession, ServerErrorWithAndWithoutDescription)
{
    serve([](ScriptedRTMPServer& server) {
        server.handshake();
        server.waitForCommand("connect");
        server.sendError(1, "Application not found");
        holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("error:Application not found"));

    serve([](ScriptedRTMPServer& server) {
        server.handshake();
        server.waitForCommand("connect");
        server.sendError(1, std::nullopt);
        holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("error:Server error"));
}

TEST_F(RTMPSession, PublishRefusedOrAnsweredWithACodeThatIsOnlyLogged)
{
    auto answerPublishWith = [](std::string code) {
        return [code](ScriptedRTMPServer& server) {
            server.handshake();
            server.waitForCommand("connect");
            server.sendResult(1);
            server.waitForCommand("createStream");
            server.sendResult(4, AMF0Value::number(1));
            server.waitForCommand("publish");
            server.sendStatus(code);
            holdUntilClientCloses(server);
        };
    };
    serve(answerPublishWith("NetStream.Publish.Denied"));
    ASSERT_TRUE(delegate_->waitFor("error:Publish failed: NetStream.Publish.Denied"));

    LogCapture log;
    serve(answerPublishWith("NetStream.Publish.BadName"));
    for (int i = 0; i < 100 && !log.contains("Ondaline: onStatus code=NetStream.Publish.BadName"); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(log.contains("Ondaline: onStatus code=NetStream.Publish.BadName"));
    EXPECT_EQ(engine_->state(), StreamState::negotiating);
}

TEST_F(RTMPSession, ServerChunkSizeSplitReadsAndExtendedTimestamps)
{
    serve([](ScriptedRTMPServer& server) {
        server.handshake();
        server.waitForCommand("connect");
        // A small chunk size, announced first, then a reply cut into many
        // chunks with extended timestamps, trickled a few bytes at a time.
        server.send({rtmp::setChunkSizeType, 0, 2, 0}, rtmp::uint32Payload(16));
        server.setOutChunkSize(16);
        const Bytes result = *rtmp::serializeMessage(
            {rtmp::commandAMF0Type, 0, 3, 0xFFFFFF},
            test::amf0Payload({AMF0Value::string("_result"), AMF0Value::number(1), AMF0Value::null(),
                               AMF0Value::object({{"description", AMF0Value::string(std::string(100, 'x'))}})}),
            16);
        for (std::size_t at = 0; at < result.size(); at += 5) {
            server.sendRaw(Bytes(result.begin() + at, result.begin() + std::min(at + 5, result.size())));
            std::this_thread::sleep_for(1ms);
        }
        server.waitForCommand("createStream");
        server.sendResult(4, AMF0Value::number(1));
        server.waitForCommand("publish");
        server.sendStatus("NetStream.Publish.Start");
        holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
}

TEST_F(RTMPSession, AcknowledgesEachWindowAndAnswersPings)
{
    std::promise<std::vector<std::uint32_t>> acks;
    std::promise<Bytes> pong;
    LogCapture log;
    serve([&](ScriptedRTMPServer& server) {
        if (!server.acceptPublish()) return;
        server.send({rtmp::windowAckSizeType, 0, 2, 0}, rtmp::uint32Payload(1000));
        const auto echoed = server.waitForType(rtmp::windowAckSizeType);
        if (!echoed || echoed->data != rtmp::uint32Payload(1000)) return;
        std::vector<std::uint32_t> values;
        for (int i = 0; i < 3; ++i) {
            server.send({rtmp::dataAMF0Type, 1, 5, 0}, Bytes(1100, 0x01));  // over one window each
            const auto ack = server.waitForType(rtmp::acknowledgementType);
            if (!ack) break;
            values.push_back(*readUInt32BE(ack->data, 0));
        }
        acks.set_value(values);
        server.send({rtmp::userControlType, 0, 2, 0}, Bytes{0x00, 0x06, 0x00, 0x00, 0x01, 0xF4});
        const auto response = server.waitForType(rtmp::userControlType);
        pong.set_value(response ? response->data : Bytes{});
        holdUntilClientCloses(server);
    });
    auto ackValues = acks.get_future();
    ASSERT_EQ(ackValues.wait_for(20s), std::future_status::ready);
    const auto values = ackValues.get();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_GE(values[1], values[0] + 1100);
    EXPECT_GE(values[2], values[1] + 1100);
    EXPECT_EQ(pong.get_future().get(), (Bytes{0x00, 0x07, 0x00, 0x00, 0x01, 0xF4}));
    EXPECT_TRUE(log.contains("Ondaline: Window ack size = 1000"));
    EXPECT_TRUE(log.contains("Ondaline: Received Ping Request (ts=500)"));
    EXPECT_TRUE(log.contains("Ondaline: Sent Ping Response (ts=500)"));
}

TEST_F(RTMPSession, WhatAServerMayNotSendEndsTheConnection)
{
    struct Case {
        const char* what;
        std::function<void(ScriptedRTMPServer&)> misbehave;
        std::string error;
    };
    const std::vector<Case> cases{
        {"message over 1 MiB",
         [](ScriptedRTMPServer& s) {
             s.sendRaw(Bytes{0x03, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0x14, 0, 0, 0, 0});
         },
         "error:RTMP protocol error: message of 8388607 bytes is over the 1048576-byte limit"},
        {"chunk size 0",
         [](ScriptedRTMPServer& s) {
             s.send({rtmp::setChunkSizeType, 0, 2, 0}, rtmp::uint32Payload(0x80000000));
         },
         "error:RTMP protocol error: server set chunk size 0"},
        {"chunk stream id beyond 65535",
         [](ScriptedRTMPServer& s) {
             s.sendRaw(Bytes{0x01, 0xFF, 0xFF, 0, 0, 0, 0, 0, 1, 0x14, 0, 0, 0, 0, 0});
         },
         "error:RTMP protocol error: chunk stream id 65599 is out of range"},
        {"too many chunk streams",
         [](ScriptedRTMPServer& s) {
             for (int id = 10; id < 50; ++id)
                 s.send({rtmp::dataAMF0Type, 0, static_cast<std::uint8_t>(id), 0}, Bytes{5});
         },
         "error:RTMP protocol error: more than 32 chunk streams"},
        {"stream id out of range",
         [](ScriptedRTMPServer& s) {
             s.sendResult(1);
             s.waitForCommand("createStream");
             s.sendResult(4, AMF0Value::number(4294967296.0));
         },
         "error:RTMP protocol error: server gave an invalid stream id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        serve([&](ScriptedRTMPServer& server) {
            server.handshake();
            server.waitForCommand("connect");
            c.misbehave(server);
            holdUntilClientCloses(server);
        });
        ASSERT_TRUE(delegate_->waitFor(c.error));
        peer_->join();  // the engine closed the connection
    }
}

TEST_F(RTMPSession, ServerClosingALiveStreamBringsARetryThatDisconnectCancels)
{
    LogCapture log;
    serve([](ScriptedRTMPServer& server) { server.acceptPublish(); });  // then hangs up
    ASSERT_TRUE(delegate_->waitFor("retrying:Reconnecting (1/10)…"));
    EXPECT_TRUE(log.contains("Ondaline ERROR: Connection closed by server"));
    EXPECT_TRUE(log.contains("Ondaline: Reconnecting in 10s (attempt 1/10)…"));
    EXPECT_EQ(engine_->state(), StreamState::idle);
    EXPECT_EQ(engine_->reconnectAttempts(), 1);
    EXPECT_TRUE(engine_->isReconnectPending());

    engine_->disconnect();  // idle, but a retry waits: the user's stop still stops
    settle();
    EXPECT_EQ(delegate_->count("disconnect"), 1);
    EXPECT_EQ(engine_->reconnectAttempts(), 0);
    EXPECT_FALSE(engine_->isReconnectPending());
    EXPECT_FALSE(log.contains("Ondaline: Attempting reconnect #1"));
}

TEST_F(RTMPSession, StreamEOFReconnectsPlainRTMPButNotTheServices)
{
    auto sendEOF = [](ScriptedRTMPServer& server) {
        if (!server.acceptPublish()) return;
        server.send({rtmp::userControlType, 0, 2, 0}, Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x01});
        holdUntilClientCloses(server);
    };
    LogCapture log;
    serve(sendEOF, StreamMode::youtube);
    ASSERT_TRUE(delegate_->waitFor("connect"));
    const std::string ignored =
        "Ondaline: ℹ YouTube Stream EOF ignored — server sends this while stream is in standby, not a true disconnect";
    for (int i = 0; i < 250 && !log.contains(ignored); ++i) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(log.contains(ignored));
    EXPECT_EQ(engine_->state(), StreamState::publishing);
    engine_->disconnect();
    peer_->join();

    serve(sendEOF, StreamMode::rtmp);
    ASSERT_TRUE(delegate_->waitFor("retrying:Reconnecting (1/10)…"));
}

TEST_F(RTMPSession, AnnouncesTheAudioThenSendsAACAtRealTimeStamps)
{
    std::promise<std::vector<rtmp::Message>> received;
    serve([&](ScriptedRTMPServer& server) {
        if (!server.acceptPublish()) return;
        std::vector<rtmp::Message> media;
        while (media.size() < 40) {
            auto message = server.nextMessage();
            if (!message) break;
            if (message->typeID == rtmp::audioType || message->typeID == rtmp::dataAMF0Type) {
                media.push_back(std::move(*message));
            }
        }
        received.set_value(std::move(media));
        holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));

    // Two seconds of a tone, delivered as fast as the test can.
    std::vector<float> left(1024), right(1024);
    for (int block = 0; block < 90; ++block) {
        for (int i = 0; i < 1024; ++i) left[i] = right[i] = 0.3f * std::sin(float(block * 1024 + i) * 0.0627f);
        const float* planes[] = {left.data(), right.data()};
        engine_->sendAudioBuffer({planes, 2, 1024, 0});
    }
    auto future = received.get_future();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    const auto media = future.get();
    ASSERT_GE(media.size(), 30u);
    EXPECT_EQ(media[0].typeID, rtmp::dataAMF0Type);  // onMetaData first
    EXPECT_EQ(Bytes(media[1].data.begin(), media[1].data.begin() + 4), (Bytes{0xAF, 0x00, 0x12, 0x10}));
    for (std::size_t i = 2; i < media.size(); ++i) {
        ASSERT_EQ(media[i].typeID, rtmp::audioType);
        EXPECT_EQ(media[i].data[0], 0xAF);
        EXPECT_EQ(media[i].data[1], 0x01);
    }
}

TEST_F(RTMPSession, TeardownWhileProducersFeedAndTheEncoderDrains)
{
    serve([](ScriptedRTMPServer& server) {
        if (server.acceptPublish()) holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
    std::atomic<bool> stop{false};
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p) {
        producers.emplace_back([&, p] {
            std::vector<float> samples(1024 * 2, 0.1f * static_cast<float>(p + 1));
            while (!stop) {
                if (p == 0) {
                    const float* planes[] = {samples.data(), samples.data() + 1024};
                    engine_->sendAudioBuffer({planes, 2, 1024, 48000});  // converted on the way
                } else {
                    engine_->sendRawPCMData(ByteView(reinterpret_cast<const std::uint8_t*>(samples.data()),
                                                     samples.size() * sizeof(float)));
                }
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    std::this_thread::sleep_for(300ms);
    engine_->disconnect();  // destroys the encoder while the producers go on
    std::this_thread::sleep_for(50ms);
    stop = true;
    for (auto& producer : producers) producer.join();
    EXPECT_EQ(engine_->state(), StreamState::idle);
}

TEST_F(RTMPSession, EncoderThatCannotStartIsReportedWithoutGoingLive)
{
    peer_ = std::make_unique<TCPPeer>([](int s) {
        ScriptedRTMPServer server(s);
        if (server.acceptPublish()) holdUntilClientCloses(server);
    });
    // Seven channels: what AAC cannot signal.
    engine_->configure("rtmp://127.0.0.1:" + std::to_string(peer_->port()) + "/live", "key", 320000, 44100, 7);
    engine_->connect();
    ASSERT_TRUE(
        delegate_->waitFor("error:Failed to create AAC encoder (status -1): 7 channels cannot be carried in AAC"));
    settle();
    EXPECT_EQ(delegate_->count("connect"), 0);
    EXPECT_EQ(delegate_->count("retrying:Reconnecting (1/10)…"), 0);
    EXPECT_EQ(engine_->reconnectAttempts(), 0);
}

TEST_F(RTMPSession, DelayedPongsAreMeasuredAndSpeedUpThePings)
{
    test::LogCapture log;
    serve([](ScriptedRTMPServer& server) {
        if (!server.acceptPublish()) return;
        while (auto message = server.nextMessage()) {
            if (message->typeID != rtmp::userControlType || message->data.size() < 6 || message->data[1] != 6) continue;
            std::this_thread::sleep_for(600ms);
            Bytes pong = message->data;
            pong[1] = 7;
            server.send({rtmp::userControlType, 0, 2, 0}, pong);
        }
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
    for (int i = 0; i < 100 && !log.contains("Ondaline: Sent Ping Request (seq=1)"); ++i)
        std::this_thread::sleep_for(100ms);
    for (int i = 0; i < 30; ++i) {
        const auto lines = log.messages();
        if (std::any_of(lines.begin(), lines.end(),
                        [](const std::string& l) { return l.find("switching to fast") != std::string::npos; }))
            break;
        std::this_thread::sleep_for(100ms);
    }
    const auto lines = log.messages();
    const auto pong = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with("Ondaline: Ping Response received (seq=1, latency=6");
    });
    ASSERT_NE(pong, lines.end());
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) {
                               return l.starts_with("Ondaline: ⚠ HEALTH: Elevated latency (6") &&
                                      l.ends_with("ms) — switching to fast ping rate (3s)");
                           }),
              lines.end());
}

TEST_F(RTMPSession, ServerThatStopsAcknowledgingIsAZombie)
{
    test::LogCapture log;
    serve([](ScriptedRTMPServer& server) {
        if (!server.acceptPublish()) return;
        server.send({rtmp::windowAckSizeType, 0, 2, 0}, rtmp::uint32Payload(1000));
        holdUntilClientCloses(server);  // never acknowledges
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        // Noise takes the whole bit rate, so the unacknowledged bytes pass
        // the floor that makes a silent server suspect well within the time-out.
        std::minstd_rand random(3);
        std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
        std::vector<float> samples(2048);
        while (!stop) {
            for (auto& sample : samples) sample = noise(random);
            const float* planes[] = {samples.data(), samples.data() + 1024};
            engine_->sendAudioBuffer({planes, 2, 1024, 0});
            std::this_thread::sleep_for(23ms);
        }
    });
    const bool zombie = delegate_->waitFor("retrying:Reconnecting (1/10)…", 60s);
    stop = true;
    feeder.join();
    ASSERT_TRUE(zombie);
    EXPECT_TRUE(log.contains("Ondaline: Health monitor forcing reconnect — Server ack timeout (30s)"));
}

// Ticks missed under load are skipped, not shifted: a tick after a stall
// stamps its frame at the slot the stream clock has reached (here a clock
// moved on by hand), and a key-frame slot jumped over makes it a key frame.
TEST_F(RTMPSession, LateVideoTicksTakeTheClocksSlot)
{
    const auto clock = std::make_shared<platform::ManualClock>();
    engine_ = Ondaline::create(main_, clock);
    engine_->setDelegate(delegate_);
    std::promise<std::vector<rtmp::Message>> received;
    serve([&](ScriptedRTMPServer& server) {
        if (!server.acceptPublish()) return;
        std::vector<rtmp::Message> video;
        while (video.size() < 12) {
            auto message = server.nextMessage();
            if (!message) break;
            if (message->typeID == rtmp::videoType && message->data.size() > 1 && message->data[1] == 1) {
                video.push_back(std::move(*message));
            }
        }
        received.set_value(std::move(video));
        holdUntilClientCloses(server);
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
    std::this_thread::sleep_for(150ms);  // a few ticks on time (the clock stands still)
    clock->advance(3.0);                 // then three seconds pass in one tick
    auto future = received.get_future();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    const auto video = future.get();
    ASSERT_EQ(video.size(), 12u);
    std::size_t jump = 0;
    for (std::size_t i = 1; i < video.size(); ++i) {
        ASSERT_GT(video[i].timestamp, video[i - 1].timestamp);
        if (video[i].timestamp - video[i - 1].timestamp > 1000) {
            jump = i;
            break;
        }
    }
    std::string seen;
    for (const auto& message : video)
        seen += std::to_string(message.timestamp) + "/" + std::to_string(message.data[0]) + " ";
    ASSERT_NE(jump, 0u) << "no frame at the clock's slot: " << seen;
    EXPECT_NEAR(video[jump].timestamp, 3000, 200) << seen;  // three seconds after the first frames
    EXPECT_EQ(video[jump].data[0], 0x17) << seen;           // slot 47 was passed: a key frame
}
