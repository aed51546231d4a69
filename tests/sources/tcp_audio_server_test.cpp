#include "sources/tcp_audio_server.h"

#include "engine/ondaline.h"
#include "support/log_capture.h"
#include "support/recording_delegate.h"
#include "support/scripted_rtmp_server.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace ondaline;
using sources::TCPAudioServer;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr auto patience = 10s;
const std::string connectedText = "Client connected, reading handshake…";

// Little-endian 32-bit words, as the wire carries them.
Bytes words(const std::vector<std::uint32_t>& values)
{
    Bytes bytes;
    for (const std::uint32_t value : values) {
        for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
    }
    return bytes;
}

Bytes handshake(std::uint32_t rate, std::uint32_t channels, std::uint32_t format = 32)
{
    return words({rate, channels, format});
}

Bytes pcm(const std::vector<float>& samples)
{
    std::vector<std::uint32_t> bits;
    for (const float sample : samples) bits.push_back(std::bit_cast<std::uint32_t>(sample));
    return words(bits);
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes stereo(std::size_t frames, float left, float right)
{
    std::vector<float> samples;
    for (std::size_t i = 0; i < frames; ++i) samples.insert(samples.end(), {left, right});
    return pcm(samples);
}

// A sender on loopback, as the automation is.
class Sender {
public:
    explicit Sender(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~Sender() { close(); }

    bool send(const Bytes& bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += std::size_t(n);
        }
        return true;
    }

    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // How the server ended the connection: 0 for an orderly close, else the
    // receive error (a reset when it left our last bytes unread); none while
    // it stays open.
    std::optional<int> end()
    {
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, int(std::chrono::milliseconds(patience).count())) != 1) return std::nullopt;
        std::uint8_t byte;
        const ssize_t n = recv(fd_, &byte, 1, 0);
        if (n > 0) return std::nullopt;  // the server never sends
        return n == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// What arrives on other threads, for the test to wait on.
template <typename T>
class Recorder {
public:
    void add(T value)
    {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(value));
        changed_.notify_all();
    }
    bool waitFor(const std::function<bool(const std::vector<T>&)>& done)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return done(values_); });
    }
    std::vector<T> values() const
    {
        std::lock_guard lock(mutex_);
        return values_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        values_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> values_;
};

using Levels = std::pair<float, float>;

std::size_t count(const std::vector<std::string>& texts, const std::string& text)
{
    return std::size_t(std::count(texts.begin(), texts.end(), text));
}

class TCPAudioServerTest : public ::testing::Test {
protected:
    TCPAudioServerTest()
    {
        server->setOnStatusChange([this](const std::string& text) { statuses.add(text); });
        server->setOnMeterUpdate([this](float left, float right) { meters.add({left, right}); });
    }
    ~TCPAudioServerTest() override
    {
        server->stop();
        server->setOnMeterUpdate({});
        main->drain();
    }

    std::string waiting() const { return "Waiting for connection on port " + std::to_string(port); }

    std::size_t statusCount(const std::string& text) const { return count(statuses.values(), text); }
    bool waitForStatus(const std::string& text, std::size_t times = 1)
    {
        return statuses.waitFor([&](const auto& all) { return count(all, text) >= times; });
    }
    bool waitForMeters()
    {
        return meters.waitFor([](const auto& all) { return !all.empty(); });
    }

    std::size_t logCount(const std::string& line) const
    {
        return count(activity.messages(), "TCPAudioServer: " + line);
    }
    bool logged(const std::string& line, std::size_t times = 1) const
    {
        for (const auto deadline = std::chrono::steady_clock::now() + patience; logCount(line) < times;) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    void listen()
    {
        server->start();
        ASSERT_TRUE(waitForStatus(waiting()));
    }

    // A sender is accepted with `announce` and, once it closes, let go.
    void expectAcceptedAndEnded(const Bytes& announce, const std::string& receiving)
    {
        const std::size_t waitingBefore = statusCount(waiting()), receivingBefore = statusCount(receiving);
        Sender sender(port);
        ASSERT_TRUE(sender.send(announce));
        ASSERT_TRUE(waitForStatus(receiving, receivingBefore + 1)) << receiving;
        EXPECT_TRUE(server->isReceiving());
        sender.close();
        ASSERT_TRUE(waitForStatus(waiting(), waitingBefore + 1));
        EXPECT_FALSE(server->isReceiving());
    }

    test::LogCapture activity;
    Recorder<std::string> statuses;
    Recorder<Levels> meters;
    std::shared_ptr<platform::QueueMainExecutor> main = std::make_shared<platform::QueueMainExecutor>();
    std::uint16_t port = test::closedPort();
    std::shared_ptr<TCPAudioServer> server = TCPAudioServer::create(main, port);
};

TEST_F(TCPAudioServerTest, AcceptsHandshakesWithinLimitsAndConfiguresTheEngine)
{
    listen();
    EXPECT_TRUE(logged("Listening on port " + std::to_string(port)));

    expectAcceptedAndEnded({0x44, 0xAC, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00},
                           "Receiving audio: 44100Hz, 2ch");
    EXPECT_TRUE(logged("New client connected"));
    EXPECT_TRUE(logged("Handshake OK — 44100Hz, 2ch, Float32"));
    EXPECT_TRUE(logged("Client stream ended (EOF)"));
    EXPECT_TRUE(logged("Client disconnected"));
    EXPECT_EQ(statuses.values(),
              (std::vector<std::string>{waiting(), connectedText, "Receiving audio: 44100Hz, 2ch", waiting()}));

    const auto engine = Ondaline::create(main);
    server->setStreamer(engine);
    expectAcceptedAndEnded(handshake(48000, 1), "Receiving audio: 48000Hz, 1ch");
    EXPECT_EQ(engine->config().sampleRate, 48000.0);
    EXPECT_EQ(engine->config().channels, 1u);

    expectAcceptedAndEnded(handshake(8000, 8), "Receiving audio: 8000Hz, 8ch");
    expectAcceptedAndEnded(handshake(192000, 1), "Receiving audio: 192000Hz, 1ch");
    EXPECT_EQ(engine->config().sampleRate, 192000.0);
    EXPECT_EQ(server->acceptedSampleRate(), 192000u);
    EXPECT_EQ(server->acceptedChannels(), 1u);
}

TEST_F(TCPAudioServerTest, RejectedHandshakesCloseTheSenderAndLeaveTheAcceptedFormat)
{
    listen();
    expectAcceptedAndEnded(handshake(22050, 1), "Receiving audio: 22050Hz, 1ch");

    struct Case {
        Bytes bytes;
        std::uint32_t rate, channels, format;
    };
    const Case cases[] = {
        {handshake(7999, 2), 7999, 2, 32},
        {handshake(192001, 2), 192001, 2, 32},
        {handshake(48000, 0), 48000, 0, 32},
        {handshake(48000, 9), 48000, 9, 32},
        {handshake(48000, 2, 16), 48000, 2, 16},
        {{0x00, 0x00, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x20}, 0x44AC0000, 0x02000000, 0x20000000},
    };
    for (const Case& c : cases) {
        const std::string values = "sr=" + std::to_string(c.rate) + " ch=" + std::to_string(c.channels) +
                                   " fmt=" + std::to_string(c.format);
        SCOPED_TRACE(values);
        const std::size_t waitingBefore = statusCount(waiting());
        Sender sender(port);
        ASSERT_TRUE(sender.send(c.bytes));
        EXPECT_EQ(sender.end(), 0);
        EXPECT_TRUE(logged("Invalid handshake values: " + values));
        ASSERT_TRUE(waitForStatus(waiting(), waitingBefore + 1));
        EXPECT_EQ(statuses.values().rbegin()[1], connectedText);
        EXPECT_EQ(server->clientSampleRate(), c.rate);
        EXPECT_EQ(server->clientChannels(), c.channels);
        EXPECT_EQ(server->clientFormat(), c.format);
        EXPECT_EQ(server->acceptedSampleRate(), 22050u);
        EXPECT_EQ(server->acceptedChannels(), 1u);
        EXPECT_FALSE(server->isReceiving());
    }

    // Too short: closed after 5 bytes, and with nothing at all.
    for (const std::size_t length : {5u, 0u}) {
        const std::size_t waitingBefore = statusCount(waiting());
        Sender sender(port);
        ASSERT_TRUE(sender.send(Bytes(length, 0x01)));
        sender.close();
        EXPECT_TRUE(logged("Invalid handshake (expected 12 bytes, got " + std::to_string(length) + ")"));
        ASSERT_TRUE(waitForStatus(waiting(), waitingBefore + 1));
    }
    EXPECT_EQ(server->clientSampleRate(), 0x44AC0000u);  // still the last whole handshake's
    EXPECT_EQ(server->acceptedSampleRate(), 22050u);

    expectAcceptedAndEnded(handshake(96000, 2), "Receiving audio: 96000Hz, 2ch");
}

TEST_F(TCPAudioServerTest, MetersFollowWholeFramesHoweverTheStreamIsCut)
{
    listen();
    // The sender's levels, then silence once it has gone.
    auto expectStereoLevels = [&] {
        const auto fellSilent = [&] {
            const auto all = meters.values();
            return !all.empty() && all.back() == Levels{0.0f, 0.0f};
        };
        for (const auto deadline = std::chrono::steady_clock::now() + patience; !fellSilent();) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the meters stayed up after the sender left";
            std::this_thread::sleep_for(5ms);
        }
        const auto all = meters.values();
        ASSERT_GT(all.size(), 1u);
        for (std::size_t i = 0; i + 1 < all.size(); ++i) {
            EXPECT_NEAR(all[i].first, 0.5f, 1e-6);
            EXPECT_NEAR(all[i].second, 0.25f, 1e-6);
        }
    };
    const Bytes signal = stereo(400, 0.5f, -0.25f);

    {  // Handshake and the first samples in one write.
        Sender sender(port);
        ASSERT_TRUE(sender.send(handshake(44100, 2) + signal));
        ASSERT_TRUE(waitForMeters());
    }
    ASSERT_TRUE(logged("Client stream ended (EOF)", 1));
    expectStereoLevels();

    // Pieces that end inside samples and frames: a sample read into the wrong
    // channel would swap the levels.
    meters.clear();
    {
        Sender sender(port);
        ASSERT_TRUE(sender.send(handshake(44100, 2)));
        const std::size_t pieces[] = {7, 45, 7, 7, 61};
        for (std::size_t at = 0, i = 0; at < signal.size(); ++i) {
            const std::size_t n = std::min(pieces[i % 5], signal.size() - at);
            ASSERT_TRUE(sender.send(Bytes(signal.begin() + long(at), signal.begin() + long(at + n))));
            at += n;
            std::this_thread::sleep_for(2ms);
        }
    }
    ASSERT_TRUE(logged("Client stream ended (EOF)", 2));
    expectStereoLevels();

    // A mono tone: the same level on both sides, and the engine's spectrum bars.
    meters.clear();
    const auto engine = Ondaline::create(main);
    server->setStreamer(engine);
    {
        std::vector<float> tone(44100);  // 1 kHz
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = float(0.5 * std::sin(std::numbers::pi * double(i) / 22.05));
        Sender sender(port);
        ASSERT_TRUE(sender.send(handshake(44100, 1) + pcm(tone)));
        const auto lit = [&] {
            const auto levels = engine->spectrumLevels();
            return levels.size() == 40 && std::any_of(levels.begin(), levels.end(), [](float l) { return l > 0; });
        };
        for (const auto deadline = std::chrono::steady_clock::now() + patience; !lit();) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the spectrum stayed dark";
            std::this_thread::sleep_for(5ms);
        }
    }
    ASSERT_TRUE(logged("Client stream ended (EOF)", 3));
    ASSERT_FALSE(meters.values().empty());
    for (const Levels& levels : meters.values()) {
        EXPECT_EQ(levels.first, levels.second);
        if (levels != Levels{0.0f, 0.0f}) {
            EXPECT_GT(levels.first, 0.0f);
        }
    }
}

TEST_F(TCPAudioServerTest, NewSenderReplacesTheCurrentOne)
{
    listen();
    Sender first(port);
    ASSERT_TRUE(first.send(handshake(44100, 2) + stereo(256, 0.5f, -0.25f)));
    ASSERT_TRUE(waitForMeters());

    Sender second(port);
    ASSERT_TRUE(second.send(handshake(48000, 1)));
    ASSERT_TRUE(waitForStatus("Receiving audio: 48000Hz, 1ch"));
    EXPECT_TRUE(first.end().has_value()) << "the replaced sender stays connected";
    ASSERT_TRUE(logged("Client disconnected"));
    EXPECT_TRUE(logged("Dropping existing client for new connection"));
    EXPECT_EQ(logCount("New client connected"), 2u);
    EXPECT_TRUE(server->isReceiving());

    // The replaced sender's end is not the current one's.
    meters.clear();
    ASSERT_TRUE(second.send(pcm(std::vector<float>(256, 0.25f))));
    ASSERT_TRUE(waitForMeters());
    main->drain();
    // While a sender plays, a newcomer changes the status only once its
    // handshake is accepted.
    EXPECT_EQ(statuses.values(), (std::vector<std::string>{waiting(), connectedText, "Receiving audio: 44100Hz, 2ch",
                                                           "Receiving audio: 48000Hz, 1ch"}));
    EXPECT_TRUE(server->isReceiving());
    EXPECT_FLOAT_EQ(meters.values().front().first, 0.25f);

    second.close();
    ASSERT_TRUE(waitForStatus(waiting(), 2));
}

// What a replaced sender delivered and the encoder has not taken yet goes
// with it: the encoder, held up while the newcomer takes over, then finds
// only the newcomer's audio. The clock stands still, so no carrier or
// silence is encoded beside it.
TEST_F(TCPAudioServerTest, AReplacedSendersWaitingAudioGoesWithIt)
{
    test::TCPPeer rtmp([](int s) {
        test::ScriptedRTMPServer peer(s);
        if (peer.acceptPublish()) peer.readUntilClosed();
    });
    const auto engine = Ondaline::create(main, std::make_shared<platform::ManualClock>());
    const auto delegate = std::make_shared<test::RecordingDelegate>();
    engine->setDelegate(delegate);
    engine->configure("rtmp://127.0.0.1:" + std::to_string(rtmp.port()) + "/live", "key");
    engine->connect();
    ASSERT_TRUE(delegate->waitFor("connect"));
    listen();
    Sender first(port);
    ASSERT_TRUE(first.send(handshake(44100, 2)));
    ASSERT_TRUE(waitForStatus("Receiving audio: 44100Hz, 2ch"));
    server->setStreamer(engine);  // the keep-alive's silence has stopped
    ASSERT_TRUE(first.send(stereo(2048, 0.5f, -0.25f)));
    ASSERT_TRUE(waitForMeters());
    engine->encoderQueue().sync([] {});
    const auto before = engine->audioPacketsSent();

    std::promise<void> release;
    engine->encoderQueue().async([waiting = release.get_future().share()] { waiting.wait(); });
    meters.clear();
    ASSERT_TRUE(first.send(stereo(3072, 0.5f, -0.25f)));  // waits for the encoder
    ASSERT_TRUE(waitForMeters());
    Sender second(port);
    ASSERT_TRUE(second.send(handshake(44100, 2)));
    ASSERT_TRUE(waitForStatus("Receiving audio: 44100Hz, 2ch", 2));
    meters.clear();
    ASSERT_TRUE(second.send(stereo(2048, 0.25f, 0.25f)));
    ASSERT_TRUE(waitForMeters());
    release.set_value();
    for (const auto deadline = std::chrono::steady_clock::now() + patience;
         engine->audioPacketsSent() < before + 2 && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(5ms);
    engine->encoderQueue().sync([] {});
    EXPECT_EQ(engine->audioPacketsSent(), before + 2) << "the replaced sender's 3 packets were sent";
    engine->disconnect();
}

// Connections that never send a valid handshake (nonsense, a cut-off
// header, silence) wait beside the sender and never take the input: the
// nonsense is closed at once, the silent one after five seconds, and past
// eight waiting the oldest goes.
TEST_F(TCPAudioServerTest, ConnectionsWithoutAValidHandshakeNeverInterruptTheSender)
{
    listen();
    Sender playing(port);
    ASSERT_TRUE(playing.send(handshake(44100, 2) + stereo(256, 0.5f, -0.25f)));
    ASSERT_TRUE(waitForMeters());
    main->drain();
    const auto before = statuses.values();

    Sender garbage(port), cut(port), idle(port);
    ASSERT_TRUE(garbage.send(words({0xdeadbeef, 0x12345678, 0x0badf00d})));
    ASSERT_TRUE(cut.send(Bytes{0x44, 0xac}));
    cut.close();
    EXPECT_TRUE(garbage.end().has_value());
    ASSERT_TRUE(logged("Invalid handshake values: sr=3735928559 ch=305419896 fmt=195948557"));
    ASSERT_TRUE(logged("Invalid handshake (expected 12 bytes, got 2)"));
    EXPECT_TRUE(idle.end().has_value()) << "a silent connection is closed";
    EXPECT_TRUE(logged("No handshake within 5 s — closing the connection"));

    meters.clear();
    ASSERT_TRUE(playing.send(stereo(256, 0.25f, 0.25f)));
    ASSERT_TRUE(waitForMeters());
    main->drain();
    EXPECT_TRUE(server->isReceiving());
    EXPECT_EQ(logCount("Dropping existing client for new connection"), 0u);
    EXPECT_EQ(statuses.values(), before);

    // Eight may wait; the ninth sends the oldest away.
    const std::string tooMany = "Too many connections without a handshake — closing the oldest";
    std::vector<std::unique_ptr<Sender>> waitingOnes;
    for (std::size_t i = 0; i < 9; ++i) {
        waitingOnes.push_back(std::make_unique<Sender>(port));
        ASSERT_TRUE(logged("New client connected", 4 + i + 1));
        if (i == 7) {
            EXPECT_EQ(logCount(tooMany), 0u);
        }
    }
    EXPECT_TRUE(waitingOnes.front()->end().has_value());
    EXPECT_EQ(logCount(tooMany), 1u);
    EXPECT_TRUE(server->isReceiving());
}

TEST_F(TCPAudioServerTest, StopClosesTheSenderAndStartListensAgain)
{
    listen();
    server->start();  // already listening: nothing more
    {
        Sender sender(port);
        ASSERT_TRUE(sender.send(handshake(44100, 2) + stereo(256, 0.5f, -0.25f)));
        ASSERT_TRUE(waitForMeters());

        server->stop();
        EXPECT_FALSE(server->isReceiving());
        EXPECT_TRUE(sender.end().has_value()) << "the sender stays connected";
        EXPECT_TRUE(logged("Client disconnected"));
        std::this_thread::sleep_for(200ms);
        main->drain();
        EXPECT_EQ(statuses.values().back(), "Stopped");
        EXPECT_EQ(logCount("Listening on port " + std::to_string(port)), 1u);
    }

    // The same port again, though the last session's connection lingers.
    server->start();
    ASSERT_TRUE(waitForStatus(waiting(), 2));
    EXPECT_TRUE(logged("Listening on port " + std::to_string(port), 2));
    expectAcceptedAndEnded(handshake(32000, 2), "Receiving audio: 32000Hz, 2ch");
}

TEST_F(TCPAudioServerTest, BusyPortReportsListenerErrorUntilRestarted)
{
    const int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);

    server->start();
    ASSERT_TRUE(statuses.waitFor([](const auto& all) { return !all.empty(); }));
    const std::string status = statuses.values().front();
    ASSERT_EQ(status.rfind("Listener error: ", 0), 0u) << status;
    EXPECT_GT(status.size(), std::string("Listener error: ").size());
    EXPECT_TRUE(logged("Listener failed: " + status.substr(std::string("Listener error: ").size())));

    // A failed listener is still a listener: start() leaves it be. stop()
    // runs after anything a new one would have reported.
    server->start();
    server->stop();
    main->drain();
    EXPECT_EQ(statuses.values(), (std::vector<std::string>{status, "Stopped"}));

    close(blocker);
    server->start();
    ASSERT_TRUE(waitForStatus(waiting()));
    expectAcceptedAndEnded(handshake(44100, 2), "Receiving audio: 44100Hz, 2ch");
}

}  // namespace
