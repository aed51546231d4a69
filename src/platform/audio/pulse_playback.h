#pragma once

// A playback stream on the sound server (PulseAudio, or PipeWire's pulse
// service): 44100 Hz stereo float, interleaved. write() blocks until the
// server has room, so the writer runs at the device's pace.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace ondaline::platform {

class PulsePlayback {
public:
    // How often, while it plays, where the stream plays is asked of the
    // server and set right where it differs from the choice.
    static constexpr std::chrono::milliseconds checkInterval{500};

    // Null, with `error` set, when no sound server answers (within about
    // two seconds) or the stream cannot be made. The server is the one
    // PULSE_SERVER names, else the user's; it is never spawned. The stream
    // plays on the output device with `deviceUID`, which it cannot be moved
    // off, whatever the server or its session manager do with the default;
    // or, when that is "" or the device is not there, on the server's
    // default device (not where the server last kept this program's
    // stream), following the default as it changes. A chosen device that
    // goes gives the stream to the default until it is back, then has it
    // again.
    static std::unique_ptr<PulsePlayback> open(const std::string& applicationName, const std::string& deviceUID,
                                               std::string& error);
    static std::unique_ptr<PulsePlayback> open(const std::string& applicationName, std::string& error)
    {
        return open(applicationName, {}, error);
    }
    ~PulsePlayback();

    PulsePlayback(const PulsePlayback&) = delete;
    PulsePlayback& operator=(const PulsePlayback&) = delete;

    // Plays `frames` interleaved stereo frames; waits for room. False when
    // the server went away or interrupt() was called.
    bool write(const float* interleaved, std::size_t frames);
    // What the stream's keeping to the choice has to tell since the last
    // call ("the player's stream was on …, not on … — put back"); empty
    // when nothing.
    std::string takeNote();

    // Makes a waiting write() return false, now and from then on.
    void interrupt();

    // 0 silences what is heard, 1 is full level.
    void setVolume(float volume);

    // Plays on the output device with this uid from now on, as open() does
    // ("" = the server's default device, followed from then on): on a
    // device, a new stream takes the place of this one. False, with `error`
    // set and the stream where it was, when it fails.
    bool moveToDevice(const std::string& uid, std::string& error);

    // The device the stream plays on now.
    std::string deviceUID() const;

    struct Private;

private:
    explicit PulsePlayback(std::unique_ptr<Private> p);
    std::unique_ptr<Private> private_;
};

}  // namespace ondaline::platform
