#include "platform/audio/audio_output.h"

#include "platform/audio/pulse_playback.h"

#include <algorithm>
#include <system_error>

namespace ondaline::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t blockSamples = AudioOutput::blockFrames * AudioOutput::channels;
constexpr auto blockDuration = std::chrono::duration_cast<Clock::duration>(
    std::chrono::duration<double>(double(AudioOutput::blockFrames) / AudioOutput::sampleRate));
// A pace that fell this far behind (a stopped process, a busy machine)
// starts its deadlines afresh instead of racing to catch up.
constexpr auto maxLateness = std::chrono::milliseconds(500);

}  // namespace

AudioOutput::AudioOutput(Render render, Tap tap, Options options)
    : render_(std::move(render)), tap_(std::move(tap)), options_(std::move(options)),
      queue_(options_.useSoundServer ? queuedBlocksMost * blockSamples : 0)
{
}

AudioOutput::~AudioOutput() { stop(); }

bool AudioOutput::start(std::string& error)
{
    {
        std::lock_guard lock(mutex_);
        if (running_) return true;
    }
    std::string reason = "sound server not used";
    // Connecting may take a moment; nothing else starts meanwhile.
    std::shared_ptr<PulsePlayback> playback = options_.useSoundServer ? openPlayback(reason) : nullptr;
    std::unique_lock lock(mutex_);
    if (running_) {
        lock.unlock();  // the stream it opened goes without our lock held
        return true;
    }
    playback_ = std::move(playback);
    kind_ = playback_ ? Kind::soundServer : Kind::null;
    nullReason_ = playback_ ? std::string() : reason;
    queued_ = 0;
    stopping_ = false;
    try {
        pacer_ = std::thread([this] { pace(); });
    } catch (const std::system_error& e) {
        error = e.what();
        playback = std::move(playback_);
        kind_ = Kind::none;
        lock.unlock();
        return false;
    }
    running_ = true;
    if (options_.useSoundServer) {
        try {
            server_ = std::thread([this] { playOnServer(); });
        } catch (const std::system_error& e) {
            // The tap goes on; only nothing is heard.
            playback = std::move(playback_);
            kind_ = Kind::null;
            nullReason_ = e.what();
        }
    }
    return true;
}

void AudioOutput::stop()
{
    std::thread pacer, server;
    std::shared_ptr<PulsePlayback> playback;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        stopping_ = true;
        running_ = false;
        playback = playback_;
        pacer = std::move(pacer_);
        server = std::move(server_);
    }
    // A write waiting for a stalled server returns; none of ours is installed
    // from now on.
    if (playback) playback->interrupt();
    paceWake_.notify_all();
    serverWake_.notify_all();
    pacer.join();
    if (server.joinable()) server.join();
    std::lock_guard lock(mutex_);
    playback = std::move(playback_);  // closed once the lock is let go
    kind_ = Kind::none;
    queued_ = 0;
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

void AudioOutput::setDeviceListener(DeviceListener listener)
{
    std::lock_guard lock(mutex_);
    deviceListener_ = std::move(listener);
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

void AudioOutput::chooseDevice(const std::string& uid)
{
    std::lock_guard lock(mutex_);
    chosenDevice_ = uid;
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
        playback = playback_;
    }
    if (!playback) {
        error = "no sound server output";
        return false;
    }
    return playback->moveToDevice(uid, error);
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

std::shared_ptr<PulsePlayback> AudioOutput::openPlayback(std::string& reason)
{
    std::unique_lock lock(mutex_);
    const std::string device = chosenDevice_;
    lock.unlock();
    std::shared_ptr<PulsePlayback> playback = PulsePlayback::open(options_.applicationName, device, reason);
    if (!playback) return nullptr;
    lock.lock();
    const std::string chosen = chosenDevice_;
    const float volume = volume_;
    lock.unlock();
    // Chosen anew while it opened: the newer choice counts.
    std::string ignored;
    if (chosen != device) playback->moveToDevice(chosen, ignored);
    playback->setVolume(volume);
    return playback;
}

// --- the pacer: the tap's thread ---

void AudioOutput::pace()
{
    std::vector<float> left(blockFrames), right(blockFrames);
    const float* planes[] = {left.data(), right.data()};
    deadline_ = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        render_(left.data(), right.data(), blockFrames);
        if (tap_) tap_({planes, channels, static_cast<std::uint32_t>(blockFrames), double(sampleRate)});
        if (options_.useSoundServer) queueForServer(left.data(), right.data());
        waitForDeadline();
    }
}

void AudioOutput::waitForDeadline()
{
    deadline_ += blockDuration;
    const auto now = Clock::now();
    if (now - deadline_ > maxLateness) deadline_ = now;
    std::unique_lock lock(mutex_);
    paceWake_.wait_until(lock, deadline_, [this] { return stopping_; });
}

void AudioOutput::queueForServer(const float* left, const float* right)
{
    {
        std::lock_guard lock(mutex_);
        if (kind_ != Kind::soundServer) return;  // heard nowhere
        if (queued_ == queuedBlocksMost) {
            queueHead_ = (queueHead_ + 1) % queuedBlocksMost;
            --queued_;
        }
        float* slot = queue_.data() + (queueHead_ + queued_) % queuedBlocksMost * blockSamples;
        for (std::size_t i = 0; i < blockFrames; ++i) {
            slot[2 * i] = left[i];
            slot[2 * i + 1] = right[i];
        }
        ++queued_;
    }
    serverWake_.notify_one();
}

// --- the sound server's thread: plays, and opens the stream anew ---

void AudioOutput::playOnServer()
{
    std::vector<float> block(blockSamples);
    auto delay = reopenFirst;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (kind_ == Kind::soundServer) {
            serverWake_.wait(lock, [this] { return stopping_ || queued_ > 0; });
            if (stopping_) break;
            const float* slot = queue_.data() + queueHead_ * blockSamples;
            std::copy(slot, slot + blockSamples, block.begin());
            queueHead_ = (queueHead_ + 1) % queuedBlocksMost;
            --queued_;
            std::shared_ptr<PulsePlayback> playback = playback_;
            lock.unlock();
            // Waits for room at the device's pace; the pacer does not.
            const bool played = playback->write(block.data(), blockFrames);
            if (const std::string note = played ? playback->takeNote() : std::string(); !note.empty()) {
                DeviceListener listener;
                lock.lock();
                listener = deviceListener_;
                lock.unlock();
                if (listener) listener(note);
            }
            lock.lock();
            if (played || stopping_) continue;
            // The sound server went away: heard nowhere until it is back.
            playback_.reset();
            kind_ = Kind::null;
            nullReason_ = "the sound server went away";
            delay = reopenFirst;
            lock.unlock();
            playback.reset();  // closed without our lock held
            tell(false);
            lock.lock();
            continue;
        }
        if (serverWake_.wait_for(lock, delay, [this] { return stopping_; })) break;
        lock.unlock();
        std::string reason;
        std::shared_ptr<PulsePlayback> playback = openPlayback(reason);
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
        queued_ = 0;  // from now on, not what was played meanwhile
        lock.unlock();
        tell(true);
        lock.lock();
    }
}

}  // namespace ondaline::platform
