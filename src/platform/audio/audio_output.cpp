#include "platform/audio/audio_output.h"

#include "platform/audio/pulse_playback.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace ondaline::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto blockDuration = std::chrono::duration_cast<Clock::duration>(
    std::chrono::duration<double>(double(AudioOutput::blockFrames) / AudioOutput::sampleRate));
// A null output that fell this far behind (a stopped process, a busy
// machine) starts its deadlines afresh instead of racing to catch up.
constexpr auto nullMaxLateness = std::chrono::milliseconds(500);

}  // namespace

AudioOutput::AudioOutput(Render render, Tap tap, Options options)
    : render_(std::move(render)), tap_(std::move(tap)), options_(std::move(options)),
      interleaved_(new float[blockFrames * channels])
{
}

AudioOutput::~AudioOutput() { stop(); }

bool AudioOutput::start(std::string& error)
{
    std::unique_lock lock(mutex_);
    if (running_) return true;
    std::shared_ptr<PulsePlayback> playback;
    std::string reason = "sound server not used";
    const std::string device = chosenDevice_;
    if (options_.useSoundServer) {
        lock.unlock();  // connecting may take a moment; nothing else starts meanwhile
        playback = PulsePlayback::open(options_.applicationName, device, reason);
        lock.lock();
        if (running_) return true;
    }
    // Another device was chosen while the stream opened.
    std::string ignored;
    if (playback && chosenDevice_ != device) playback->moveToDevice(chosenDevice_, ignored);
    playback_ = playback;
    kind_ = playback ? Kind::soundServer : Kind::null;
    nullReason_ = playback ? std::string() : reason;
    if (playback) playback->setVolume(volume_);
    stopping_ = false;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        error = e.what();
        playback_.reset();
        kind_ = Kind::none;
        return false;
    }
    running_ = true;
    if (options_.useSoundServer) {
        try {
            reopener_ = std::thread([this] { reopen(); });
        } catch (const std::system_error&) {
            // Plays on all the same; only a lost server is not found again.
        }
    }
    return true;
}

void AudioOutput::stop()
{
    std::thread thread, reopener;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        stopping_ = true;
        running_ = false;
        if (playback_) playback_->interrupt();
        thread = std::move(thread_);
        reopener = std::move(reopener_);
    }
    wake_.notify_all();
    thread.join();
    if (reopener.joinable()) reopener.join();
    std::lock_guard lock(mutex_);
    playback_.reset();
    kind_ = Kind::none;
}

bool AudioOutput::isRunning() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

AudioOutput::Kind AudioOutput::kind() const
{
    std::lock_guard lock(mutex_);
    return kind_;
}

std::string AudioOutput::nullReason() const
{
    std::lock_guard lock(mutex_);
    return nullReason_;
}

bool AudioOutput::isMissingSoundServer() const
{
    std::lock_guard lock(mutex_);
    return running_ && options_.useSoundServer && kind_ == Kind::null;
}

void AudioOutput::setServerListener(ServerListener listener)
{
    std::lock_guard lock(mutex_);
    serverListener_ = std::move(listener);
}

void AudioOutput::tell(bool playing)
{
    ServerListener listener;
    {
        std::lock_guard lock(mutex_);
        listener = serverListener_;
    }
    if (listener) listener(playing);
}

void AudioOutput::reopen()
{
    auto delay = reopenFirst;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || kind_ == Kind::null; });
        if (wake_.wait_for(lock, delay, [this] { return stopping_; })) return;
        const std::string device = chosenDevice_;
        lock.unlock();
        std::string reason;
        std::shared_ptr<PulsePlayback> playback = PulsePlayback::open(options_.applicationName, device, reason);
        if (playback) {
            // Moved while it opened: where it plays now is what counts.
            std::string ignored;
            lock.lock();
            const std::string chosen = chosenDevice_;
            const float volume = volume_;
            lock.unlock();
            if (chosen != device) playback->moveToDevice(chosen, ignored);
            playback->setVolume(volume);
        }
        lock.lock();
        if (stopping_) {
            lock.unlock();  // the stream it opened goes without our lock held
            return;
        }
        if (!playback) {
            delay = std::min(delay * 2, reopenMost);
            continue;
        }
        playback_ = std::move(playback);
        kind_ = Kind::soundServer;
        nullReason_.clear();
        delay = reopenFirst;
        lock.unlock();
        tell(true);
        lock.lock();
    }
}

void AudioOutput::setVolume(float volume)
{
    std::shared_ptr<PulsePlayback> playback;
    {
        std::lock_guard lock(mutex_);
        volume_ = volume;
        playback = playback_;
    }
    if (playback) playback->setVolume(volume);
}

bool AudioOutput::moveToDevice(const std::string& uid, std::string& error)
{
    std::shared_ptr<PulsePlayback> playback;
    {
        std::lock_guard lock(mutex_);
        if (!options_.useSoundServer) {
            error = "the sound server is not used";
            return false;
        }
        if (!running_) {
            chosenDevice_ = uid;
            return true;
        }
        playback = playback_;
    }
    if (!playback) {
        error = "no sound server output";
        return false;
    }
    if (!playback->moveToDevice(uid, error)) return false;
    // A later start opens the stream where it plays now.
    std::lock_guard lock(mutex_);
    chosenDevice_ = uid;
    return true;
}

std::string AudioOutput::deviceUID() const
{
    std::shared_ptr<PulsePlayback> playback;
    {
        std::lock_guard lock(mutex_);
        playback = playback_;
    }
    return playback ? playback->deviceUID() : std::string();
}

void AudioOutput::run()
{
    std::vector<float> left(blockFrames), right(blockFrames);
    const float* planes[] = {left.data(), right.data()};
    nullDeadline_ = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        render_(left.data(), right.data(), blockFrames);
        if (tap_) tap_({planes, channels, static_cast<std::uint32_t>(blockFrames), double(sampleRate)});
        play(left.data(), right.data());
    }
}

void AudioOutput::play(const float* left, const float* right)
{
    std::shared_ptr<PulsePlayback> playback;
    {
        std::lock_guard lock(mutex_);
        playback = playback_;
    }
    if (playback) {
        for (std::size_t i = 0; i < blockFrames; ++i) {
            interleaved_[2 * i] = left[i];
            interleaved_[2 * i + 1] = right[i];
        }
        if (playback->write(interleaved_.get(), blockFrames)) return;
        // The sound server went away: go on at real-time pace without it,
        // and have the reopener look for it.
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            playback_.reset();
            kind_ = Kind::null;
            nullReason_ = "the sound server went away";
            nullDeadline_ = Clock::now();
        }
        wake_.notify_all();
        tell(false);
    }
    waitForNullDeadline();
}

void AudioOutput::waitForNullDeadline()
{
    nullDeadline_ += blockDuration;
    const auto now = Clock::now();
    if (now - nullDeadline_ > nullMaxLateness) nullDeadline_ = now;
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, nullDeadline_, [this] { return stopping_; });
}

}  // namespace ondaline::platform
