#pragma once

// The two schedulers: the image schedule behind the picture and the
// now-playing file on the dashboard, the picture and the Icecast server.
// Both read the controller's settings record afresh on each turn, on the
// main thread.

#include "app/settings_choices.h"
#include "models/image_schedule_config.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace ondaline {
class Ondaline;
namespace sources {
class TestPlayer;
}
}  // namespace ondaline

namespace ondaline::app {

class Schedulers {
public:
    // The controller's own members, which may be replaced, and what it shows.
    struct Inputs {
        const ImageScheduleConfig& settings;
        std::shared_ptr<Ondaline>& engine;
        std::shared_ptr<sources::TestPlayer>& player;
        std::function<AudioSourceKind()> activeSource;
        std::function<void(const QString&)> showNowPlaying;  // the dashboard's line
    };
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    explicit Schedulers(Inputs inputs);

    // Two main-thread timers: the image schedule after 5 s, then every 30 s;
    // the now-playing file after 2 s, then every 3 s.
    void start();
    // Shows and logs a changed title of the now-playing file (unless the
    // local player is the source); while live, also on the picture and to
    // Icecast. `resend` sends an unchanged title again, without logging it:
    // the settings or the stream are new. Says whether the file has a title.
    bool pollSongFile(bool resend = false);
    // While live, puts the schedule's image of this moment, or black, behind
    // the overlays.
    void applyScheduledImage();
    // When a stream goes live: the current title goes on the picture and, in
    // Icecast mode, to the server, instead of waiting for the next change.
    void sendNowPlayingOnAir();
    // While live: the local player's new track on the picture and, in
    // Icecast mode, to the server.
    void sendPlayerTrackOnAir(const std::string& name);

    // The time of day the image schedule is read at (the system's).
    void setWallClock(WallClock clock) { wallClock_ = std::move(clock); }
    const QTimer* songPollTimer() const { return songPollTimer_.get(); }

private:
    Inputs inputs_;
    WallClock wallClock_ = [] { return std::chrono::system_clock::now(); };
    std::string lastSongText_;
    std::string songFileRefusal_;         // why the song file is not read, as told
    std::unique_ptr<QTimer> imageTimer_;  // present once started
    std::unique_ptr<QTimer> songPollTimer_;
};

}  // namespace ondaline::app
