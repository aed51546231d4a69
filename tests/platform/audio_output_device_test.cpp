// The output's device and its stream on the sound server: the device chosen
// before the start (another source runs then), the server's default when
// none is chosen, and a server that hangs or restarts under a playing
// output. On the sound peer, and on servers of the tests' own.

#include "platform/audio/audio_output.h"

#include "support/own_sound_server.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/pulse_peer.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <thread>

using namespace ondaline;
using platform::AudioOutput;
using namespace std::chrono_literals;

namespace {

constexpr const char* appName = "Ondaline output device test";
const std::string tag = std::to_string(::getpid());  // other tests share the peer

class AudioOutputDevice : public test::PulsePeerTest {
protected:
    // A server of the test's own, which the output then plays on.
    bool useOwnServer(const test::OwnSoundServer& server)
    {
        if (!server.ok()) return false;
        useServer(server.environment());
        return true;
    }
    // Where the output's stream went from `sink` within `time`, looked at
    // after each event of the server; empty when it stayed.
    std::string leavesWithin(test::ServerEvents& events, const std::string& sink, std::chrono::milliseconds time)
    {
        std::string seen;
        return events.waitFor(
                   [&] {
                       seen = sinkNameOf(sinkInputOf(appName));
                       return seen != sink;
                   },
                   time)
                   ? seen
                   : std::string();
    }
    // The level the server plays the output's stream at, as pactl shows it.
    std::string volumeOf(const std::string& sinkInputEntry)
    {
        std::smatch level;
        return std::regex_search(sinkInputEntry, level, std::regex(R"(Volume:[^\n]*?(\d+)%)")) ? level[1].str() + "%"
                                                                                               : std::string();
    }
};

// Cases on a server of their own, which they hang or kill: they run beside
// the tests of the peer.
using AudioOutputOwnServer = AudioOutputDevice;

void silence(float* left, float* right, std::size_t frames)
{
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
}

}  // namespace

TEST_F(AudioOutputDevice, OpensItsStreamOnTheDeviceChosenBeforeStart)
{
    AudioOutput output(silence, nullptr, {.useSoundServer = true, .applicationName = appName});
    std::string error;
    {
        test::NullSink gone("output_gone_sink");
        output.chooseDevice("output_gone_sink");
    }
    ASSERT_TRUE(output.start(error)) << error;
    ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();
    EXPECT_EQ(sinkNameOf(sinkInputOf(appName)), defaultSink_) << "gone by the start: the default plays";

    test::NullSink chosen("output_chosen_sink");
    output.stop();
    output.chooseDevice("output_chosen_sink");
    ASSERT_TRUE(output.start(error)) << error;
    EXPECT_EQ(sinkNameOf(sinkInputOf(appName)), "output_chosen_sink");
    EXPECT_EQ(output.deviceUID(), "output_chosen_sink");
}

// The server remembers where a program's stream was moved to (PulseAudio's
// stream-restore, WirePlumber's restore-stream) and puts a new stream of it
// there; with no device chosen the output plays on the default all the same.
// A probe, a stream of the program's name on no device of its own, tells
// when the server remembers: once one goes where the move went (the session
// manager may write a move down a moment after it, and forget it when a
// stream it placed ends: the move is made again). Once a probe after the
// output's stream is placed, the server has placed that one, which came
// first.
TEST_F(AudioOutputDevice, WithNoDeviceChosenPlaysOnTheServersDefault)
{
    const bool pulseAudio = test::soundPeer() == "pulse";
    const std::string module = pulseAudio ? pactl("load-module module-stream-restore") : std::string();
    struct Unload {
        std::string module;
        ~Unload()
        {
            if (!module.empty()) test::runCommand("pactl unload-module " + module);
        }
    } unload{module.substr(0, module.find('\n'))};
    const std::string remembered = "output_remembered_" + tag;
    test::NullSink elsewhere(remembered);
    // Where a probe is placed; PipeWire's session manager places streams
    // the later the busier the machine.
    const auto probePlacedOn = [&] {
        test::PacatTone probe(appName, 220, 0.01f);
        std::string sink;
        test::eventually([&] { return !(sink = sinkNameOf(sinkInputOf(appName, probe.pid()))).empty(); }, 20s);
        return sink;
    };
    // Moved as the desktop's sound settings move a program's stream.
    test::PacatTone moved(appName, 220, 0.01f);
    std::string number;
    ASSERT_TRUE(test::eventually([&] {
        return !(number = sinkInputNumberOf(sinkInputOf(appName, moved.pid()))).empty();
    }));
    const auto remembers = [&] {
        pactl("move-sink-input " + number + " " + (pulseAudio ? remembered : defaultSink_));
        if (!pulseAudio) pactl("move-sink-input " + number + " " + remembered);
        return probePlacedOn() == remembered;
    };
    ASSERT_TRUE(test::eventually(remembers, 60s)) << "the server does not remember the move";
    std::string error;
    AudioOutput output(silence, nullptr, {.useSoundServer = true, .applicationName = appName});
    ASSERT_TRUE(output.start(error)) << error;
    ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();
    ASSERT_FALSE(probePlacedOn().empty());
    EXPECT_EQ(sinkNameOf(sinkInputOf(appName, ::getpid())), defaultSink_);
}

// The chosen device unplugged while the output plays: the default plays
// meanwhile, and once the device is back the output plays on it again, as
// it says, and stays there, also where the device came back as the default
// (as switch-on-connect makes it) and the default then went elsewhere.
// With no device chosen, a stream someone else moved off the default is put
// back on it within a second or so, and that is said once.
TEST_F(AudioOutputDevice, TheChoiceIsSetRightWhenTheDeviceComesBackOrTheStreamIsMoved)
{
    const std::string chosen = "output_unplugged_" + tag, other = "output_other_" + tag;
    test::NullSink otherSink(other);
    std::mutex lock;
    std::vector<std::string> notes;
    AudioOutput output(silence, nullptr, {.useSoundServer = true, .applicationName = appName});
    output.setDeviceListener([&](const std::string& note) {
        std::lock_guard hold(lock);
        notes.push_back(note);
    });
    const auto told = [&](const std::string& start) {
        std::lock_guard hold(lock);
        return std::count_if(notes.begin(), notes.end(), [&](const std::string& n) { return n.starts_with(start); });
    };
    const auto playsOn = [&](const std::string& sink) { return sinkNameOf(sinkInputOf(appName)) == sink; };
    std::string error;
    test::ServerEvents events;
    struct RestoreDefault {
        std::string sink;
        ~RestoreDefault() { test::runCommand("pactl set-default-sink " + sink); }
    } restore{defaultSink_};
    {
        auto plugged = std::make_unique<test::NullSink>(chosen);
        output.chooseDevice(chosen);
        ASSERT_TRUE(output.start(error)) << error;
        ASSERT_TRUE(test::eventually([&] { return playsOn(chosen); }, 10s));
        plugged.reset();
        EXPECT_TRUE(test::eventually([&] { return playsOn(defaultSink_); }, 10s)) << sinkInputOf(appName);
        EXPECT_EQ(output.kind(), AudioOutput::Kind::soundServer);
        const test::NullSink back(chosen);
        pactl("set-default-sink " + chosen);
        EXPECT_TRUE(test::eventually([&] { return told("the player plays on " + chosen + " again") == 1; }, 10s));
        pactl("set-default-sink " + defaultSink_);
        EXPECT_EQ(leavesWithin(events, chosen, 1500ms), "");
        EXPECT_EQ(told("the player plays on " + chosen + " again"), 1);
        ASSERT_TRUE(output.moveToDevice("", error)) << error;
    }
    ASSERT_TRUE(test::eventually([&] { return playsOn(defaultSink_); }, 10s));
    const std::string entry = sinkInputOf(appName), number = sinkInputNumberOf(entry);
    ASSERT_FALSE(number.empty()) << entry;
    // Moved as someone else would. A change on the server just after (the
    // devices above still settling) takes a stream that follows the default
    // back at once, unseen and rightly unsaid: the move is made again, but
    // not once the player has said it put the stream back (on a busy
    // machine before the move is seen here).
    const std::string putBack = "the player's stream was on " + other + ", not on " + defaultSink_ +
                                ", the default — put back";
    EXPECT_TRUE(test::eventually(
        [&] {
            if (told(putBack) > 0) return true;
            pactl("move-sink-input " + number + " " + other);
            return test::eventually([&] { return playsOn(other); }, 1s);
        },
        10s));
    EXPECT_TRUE(test::eventually([&] { return playsOn(defaultSink_); }, 10s)) << sinkInputOf(appName);
    std::this_thread::sleep_for(1500ms);  // put back once, and said once
    EXPECT_TRUE(playsOn(defaultSink_));
    EXPECT_EQ(told(putBack), 1);
}

// A device there that gives no stream of this kind (one that takes only
// encoded sound): chosen before the start, the default plays and the
// stream is not made again and again; chosen in the drawer, the move is
// refused and the stream plays on where it was.
TEST_F(AudioOutputDevice, ADeviceThatGivesNoStreamLeavesTheStreamPlaying)
{
    const std::string refusing = "output_encoded_only_" + tag, chosen = "output_plain_" + tag;
    const test::NullSink encodedOnly(refusing, "formats=ac3-iec61937"), plain(chosen);
    const auto streamOf = [&] { return sinkInputNumberOf(sinkInputOf(appName)); };
    AudioOutput output(silence, nullptr, {.useSoundServer = true, .applicationName = appName});
    output.chooseDevice(refusing);
    std::string error;
    ASSERT_TRUE(output.start(error)) << error;
    ASSERT_TRUE(test::eventually([&] { return !streamOf().empty(); }, 10s));
    ASSERT_NE(sinkNameOf(sinkInputOf(appName)), refusing)
        << "this server plays plain sound on a device made for encoded sound";
    const std::string first = streamOf();
    std::this_thread::sleep_for(2s);  // four looks of the writer
    EXPECT_EQ(streamOf(), first) << "a new stream";

    ASSERT_TRUE(output.moveToDevice(chosen, error)) << error;
    ASSERT_TRUE(test::eventually([&] { return sinkNameOf(sinkInputOf(appName)) == chosen; }, 10s));
    const std::string pinned = streamOf();
    EXPECT_FALSE(output.moveToDevice(refusing, error));
    EXPECT_EQ(streamOf(), pinned);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(streamOf(), pinned) << "plays on " << sinkNameOf(sinkInputOf(appName));
}

// A server that hangs holds up the output's stream, never the tap: what
// feeds the broadcast keeps its pace.
TEST_F(AudioOutputOwnServer, TheTapKeepsItsPaceWhileTheServerHangs)
{
    test::OwnSoundServer server;
    ASSERT_TRUE(useOwnServer(server)) << server.output();
    std::atomic<std::size_t> blocks{0};
    AudioOutput output(silence, [&](const platform::AudioBlock&) { ++blocks; },
                       {.useSoundServer = true, .applicationName = appName});
    std::string error;
    ASSERT_TRUE(output.start(error)) << error;
    ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();
    ASSERT_TRUE(test::eventually([&] { return blocks > 20; }));
    ASSERT_TRUE(server.pause()) << server.output();
    const std::size_t before = blocks;
    // A second of sound, whatever the server does: five times what the
    // stream and the queue before it hold.
    EXPECT_TRUE(test::eventually([&] { return blocks > before + AudioOutput::sampleRate / AudioOutput::blockFrames; },
                                 10s))
        << blocks - before << " blocks while the server hung";
    ASSERT_TRUE(server.resume()) << server.output();
}

// When the output tries to open its stream again, counted from the loss:
// reopenFirst, then each wait twice the last, up to the cap. The first try
// after a whole capped wait (0.5 + 1 + 2 + 4 s).
std::chrono::milliseconds firstTryAfterACappedWait()
{
    auto wait = AudioOutput::reopenFirst, at = wait;
    while (wait < AudioOutput::reopenMost) {
        wait = std::min(wait * 2, AudioOutput::reopenMost);
        at += wait;
    }
    return at;
}

// The sound server killed under a playing output (a crash, an upgrade) and
// started again just after the back-off has reached its cap, with the
// chosen device: the tap keeps its pace meanwhile, and within the cap of the
// server's return the output plays there again, on the chosen device, at
// the chosen level.
TEST_F(AudioOutputOwnServer, PlaysOnTheServerAgainOnceItIsBack)
{
    const std::string chosen = "output_back_" + tag;
    test::OwnSoundServer server({chosen});
    ASSERT_TRUE(useOwnServer(server)) << server.output();
    std::atomic<int> lost{0}, back{0};
    std::atomic<std::size_t> blocks{0};
    AudioOutput output(silence, [&](const platform::AudioBlock&) { ++blocks; },
                       {.useSoundServer = true, .applicationName = appName});
    output.setServerListener([&](bool playing) { ++(playing ? back : lost); });
    output.chooseDevice(chosen);
    std::string error;
    ASSERT_TRUE(output.start(error)) << error;
    ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();
    output.setVolume(0.493f);  // 79 % as the server shows it
    ASSERT_TRUE(test::eventually([&] { return volumeOf(sinkInputOf(appName)) == "79%"; })) << sinkInputOf(appName);

    ASSERT_TRUE(server.kill()) << server.output();
    ASSERT_TRUE(test::eventually([&] { return lost > 0; }));
    const auto lostAt = std::chrono::steady_clock::now();
    // Back half a second after the first try that waited the whole cap: the
    // next one comes a cap later (3.5 s from the return), where a back-off
    // that kept doubling would wait twice the cap (7.5 s).
    std::this_thread::sleep_for(firstTryAfterACappedWait() + 500ms);
    const std::size_t before = blocks;
    ASSERT_TRUE(server.restart()) << server.output();
    // Heard again before such a back-off would even try, and, however long
    // the restart took, within the cap of the server's return.
    const auto deadline = std::max(lostAt + firstTryAfterACappedWait() + 2 * AudioOutput::reopenMost - 500ms,
                                   std::chrono::steady_clock::now() + AudioOutput::reopenMost + 1s);
    EXPECT_TRUE(test::eventually([&] { return back > 0; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                               deadline - std::chrono::steady_clock::now())))
        << "not heard again within the back-off's cap of the server's return";
    ASSERT_TRUE(test::eventually([&] { return back > 0; }, 15s));
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(output.kind(), AudioOutput::Kind::soundServer);
    const std::string stream = sinkInputOf(appName);
    EXPECT_EQ(sinkNameOf(stream), chosen);
    EXPECT_EQ(volumeOf(stream), "79%") << stream;
    EXPECT_TRUE(test::eventually([&] { return blocks > before + 10; })) << "the tap's pace goes on";
}

// The default device changing under the output (a headset plugged in, the
// desktop's sound settings): a chosen device keeps the stream, whether it
// was the default when chosen or became it later; not once does the server
// or its session manager take it elsewhere, for as long as each change
// gives them to do so. Only no choice ("System Default") follows the
// default. A stream of another program that follows the default tells when
// the server has moved what it moves; every event of the server after it
// is looked at. The long check (ONDALINE_LONG_CHECKS) runs 600 rounds, as
// scripts/test --long does on each server with other sound tests and a
// build's worth of work beside it.
TEST_F(AudioOutputDevice, TheChosenDeviceKeepsTheStreamWhereverTheDefaultGoes)
{
    const char* longRounds = std::getenv("ONDALINE_LONG_CHECKS");
    const int rounds = longRounds ? std::max(1, std::atoi(longRounds) > 1 ? std::atoi(longRounds) : 600) : 1;
    const std::string speakers = "output_speakers_" + tag, headset = "output_headset_" + tag,
                      hdmi = "output_hdmi_" + tag;
    test::ServerEvents events;
    test::NullSink speakersSink(speakers), headsetSink(headset), hdmiSink(hdmi);
    struct RestoreDefault {
        std::string sink;
        ~RestoreDefault() { test::runCommand("pactl set-default-sink " + sink); }
    } restore{defaultSink_};
    const std::string probeName = "Ondaline default probe " + tag;
    test::PacatTone probe(probeName, 220, 0.01f);
    const auto playsOn = [&](const std::string& name) { return sinkNameOf(sinkInputOf(appName)) == name; };
    std::string current;  // the default, as last set here
    // PipeWire's session manager takes its time to move what follows the
    // default, the longer the busier the machine.
    const auto defaultBecomes = [&](const std::string& sink) {
        EXPECT_NE(sink, current) << "not a change";
        pactl("set-default-sink " + sink);
        current = sink;
        return events.waitFor([&] { return sinkNameOf(sinkInputOf(probeName)) == sink; }, 60s);
    };
    // The stream on `chosen` for a whole second after the server has moved
    // what follows the default to `next`, looked at after each event.
    const auto holdsOn = [&](const std::string& chosen, const std::vector<std::string>& defaults) {
        for (const std::string& next : defaults) {
            SCOPED_TRACE("the default now " + next);
            ASSERT_TRUE(defaultBecomes(next));
            EXPECT_EQ(leavesWithin(events, chosen, 1s), "");
        }
    };
    const auto reaches = [&](const std::string& sink) { return events.waitFor([&] { return playsOn(sink); }, 30s); };
    for (int round = 1; round <= rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (current != speakers) {
            ASSERT_TRUE(defaultBecomes(speakers));
        }
        AudioOutput output(silence, nullptr, {.useSoundServer = true, .applicationName = appName});
        output.chooseDevice(speakers);  // the default at the start
        std::string error;
        ASSERT_TRUE(output.start(error)) << error;
        ASSERT_EQ(output.kind(), AudioOutput::Kind::soundServer) << output.nullReason();
        ASSERT_TRUE(reaches(speakers));
        holdsOn(speakers, {headset, hdmi});
        // The default back on it, and away again.
        ASSERT_TRUE(defaultBecomes(speakers));
        holdsOn(speakers, {headset});
        // Chosen while the default is another.
        output.stop();
        output.chooseDevice(hdmi);
        ASSERT_TRUE(output.start(error)) << error;
        ASSERT_TRUE(reaches(hdmi));
        holdsOn(hdmi, {speakers, headset});
        // Chosen in the drawer while it is the default.
        ASSERT_TRUE(output.moveToDevice(headset, error)) << error;
        ASSERT_TRUE(reaches(headset));
        holdsOn(headset, {hdmi, speakers});

        // "System Default", chosen while the stream is elsewhere, follows
        // the default. And both servers keep a stream that someone else
        // moved (the desktop's sound settings) where it was moved to, also
        // when the default changes: the program takes it to the next
        // default.
        ASSERT_TRUE(output.moveToDevice("", error)) << error;
        ASSERT_TRUE(reaches(speakers)) << "System Default plays on the default";
        ASSERT_TRUE(defaultBecomes(hdmi));
        EXPECT_TRUE(reaches(hdmi)) << "System Default follows the default";
        const std::string entry = sinkInputOf(appName), number = sinkInputNumberOf(entry);
        ASSERT_FALSE(number.empty()) << entry;
        pactl("move-sink-input " + number + " " + headset);
        ASSERT_TRUE(defaultBecomes(speakers));
        EXPECT_TRUE(reaches(speakers)) << "System Default follows the default from where another program moved it; "
                                          "plays on "
                                       << sinkNameOf(sinkInputOf(appName));
    }
}
