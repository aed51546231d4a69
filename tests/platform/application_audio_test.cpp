// Other applications' sound: listing them and capturing one of them alone,
// on a sound server of the suite's own (it lists all that plays there).

#include "platform/audio/application_audio.h"

#include "platform/audio/pulse_connection.h"
#include "platform/audio/pulse_playback.h"
#include "support/peer_env.h"
#include "support/pulse_peer.h"
#include "support/run_folder.h"
#include "support/tone_analysis.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <numbers>
#include <optional>

using namespace ondaline;
using platform::ApplicationAudioCapture;
using platform::PlayingApplication;
using namespace std::chrono_literals;

namespace {

std::optional<PlayingApplication> findApplication(const std::string& name)
{
    std::string error;
    const auto applications = platform::listPlayingApplications(error);
    EXPECT_TRUE(error.empty()) << error;
    const auto found = std::find_if(applications.begin(), applications.end(),
                                    [&](const PlayingApplication& a) { return a.name == name; });
    if (found == applications.end()) return std::nullopt;
    return *found;
}

// A tone played by this process on a stream of its own, until destroyed.
class OwnTone {
public:
    OwnTone(const std::string& applicationName, double hz, float amplitude)
    {
        std::string error;
        playback_ = platform::PulsePlayback::open(applicationName, error);
        EXPECT_NE(playback_, nullptr) << error;
        if (!playback_) return;
        writer_ = std::thread([this, hz, amplitude] {
            std::vector<float> block(2 * 441);
            double phase = 0;
            for (;;) {
                for (std::size_t i = 0; i < 441; ++i, phase += 2 * std::numbers::pi * hz / 44100)
                    block[2 * i] = block[2 * i + 1] = amplitude * static_cast<float>(std::sin(phase));
                phase = std::fmod(phase, 2 * std::numbers::pi);
                if (!playback_->write(block.data(), 441)) break;
                written_ += 441;
            }
        });
    }
    ~OwnTone()
    {
        if (!playback_) return;
        playback_->interrupt();
        writer_.join();
    }

    // More written than its stream holds: the server has taken some of it.
    bool playing() const { return written_ >= 44100 / 4; }

private:
    std::unique_ptr<platform::PulsePlayback> playback_;
    std::atomic<std::size_t> written_{0};  // frames
    std::thread writer_;
};

// What a capture delivered: its first channel and its ends.
struct Recorder {
    std::mutex mutex;
    std::vector<float> firstChannel;
    ApplicationAudioCapture::Format format{0, 0};
    std::atomic<int> ends{0};
    std::string reason;

    ApplicationAudioCapture::DataHandler data()
    {
        return [this](const float* interleaved, std::size_t frames, const ApplicationAudioCapture::Format& f) {
            std::lock_guard lock(mutex);
            format = f;
            for (std::size_t i = 0; i < frames; ++i) firstChannel.push_back(interleaved[i * std::size_t(f.channels)]);
        };
    }
    ApplicationAudioCapture::EndHandler end()
    {
        return [this](const std::string& why) {
            std::lock_guard lock(mutex);
            reason = why;
            ++ends;
        };
    }
    std::size_t frames()
    {
        std::lock_guard lock(mutex);
        return firstChannel.size();
    }
};

class ApplicationAudioPulse : public test::OwnServerTest {
protected:
    PlayingApplication waitForApplication(const std::string& name, std::size_t streams = 1)
    {
        std::optional<PlayingApplication> found;
        EXPECT_TRUE(test::eventually([&] {
            found = findApplication(name);
            return found && found->streams.size() >= streams;
        })) << name;
        return found.value_or(PlayingApplication{});
    }
    // A second and a half of what a capture of `application` delivers.
    static void record(const PlayingApplication& application, Recorder& recorder,
                       ApplicationAudioCapture::Format format = {48000, 2})
    {
        std::string error;
        auto capture = ApplicationAudioCapture::start(application, format, recorder.data(), recorder.end(), error);
        ASSERT_NE(capture, nullptr) << error;
        ASSERT_TRUE(test::eventually([&] { return recorder.frames() >= std::size_t(format.sampleRate) * 3 / 2; }, 10s));
    }
};

// Streams and captures that come and go: a suite of its own, run beside the
// one above, each on a server of its own.
using ApplicationAudioChanges = ApplicationAudioPulse;

}  // namespace

TEST_F(ApplicationAudioPulse, ListsApplicationsByProcessWithTheirStreams)
{
    test::PacatTone pacat("ToneMaker", 440, 0.25f);
    const auto toneMaker = waitForApplication("ToneMaker");
    EXPECT_EQ(toneMaker.pid, pacat.pid());
    EXPECT_EQ(toneMaker.binary, "pacat");
    EXPECT_EQ(toneMaker.streams.size(), 1u);

    // Two streams of one process are one application, oldest first.
    OwnTone first("Ondaline two streams", 440, 0.1f), second("Ondaline two streams", 660, 0.1f);
    std::optional<PlayingApplication> ours;
    ASSERT_TRUE(test::eventually([&] {
        ours = findApplication("Ondaline two streams");
        return ours && ours->streams.size() == 2;
    }));
    EXPECT_EQ(ours->pid, getpid());
    EXPECT_LT(ours->streams[0], ours->streams[1]);

    std::string error;
    const auto applications = platform::listPlayingApplications(error);
    const auto position = [&](const std::string& name) {
        return std::find_if(applications.begin(), applications.end(),
                            [&](const PlayingApplication& a) { return a.name == name; }) -
               applications.begin();
    };
    EXPECT_LT(position("ToneMaker"), position("Ondaline two streams")) << "the server's order";
}

TEST_F(ApplicationAudioPulse, CapturesTheApplicationAloneInTheAskedFormat)
{
    test::PacatTone toneMaker("ToneMaker", 440, 0.25f);
    test::PacatTone noise("NoiseMaker", 1000, 0.5f);  // on the same sink, never to be heard
    const auto application = waitForApplication("ToneMaker");

    for (const ApplicationAudioCapture::Format format : {ApplicationAudioCapture::Format{48000, 2}, {44100, 1}}) {
        SCOPED_TRACE(std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.channels) + " channels");
        Recorder recorder;
        record(application, recorder, format);

        EXPECT_EQ(recorder.format.sampleRate, format.sampleRate);
        EXPECT_EQ(recorder.format.channels, format.channels);
        // Judged by stretches: the players starve under load, and leave gaps.
        EXPECT_NEAR(test::medianPitch(recorder.firstChannel, format.sampleRate, 0.25), 440, 2);
        // Mixed down to one channel, PulseAudio takes the mean of the two,
        // PipeWire their sum at -3 dB each.
        const double mixDown = format.channels == 1 && test::soundPeer() == "pipewire" ? 3.01 : 0;
        EXPECT_NEAR(test::medianLevel(recorder.firstChannel, format.sampleRate, 0.25), 20 * std::log10(0.25) + mixDown,
                    1.5);
        // Each tenth alone, from the first on: the other application let
        // through for a moment is heard there.
        EXPECT_EQ(test::whereHeard(recorder.firstChannel, format.sampleRate, 1000, 20 * std::log10(0.25) - 2), "");
        EXPECT_EQ(recorder.ends, 0);
    }
}

TEST_F(ApplicationAudioPulse, MixesTheStreamsOfOneApplication)
{
    // Two tones of 0.1 each, unrelated: together they have the level of a
    // single tone of 0.1 * sqrt(2), 3 dB above either alone.
    OwnTone first("Ondaline mix", 440, 0.1f), second("Ondaline mix", 660, 0.1f);
    const auto application = waitForApplication("Ondaline mix", 2);
    ASSERT_EQ(application.streams.size(), 2u);
    // Listed is not yet played: the server starts a new stream a moment
    // later (PulseAudio's null sink up to 2 s), and under TSan a tone's own
    // thread may then stall for seconds: silence that really plays. Judged
    // once both tones play.
    ASSERT_TRUE(test::eventually([&] { return first.playing() && second.playing(); }, 20s));

    Recorder recorder;
    record(application, recorder);

    EXPECT_NEAR(test::medianLevel(recorder.firstChannel, 48000, 0.25), 20 * std::log10(0.1 * std::sqrt(2.0)), 1.0);
}

// A paused stream beside the one playing, as a browser's paused tab: the
// application is listed as playing, not paused (which would put the carrier
// on air in its place), and captured all the same (PipeWire never readies
// the monitor of a paused stream).
TEST_F(ApplicationAudioPulse, APausedStreamDoesNotKeepTheApplicationFromBeingCaptured)
{
    std::string error;
    const auto connection = platform::pulse::PulseConnection::open("Ondaline paused", error);
    ASSERT_NE(connection, nullptr) << error;
    platform::pulse::Stream paused;
    {
        platform::pulse::PulseLock lock(*connection);
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 44100, 2};
        paused.reset(pa_stream_new(connection->context(), "Paused", &spec, nullptr));
        ASSERT_TRUE(paused);
        ASSERT_EQ(pa_stream_connect_playback(paused.get(), nullptr, nullptr, PA_STREAM_START_CORKED, nullptr, nullptr),
                  0);
    }
    OwnTone tone("Ondaline paused", 440, 0.1f);
    const auto application = waitForApplication("Ondaline paused", 2);
    ASSERT_EQ(application.streams.size(), 2u);
    EXPECT_FALSE(application.paused);

    Recorder recorder;
    record(application, recorder);
    EXPECT_NEAR(test::medianLevel(recorder.firstChannel, 48000, 0.25), 20 * std::log10(0.1), 1.0);
    platform::pulse::PulseLock lock(*connection);
    paused.reset();
}

// A player that opens its next stream before it closes the one playing (a
// crossfade) stays captured: the new stream joins, the old one's end ends
// nothing.
TEST_F(ApplicationAudioChanges, AStreamOpenedLaterJoinsTheCapture)
{
    std::optional<OwnTone> first;
    first.emplace("Ondaline crossfade", 440, 0.1f);
    const auto application = waitForApplication("Ondaline crossfade");
    Recorder recorder;
    std::string error;
    auto capture = ApplicationAudioCapture::start(application, {48000, 2}, recorder.data(), recorder.end(), error);
    ASSERT_NE(capture, nullptr) << error;
    ASSERT_TRUE(test::eventually([&] { return recorder.frames() > 0; }));

    OwnTone second("Ondaline crossfade", 660, 0.1f);
    // Once the server has it on a device, its news has gone to the capture
    // too, before that of the first stream's end.
    ASSERT_TRUE(test::eventually([&] {
        const auto now = findApplication("Ondaline crossfade");
        return now && now->streams.size() == 2;
    }));
    first.reset();
    const std::size_t atTheCut = recorder.frames();
    ASSERT_TRUE(test::eventually([&] { return recorder.frames() >= atTheCut + 48000 * 2 || recorder.ends > 0; }, 10s));
    capture.reset();
    EXPECT_EQ(recorder.ends, 0) << recorder.reason;
    const std::vector<float> after(recorder.firstChannel.begin() + long(atTheCut), recorder.firstChannel.end());
    EXPECT_NEAR(test::medianPitch(after, 48000, 0.5), 660, 2);
}

TEST_F(ApplicationAudioChanges, EndsOnceWhenTheApplicationStopsAndTakesNothingElse)
{
    test::PacatTone pacat("ToneMaker", 440, 0.25f);
    const auto application = waitForApplication("ToneMaker");
    Recorder recorder;
    std::string error;
    auto capture = ApplicationAudioCapture::start(application, {48000, 2}, recorder.data(), recorder.end(), error);
    ASSERT_NE(capture, nullptr) << error;
    ASSERT_TRUE(test::eventually([&] { return recorder.frames() > 0; }));

    pacat.kill();
    ASSERT_TRUE(test::eventually([&] { return recorder.ends > 0; }));
    const std::size_t framesAtTheEnd = recorder.frames();
    // Another program on the same device, as a notification would be: a
    // capture moved to that device's monitor would take it in.
    test::PacatTone other("Notifier", 750, 0.5f);
    waitForApplication("Notifier");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(recorder.ends, 1);
    EXPECT_EQ(recorder.frames(), framesAtTheEnd);
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.reason, "the application stopped playing");
}

// A player paused (its stream corked, the process and the stream kept) is
// listed as paused, and its capture ends as for one that stopped, rather
// than recording the silence PulseAudio's monitor gives of it; played
// again, it is listed as playing.
TEST_F(ApplicationAudioChanges, APauseEndsTheCaptureAndIsListed)
{
    const std::string name = "Ondaline pauser " + std::to_string(getpid());
    test::PausingPlayer player(name, "ondaline-pauser", 440);
    ASSERT_TRUE(player.ready());
    const auto application = waitForApplication(name);
    EXPECT_FALSE(application.paused);
    Recorder recorder;
    std::string error;
    auto capture = ApplicationAudioCapture::start(application, {48000, 2}, recorder.data(), recorder.end(), error);
    ASSERT_NE(capture, nullptr) << error;
    ASSERT_TRUE(test::eventually([&] { return recorder.frames() > 0; }));

    ASSERT_TRUE(player.pause());
    ASSERT_TRUE(test::eventually([&] { return recorder.ends > 0; }));
    {
        std::lock_guard lock(recorder.mutex);
        EXPECT_EQ(recorder.reason, "the application paused");
    }
    EXPECT_TRUE(test::eventually([&] { return findApplication(name).value_or(PlayingApplication{}).paused; }));
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(test::eventually([&] {
        const auto now = findApplication(name);
        return now && !now->paused;
    }));
}

// PipeWire 0.3.65 can crash a 96 kHz player (pw-play) in its converter
// whenever the graph's quantum changes. Captures starting and stopping on
// its sink must not change it.
TEST_F(ApplicationAudioChanges, CapturesComingAndGoingLeaveA96kHzPlayerPlaying)
{
    if (test::soundPeer() != "pipewire") GTEST_SKIP() << "pw-play is a client of PipeWire's own";
    const std::string wav = test::runFile("tone96k.wav");
    test::writeToneWAV(wav, 96000, 1000, 120, "pcm_f32le");
    test::ChildProcess player({"pw-play", wav});
    std::optional<PlayingApplication> application;
    ASSERT_TRUE(test::eventually([&] {
        std::string error;
        for (const auto& a : platform::listPlayingApplications(error))
            if (a.name == "pw-play") application = a;
        return application.has_value();
    }));
    for (int round = 0; round < 60 && player.running(); ++round) {
        std::string error;
        auto capture = ApplicationAudioCapture::start(*application, {48000, 2}, nullptr, nullptr, error);
        // On a busy machine the server may show the stream between two
        // states for a moment, so that a start is refused: not a crash.
        if (!capture) continue;
        std::this_thread::sleep_for(5ms);
        capture.reset();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(player.running()) << "the 96 kHz player crashed";
}

TEST_F(ApplicationAudioChanges, DoesNotStartForAStreamThatIsGone)
{
    const PlayingApplication gone{1, "Gone", "gone", {987654}, {}};
    std::string error;
    EXPECT_EQ(ApplicationAudioCapture::start(gone, {48000, 2}, nullptr, nullptr, error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST_F(ApplicationAudioChanges, NoHandlerRunsOnceTheCaptureIsDestroyed)
{
    test::PacatTone pacat("ToneMaker", 440, 0.25f);
    const auto application = waitForApplication("ToneMaker");
    for (int round = 0; round < 5; ++round) {
        std::atomic<bool> destroyed{false};
        std::atomic<int> calls{0}, late{0}, ends{0};
        std::string error;
        auto capture = ApplicationAudioCapture::start(
            application, {48000, 2},
            [&](const float*, std::size_t, const ApplicationAudioCapture::Format&) {
                ++calls;
                if (destroyed) ++late;
                // Long enough that the destructor often comes in the middle.
                std::this_thread::sleep_for(2ms);
                if (destroyed) ++late;
            },
            [&](const std::string&) { ++ends; }, error);
        ASSERT_NE(capture, nullptr) << error;
        ASSERT_TRUE(test::eventually([&] { return calls >= 3; }));
        capture.reset();
        destroyed = true;
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(late, 0);
        EXPECT_EQ(ends, 0) << "stopping is not an end of the application's sound";
    }
}
