#include "sources/test_player.h"

#include "base/print.h"
#include "engine/ondaline.h"
#include "platform/audio/audio_file_reader.h"
#include "platform/file_rights/path_walk.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <set>

namespace ondaline::sources {

namespace {

constexpr auto advanceDelay = std::chrono::milliseconds(100);

bool hasFlacExtension(const std::string& name) { return platform::asciiLowercase(name).ends_with(".flac"); }

std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

std::string TapFormat::description() const
{
    return std::to_string(channelCount) + " ch, " + std::to_string(std::lround(sampleRate)) +
           " Hz, Float32, deinterleaved";
}

std::shared_ptr<TestPlayer> TestPlayer::create(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                               platform::AudioOutput::Options output)
{
    return std::make_shared<TestPlayer>(Passkey{}, std::move(mainExecutor), std::move(output));
}

TestPlayer::TestPlayer(Passkey, std::shared_ptr<platform::MainExecutor> mainExecutor,
                       platform::AudioOutput::Options output)
    : mainExecutor_(std::move(mainExecutor)),
      engine_(std::make_unique<platform::AudioOutput>([this](float* left, float* right,
                                                             std::size_t frames) { render(left, right, frames); },
                                                      [this](const platform::AudioBlock& block) { tap(block); },
                                                      std::move(output)))
{
}

// The output's thread uses this object; it ends before anything else goes.
TestPlayer::~TestPlayer() { engine_->stop(); }

// --- the playlist ---

void TestPlayer::loadPlaylist(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) {
        print("TestPlayer: Cannot read directory: " + folder);
        return;
    }
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (hasFlacExtension(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    // Whoever may put a file in the folder may move in one they could not
    // read themselves: the folder's way says who they are.
    const platform::FilePlace place = platform::walkPath(folder + "/.playlist", platform::MissingFolders::leave,
                                                         platform::AccessLists::note);
    playlistRules_ = {};
    playlistRules_.readAs = platform::othersWhoMayChange(place.foldersPassed, place.accessPassed);
    playlistRules_.changing = "the station's music";
    playlist_.clear();
    for (const auto& name : names) playlist_.push_back((std::filesystem::path(folder) / name).string());
    print("TestPlayer: Found " + std::to_string(playlist_.size()) + " FLAC files");
    shufflePlaylist();
    currentIndex_ = 0;
}

void TestPlayer::shufflePlaylist()
{
    static thread_local std::mt19937 random{std::random_device{}()};
    std::shuffle(playlist_.begin(), playlist_.end(), random);
}

void TestPlayer::advanceToNext()
{
    ++currentIndex_;
    if (currentIndex_ >= trackCount()) {
        shufflePlaylist();
        currentIndex_ = 0;
    }
}

// --- the output ---

void TestPlayer::setup()
{
    // One tap and one running output, however often this is called.
    if (isSetUp_ && engine_->isRunning()) return;
    const TapFormat format;
    tapFormat_.set(format);
    print("TestPlayer: Tap format — " + format.description());
    std::string error;
    if (!engine_->start(error)) {
        print("TestPlayer: FATAL — engine start failed: " + error);
        return;
    }
    isSetUp_ = true;
    print("TestPlayer: Engine started");
}

void TestPlayer::toggleMute()
{
    isMuted_ = !isMuted_;
    engine_->setVolume(isMuted_ ? 0.0f : 1.0f);
    print(std::string("TestPlayer: Local audio ") + (isMuted_ ? "MUTED" : "unmuted"));
}

// --- the track state machine (main thread) ---

void TestPlayer::play()
{
    if (playlist_.empty()) {
        print("TestPlayer: Playlist is empty");
        return;
    }
    ++playGeneration_;
    isPlaying_ = true;
    silentTracks_ = 0;
    playCurrentTrack();
}

void TestPlayer::stop()
{
    ++playGeneration_;
    isPlaying_ = false;
    std::lock_guard lock(nodeMutex_);
    track_.reset();
    trackCompletion_ = nullptr;
}

// A skip moves on exactly one track: the stopped track's end, should it
// still be reported, belongs to an older generation and is ignored.
void TestPlayer::skip()
{
    isSkipping_ = true;
    ++playGeneration_;
    {
        std::lock_guard lock(nodeMutex_);
        track_.reset();
        trackCompletion_ = nullptr;
    }
    advanceToNext();
    isSkipping_ = false;
    if (isPlaying_) playCurrentTrack();
}

// Nothing playable: playback ends rather than going round for ever.
void TestPlayer::giveUp()
{
    print("TestPlayer: No playable files — stopping");
    ++playGeneration_;
    isPlaying_ = false;
    std::lock_guard lock(nodeMutex_);
    track_.reset();
    trackCompletion_ = nullptr;
}

void TestPlayer::playCurrentTrack()
{
    // Unreadable files are skipped at once; once every file of the list has
    // failed (a reshuffle may bring a failed one round again first), the
    // attempt ends.
    for (std::set<std::string> failed;;) {
        if (currentIndex_ >= trackCount()) {
            shufflePlaylist();
            currentIndex_ = 0;
            if (playlist_.empty()) return;
        }
        const std::string path = playlist_[static_cast<std::size_t>(currentIndex_)];
        const std::string fileName = fileNameOf(path);
        std::string error;
        auto reader = platform::AudioFileReader::open(path, error, playlistRules_);
        if (!reader) {
            print("TestPlayer: " + fileName + ": " + error);
            print("TestPlayer: Cannot read " + fileName + " — skipping");
            failed.insert(path);
            if (failed.size() >= playlist_.size()) return giveUp();
            advanceToNext();
            continue;
        }

        print("TestPlayer: Playing [" + std::to_string(currentIndex_ + 1) + "/" + std::to_string(trackCount()) + "] " +
              fileName);
        mainExecutor_->post([weakSelf = weak_from_this(), fileName] {
            const auto self = weakSelf.lock();
            if (!self) return;
            if (const auto handler = self->onTrackChange_.get()) {
                handler(self->currentIndex_ + 1, self->trackCount(), fileName);
            }
        });
        const std::uint64_t generation = playGeneration_;
        std::lock_guard lock(nodeMutex_);
        track_ = std::move(reader);
        trackFrames_ = 0;
        // Runs on the output's thread, which ends before this object does.
        trackCompletion_ = [this, generation](bool played) { trackEnded(generation, played); };
        return;
    }
}

// On the output's thread when a file has played to its end. Files that
// open but hold no audio count towards giving up, as unreadable ones do.
void TestPlayer::trackEnded(std::uint64_t generation, bool played)
{
    const auto stillCurrent = [this, generation] {
        return isPlaying_ && !isSkipping_ && playGeneration_ == generation;
    };
    if (!stillCurrent()) return;
    delayQueue_.asyncAfter(advanceDelay, [weakSelf = weak_from_this(), generation, played] {
        const auto self = weakSelf.lock();
        if (!self) return;
        self->mainExecutor_->post([self, generation, played] {
            if (!self->isPlaying_ || self->isSkipping_ || self->playGeneration_ != generation) return;
            self->silentTracks_ = played ? 0 : self->silentTracks_ + 1;
            if (self->silentTracks_ >= static_cast<std::size_t>(self->trackCount())) return self->giveUp();
            self->advanceToNext();
            self->playCurrentTrack();
        });
    });
}

// --- the output's thread ---

void TestPlayer::render(float* left, float* right, std::size_t frames)
{
    std::function<void(bool)> ended;
    std::size_t filled = 0;
    bool played = false;
    {
        std::lock_guard lock(nodeMutex_);
        if (track_) {
            filled = track_->read(left, right, frames);
            trackFrames_ += filled;
            if (filled < frames) {
                track_.reset();
                played = trackFrames_ > 0;
                ended = std::move(trackCompletion_);
                trackCompletion_ = nullptr;
            }
        }
    }
    std::fill(left + filled, left + frames, 0.0f);
    std::fill(right + filled, right + frames, 0.0f);
    if (ended) ended(played);
}

void TestPlayer::tap(const platform::AudioBlock& block)
{
    if (const auto engine = streamer_.get()) {
        engine->sendAudioBuffer({block.planes, block.channelCount, block.frameCount, block.sampleRate});
    }
    if (!block.planes || block.frameCount == 0 || block.channelCount == 0) return;
    const float* left = block.planes[0];
    const float* right = block.planes[block.channelCount >= 2 ? 1 : 0];
    float sumLeft = 0, sumRight = 0;
    for (std::uint32_t i = 0; i < block.frameCount; ++i) {
        sumLeft += left[i] * left[i];
        sumRight += right[i] * right[i];
    }
    const auto count = static_cast<float>(block.frameCount);
    if (const auto handler = onMeterUpdate_.get()) handler(std::sqrt(sumLeft / count), std::sqrt(sumRight / count));
    spectrumAnalyzer_.process(left, block.frameCount);
    if (const auto engine = streamer_.get()) engine->setSpectrumLevels(spectrumAnalyzer_.levels);
}

}  // namespace ondaline::sources
