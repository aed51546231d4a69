#pragma once

// The station's built-in source: plays the ".flac" files of the music folder
// in shuffled order, lets the operator listen locally, and hands every block
// of what it plays (44100 Hz stereo float, 1024 frames) to the engine, the
// meters and the spectrum bars.
//
// Threads: the owner calls everything from the main thread, where track
// starts, the advance after a track's end and onTrackChange also run. The
// output's thread runs the tap (engine hand-off, onMeterUpdate, analyser,
// the engine's spectrum levels) and reports a track's end; the end is
// checked there and again on the main thread before anything changes.

#include "platform/audio/audio_output.h"
#include "platform/dispatch/main_executor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/file_rights/named_file.h"
#include "platform/locked.h"
#include "sources/spectrum_analyzer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ondaline {
class Ondaline;
}

namespace ondaline::platform {
class AudioFileReader;
}

namespace ondaline::sources {

struct TapFormat {
    double sampleRate = 44100;
    std::uint32_t channelCount = 2;

    // "2 ch, 44100 Hz, Float32, deinterleaved"
    std::string description() const;
};

class TestPlayer : public std::enable_shared_from_this<TestPlayer> {
    struct Passkey {};

public:
    using TrackChangeHandler = std::function<void(int position, int count, const std::string& fileName)>;
    using MeterHandler = std::function<void(float left, float right)>;

    static std::shared_ptr<TestPlayer> create(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                              platform::AudioOutput::Options output = {});
    TestPlayer(Passkey, std::shared_ptr<platform::MainExecutor> mainExecutor, platform::AudioOutput::Options output);
    ~TestPlayer();

    TestPlayer(const TestPlayer&) = delete;
    TestPlayer& operator=(const TestPlayer&) = delete;

    // The player's own output (its device can be chosen).
    platform::AudioOutput& engine() { return *engine_; }

    void setStreamer(std::shared_ptr<Ondaline> engine) { streamer_.set(std::move(engine)); }
    std::shared_ptr<Ondaline> streamer() const { return streamer_.get(); }
    void setOnTrackChange(TrackChangeHandler handler) { onTrackChange_.set(std::move(handler)); }
    void setOnMeterUpdate(MeterHandler handler) { onMeterUpdate_.set(std::move(handler)); }

    // None before setup().
    std::optional<TapFormat> tapFormat() const { return tapFormat_.get(); }

    // --- main thread ---

    // The ".flac" files directly inside `folder` (any case of the
    // extension), sorted and then shuffled; position back to the first.
    // Each is played only where those who may change what the folder holds
    // could read it too.
    void loadPlaylist(const std::string& folder);
    // Installs the tap and starts the output; a second call changes nothing.
    void setup();
    void play();
    void stop();
    void skip();
    void toggleMute();

    const std::vector<std::string>& playlist() const { return playlist_; }
    int currentIndex() const { return currentIndex_; }
    int trackCount() const { return static_cast<int>(playlist_.size()); }
    bool isPlaying() const { return isPlaying_.load(); }
    bool isMuted() const { return isMuted_; }
    std::uint64_t playGeneration() const { return playGeneration_.load(); }

private:
    void playCurrentTrack();
    void advanceToNext();
    void shufflePlaylist();
    void trackEnded(std::uint64_t generation, bool played);
    void giveUp();

    // The output's thread.
    void render(float* left, float* right, std::size_t frames);
    void tap(const platform::AudioBlock& block);

    const std::shared_ptr<platform::MainExecutor> mainExecutor_;
    std::unique_ptr<platform::AudioOutput> engine_;

    platform::Locked<std::shared_ptr<Ondaline>> streamer_;
    platform::Locked<TrackChangeHandler> onTrackChange_;
    platform::Locked<MeterHandler> onMeterUpdate_;
    platform::Locked<std::optional<TapFormat>> tapFormat_;

    // Main thread only.
    std::vector<std::string> playlist_;
    platform::NamedFileRules playlistRules_;
    int currentIndex_ = 0;
    bool isMuted_ = false;
    bool isSetUp_ = false;
    std::size_t silentTracks_ = 0;  // tracks in a row that opened but held no audio

    // Read by the output's thread.
    std::atomic<bool> isPlaying_{false};
    std::atomic<bool> isSkipping_{false};
    std::atomic<std::uint64_t> playGeneration_{0};

    // What plays now: the scheduled file and what to call at its end.
    std::mutex nodeMutex_;
    std::unique_ptr<platform::AudioFileReader> track_;
    std::size_t trackFrames_ = 0;
    std::function<void(bool played)> trackCompletion_;

    // The tap's own (the output's thread).
    SpectrumAnalyzer spectrumAnalyzer_{40};

    // Delays the advance after a track's end by a tenth of a second.
    platform::SerialQueue delayQueue_{"com.quillmere.testplayer"};
};

}  // namespace ondaline::sources
