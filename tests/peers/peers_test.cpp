// The test peers are up and behave as the end-to-end tests expect: nginx
// records what is published over RTMP and RTMPS (TLS verified against the
// test CA), icecast accepts a source, and the PulseAudio daemon offers its
// null sink.

#include "support/peer_env.h"
#include "support/process.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

using namespace ondaline::test;
namespace fs = std::filesystem;

namespace {

// Publishes one second of a 440 Hz tone with ffmpeg.
CommandResult publishTone(const std::string& url, const std::string& format, const std::string& extra = "")
{
    return runCommand("timeout 60 ffmpeg -nostdin -hide_banner -loglevel error -re -f lavfi "
                      "-i sine=frequency=440:duration=1 -c:a aac " +
                      extra + " -f " + format + " " + shellQuote(url));
}

// The recording nginx made of stream `name`, if any.
std::optional<fs::path> recordingOf(const std::string& dir, const std::string& name)
{
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with(name + "-")) return entry.path();
    }
    return std::nullopt;
}

std::string probeAudio(const fs::path& file)
{
    return runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate "
                      "-of default=noprint_wrappers=1 " +
                      shellQuote(file.string()))
        .output;
}

// Publishes the tone as stream `name` and checks that nginx recorded it as
// AAC at 44.1 kHz.
void expectRecordedTone(const std::string& url, const std::string& recordDir, const std::string& name,
                        const std::string& extra = "")
{
    const auto published = publishTone(url + "/" + name, "flv", extra);
    ASSERT_EQ(published.exitCode, 0) << published.output;
    const auto file = recordingOf(recordDir, name);
    ASSERT_TRUE(file);
    EXPECT_EQ(probeAudio(*file), "codec_name=aac\nsample_rate=44100\n");
}

std::string httpGet(const std::string& host, int port, const std::string& path)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
        if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            ssize_t n;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    return reply;
}

}  // namespace

TEST(Peers, rtmpRecordsAPublishedStream)
{
    auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    expectRecordedTone(env["ONDALINE_RTMP_URL"], env["ONDALINE_RTMP_RECORD_DIR"], "peercheck");
}

TEST(Peers, rtmpOverTLSVerifiesAgainstTheTestCA)
{
    auto env = loadPeerEnv("rtmp");
    ASSERT_FALSE(env.empty()) << "the rtmp peer is not running";
    const std::string port = env["ONDALINE_RTMPS_PORT"];
    const std::string ca = shellQuote(env["ONDALINE_TEST_CA"]);

    for (const std::string name : {"localhost", "127.0.0.1"}) {
        const auto verify = runCommand("timeout 20 openssl s_client -connect 127.0.0.1:" + port +
                                       " -servername localhost -verify_return_error -verify_hostname localhost "
                                       "-CAfile " +
                                       ca + (name == "127.0.0.1" ? " -verify_ip 127.0.0.1" : "") + " </dev/null");
        EXPECT_EQ(verify.exitCode, 0) << verify.output;
        EXPECT_NE(verify.output.find("Verify return code: 0 (ok)"), std::string::npos) << verify.output;
    }
    // Without the test CA the certificate must not verify.
    const auto untrusted = runCommand("timeout 20 openssl s_client -connect 127.0.0.1:" + port +
                                      " -verify_return_error -CApath /nonexistent -CAfile /dev/null </dev/null");
    EXPECT_NE(untrusted.exitCode, 0);

    expectRecordedTone(env["ONDALINE_RTMPS_URL"], env["ONDALINE_RTMP_RECORD_DIR"], "peercheck-tls",
                       "-tls_verify 1 -ca_file " + ca);
}

TEST(Peers, icecastAcceptsASourceAndAnswersStatus)
{
    auto env = loadPeerEnv("icecast");
    ASSERT_FALSE(env.empty()) << "the icecast peer is not running";
    const std::string host = env["ONDALINE_ICECAST_HOST"];
    const int port = std::stoi(env["ONDALINE_ICECAST_PORT"]);

    const auto status = httpGet(host, port, "/status-json.xsl");
    EXPECT_TRUE(status.starts_with("HTTP/1.0 200")) << status;
    EXPECT_NE(status.find("\"icestats\""), std::string::npos);

    const std::string url = "icecast://source:" + env["ONDALINE_ICECAST_SOURCE_PASSWORD"] + "@" + host + ":" +
                            std::to_string(port) + "/peercheck.aac";
    const auto published = publishTone(url, "adts", "-content_type audio/aac");
    EXPECT_EQ(published.exitCode, 0) << published.output;

    const std::string wrong = "icecast://source:wrong@" + host + ":" + std::to_string(port) + "/refused.aac";
    EXPECT_NE(publishTone(wrong, "adts", "-content_type audio/aac").exitCode, 0);
}

TEST(Peers, pulseOffersTheNullSink)
{
    auto env = loadPeerEnv(soundPeer());
    ASSERT_FALSE(env.empty()) << "the pulse peer is not running";
    const auto sinks = runCommand("PULSE_SERVER=" + shellQuote(env["PULSE_SERVER"]) + " pactl list short sinks");
    ASSERT_EQ(sinks.exitCode, 0) << sinks.output;
    EXPECT_NE(sinks.output.find(env["ONDALINE_PULSE_SINK"]), std::string::npos) << sinks.output;
}

// A run that ended without its stop step (its servers killed with their
// session, the machine restarted) leaves its pid files behind; by the next
// run one of them may name another's process. The peer starts clean anyway
// and signals no process that is not its own.
TEST(Peers, pipewireStartsCleanAfterARunCutShort)
{
    const std::string peer = std::string(ONDALINE_PEER_SCRIPTS) + "/pipewire";
    const std::string dir = runFile("cut-short");
    fs::create_directories(dir);
    const auto first = runCommand(shellQuote(peer) + " start " + shellQuote(dir));
    ASSERT_EQ(first.exitCode, 0) << first.output;
    // Gone for good, as with their PID namespace, not only signalled.
    const auto killed = runCommand("for f in " + shellQuote(dir) +
                                   "/pipewire/*.pid; do p=$(cut -d' ' -f1 $f); "
                                   "kill -KILL $p; while [ -e /proc/$p ]; do sleep 0.05; done; done");
    ASSERT_EQ(killed.exitCode, 0) << killed.output;
    const pid_t another = ::fork();
    if (another == 0) {
        ::pause();
        ::_exit(0);
    }
    std::ofstream(dir + "/pipewire/pulse.pid") << another << "\n";

    for (const std::string action : {"start", "stop"}) {
        const auto run = runCommand(shellQuote(peer) + " " + action + " " + shellQuote(dir));
        EXPECT_EQ(run.exitCode, 0) << action << ": " << run.output;
        EXPECT_EQ(::waitpid(another, nullptr, WNOHANG), 0) << action;  // untouched
    }
    ::kill(another, SIGKILL);
    ::waitpid(another, nullptr, 0);
}
