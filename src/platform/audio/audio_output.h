#pragma once

// The player's output: a thread of its own pulls 1024-frame blocks of 44100 Hz
// stereo float from a render callback, hands each to the tap, and then plays
// it on the sound server. Where no sound server answers (a headless
// machine), or once it goes away, a null output takes the blocks at real-time
// pace on absolute deadlines, so the tap keeps its rhythm either way. Until
// the server answers again a second thread tries to open the stream anew,
// after reopenFirst and then twice as long each time, up to reopenMost.

#include "platform/audio/audio_block.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ondaline::platform {

class PulsePlayback;

class AudioOutput {
public:
    static constexpr int sampleRate = 44100;
    static constexpr int channels = 2;
    static constexpr std::size_t blockFrames = 1024;

    // Fills both planes with `frames` frames (silence when nothing plays).
    using Render = std::function<void(float* left, float* right, std::size_t frames)>;
    using Tap = std::function<void(const AudioBlock& block)>;

    static constexpr std::chrono::milliseconds reopenFirst{500};
    static constexpr std::chrono::milliseconds reopenMost{4000};

    enum class Kind { none, soundServer, null };
    // Told when the stream on the sound server is lost (false) and when it
    // plays again (true), on the output's own threads.
    using ServerListener = std::function<void(bool playing)>;
    struct Options {
        bool useSoundServer = true;
        std::string applicationName = "Ondaline";
    };

    AudioOutput(Render render, Tap tap, Options options);
    AudioOutput(Render render, Tap tap) : AudioOutput(std::move(render), std::move(tap), Options{}) {}
    ~AudioOutput();  // stops

    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the sound server's stream, or the null output, and starts the
    // thread. False, with `error` set, only when the thread cannot run.
    bool start(std::string& error);
    void stop();
    bool isRunning() const;

    // What plays the blocks (none before start), and why it is the null
    // output when it is.
    Kind kind() const;
    std::string nullReason() const;
    // Running on the null output while a sound server should play: what is
    // played is not heard.
    bool isMissingSoundServer() const;
    void setServerListener(ServerListener listener);

    // What is heard: 0 silent, 1 full level. The tap always has the full signal.
    void setVolume(float volume);

    // Moves playback to the output device with this uid ("" = the default).
    // Before start() it chooses the device that start() opens the stream on
    // (the default, should it be gone by then). False, with `error` set,
    // while the null output plays or when the sound server is not used.
    bool moveToDevice(const std::string& uid, std::string& error);
    // The device the stream plays on now; "" without one.
    std::string deviceUID() const;

private:
    void run();
    void play(const float* left, const float* right);
    void waitForNullDeadline();
    void reopen();
    void tell(bool playing);

    const Render render_;
    const Tap tap_;
    const Options options_;

    mutable std::mutex mutex_;  // guards what the methods share with the thread
    std::condition_variable wake_;
    bool stopping_ = false;
    bool running_ = false;
    Kind kind_ = Kind::none;
    std::string nullReason_;
    float volume_ = 1;
    std::string chosenDevice_;  // where start() opens the stream; "" = the default
    std::shared_ptr<PulsePlayback> playback_;
    ServerListener serverListener_;
    std::thread thread_;
    std::thread reopener_;  // while the sound server is used

    // The thread's own.
    std::chrono::steady_clock::time_point nullDeadline_{};
    std::unique_ptr<float[]> interleaved_;
};

}  // namespace ondaline::platform
