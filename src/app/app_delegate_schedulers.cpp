// The two schedulers: the image schedule behind the picture and the
// now-playing file on the dashboard, the picture and the Icecast server.

#include "app/app_delegate.h"

#include "app/song_file.h"
#include "app/source_callbacks.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "sources/test_player.h"

#include <QLabel>
#include <QTimer>

#include <chrono>
#include <functional>

namespace ondaline::app {

namespace {

using std::chrono::milliseconds;

// A main-thread timer that first fires after `first`, then every `period`.
// It is a child of `owner` and its ticks go through `owner`, so none runs
// once the controller has gone.
QTimer* startMainTimer(QObject* owner, milliseconds first, milliseconds period, std::function<void()> tick)
{
    auto* timer = new QTimer(owner);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, period, tick = std::move(tick)] {
        if (timer->intervalAsDuration() != period) timer->start(period);
        tick();
    });
    timer->start(first);
    return timer;
}

}  // namespace

void TestAppDelegate::startScheduler()
{
    schedulerTimer = startMainTimer(this, milliseconds(5000), milliseconds(30000), [this] { applyScheduledImage(); });
    songPollTimer = startMainTimer(this, milliseconds(2000), milliseconds(3000), [this] { pollSongFile(); });
}

bool TestAppDelegate::pollSongFile(bool resend)
{
    if (activeAudioSource() == AudioSourceKind::local) return false;  // the player reports its own titles
    const NowPlayingConfig settings = scheduleConfig.nowPlaying;
    const auto text = readSongFile(songFilePath(settings));
    const auto title = text ? songTitleFromText(*text, settings.delimiter, settings.multiRow) : std::nullopt;

    if (!title) {
        // Unusable or empty: the title goes, once; nothing is logged or sent.
        if (lastSongText.empty()) return false;
        lastSongText.clear();
        dashboard_.setNowPlaying({});
        if (streamer->state() == StreamState::publishing) {
            streamer->setCurrentSongText({});
            streamer->setNowPlayingConfig(settings);
            streamer->renderVideoOverlay();
        }
        return false;
    }

    const bool changed = title->display != lastSongText;
    if (!changed && !resend) return true;
    if (changed) {
        lastSongText = title->display;
        dashboard_.setNowPlaying(QString::fromStdString(replaceLineBreaks(title->display, " - ")));
        print("Ondaline: Now Playing updated — " + replaceLineBreaks(title->display, " / "));
    }
    if (streamer->state() != StreamState::publishing) return true;
    streamer->setCurrentSongText(title->display);
    streamer->setNowPlayingConfig(settings);
    streamer->renderVideoOverlay();
    if (streamer->streamMode() == StreamMode::icecast) streamer->updateIcecastMetadata(title->icecast);
    return true;
}

void TestAppDelegate::applyScheduledImage()
{
    if (streamer->state() != StreamState::publishing) return;
    const auto path = scheduleConfig.currentImagePath(wallClock());
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

void TestAppDelegate::sendNowPlayingOnAir()
{
    if (streamer->state() != StreamState::publishing) return;
    if (activeAudioSource() != AudioSourceKind::local) {
        if (pollSongFile(true)) return;
    } else if (player->isPlaying() && player->currentIndex() >= 0 && player->currentIndex() < player->trackCount()) {
        const std::string name =
            trackName(lastPathComponent(player->playlist()[static_cast<std::size_t>(player->currentIndex())]));
        streamer->setCurrentSongText(name);
        streamer->setNowPlayingConfig(scheduleConfig.nowPlaying);
        streamer->renderVideoOverlay();
        print("Ondaline: Now Playing updated (local player) — " + name);
        if (streamer->streamMode() == StreamMode::icecast) streamer->updateIcecastMetadata(name);
        return;
    }
    // No title now: an earlier stream's stays off this one's picture.
    if (streamer->currentSongText().empty()) return;
    streamer->setCurrentSongText({});
    streamer->setNowPlayingConfig(scheduleConfig.nowPlaying);
    streamer->renderVideoOverlay();
}

}  // namespace ondaline::app
