#include "support/pulse_peer.h"

#include "support/own_sound_server.h"
#include "support/peer_env.h"
#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <sstream>
#include <string_view>
#include <vector>

namespace ondaline::test {

namespace {

// Starts `args` (looked up on PATH) with `redirect` run in the child first,
// which may only dup2 and close; -1 when fork fails.
template <typename Redirect>
pid_t spawn(std::vector<std::string> args, Redirect redirect)
{
    // Made before fork: the child only execs.
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        redirect();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

void useSoundServer(const std::map<std::string, std::string>& peer)
{
    setenv("PULSE_SERVER", peer.at("PULSE_SERVER").c_str(), 1);
    if (peer.contains("PIPEWIRE_RUNTIME_DIR"))
        setenv("PIPEWIRE_RUNTIME_DIR", peer.at("PIPEWIRE_RUNTIME_DIR").c_str(), 1);
}

void PulsePeerTest::SetUp()
{
    const auto env = loadPeerEnv(test::soundPeer());
    ASSERT_FALSE(env.empty()) << "the pulse peer is not running";
    useServer(env);
}

void PulsePeerTest::useServer(const std::map<std::string, std::string>& peer)
{
    useSoundServer(peer);
    defaultSink_ = peer.at("ONDALINE_PULSE_SINK");
}

std::unique_ptr<OwnSoundServer> OwnServerTest::server_;

void OwnServerTest::SetUpTestSuite() { server_ = std::make_unique<OwnSoundServer>(); }

void OwnServerTest::TearDownTestSuite() { server_.reset(); }

void OwnServerTest::SetUp()
{
    ASSERT_TRUE(server_ && server_->ok()) << (server_ ? server_->output() : std::string());
    useServer(server_->environment());
}

std::string PulsePeerTest::pactl(const std::string& arguments)
{
    const auto result = runCommand("pactl " + arguments);
    EXPECT_EQ(result.exitCode, 0) << "pactl " << arguments << ": " << result.output;
    return result.output;
}

std::string PulsePeerTest::sinkInputOf(const std::string& applicationName, pid_t process)
{
    const std::string all = pactl("list sink-inputs");
    const std::string property = "application.name = \"" + applicationName + "\"";
    const std::string ofProcess = "application.process.id = \"" + std::to_string(process) + "\"";
    for (std::size_t start = all.find("Sink Input #"); start != std::string::npos;) {
        const std::size_t next = all.find("Sink Input #", start + 1);
        const std::string entry = all.substr(start, next == std::string::npos ? std::string::npos : next - start);
        if (entry.find(property) != std::string::npos && (process == 0 || entry.find(ofProcess) != std::string::npos))
            return entry;
        start = next;
    }
    return {};
}

std::string PulsePeerTest::sinkInputNumberOf(const std::string& sinkInputEntry)
{
    constexpr std::string_view heading = "Sink Input #";
    if (!sinkInputEntry.starts_with(heading)) return {};
    const std::size_t end = sinkInputEntry.find_first_not_of("0123456789", heading.size());
    return sinkInputEntry.substr(heading.size(), end == std::string::npos ? end : end - heading.size());
}

std::string PulsePeerTest::sinkNameOf(const std::string& sinkInputEntry)
{
    const std::size_t at = sinkInputEntry.find("\tSink: ");
    if (at == std::string::npos) return {};
    const std::string index = sinkInputEntry.substr(at + 7, sinkInputEntry.find('\n', at) - at - 7);
    std::istringstream sinks(pactl("list short sinks"));
    std::string line;
    while (std::getline(sinks, line)) {
        std::istringstream fields(line);
        std::string sinkIndex, name;
        if (fields >> sinkIndex >> name && sinkIndex == index) return name;
    }
    return {};
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

ServerEvents::ServerEvents()
{
    int ends[2];
    // Not for the other programs the test starts; dup2 makes pactl's own.
    if (pipe2(ends, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    pid_ = spawn({"pactl", "subscribe"}, [&] {
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        close(ends[1]);
    });
    close(ends[1]);
    output_ = ends[0];
    if (pid_ < 0) ADD_FAILURE() << "fork failed";
}

ServerEvents::~ServerEvents()
{
    // pactl may be stuck writing to a full pipe, where it sees no SIGTERM.
    if (output_ >= 0) close(output_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ServerEvents::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + timeout;
    while (!condition()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd events{output_, POLLIN, 0};
        if (poll(&events, 1, static_cast<int>(std::min<long long>(left.count(), 1000))) > 0) {
            char lines[4096];
            if (read(output_, lines, sizeof lines) <= 0) return eventually(condition, left);  // pactl gone
        }
    }
    return true;
}

NullSink::NullSink(const std::string& name, const std::string& arguments)
{
    const auto result = runCommand("pactl load-module module-null-sink sink_name=" + name + " " + arguments);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    if (result.exitCode == 0) module_ = result.output.substr(0, result.output.find('\n'));
}

NullSink::~NullSink()
{
    if (!module_.empty()) runCommand("pactl unload-module " + module_);
}

PacatTone::PacatTone(const std::string& applicationName, double hz, float amplitude)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        ADD_FAILURE() << "socketpair failed";
        return;
    }
    pid_ = spawn({"pacat", "--playback", "--raw", "--format=float32le", "--rate=" + std::to_string(sampleRate),
                  "--channels=2", "--latency-msec=200", "--client-name=" + applicationName,
                  "--property=application.name=" + applicationName},
                 [&] {
                     dup2(ends[1], STDIN_FILENO);
                     close(ends[0]);
                     close(ends[1]);
                 });
    close(ends[1]);
    if (pid_ < 0) {
        close(ends[0]);
        ADD_FAILURE() << "fork failed";
        return;
    }
    socket_ = ends[0];
    // pacat takes the tone at the sink's pace; the feeder ends when pacat does.
    feeder_ = std::thread([fd = socket_, hz, amplitude] {
        constexpr std::size_t blockFrames = 480;
        std::vector<float> block(blockFrames * 2);
        double phase = 0;
        const double step = 2 * std::numbers::pi * hz / sampleRate;
        for (;;) {
            for (std::size_t i = 0; i < blockFrames; ++i, phase += step) {
                block[2 * i] = block[2 * i + 1] = amplitude * static_cast<float>(std::sin(phase));
            }
            phase = std::fmod(phase, 2 * std::numbers::pi);
            const auto* bytes = reinterpret_cast<const char*>(block.data());
            std::size_t left = block.size() * sizeof(float);
            while (left > 0) {
                const ssize_t sent = send(fd, bytes, left, MSG_NOSIGNAL);
                if (sent <= 0) return;
                bytes += sent;
                left -= static_cast<std::size_t>(sent);
            }
        }
    });
}

void PacatTone::kill()
{
    if (pid_ > 0) ::kill(pid_, SIGKILL);
}

PacatTone::~PacatTone()
{
    kill();
    if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
    if (feeder_.joinable()) feeder_.join();
    if (socket_ >= 0) close(socket_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
}

PausingPlayer::PausingPlayer(const std::string& applicationName, const std::string& binary, double hz, bool paused)
{
    int toPlayer[2], fromPlayer[2];
    if (pipe(toPlayer) != 0 || pipe(fromPlayer) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::vector<std::string> args{ONDALINE_PAUSING_PLAYER, applicationName, binary, std::to_string(hz)};
    if (paused) args.emplace_back("paused");
    pid_ = spawn(args, [&] {
        dup2(toPlayer[0], STDIN_FILENO);
        dup2(fromPlayer[1], STDOUT_FILENO);
        for (const int fd : {toPlayer[0], toPlayer[1], fromPlayer[0], fromPlayer[1]}) close(fd);
    });
    close(toPlayer[0]);
    close(fromPlayer[1]);
    input_ = toPlayer[1];
    output_ = fromPlayer[0];
    if (pid_ < 0) ADD_FAILURE() << "fork failed";
    ready_ = pid_ > 0 && answered("ready");
}

PausingPlayer::~PausingPlayer()
{
    if (input_ >= 0) close(input_);  // it ends with its input
    if (output_ >= 0) close(output_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
}

bool PausingPlayer::tell(const std::string& command, const std::string& answer)
{
    const std::string line = command + "\n";
    return ready_ && write(input_, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && answered(answer);
}

// The next line it writes, within a few seconds.
bool PausingPlayer::answered(const std::string& answer)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        if (const auto end = received_.find('\n'); end != std::string::npos) {
            const std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            return line == answer;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        pollfd wanted{output_, POLLIN, 0};
        if (left.count() <= 0 || poll(&wanted, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[256];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) return false;
        received_.append(buffer, static_cast<std::size_t>(n));
    }
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    pid_ = spawn(argv, [] {});
    if (pid_ < 0) ADD_FAILURE() << "fork failed";
}

bool ChildProcess::running()
{
    if (pid_ <= 0 || ended_) return false;
    ended_ = waitpid(pid_, nullptr, WNOHANG) == pid_;
    return !ended_;
}

void ChildProcess::kill()
{
    if (running()) ::kill(pid_, SIGKILL);
}

ChildProcess::~ChildProcess()
{
    kill();
    if (pid_ > 0 && !ended_) waitpid(pid_, nullptr, 0);
}

void writeToneWAV(const std::string& file, int sampleRate, double hz, double seconds, const std::string& codec)
{
    const auto result = runCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=" + std::to_string(hz) +
                                   ":sample_rate=" + std::to_string(sampleRate) + ":duration=" +
                                   std::to_string(seconds) + " -ac 2 -c:a " + codec + " " + shellQuote(file));
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

}  // namespace ondaline::test
