#pragma once

// A capture of one application's sound on the sound server, through monitor
// streams of its playback streams, which take that application's sound
// alone, never anybody else's or ours. A stream the application opens while
// it is captured joins the capture.

#include "platform/audio/playing_applications.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace ondaline::platform {

class ApplicationAudioCapture {
public:
    struct Format {
        int sampleRate = 48000;
        int channels = 2;
    };
    // Interleaved float frames, on the sound server's thread.
    using DataHandler = std::function<void(const float* interleaved, std::size_t frames, const Format& format)>;
    // The capture ended by itself (the application's last stream went away,
    // or the server did); with a reason for people.
    using EndHandler = std::function<void(const std::string& reason)>;

    // Starts recording the application's playback streams (mixed when it
    // has several). Null, with `error` set, when it cannot start.
    static std::unique_ptr<ApplicationAudioCapture> start(const PlayingApplication& application, Format format,
                                                          DataHandler onData, EndHandler onEnd, std::string& error);
    // Stops; once it returns no handler is called any more.
    ~ApplicationAudioCapture();

    ApplicationAudioCapture(const ApplicationAudioCapture&) = delete;
    ApplicationAudioCapture& operator=(const ApplicationAudioCapture&) = delete;

    struct Private;

private:
    explicit ApplicationAudioCapture(std::unique_ptr<Private> p);
    std::unique_ptr<Private> private_;
};

}  // namespace ondaline::platform
