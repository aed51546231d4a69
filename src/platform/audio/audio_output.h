#pragma once

// The player's output. A thread of its own pulls 1024-frame blocks of 44100
// Hz stereo float from a render callback at real-time pace, on absolute
// deadlines, and hands each to the tap: what the tap feeds (the broadcast)
// never waits on the sound server. A second thread plays the blocks there,
// for the station's own listening: a stream that opens, closes or stalls
// holds up that thread alone, and of the blocks it cannot take in time the
// oldest are dropped. Where no sound server answers (a headless machine), or
// once it goes away, the blocks are heard nowhere; until the server answers
// again the second thread tries to open the stream anew, after reopenFirst
// and then twice as long each time, up to reopenMost.

#include "platform/audio/audio_block.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // Blocks waiting for the sound server (about 93 ms): beyond them the
    // oldest goes, so that what is heard stays close to what is sent.
    static constexpr std::size_t queuedBlocksMost = 4;

    enum class Kind { none, soundServer, null };
    // Told when the stream on the sound server is lost (false) and when it
    // plays again (true), on the output's own threads.
    using ServerListener = std::function<void(bool playing)>;
    // Told, on the output's own thread, what keeping the stream on the
    // device chosen had to do ("the player's stream was on …, not on … —
    // put back"), once each time.
    using DeviceListener = std::function<void(const std::string& note)>;
    struct Options {
        bool useSoundServer = true;
        std::string applicationName = "Ondaline";
    };

    AudioOutput(Render render, Tap tap, Options options);
    AudioOutput(Render render, Tap tap) : AudioOutput(std::move(render), std::move(tap), Options{}) {}
    ~AudioOutput();  // stops

    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens the sound server's stream, if it answers, and starts the
    // threads. False, with `error` set, only when the tap cannot run.
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
    void setDeviceListener(DeviceListener listener);

    // What is heard: 0 silent, 1 full level. The tap always has the full signal.
    void setVolume(float volume);

    // The output device every stream the output opens plays on ("" = the
    // server's default): at start, and whenever the server is back. Nothing
    // the server or its session manager do moves it off that device; while
    // the device is not there the default plays, and once it is back, it
    // again. The stream that plays now stays where it is.
    void chooseDevice(const std::string& uid);
    // Moves the stream that plays now to the device with this uid ("" = the
    // default). False, with `error` set, while none plays on the server.
    bool moveToDevice(const std::string& uid, std::string& error);
    // The device the stream plays on now; "" without one.
    std::string deviceUID() const;

private:
    void pace();
    void waitForDeadline();
    void queueForServer(const float* left, const float* right);
    void playOnServer();
    // With the lock free: a stream on the chosen device at the set level.
    std::shared_ptr<PulsePlayback> openPlayback(std::string& reason);
    void tell(bool playing);

    const Render render_;
    const Tap tap_;
    const Options options_;

    mutable std::mutex mutex_;            // guards what the methods share with the threads
    std::condition_variable paceWake_;    // stopping
    std::condition_variable serverWake_;  // stopping, or a block queued
    bool stopping_ = false;
    bool running_ = false;
    Kind kind_ = Kind::none;
    std::string nullReason_;
    float volume_ = 1;
    std::string chosenDevice_;  // where a stream is opened; "" = the default
    std::shared_ptr<PulsePlayback> playback_;
    ServerListener serverListener_;
    DeviceListener deviceListener_;
    // Interleaved blocks on their way to the server: a ring of
    // queuedBlocksMost, `queued_` of them from `queueHead_` on.
    std::vector<float> queue_;
    std::size_t queueHead_ = 0, queued_ = 0;
    std::thread pacer_;
    std::thread server_;  // while the sound server is used

    // The pacer's own.
    std::chrono::steady_clock::time_point deadline_{};
};

}  // namespace ondaline::platform
