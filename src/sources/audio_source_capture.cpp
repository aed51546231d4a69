#include "sources/audio_source_capture.h"

#include "base/print.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>

#include <unistd.h>

namespace ondaline::sources {

namespace {

std::string hex(std::uint32_t value)
{
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

}  // namespace

std::shared_ptr<AudioSourceCapture> AudioSourceCapture::create()
{
    return std::make_shared<AudioSourceCapture>(Passkey{});
}

AudioSourceCapture::AudioSourceCapture(Passkey) {}

// The stream goes first: its handlers post to the queue, which goes last.
AudioSourceCapture::~AudioSourceCapture()
{
    std::unique_ptr<platform::ApplicationAudioCapture> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
    }
}

void AudioSourceCapture::setOnAudioBuffer(BufferHandler handler)
{
    std::lock_guard lock(mutex_);
    onAudioBuffer_ = std::move(handler);
}

void AudioSourceCapture::setOnError(ErrorHandler handler)
{
    std::lock_guard lock(mutex_);
    onError_ = std::move(handler);
}

bool AudioSourceCapture::isCapturing() const
{
    std::lock_guard lock(mutex_);
    return isCapturing_;
}

bool AudioSourceCapture::isDelivering() const
{
    std::lock_guard lock(mutex_);
    return isCapturing_ && audioBufferCount_ > 0;
}

std::optional<AudioSource> AudioSourceCapture::currentSource() const
{
    std::lock_guard lock(mutex_);
    return currentSource_;
}

std::vector<AudioSource> AudioSourceCapture::availableSources()
{
    std::string error;
    return availableSources(error);
}

std::vector<AudioSource> AudioSourceCapture::availableSources(std::string& error)
{
    error.clear();
    const auto applications = platform::listPlayingApplications(error);
    if (!error.empty()) {
        print("AudioSourceCapture: Cannot list the applications playing sound — " + error);
        return {};
    }
    return sourcesFrom(applications);
}

std::vector<AudioSource> AudioSourceCapture::sourcesFrom(const std::vector<platform::PlayingApplication>& applications)
{
    std::vector<AudioSource> sources;
    for (const auto& application : applications) {
        if (application.name.empty()) continue;
        // What the choice is stored as, and found again by after a restart
        // together with the name: the program's binary, else (PipeWire's
        // own clients, which the server gives no binary) the name.
        sources.push_back({application.pid, application.name,
                           application.binary.empty() ? application.name : application.binary, application,
                           application.paused});
    }
    std::stable_sort(sources.begin(), sources.end(), [](const AudioSource& a, const AudioSource& b) {
        return platform::asciiLowercase(a.name) < platform::asciiLowercase(b.name);
    });
    return sources;
}

std::optional<std::string> AudioSourceCapture::startCapture(const AudioSource& source,
                                                            CaptureConfiguration configuration)
{
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (isCapturing_) return std::nullopt;
        generation = ++generation_;
        endedWhileStarting_.reset();
    }
    const auto* wanted = std::any_cast<platform::PlayingApplication>(&source.scApp);
    if (!wanted) {
        print("AudioSourceCapture: The source names no application");
        return std::nullopt;
    }

    // The program's own sound never enters a capture: it stays in the list,
    // but capturing it is refused rather than recording ourselves.
    if (wanted->pid == static_cast<std::int32_t>(::getpid())) return "Ondaline's own sound is never captured";

    // Ask again: the application's streams may have changed since the list.
    std::string error;
    const auto applications = platform::listPlayingApplications(error);
    if (!error.empty()) return error;
    const auto target = std::find_if(applications.begin(), applications.end(), [&](const auto& application) {
        return wanted->owns(application.pid, application.name,
                            application.clients.empty() ? UINT32_MAX : application.clients.front());
    });
    if (target == applications.end()) return "'" + source.name + "' is not playing any sound";

    print("AudioSourceCapture: Setting up capture for '" + source.name +
          "' (binary: " + source.bundleIdentifier.value_or("none") + ", pid: " + std::to_string(source.id) + ")");
    print("AudioSourceCapture: Filter excludes " + std::to_string(applications.size() - 1) +
          " other apps, targeting pid " + std::to_string(source.id));

    const auto channels = configuration.channelCount;
    const double rate = std::isfinite(configuration.sampleRate) ? configuration.sampleRate : 48000.0;
    const int wholeRate = static_cast<int>(std::clamp(rate, 8000.0, 192000.0));
    print("AudioSourceCapture: Stream config — audio: true, " + std::to_string(wholeRate) + "Hz, " +
          std::to_string(channels) + "ch");
    if (channels < 1 || channels > 8) return "unsupported channel count " + std::to_string(channels);

    const std::weak_ptr<AudioSourceCapture> weakSelf = weak_from_this();
    // The sound server's thread only copies and queues, and never holds the
    // last reference: the capture must not end its life there.
    auto onData = [weakSelf, generation](const float* interleaved, std::size_t frames,
                                         const platform::ApplicationAudioCapture::Format& format) {
        auto self = weakSelf.lock();
        if (!self || !self->admit(frames, format.sampleRate)) return;
        AudioSampleBuffer buffer;
        buffer.numSamples = static_cast<std::uint32_t>(frames);
        buffer.format = AudioStreamDescription::interleavedFloat(format.sampleRate,
                                                                 static_cast<std::uint32_t>(format.channels));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(interleaved);
        buffer.data = Bytes(bytes, bytes + frames * static_cast<std::size_t>(format.channels) * sizeof(float));
        auto& queue = self->outputQueue_;
        queue.async([self = std::move(self), buffer = std::move(buffer), generation] {
            self->queuedFrames_ -= buffer.numSamples;
            self->handleSampleBuffer(buffer, generation);
        });
    };
    auto onEnd = [weakSelf, generation](const std::string& reason) {
        auto self = weakSelf.lock();
        if (!self) return;
        auto& queue = self->outputQueue_;
        queue.async([self = std::move(self), reason, generation] { self->handleStop(reason, generation); });
    };
    auto stream = platform::ApplicationAudioCapture::start(*target, {wholeRate, channels}, std::move(onData),
                                                           std::move(onEnd), error);
    if (!stream) return error;

    {
        std::lock_guard lock(mutex_);
        if (generation_ != generation) {
            // Stopped while starting: the new stream goes unused.
            print("AudioSourceCapture: Stopped");
            return std::nullopt;
        }
        if (endedWhileStarting_) {
            ++generation_;
            return "'" + source.name + "': " + *endedWhileStarting_;
        }
        stream_ = std::move(stream);
        currentSource_ = source;
        isCapturing_ = true;
        audioBufferCount_ = 0;
    }
    print("AudioSourceCapture: ✅ Capture started for '" + source.name + "'");
    return std::nullopt;
}

// At most two seconds of audio wait for the capture queue; past that, while
// the owner is held up, new buffers are dropped and counted.
bool AudioSourceCapture::admit(std::size_t frames, int sampleRate)
{
    if (queuedFrames_.load() + frames > static_cast<std::size_t>(2 * sampleRate)) {
        const auto dropped = ++droppedBuffers_;
        if (dropped == 1 || dropped % 500 == 0) {
            print("AudioSourceCapture: ⚠ Buffers are not being taken — dropped " + std::to_string(dropped));
        }
        return false;
    }
    queuedFrames_ += frames;
    return true;
}

void AudioSourceCapture::stopCapture()
{
    std::unique_ptr<platform::ApplicationAudioCapture> stream;
    {
        std::lock_guard lock(mutex_);
        ++generation_;  // also ends a start in progress
        if (!isCapturing_ || !stream_) return;
        stream = std::move(stream_);
        currentSource_.reset();
        isCapturing_ = false;
    }
    stream.reset();
    // A buffer being handed over right now finishes before we return; one
    // still queued finds its generation gone. From within onAudioBuffer
    // itself there is nothing to wait for.
    if (!outputQueue_.isCurrent()) {
        std::lock_guard waitForDelivery(deliveryMutex_);
    }
    print("AudioSourceCapture: Stopped");
}

void AudioSourceCapture::handleSampleBuffer(const AudioSampleBuffer& buffer, std::uint64_t generation)
{
    if (buffer.type != AudioSampleBuffer::Type::audio || !buffer.isValid || buffer.numSamples == 0) return;
    std::lock_guard delivery(deliveryMutex_);
    BufferHandler handler;
    std::uint64_t count;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        count = ++audioBufferCount_;
        handler = onAudioBuffer_;
    }
    if (count == 1 && buffer.format) {
        const auto& format = *buffer.format;
        print("AudioSourceCapture: First audio buffer received — " + std::to_string(std::lround(format.sampleRate)) +
              "Hz, " + std::to_string(format.channelsPerFrame) + "ch, flags=0x" + hex(format.formatFlags) +
              ", nonInterleaved=" + (format.isNonInterleaved() ? "true" : "false") +
              ", samples=" + std::to_string(buffer.numSamples));
    }
    if (count % 500 == 0) print("AudioSourceCapture: " + std::to_string(count) + " audio buffers received");
    if (handler) handler(buffer);
}

void AudioSourceCapture::handleStop(const std::string& error, std::uint64_t generation)
{
    std::unique_ptr<platform::ApplicationAudioCapture> stream;
    ErrorHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        if (!isCapturing_) {
            // Ended before its start returned: the start tells it.
            endedWhileStarting_ = error;
            return;
        }
        ++generation_;
        stream = std::move(stream_);
        currentSource_.reset();
        isCapturing_ = false;
        handler = onError_;
    }
    stream.reset();
    if (handler) handler(error);
}

}  // namespace ondaline::sources
