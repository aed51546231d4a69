// Application capture on a sound server of the suite's own (the list is of
// every program playing there): the list of programs playing sound, a
// capture of one of them, its end when the program goes, and what stopping
// guarantees, also while a start is under way. The player's output on the
// same server is moved between devices here too.

#include "sources/application_follower.h"
#include "sources/audio_source_capture.h"
#include "sources/test_player.h"

#include "support/log_capture.h"
#include "support/own_sound_server.h"
#include "support/pulse_peer.h"
#include "support/tone_analysis.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>

#include <unistd.h>

using namespace ondaline;
using namespace ondaline::sources;
using namespace std::chrono_literals;

namespace {

class Capture : public test::OwnServerTest {
protected:
    std::optional<AudioSource> find(AudioSourceCapture& capture, const std::string& name)
    {
        std::optional<AudioSource> found;
        test::eventually([&] {
            for (const auto& source : capture.availableSources()) {
                if (source.name == name) found = source;
            }
            return found.has_value();
        });
        return found;
    }
};

// What reached onAudioBuffer, as float samples of the first channel.
struct Received {
    std::mutex mutex;
    std::vector<float> left;
    std::atomic<int> buffers{0};
    std::optional<AudioStreamDescription> format;

    AudioSourceCapture::BufferHandler handler()
    {
        return [this](const AudioSampleBuffer& buffer) {
            ++buffers;
            const auto pcm = AudioBufferConverter::extractPCMFloat32(buffer);
            if (!pcm) return;
            std::lock_guard lock(mutex);
            format = pcm->second;
            for (std::size_t i = 0; i < pcm->first.size(); i += pcm->second.channelsPerFrame)
                left.push_back(pcm->first[i]);
        };
    }
};

}  // namespace

TEST_F(Capture, ListsTheProgramsPlayingByName)
{
    test::PacatTone beta("Beta Player", 440, 0.25f), alpha("alpha", 660, 0.25f);
    const auto capture = AudioSourceCapture::create();
    ASSERT_TRUE(find(*capture, "Beta Player"));
    ASSERT_TRUE(find(*capture, "alpha"));
    std::vector<std::string> names;
    for (const auto& source : capture->availableSources()) {
        if (source.name == "alpha" || source.name == "Beta Player") names.push_back(source.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta Player"}));
    const auto source = find(*capture, "alpha");
    EXPECT_EQ(source->id, alpha.pid());
    EXPECT_EQ(source->bundleIdentifier, "pacat");
    EXPECT_EQ(*source, (AudioSource{alpha.pid(), "renamed", {}, {}}));
}

// The program's tone arrives at its pitch and level, alone; once
// stopCapture() has returned, nothing more reaches onAudioBuffer.
TEST_F(Capture, CapturesTheProgramAndStopsDelivering)
{
    test::PacatTone tone("Tone Maker", 440, 0.25f);
    test::PacatTone other("Noise Maker", 1000, 0.5f);  // on the same device, never to be heard
    test::LogCapture log;
    const auto capture = AudioSourceCapture::create();
    Received received;
    capture->setOnAudioBuffer(received.handler());
    const auto source = find(*capture, "Tone Maker");
    ASSERT_TRUE(source);
    EXPECT_EQ(capture->startCapture(*source), std::nullopt);
    EXPECT_TRUE(capture->isCapturing());
    EXPECT_TRUE(log.contains("AudioSourceCapture: ✅ Capture started for 'Tone Maker'"));
    EXPECT_TRUE(log.contains("AudioSourceCapture: Stream config — audio: true, 48000Hz, 2ch"));
    EXPECT_EQ(capture->startCapture(*source), std::nullopt);  // already capturing: nothing changes

    ASSERT_TRUE(test::eventually(
        [&] {
            std::lock_guard lock(received.mutex);
            return received.left.size() >= 48000 * 2;
        },
        10s));
    capture->stopCapture();
    const int atStop = received.buffers;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(received.buffers, atStop);
    EXPECT_FALSE(capture->isCapturing());
    EXPECT_TRUE(log.contains("AudioSourceCapture: Stopped"));

    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.format->sampleRate, 48000);
    EXPECT_EQ(received.format->channelsPerFrame, 2u);
    const auto messages = log.messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m.starts_with("AudioSourceCapture: First audio buffer received — 48000Hz, 2ch, flags=0x9, "
                             "nonInterleaved=false, samples=");
    }));
    // The player starved under load leaves gaps of silence, its own and not
    // the capture's: pitch from stretches, level from the peak.
    EXPECT_NEAR(test::medianPitch(received.left, 48000, 0.2), 440, 2);
    float peak = 0;
    for (const float x : received.left) peak = std::max(peak, std::abs(x));
    EXPECT_NEAR(20 * std::log10(peak), 20 * std::log10(0.25), 1.0);
    EXPECT_EQ(test::whereHeard(received.left, 48000, 1000, 20 * std::log10(0.25) - 2), "");
}

TEST_F(Capture, TheProgramEndingReachesOnErrorAndANewStartWorks)
{
    std::optional<test::PacatTone> tone;
    tone.emplace("Short Lived", 440, 0.25f);
    const auto capture = AudioSourceCapture::create();
    std::mutex mutex;
    std::vector<std::string> errors;
    capture->setOnError([&](const std::string& error) {
        std::lock_guard lock(mutex);
        errors.push_back(error);
    });
    auto source = find(*capture, "Short Lived");
    ASSERT_TRUE(source);
    ASSERT_EQ(capture->startCapture(*source), std::nullopt);
    tone->kill();
    ASSERT_TRUE(test::eventually([&] {
        std::lock_guard lock(mutex);
        return !errors.empty();
    }));
    EXPECT_FALSE(capture->isCapturing());
    EXPECT_FALSE(capture->currentSource());

    tone.emplace("Short Lived", 440, 0.25f);
    source = find(*capture, "Short Lived");
    ASSERT_TRUE(source);
    EXPECT_EQ(capture->startCapture(*source), std::nullopt);
    EXPECT_TRUE(capture->isCapturing());
    capture->stopCapture();
    std::lock_guard lock(mutex);
    EXPECT_EQ(errors.size(), 1u);
}

// The follower captures the application whenever it plays: again after it
// ended, by its new process; and once stopped, nothing runs.
TEST_F(Capture, TheFollowerCapturesTheApplicationWheneverItPlays)
{
    std::optional<test::PacatTone> tone;
    tone.emplace("Followed", 440, 0.25f);
    const auto capture = AudioSourceCapture::create();
    std::mutex mutex;
    std::vector<ApplicationFollower::Status> statuses;
    const auto follower = ApplicationFollower::start(capture, {"pacat", "Followed", 0}, [&](const auto& status) {
        std::lock_guard lock(mutex);
        statuses.push_back(status);
    });
    using Kind = ApplicationFollower::Status::Kind;
    // Captured, and told: a stop from here on silences what is not told yet.
    const auto capturing = [&](pid_t pid) {
        return test::eventually([&] {
            const auto source = capture->currentSource();
            std::lock_guard lock(mutex);
            return source && source->id == pid && !statuses.empty() && statuses.back().kind == Kind::capturing;
        });
    };
    ASSERT_TRUE(capturing(tone->pid()));
    tone.reset();
    ASSERT_TRUE(test::eventually([&] { return !capture->isCapturing(); }));
    tone.emplace("Followed", 440, 0.25f);
    ASSERT_TRUE(capturing(tone->pid()));
    follower->stop();
    follower->waitForLook();
    EXPECT_FALSE(capture->isCapturing());

    std::lock_guard lock(mutex);
    std::vector<Kind> kinds;
    for (const auto& status : statuses)
        if (status.kind != Kind::notPlaying) kinds.push_back(status.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::capturing, Kind::ended, Kind::capturing}));
    EXPECT_TRUE(statuses.back().again);
}

// The sound server killed under the follower and started again (a crash,
// an upgrade), on a server of the test's own: the follower says there is
// none, keeps asking, and captures the application again once it plays
// there, with nothing on the server to tell it of the server's return.
TEST_F(Capture, TheFollowerCapturesAgainOnceTheSoundServerIsBack)
{
    test::OwnSoundServer server;
    ASSERT_TRUE(server.ok()) << server.output();
    useServer(server.environment());  // for pacat too
    std::optional<test::PacatTone> tone;
    tone.emplace("Restarted", 440, 0.25f);
    const auto capture = AudioSourceCapture::create();
    std::mutex mutex;
    std::vector<ApplicationFollower::Status::Kind> kinds;
    const auto follower = ApplicationFollower::start(capture, {"pacat", "Restarted", 0}, [&](const auto& status) {
        std::lock_guard lock(mutex);
        kinds.push_back(status.kind);
    });
    using Kind = ApplicationFollower::Status::Kind;
    const auto told = [&](Kind kind) {
        std::lock_guard lock(mutex);
        return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
    };
    const auto captures = [&](pid_t pid) {
        return test::eventually(
            [&] {
                const auto source = capture->currentSource();
                return source && source->id == pid;
            },
            15s);
    };
    ASSERT_TRUE(captures(tone->pid()));

    ASSERT_TRUE(server.kill()) << server.output();
    ASSERT_TRUE(test::eventually([&] { return told(Kind::noServer); }));
    tone.reset();  // gone with its server
    ASSERT_TRUE(server.restart()) << server.output();
    tone.emplace("Restarted", 440, 0.25f);
    EXPECT_TRUE(captures(tone->pid()));
    follower->stop();
    follower->waitForLook();
}

// A stop that comes while a start is under way, at any moment of it: no
// crash, no race, and once the last stop has returned no buffer arrives.
TEST_F(Capture, StopWhileStartingIsSafe)
{
    test::PacatTone tone("Racer", 440, 0.25f);
    const auto capture = AudioSourceCapture::create();
    std::atomic<int> buffers{0};
    capture->setOnAudioBuffer([&](const AudioSampleBuffer&) { ++buffers; });
    const auto source = find(*capture, "Racer");
    ASSERT_TRUE(source);
    for (int round = 0; round < 12; ++round) {
        std::thread starter([&] { capture->startCapture(*source); });
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 4));
        capture->stopCapture();
        starter.join();
        capture->stopCapture();  // whichever won, it ends here
        EXPECT_FALSE(capture->isCapturing());
        const int atStop = buffers;
        std::this_thread::sleep_for(60ms);
        EXPECT_EQ(buffers, atStop) << round;
    }
}

// The player's own output follows the device chosen for it.
TEST_F(Capture, PlayerOutputMovesToTheChosenDevice)
{
    test::NullSink other("ondaline_other");
    auto main = std::make_shared<platform::QueueMainExecutor>();
    auto player = TestPlayer::create(main, {.useSoundServer = true, .applicationName = "Ondaline Player"});
    main->queue().sync([&] { player->setup(); });
    ASSERT_EQ(player->engine().kind(), platform::AudioOutput::Kind::soundServer) << player->engine().nullReason();

    // The program itself is offered, but its own sound is never captured.
    const auto capture = AudioSourceCapture::create();
    const auto self = find(*capture, "Ondaline Player");
    ASSERT_TRUE(self);
    EXPECT_EQ(self->id, ::getpid());
    EXPECT_EQ(capture->startCapture(*self), "Ondaline's own sound is never captured");
    EXPECT_FALSE(capture->isCapturing());
    std::string error;
    ASSERT_TRUE(player->engine().moveToDevice("ondaline_other", error)) << error;
    EXPECT_EQ(player->engine().deviceUID(), "ondaline_other");
    EXPECT_EQ(sinkNameOf(sinkInputOf("Ondaline Player")), "ondaline_other");
    ASSERT_TRUE(player->engine().moveToDevice("", error)) << error;
    EXPECT_EQ(sinkNameOf(sinkInputOf("Ondaline Player")), defaultSink_);
    EXPECT_FALSE(player->engine().moveToDevice("no_such_device", error));
    main->queue().sync([&] { player.reset(); });
}
