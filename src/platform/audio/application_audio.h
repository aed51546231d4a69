#pragma once

// Other applications' sound on the sound server: which applications are
// playing (their playback streams grouped by application), and a capture of
// one application's streams through monitor streams, which take that
// application's sound alone, never anybody else's or ours.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ondaline::platform {

struct PlayingApplication {
    std::int32_t pid = 0;                // application.process.id; 0 when unknown
    std::string name;                    // application.name
    std::string binary;                  // application.process.binary; empty when unknown
    std::vector<std::uint32_t> streams;  // its playback streams (sink inputs), oldest first
};

// The applications that have playback streams now, in the server's order;
// applications are told apart by process id, else by name. Empty, with
// `error` set, when no sound server answers.
std::vector<PlayingApplication> listPlayingApplications(std::string& error);

class ApplicationAudioCapture {
public:
    struct Format {
        int sampleRate = 48000;
        int channels = 2;
    };
    // Interleaved float frames, on the sound server's thread.
    using DataHandler = std::function<void(const float* interleaved, std::size_t frames, const Format& format)>;
    // The capture ended by itself (the application's streams went away, or
    // the server did); with a reason for people.
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
