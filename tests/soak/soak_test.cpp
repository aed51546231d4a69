// Ten real minutes and more of the whole program's work: audio from a TCP
// sender that comes and goes, the picture with bars and crawler, published
// to an nginx of the test's own that is restarted every two minutes. The
// harness process is sampled throughout: its memory, descriptors and threads
// must stay flat after warm-up, and every restart must be recovered.
//
//   ONDALINE_SOAK_MINUTES   length of the run (default 11)

#include "support/background_harness.h"
#include "support/pcm_sender.h"
#include "support/peer_env.h"
#include "support/process.h"
#include "support/recording.h"
#include "support/run_folder.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

extern char** environ;

using namespace ondaline::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Sample {
    double minute = 0;
    long rssKB = 0;
    int descriptors = 0;
    int threads = 0;
};

Sample sampleOf(pid_t pid, double minute)
{
    Sample sample{minute};
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) sample.rssKB = std::stol(line.substr(6));
        if (line.starts_with("Threads:")) sample.threads = std::stoi(line.substr(8));
    }
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        (void)entry;
        ++sample.descriptors;
    }
    return sample;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(Soak, TenMinutesOfStreamingStayFlatAndRecoverEveryRestart)
{
    const char* minutesText = std::getenv("ONDALINE_SOAK_MINUTES");
    const double minutes = minutesText ? std::stod(minutesText) : 11;
    const fs::path work = runFolder() / "soak";
    fs::create_directories(work);
    const std::string peers = (work / "peers").string();
    const std::string script = shellQuote(std::string(ONDALINE_SOURCE_DIR) + "/scripts/peers/rtmp");
    ASSERT_EQ(runCommand(script + " start " + shellQuote(peers)).exitCode, 0);
    const auto env = loadPeerEnvFrom(peers, "rtmp");
    const std::uint16_t tcpPort = closedPort();

    const std::string image = (work / "still.png").string();
    runCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 " + shellQuote(image));
    std::ofstream(work / "crawler.txt") << "Station news — the weather stays fair all night\n";

    // The harness, with its output in a file and its pid at hand.
    const std::string output = (work / "harness.log").string();
    const int seconds = static_cast<int>(minutes * 60);
    const std::string command = "exec " + shellQuote(ONDALINE_HARNESS) + " --mode rtmp --url " +
                                env.at("ONDALINE_RTMP_URL") + " --key soak --seconds " + std::to_string(seconds) +
                                " --source tcp --tcp-port " + std::to_string(tcpPort) + " --image " +
                                shellQuote(image) + " --song 'Radio Ondes\\nAll Night Long' --bars --crawler " +
                                shellQuote((work / "crawler.txt").string()) + " > " + shellQuote(output) + " 2>&1";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);

    // A sender that streams for a while, leaves, and comes back.
    std::atomic<bool> done{false};
    std::thread sender([&] {
        for (int round = 0; !done; ++round) {
            PCMSender pcm;
            if (!pcm.connect(tcpPort)) continue;
            const bool stereo = round % 2 == 0;
            pcm.startTone({.sampleRate = stereo ? 44100u : 48000u, .channels = stereo ? 2u : 1u, .hz = 440});
            for (int i = 0; i < 250 && !done; ++i) std::this_thread::sleep_for(100ms);  // 25 s
            pcm.stop();
            for (int i = 0; i < 50 && !done; ++i) std::this_thread::sleep_for(100ms);  // 5 s of keep-alive
        }
    });

    // Samples every ten seconds; nginx restarted every two minutes.
    std::vector<Sample> samples;
    int restarts = 0;
    const auto start = Clock::now();
    auto nextRestart = start + 2min;
    for (int status = 0; waitpid(pid, &status, WNOHANG) == 0;) {
        const double minute = std::chrono::duration<double>(Clock::now() - start).count() / 60;
        samples.push_back(sampleOf(pid, minute));
        if (Clock::now() >= nextRestart && minute < minutes - 1) {
            runCommand(script + " pause " + shellQuote(peers));
            std::this_thread::sleep_for(3s);
            runCommand(script + " resume " + shellQuote(peers));
            ++restarts;
            nextRestart += 2min;
        }
        if (minute > minutes + 3) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "the harness did not end";
        }
        std::this_thread::sleep_for(10s);
    }
    done = true;
    sender.join();
    const std::string log = readFile(output);
    const int recorded = static_cast<int>(recordingsOf(env.at("ONDALINE_RTMP_RECORD_DIR"), "soak").size());
    runCommand(script + " stop " + shellQuote(peers));

    EXPECT_NE(log.find("harness: stream went live and ended in order"), std::string::npos) << log.substr(0, 4000);
    EXPECT_GE(restarts, static_cast<int>(minutes / 2) - 1);
    EXPECT_EQ(occurrences(log, "delegate: connected"), restarts + 1);
    EXPECT_EQ(recorded, restarts + 1);

    // Flat after warm-up. Each reconnect makes the encoders afresh, and the
    // heap reaches its high-water mark over the first three of them (some
    // 20 MB); from then on nothing may grow with time or with restarts.
    std::vector<Sample> settled;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(settled),
                 [](const Sample& s) { return s.minute >= 6.5 && s.rssKB > 0; });
    ASSERT_GE(settled.size(), 6u);
    const auto firstHalf = std::vector<Sample>(settled.begin(), settled.begin() + long(settled.size() / 2));
    const auto secondHalf = std::vector<Sample>(settled.begin() + long(settled.size() / 2), settled.end());
    const auto peak = [](const std::vector<Sample>& part) {
        return std::max_element(part.begin(), part.end(), [](auto& a, auto& b) { return a.rssKB < b.rssKB; })->rssKB;
    };
    EXPECT_LE(peak(secondHalf), peak(firstHalf) + 8 * 1024) << "memory grew after warm-up";
    const auto most = [](const std::vector<Sample>& part, int Sample::*field) {
        int m = 0;
        for (const auto& s : part) m = std::max(m, s.*field);
        return m;
    };
    EXPECT_LE(most(secondHalf, &Sample::descriptors), most(firstHalf, &Sample::descriptors));
    EXPECT_LE(most(secondHalf, &Sample::threads), most(firstHalf, &Sample::threads));

    // Kept for a look after the run, in the folder CTest runs the test in:
    // this checkout's build.
    const fs::path reportFile = fs::absolute("soak-samples.csv");
    std::ofstream report(reportFile);
    std::cout << "samples: " << reportFile.string() << "\n";
    report << "minute,rss_kb,descriptors,threads\n";
    for (const auto& s : samples)
        report << s.minute << "," << s.rssKB << "," << s.descriptors << "," << s.threads << "\n";
    fs::remove_all(work);
}
