#pragma once

// The PulseAudio peer as the sound-server tests use it: its address in
// PULSE_SERVER for the code under test and for pactl, extra null sinks, and
// other applications playing a tone. Or, for tests that need a server to
// themselves, a server of their own of the same kind.

#include <gtest/gtest.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ondaline::test {

class OwnSoundServer;

// Points this process, and the programs it starts, at the sound server that
// `peer` (a peer's .env) describes: PULSE_SERVER, and PIPEWIRE_RUNTIME_DIR
// for PipeWire's own clients (pw-play).
void useSoundServer(const std::map<std::string, std::string>& peer);

// On the sound peer, which other tests share: CTest has them take turns.
class PulsePeerTest : public ::testing::Test {
protected:
    void SetUp() override;
    // On the server that `peer` describes from now on.
    void useServer(const std::map<std::string, std::string>& peer);

    // Runs pactl against the peer; a failure fails the test.
    std::string pactl(const std::string& arguments);

    // The `pactl list sink-inputs` entry whose application.name is `name`,
    // of the process `process` if given; empty when there is none.
    std::string sinkInputOf(const std::string& applicationName, pid_t process = 0);

    // The name of the sink that a sink input entry plays on.
    std::string sinkNameOf(const std::string& sinkInputEntry);

    // The number of a sink input entry, as pactl takes it; empty for none.
    static std::string sinkInputNumberOf(const std::string& sinkInputEntry);

    std::string defaultSink_;
};

// The same on a sound server of the suite's own (OwnSoundServer), started
// before its first case and stopped after its last: for suites that take
// every application the server plays as theirs, so that they need not take
// turns with the tests of the peer.
class OwnServerTest : public PulsePeerTest {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

private:
    static std::unique_ptr<OwnSoundServer> server_;
};

// Polls `condition` until it holds or `timeout` passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The sound server's events (`pactl subscribe`) for the life of the object:
// waits that wake on each of them, not on a clock.
class ServerEvents {
public:
    ServerEvents();
    ~ServerEvents();
    ServerEvents(const ServerEvents&) = delete;
    ServerEvents& operator=(const ServerEvents&) = delete;

    // Until `condition` holds, checked at the start and after each event
    // (and each second, for one that came before pactl listened), or until
    // `timeout` passes.
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// A null sink for the life of the object.
class NullSink {
public:
    // `arguments`: more of module-null-sink's, such as the formats it takes.
    explicit NullSink(const std::string& name, const std::string& arguments = {});
    ~NullSink();
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;

private:
    std::string module_;
};

// Another application: pacat playing a sine tone (stereo float at 48 kHz)
// that a thread of the test feeds it.
class PacatTone {
public:
    PacatTone(const std::string& applicationName, double hz, float amplitude);
    ~PacatTone();
    PacatTone(const PacatTone&) = delete;
    PacatTone& operator=(const PacatTone&) = delete;

    static constexpr int sampleRate = 48000;
    pid_t pid() const { return pid_; }
    void kill();

private:
    pid_t pid_ = -1;
    int socket_ = -1;
    std::thread feeder_;
};

// Another application with a pause button (ondaline-pausing-player): a sine
// of `hz` at a quarter of full scale as `applicationName` of the program
// `binary`, playing or paused from the start. Gone with the object.
class PausingPlayer {
public:
    PausingPlayer(const std::string& applicationName, const std::string& binary, double hz, bool paused = false);
    ~PausingPlayer();
    PausingPlayer(const PausingPlayer&) = delete;
    PausingPlayer& operator=(const PausingPlayer&) = delete;

    pid_t pid() const { return pid_; }
    // True once its stream is there, and once the server has corked or
    // uncorked it.
    bool ready() const { return ready_; }
    bool pause() { return tell("pause", "paused"); }
    bool play() { return tell("play", "playing"); }

private:
    bool tell(const std::string& command, const std::string& answer);
    bool answered(const std::string& answer);

    pid_t pid_ = -1;
    int input_ = -1, output_ = -1;
    bool ready_ = false;
    std::string received_;
};

// Another program playing (pw-play, say), killed and reaped with the object.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once it has ended, by a crash as much as by a kill.
    bool running();
    void kill();

private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

// A stereo WAV file of ffmpeg's sine of `hz` (1/8 of full scale, each side
// 3 dB lower); `codec` pcm_s16le or pcm_f32le.
void writeToneWAV(const std::string& file, int sampleRate, double hz, double seconds,
                  const std::string& codec = "pcm_s16le");

}  // namespace ondaline::test
