#pragma once

// A playback stream on the sound server (PulseAudio, or PipeWire's pulse
// service): 44100 Hz stereo float, interleaved. write() blocks until the
// server has room, so the writer runs at the device's pace.

#include <cstddef>
#include <memory>
#include <string>

namespace ondaline::platform {

class PulsePlayback {
public:
    // Null, with `error` set, when no sound server answers (within about
    // two seconds) or the stream cannot be made. The server is the one
    // PULSE_SERVER names, else the user's; it is never spawned. The stream
    // plays on the output device with `deviceUID`, or on the server's
    // default device when that is "" or the device is not there (then the
    // default, not where the server last kept this program's stream).
    // Only "" follows the default as it changes: on a chosen device the
    // stream stays, whatever the server does with the default.
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
    // the stream has failed or interrupt() was called.
    bool write(const float* interleaved, std::size_t frames);

    // Makes a waiting write() return false, now and from then on.
    void interrupt();

    // 0 silences what is heard, 1 is full level.
    void setVolume(float volume);

    // Moves the stream to the output device with this uid ("" = the
    // server's default device, followed from then on), where it stays.
    // False, with `error` set, when it fails.
    bool moveToDevice(const std::string& uid, std::string& error);

    // The device the stream plays on now.
    std::string deviceUID() const;

    struct Private;

private:
    explicit PulsePlayback(std::unique_ptr<Private> p);
    std::unique_ptr<Private> private_;
};

}  // namespace ondaline::platform
