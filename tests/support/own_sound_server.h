#pragma once

// A sound server of the test's own, of the kind soundPeer() names, started
// with the peers' scripts in a folder of its own: for tests that kill it and
// start it again. Whatever the test did meanwhile, and however it ended,
// the destructor stops every process it started.

#include <map>
#include <string>
#include <vector>

namespace ondaline::test {

class OwnSoundServer {
public:
    // Started at once; each of `sinks` is a null sink it has from every
    // start on, as a machine has its own devices. ok() tells whether it came
    // up.
    explicit OwnSoundServer(const std::vector<std::string>& sinks = {});
    ~OwnSoundServer();

    OwnSoundServer(const OwnSoundServer&) = delete;
    OwnSoundServer& operator=(const OwnSoundServer&) = delete;

    bool ok() const { return environment_.contains("PULSE_SERVER"); }
    // Its PULSE_SERVER; the same across restarts.
    const std::string& address() const { return environment_.at("PULSE_SERVER"); }
    // What its peer script wrote, as a peer's .env: PULSE_SERVER,
    // ONDALINE_PULSE_SINK, and PIPEWIRE_RUNTIME_DIR for a PipeWire server.
    const std::map<std::string, std::string>& environment() const { return environment_; }
    // Ends it at once, as a crash does.
    bool kill();
    // Kills it if it runs and starts it again; true once it answers.
    bool restart();
    // Holds it, as a server that hangs, and lets it go on.
    bool pause();
    bool resume();
    // What the script said last, for a failure's message.
    const std::string& output() const { return output_; }

private:
    bool run(const std::string& action, const std::string& arguments = {});

    std::string folder_, output_;
    std::map<std::string, std::string> environment_;
};

}  // namespace ondaline::test
