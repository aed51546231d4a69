#pragma once

// Which applications are playing on the sound server: their playback
// streams grouped by application, once or followed as they change.

#include <chrono>
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
    std::vector<std::uint32_t> clients;  // the server's clients they came through
    // Every stream of it paused (corked, as a player's pause button does):
    // listed, but not playing.
    bool paused = false;

    // Whether a stream of `streamPid` (0: unknown) and `streamName` that came
    // through `client` is one of this application's: one process and one
    // name make one application; where the process is not known, one client
    // and one name do.
    bool owns(std::int32_t streamPid, const std::string& streamName, std::uint32_t client) const;
};

// What the sound server has now.
struct SoundServerApplications {
    // Applications with playback streams on a device, paused or not, in
    // the server's order.
    std::vector<PlayingApplication> playing;
    // The process ids of all its clients, playing or not.
    std::vector<std::int32_t> connectedProcesses;
};

// Empty, with `error` set, when no sound server answers.
std::vector<PlayingApplication> listPlayingApplications(std::string& error);

// One connection to the sound server that tells of every playback stream
// and client that comes or goes.
class ApplicationsWatch {
public:
    // How often those who follow the applications ask again for a sound
    // server that did not answer.
    static constexpr std::chrono::milliseconds serverRetry{1000};

    // Null, with `error` set, when no sound server answers.
    static std::unique_ptr<ApplicationsWatch> open(std::string& error);
    // Not from within the listener.
    ~ApplicationsWatch();

    ApplicationsWatch(const ApplicationsWatch&) = delete;
    ApplicationsWatch& operator=(const ApplicationsWatch&) = delete;

    // False, with `error` set, when the server no longer answers.
    bool list(SoundServerApplications& into, std::string& error);

    // Called on the sound server's thread after each change of streams or
    // clients, and once when the server goes away, after which this object
    // follows nothing any more. It must not call list() there.
    void setChangeListener(std::function<void()> listener);

    bool isConnected() const;

    // Lists through `watch`, opened first (with `onChange` as its listener)
    // when there is none; one that no longer answers is let go, so that the
    // next call opens a new one. False while no server answers.
    static bool listKeptOpen(std::unique_ptr<ApplicationsWatch>& watch, const std::function<void()>& onChange,
                             SoundServerApplications& into);

    struct Private;

private:
    explicit ApplicationsWatch(std::unique_ptr<Private> p);
    std::unique_ptr<Private> private_;
};

}  // namespace ondaline::platform
