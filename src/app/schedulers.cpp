#include "app/schedulers.h"

#include "app/song_file.h"
#include "app/source_callbacks.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "sources/test_player.h"

#include <chrono>
#include <functional>

namespace ondaline::app {

namespace {

using std::chrono::milliseconds;

// A main-thread timer that first fires after `first`, then every `period`;
// none fires once it is destroyed.
std::unique_ptr<QTimer> startMainTimer(milliseconds first, milliseconds period, std::function<void()> tick)
{
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [timer = timer.get(), period, tick = std::move(tick)] {
        if (timer->intervalAsDuration() != period) timer->start(period);
        tick();
    });
    timer->start(first);
    return timer;
}

// The title the picture shows from the next frame on.
void showOnPicture(Ondaline& engine, const std::string& title, const NowPlayingConfig& settings)
{
    engine.setCurrentSongText(title);
    engine.setNowPlayingConfig(settings);
    engine.renderVideoOverlay();
}

}  // namespace

Schedulers::Schedulers(Inputs inputs) : inputs_(std::move(inputs)) {}

void Schedulers::start()
{
    imageTimer_ = startMainTimer(milliseconds(5000), milliseconds(30000), [this] { applyScheduledImage(); });
    songPollTimer_ = startMainTimer(milliseconds(2000), milliseconds(3000), [this] { pollSongFile(); });
}

bool Schedulers::pollSongFile(bool resend)
{
    if (inputs_.activeSource() == AudioSourceKind::local) return false;  // the player reports its own titles
    Ondaline* const streamer = inputs_.engine.get();
    const NowPlayingConfig settings = inputs_.settings.nowPlaying;
    const std::string path = songFilePath(settings);
    const platform::FileRead file = readSongFile(path, inputs_.settings.namedFileRules());
    const std::string refusal = file.problem == platform::FileProblem::refused ? file.reason() : "";
    if (refusal != songFileRefusal_) {
        songFileRefusal_ = refusal;
        if (!refusal.empty()) print("Ondaline: ⚠ Song file not used — " + path + ": " + refusal);
    }
    const auto& text = file.contents;
    const auto title = text ? songTitleFromText(*text, settings.delimiter, settings.multiRow) : std::nullopt;

    if (!title) {
        // Unusable or empty: the title goes, once; nothing is logged or sent.
        if (lastSongText_.empty()) return false;
        lastSongText_.clear();
        inputs_.showNowPlaying({});
        if (streamer->state() == StreamState::publishing) showOnPicture(*streamer, {}, settings);
        return false;
    }

    const bool changed = title->display != lastSongText_;
    if (!changed && !resend) return true;
    if (changed) {
        lastSongText_ = title->display;
        inputs_.showNowPlaying(QString::fromStdString(replaceLineBreaks(title->display, " - ")));
        print("Ondaline: Now Playing updated — " + replaceLineBreaks(title->display, " / "));
    }
    if (streamer->state() != StreamState::publishing) return true;
    showOnPicture(*streamer, title->display, settings);
    if (streamer->streamMode() == StreamMode::icecast) streamer->updateIcecastMetadata(title->icecast);
    return true;
}

void Schedulers::applyScheduledImage()
{
    Ondaline* const streamer = inputs_.engine.get();
    if (streamer->state() != StreamState::publishing) return;
    const auto path = inputs_.settings.currentImagePath(wallClock_());
    if (path && !path->empty()) {
        // A path whose image failed to load stays here too, so it is tried
        // once while the schedule keeps naming it.
        if (streamer->videoImagePath() == path) return;
        print("Ondaline: Scheduler switching image to: " + lastPathComponent(*path));
        streamer->setVideoImagePath(*path);
        streamer->loadVideoImage(*path);
        return;
    }
    if (!streamer->videoImagePath()) return;
    print("Ondaline: Scheduler reverting to default (black)");
    streamer->setVideoImagePath(std::nullopt);
    streamer->clearVideoImage();
    streamer->renderVideoOverlay();
}

void Schedulers::sendNowPlayingOnAir()
{
    Ondaline* const streamer = inputs_.engine.get();
    sources::TestPlayer* const player = inputs_.player.get();
    const ImageScheduleConfig& scheduleConfig = inputs_.settings;
    if (streamer->state() != StreamState::publishing) return;
    if (inputs_.activeSource() != AudioSourceKind::local) {
        if (pollSongFile(true)) return;
    } else if (player->isPlaying() && player->currentIndex() >= 0 && player->currentIndex() < player->trackCount()) {
        sendPlayerTrackOnAir(
            trackName(lastPathComponent(player->playlist()[static_cast<std::size_t>(player->currentIndex())])));
        return;
    }
    // No title now: an earlier stream's stays off this one's picture.
    if (streamer->currentSongText().empty()) return;
    showOnPicture(*streamer, {}, scheduleConfig.nowPlaying);
}

void Schedulers::sendPlayerTrackOnAir(const std::string& name)
{
    Ondaline& streamer = *inputs_.engine;
    showOnPicture(streamer, name, inputs_.settings.nowPlaying);
    print("Ondaline: Now Playing updated (local player) — " + name);
    // Listeners of an Icecast stream see each song, not only the first.
    if (streamer.streamMode() == StreamMode::icecast) streamer.updateIcecastMetadata(name);
}

}  // namespace ondaline::app
