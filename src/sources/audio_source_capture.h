#pragma once

// Broadcasting another application's sound: the applications playing sound
// now, and a capture of one of them (its own playback streams only, never
// anyone else's and never ours) handed over buffer by buffer.
//
// Threads: availableSources() and startCapture() may block for a moment and
// are meant for a worker thread; stopCapture() is for the main thread.
// onAudioBuffer runs on the capture queue "com.ondaline.appcapture", and so
// does onError, after the state has been cleared. Once stopCapture() has
// returned no buffer reaches onAudioBuffer any more.

#include "platform/audio/application_audio.h"
#include "platform/dispatch/serial_queue.h"
#include "sources/audio_sample_buffer.h"

#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ondaline::sources {

struct AudioSource {
    std::int32_t id = 0;  // process id
    std::string name;
    // The program's binary name stands for it here, else the application's
    // name; the list always fills it.
    std::optional<std::string> bundleIdentifier;
    std::any scApp;         // the sound server's view of the application
    bool isPaused = false;  // listed, but every stream of it paused: not playing

    bool operator==(const AudioSource& other) const { return id == other.id; }
};

struct CaptureConfiguration {
    double sampleRate = 48000;
    int channelCount = 2;
};

class AudioSourceCapture : public std::enable_shared_from_this<AudioSourceCapture> {
    struct Passkey {};

public:
    using BufferHandler = std::function<void(const AudioSampleBuffer& buffer)>;
    using ErrorHandler = std::function<void(const std::string& error)>;

    static std::shared_ptr<AudioSourceCapture> create();
    explicit AudioSourceCapture(Passkey);
    ~AudioSourceCapture();

    AudioSourceCapture(const AudioSourceCapture&) = delete;
    AudioSourceCapture& operator=(const AudioSourceCapture&) = delete;

    void setOnAudioBuffer(BufferHandler handler);
    void setOnError(ErrorHandler handler);

    // The applications playing sound, by name (case-insensitive); empty, with
    // a log line, when the sound server cannot be asked, which the second
    // form also tells in `error`.
    std::vector<AudioSource> availableSources();
    std::vector<AudioSource> availableSources(std::string& error);
    // The same of the server's list.
    static std::vector<AudioSource> sourcesFrom(const std::vector<platform::PlayingApplication>& applications);

    // Starts capturing; the failure, if any. A start while capturing, or with
    // a source that holds no application, returns without an error and
    // without capturing; so does one that stopCapture() overtook.
    std::optional<std::string> startCapture(const AudioSource& source,
                                            CaptureConfiguration configuration = CaptureConfiguration());
    void stopCapture();

    bool isCapturing() const;
    // Capturing, and the application's sound has come.
    bool isDelivering() const;
    std::optional<AudioSource> currentSource() const;

    // The capture's entries, on the capture queue: a buffer, and the end of
    // the capture by the sound server's side.
    void handleSampleBuffer(const AudioSampleBuffer& buffer, std::uint64_t generation);
    void handleStop(const std::string& error, std::uint64_t generation);

private:
    bool admit(std::size_t frames, int sampleRate);

    mutable std::mutex mutex_;
    // Held while a buffer is being handed to onAudioBuffer; stopCapture()
    // takes it too, so it returns only after such a hand-over has finished.
    std::mutex deliveryMutex_;
    BufferHandler onAudioBuffer_;
    ErrorHandler onError_;
    bool isCapturing_ = false;
    std::optional<AudioSource> currentSource_;
    std::unique_ptr<platform::ApplicationAudioCapture> stream_;
    std::uint64_t generation_ = 0;                   // moves on with every start and stop
    std::optional<std::string> endedWhileStarting_;  // the end of the start under way
    std::uint64_t audioBufferCount_ = 0;
    std::atomic<std::size_t> queuedFrames_{0};  // handed to the queue, not yet taken
    std::atomic<std::uint64_t> droppedBuffers_{0};

    platform::SerialQueue outputQueue_{"com.ondaline.appcapture"};
};

}  // namespace ondaline::sources
