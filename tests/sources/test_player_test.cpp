// The playlist player on the null output (real time, no sound server): the
// playlist rules, the track state machine with real FLAC files made here,
// and what the tap reports.

#include "sources/test_player.h"

#include "platform/audio/audio_file_reader.h"
#include "support/log_capture.h"
#include "support/needs.h"
#include "support/process.h"
#include "support/run_folder.h"
#include "support/tone_analysis.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace ondaline;
using namespace ondaline::sources;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class MusicFolder {
public:
    MusicFolder() : path_(test::runFolder() / ("music-" + std::to_string(counter_++)))
    {
        fs::create_directories(path_);
    }
    ~MusicFolder() { fs::remove_all(path_); }

    // A sine of `seconds` as FLAC.
    std::string tone(const std::string& name, int rate, int channels, double hz, double seconds = 0.3) const
    {
        const std::string file = (path_ / name).string();
        test::writeToneFLAC(file, rate, channels, hz, seconds);
        return file;
    }
    // A FLAC file with its header and not one frame of audio.
    void empty(const std::string& name) const
    {
        test::runCommand(
            "ffmpeg -v error -y -f lavfi -i sine=sample_rate=44100:duration=1 -frames:a 0 -c:a flac -f flac " +
            test::shellQuote((path_ / name).string()));
    }
    void junk(const std::string& name) const { std::ofstream(path_ / name) << "not audio at all, just words"; }
    void folder(const std::string& name) const { fs::create_directories(path_ / name); }
    std::string path() const { return path_.string(); }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

struct Tracks {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> reported;  // "position/count name"

    TestPlayer::TrackChangeHandler handler()
    {
        return [this](int position, int count, const std::string& name) {
            std::lock_guard lock(mutex);
            reported.push_back(std::to_string(position) + "/" + std::to_string(count) + " " + name);
            changed.notify_all();
        };
    }
    bool waitFor(std::size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return reported.size() >= count; });
    }
};

class Player : public ::testing::Test {
protected:
    void SetUp() override
    {
        player_ = TestPlayer::create(main_, platform::AudioOutput::Options{.useSoundServer = false});
        player_->setOnTrackChange(tracks_.handler());
    }
    void TearDown() override
    {
        onMain([&] { player_.reset(); });
    }

    // The owner's calls belong on the main thread.
    void onMain(const std::function<void()>& task) { main_->queue().sync(task); }

    std::shared_ptr<platform::QueueMainExecutor> main_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<TestPlayer> player_;
    Tracks tracks_;
};

std::string name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

TEST(AudioFileReader, DecodesToStereoAt44100WhateverTheFile)
{
    MusicFolder music;
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{48000, 1}}) {
        SCOPED_TRACE(rate);
        const std::string file = music.tone("t.flac", rate, channels, 440, 2.0);
        std::string error;
        auto reader = platform::AudioFileReader::open(file, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_EQ(reader->fileSampleRate(), rate);
        EXPECT_EQ(reader->fileChannels(), channels);
        std::vector<float> left, right, blockLeft(1000), blockRight(1000);
        while (const auto n = reader->read(blockLeft.data(), blockRight.data(), blockLeft.size())) {
            left.insert(left.end(), blockLeft.begin(), blockLeft.begin() + long(n));
            right.insert(right.end(), blockRight.begin(), blockRight.begin() + long(n));
        }
        EXPECT_NEAR(double(left.size()), 2.0 * 44100, 64);
        EXPECT_EQ(left, right);  // mono is heard on both sides, at full level
        const auto tone = test::analyseTone(left, 44100, 0.1);
        EXPECT_NEAR(tone.hz, 440, 1);
        // ffmpeg's sine is 1/8 of full scale, spread at −3 dB over two channels.
        EXPECT_NEAR(tone.peakDBFS, 20 * std::log10(0.125) - (channels == 2 ? 3.01 : 0), 0.3);
    }
    std::string error;
    music.junk("junk.flac");
    EXPECT_FALSE(platform::AudioFileReader::open(music.path() + "/junk.flac", error));
    EXPECT_FALSE(error.empty());
    music.folder("dir.flac");
    EXPECT_FALSE(platform::AudioFileReader::open(music.path() + "/dir.flac", error));

    // Another user's link in the music folder does not put what it leads to on air.
    ONDALINE_NEEDS(::geteuid() == 0, "a link owned by another user needs root to make");
    const std::string link = music.path() + "/link.flac";
    fs::create_symlink(music.path() + "/t.flac", link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(platform::AudioFileReader::open(link, error));
    EXPECT_EQ(error, "a link owned by nobody, not followed");
}

// FLAC lets a file change its channels from one frame to the next: the
// frames after the change are converted as what they are.
TEST(AudioFileReader, FollowsAChannelChangeInsideTheFile)
{
    MusicFolder music;
    const std::string stereo = music.tone("stereo.flac", 44100, 2, 440, 1.0);
    const std::string mono = music.tone("mono.flac", 44100, 1, 440, 1.0);
    // The mono file's frames, without its "fLaC" marker and metadata blocks,
    // go after the stereo file's.
    std::ifstream in(mono, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::size_t at = 4;
    for (bool last = false; !last && at + 4 <= bytes.size();) {
        last = (static_cast<unsigned char>(bytes[at]) & 0x80) != 0;
        const std::size_t length = (std::size_t(static_cast<unsigned char>(bytes[at + 1])) << 16) |
                                   (std::size_t(static_cast<unsigned char>(bytes[at + 2])) << 8) |
                                   static_cast<unsigned char>(bytes[at + 3]);
        at += 4 + length;
    }
    std::ofstream(stereo, std::ios::binary | std::ios::app).write(bytes.data() + at, long(bytes.size() - at));

    std::string error;
    auto reader = platform::AudioFileReader::open(stereo, error);
    ASSERT_TRUE(reader) << error;
    std::vector<float> left(4096), right(4096);
    std::size_t frames = 0;
    float loudest = 0;
    while (const auto n = reader->read(left.data(), right.data(), left.size())) {
        for (std::size_t i = 0; i < n; ++i) loudest = std::max({loudest, std::abs(left[i]), std::abs(right[i])});
        frames += n;
    }
    EXPECT_NEAR(double(frames), 2.0 * 44100, 4096);
    EXPECT_LT(loudest, 0.13f);  // the sine's own peak, 1/8 of full scale
}

TEST_F(Player, PlaylistHoldsTheFlacFilesOfTheFolderAlone)
{
    MusicFolder music;
    music.tone("b.FLAC", 44100, 2, 440);
    music.tone("a.flac", 44100, 2, 440);
    music.junk("c.mp3");
    music.folder("d.flac");
    test::LogCapture log;
    onMain([&] { player_->loadPlaylist(music.path()); });
    std::vector<std::string> names;
    for (const auto& path : player_->playlist()) names.push_back(name(path));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.flac", "b.FLAC", "d.flac"}));
    EXPECT_EQ(player_->currentIndex(), 0);
    EXPECT_TRUE(log.contains("TestPlayer: Found 3 FLAC files"));

    onMain([&] { player_->loadPlaylist(music.path() + "/missing"); });
    EXPECT_EQ(player_->trackCount(), 3);
    EXPECT_TRUE(log.contains("TestPlayer: Cannot read directory: " + music.path() + "/missing"));

    onMain([&] { player_->play(); });  // nothing set up yet: the tracks still start
    onMain([&] { player_->stop(); });
    const auto generation = player_->playGeneration();
    onMain([&] { player_->loadPlaylist(music.path() + "/d.flac"); });  // an empty folder
    onMain([&] { player_->play(); });
    EXPECT_TRUE(log.contains("TestPlayer: Playlist is empty"));
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_EQ(player_->playGeneration(), generation);
}

// Every file once per pass, in the order logged, the unreadable ones
// skipped; after the last a new order starts at its first track.
TEST_F(Player, PlaysEachTrackOncePerPassAndSkipsWhatDoesNotOpen)
{
    MusicFolder music;
    music.tone("one.flac", 44100, 2, 440);
    music.tone("two.flac", 48000, 1, 660);
    music.junk("three.flac");
    test::LogCapture log;
    onMain([&] {
        player_->loadPlaylist(music.path());
        player_->setup();
        player_->play();
    });
    ASSERT_TRUE(tracks_.waitFor(4));
    onMain([&] { player_->stop(); });
    EXPECT_TRUE(log.contains("TestPlayer: Cannot read three.flac — skipping"));
    std::vector<std::string> reported;
    {
        std::lock_guard lock(tracks_.mutex);
        reported = tracks_.reported;
    }
    // Each pass, in an order of its own, plays both readable files; the
    // positions count the unreadable one too.
    for (std::size_t pass = 0; pass < 2; ++pass) {
        const auto& a = reported[2 * pass];
        const auto& b = reported[2 * pass + 1];
        std::vector<std::string> files{a.substr(4), b.substr(4)};
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (std::vector<std::string>{"one.flac", "two.flac"})) << pass;
        EXPECT_LT(a.substr(0, 1), b.substr(0, 1)) << pass;
    }
    for (const auto& line : reported) {
        const auto position = line.substr(0, 3), file = line.substr(4);
        EXPECT_TRUE(log.contains("TestPlayer: Playing [" + position + "] " + file)) << line;
    }
}

// A file that those who may change the music folder could not read is
// skipped as an unreadable one is: a member who may move files into the
// folder moves in root's private recording from elsewhere.
TEST_F(Player, SkipsWhatThoseWhoMayChangeTheFolderCouldNotRead)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to another user needs root");
    constexpr gid_t kGroup = 65534;  // "nogroup", the station's group
    MusicFolder music;
    fs::permissions(test::runFolder(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
    ASSERT_EQ(::chown(music.path().c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(music.path().c_str(), 02775), 0);
    fs::permissions(music.tone("open.flac", 44100, 2, 440),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(music.tone("private.flac", 44100, 2, 660), fs::perms::owner_read | fs::perms::owner_write);
    test::LogCapture log;
    onMain([&] {
        player_->loadPlaylist(music.path());
        player_->setup();
        player_->play();
    });
    ASSERT_TRUE(tracks_.waitFor(2));
    onMain([&] { player_->stop(); });
    EXPECT_TRUE(log.contains("TestPlayer: private.flac: the group nogroup may change the station's music and could "
                             "not read it"));
    EXPECT_TRUE(log.contains("TestPlayer: Cannot read private.flac — skipping"));
    {
        std::lock_guard lock(tracks_.mutex);
        for (const std::string& played : tracks_.reported) EXPECT_EQ(played.substr(4), "open.flac");
        tracks_.reported.clear();
    }

    // The folder's access list lets one more user put files there, beside
    // the group: a file only the group may read is skipped too.
    fs::remove(music.path() + "/private.flac");
    fs::permissions(music.tone("group.flac", 44100, 2, 550),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(std::system(("setfacl -m u:64999:rwx " + music.path()).c_str()), 0);
    test::LogCapture listed;
    onMain([&] {
        player_->loadPlaylist(music.path());
        player_->play();
    });
    ASSERT_TRUE(tracks_.waitFor(2));
    onMain([&] { player_->stop(); });
    EXPECT_TRUE(listed.contains("TestPlayer: group.flac: other users may change the station's music and could "
                                "not read it"));
    std::lock_guard lock(tracks_.mutex);
    for (const std::string& played : tracks_.reported) EXPECT_EQ(played.substr(4), "open.flac");
}

TEST_F(Player, APlaylistWithNothingPlayableStopsAfterOnePass)
{
    MusicFolder music;
    music.junk("x.flac");
    music.junk("y.flac");
    music.folder("z.flac");
    test::LogCapture log;
    onMain([&] {
        player_->loadPlaylist(music.path());
        player_->play();
    });
    EXPECT_TRUE(log.contains("TestPlayer: No playable files — stopping"));
    EXPECT_FALSE(player_->isPlaying());
    const auto messages = log.messages();
    const auto skipped = std::count_if(messages.begin(), messages.end(),
                                       [](const std::string& m) { return m.find("— skipping") != std::string::npos; });
    EXPECT_EQ(skipped, 3);

    // One playable file among failing ones is always found, whatever order
    // the reshuffles on the way give.
    music.tone("good.flac", 44100, 2, 440, 5.0);
    test::LogCapture found;
    for (int round = 0; round < 40; ++round) {
        onMain([&] {
            player_->loadPlaylist(music.path());
            player_->play();
            player_->stop();
        });
    }
    EXPECT_FALSE(found.contains("TestPlayer: No playable files — stopping"));

    // Files that open but hold no audio: each plays once, then it ends too.
    MusicFolder silent;
    silent.empty("one.flac");
    silent.empty("two.flac");
    test::LogCapture later;
    onMain([&] {
        player_->loadPlaylist(silent.path());
        player_->setup();
        player_->play();
    });
    ASSERT_TRUE(tracks_.waitFor(2));
    for (int i = 0; i < 100 && player_->isPlaying(); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_TRUE(later.contains("TestPlayer: No playable files — stopping"));
}

// A skip moves on exactly one track, and a stop ends the advancing; the
// stopped or skipped track's end never moves the playlist on.
TEST_F(Player, SkipAdvancesOneTrackAndStopHoldsThePosition)
{
    MusicFolder music;
    for (const char* file : {"a.flac", "b.flac", "c.flac"}) music.tone(file, 44100, 2, 440, 5.0);
    onMain([&] {
        player_->loadPlaylist(music.path());
        player_->setup();
        player_->play();
    });
    ASSERT_TRUE(tracks_.waitFor(1));
    onMain([&] { player_->skip(); });
    EXPECT_EQ(player_->currentIndex(), 1);
    ASSERT_TRUE(tracks_.waitFor(2));
    onMain([&] { player_->stop(); });
    std::this_thread::sleep_for(400ms);  // longer than the delay before an advance
    EXPECT_EQ(player_->currentIndex(), 1);
    {
        std::lock_guard lock(tracks_.mutex);
        EXPECT_EQ(tracks_.reported.size(), 2u);
    }
    onMain([&] { player_->play(); });  // the same track again, from its start
    ASSERT_TRUE(tracks_.waitFor(3));
    std::lock_guard lock(tracks_.mutex);
    EXPECT_EQ(tracks_.reported[2], tracks_.reported[1]);
}

// The tap: 1024-frame blocks at 44100 Hz stereo with meters, also while
// nothing plays and without an engine; set up twice it is still one tap.
TEST_F(Player, TapMetersEveryBlockOnce)
{
    MusicFolder music;
    music.tone("mono.flac", 48000, 1, 440, 1.0);
    std::mutex mutex;
    std::vector<std::pair<float, float>> meters;
    const auto started = std::chrono::steady_clock::now();
    player_->setOnMeterUpdate([&](float left, float right) {
        std::lock_guard lock(mutex);
        meters.emplace_back(left, right);
    });
    test::LogCapture log;
    onMain([&] {
        player_->loadPlaylist(music.path());
        player_->setup();
        player_->setup();
    });
    EXPECT_EQ(player_->tapFormat()->description(), "2 ch, 44100 Hz, Float32, deinterleaved");
    const auto messages = log.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "TestPlayer: Engine started"), 1);
    std::this_thread::sleep_for(300ms);
    onMain([&] { player_->play(); });
    std::this_thread::sleep_for(600ms);
    onMain([&] { player_->toggleMute(); });
    onMain([&] { player_->toggleMute(); });
    EXPECT_TRUE(log.contains("TestPlayer: Local audio MUTED"));
    EXPECT_TRUE(log.contains("TestPlayer: Local audio unmuted"));
    onMain([&] { player_->stop(); });
    // The tap goes on while the player lives: it ends before what it fills.
    onMain([&] { player_.reset(); });

    std::lock_guard lock(mutex);
    // About real time (a block is 23.2 ms), neither flooding nor stalling.
    const double blocksDue = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 0.0232;
    EXPECT_GT(double(meters.size()), blocksDue * 0.5);
    EXPECT_LT(double(meters.size()), blocksDue * 1.5 + 25);
    EXPECT_FLOAT_EQ(meters.front().first, 0.0f);  // silence before play()
    const auto loud = std::find_if(meters.begin(), meters.end(), [](const auto& m) { return m.first > 0.05f; });
    ASSERT_NE(loud, meters.end());
    EXPECT_FLOAT_EQ(loud->first, loud->second);  // the mono file on both sides
}
