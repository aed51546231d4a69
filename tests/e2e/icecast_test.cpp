// The harness as an Icecast source against icecast2: what a listener hears,
// the title the server shows, refusals, and a server that goes away.

#include "support/peer_env.h"
#include "support/process.h"
#include "support/run_folder.h"
#include "support/tone_analysis.h"

#include "engine/icecast/icecast_protocol.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using namespace ondaline::test;
namespace fs = std::filesystem;

namespace {

class Icecast : public ::testing::Test {
protected:
    void SetUp() override { env_ = loadPeerEnv("icecast"); }

    CommandResult harness(const std::map<std::string, std::string>& env, const std::string& mount,
                          const std::string& extra, int seconds = 6)
    {
        return runCommand("timeout 180 " + shellQuote(ONDALINE_HARNESS) + " --mode icecast --host 127.0.0.1 --port " +
                          env.at("ONDALINE_ICECAST_PORT") + " --mount " + shellQuote(mount) + " --password " +
                          shellQuote(env.at("ONDALINE_ICECAST_SOURCE_PASSWORD")) + " --seconds " +
                          std::to_string(seconds) + " " + extra);
    }

    std::string adminStats()
    {
        return runCommand("curl -s -u admin:" + shellQuote(env_["ONDALINE_ICECAST_ADMIN_PASSWORD"]) +
                          " http://127.0.0.1:" + env_["ONDALINE_ICECAST_PORT"] + "/admin/stats")
            .output;
    }

    std::map<std::string, std::string> env_;
};

// Undoes the XML escaping of icecast's statistics: the five named entities
// and numeric character references.
std::string unescapeXML(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const auto semicolon = text.find(';', i);
        const std::string entity = text.substr(i + 1, semicolon - i - 1);
        i = semicolon + 1;
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (entity.starts_with("#")) {
            const unsigned long code = entity[1] == 'x' ? std::stoul(entity.substr(2), nullptr, 16)
                                                        : std::stoul(entity.substr(1));
            if (code < 0x80) out += char(code);
            else if (code < 0x800) out += {char(0xC0 | (code >> 6)), char(0x80 | (code & 0x3F))};
            else out += {char(0xE0 | (code >> 12)), char(0x80 | ((code >> 6) & 0x3F)), char(0x80 | (code & 0x3F))};
        }
    }
    return out;
}

// The title icecast's statistics show for `mount`, if any.
std::optional<std::string> shownTitle(const std::string& stats, const std::string& mount)
{
    const auto mountAt = stats.find("<source mount=\"" + mount + "\">");
    if (mountAt == std::string::npos) return std::nullopt;
    const auto titleAt = stats.find("<title>", mountAt);
    if (titleAt == std::string::npos) return std::nullopt;
    const auto titleEnd = stats.find("</title>", titleAt);
    return unescapeXML(stats.substr(titleAt + 7, titleEnd - titleAt - 7));
}

}  // namespace

TEST_F(Icecast, ListenerHearsTheToneAndSeesTheTitle)
{
    ASSERT_FALSE(env_.empty()) << "the icecast peer is not running";
    const std::string title = "Rock & Roll + Jazz = 100% (Live) #1 Caf\u00e9 Z\u00fcrich";
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{48000, 1}}) {
        // The second mount's space and "#" go encoded, in the source's
        // request and in each title update.
        const std::string mount = "/tone" + std::string(channels == 1 ? " #" : "-") + std::to_string(rate) + "-" +
                                  std::to_string(channels) + ".aac";
        SCOPED_TRACE(mount);
        auto source = std::async(std::launch::async, [&] {
            return harness(env_, mount,
                           "--source tone --tone-hz 440 --tone-dbfs -12 --rate " + std::to_string(rate) +
                               " --channels " + std::to_string(channels) + " --metadata " + shellQuote(title),
                           15);
        });
        // The listener comes once icecast lists the source, and the source
        // outlasts it and the statistics after it on a busy machine.
        const std::string listed = "<source mount=\"" + mount + "\">";
        for (int i = 0; i < 300 && adminStats().find(listed) == std::string::npos; ++i)
            std::this_thread::sleep_for(100ms);
        const std::string heard = runFile("listener-" + std::to_string(rate) + ".aac");
        const auto listener =
            runCommand("timeout 30 ffmpeg -nostdin -v error -y -i http://127.0.0.1:" + env_["ONDALINE_ICECAST_PORT"] +
                       ondaline::icecast::encodePath(mount) + " -t 3 -c copy -f adts " + shellQuote(heard));
        const std::string stats = adminStats();
        const auto run = source.get();
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_EQ(listener.exitCode, 0) << listener.output;

        EXPECT_EQ(
            runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels "
                       "-of default=noprint_wrappers=1 " +
                       shellQuote(heard))
                .output,
            "codec_name=aac\nsample_rate=" + std::to_string(rate) + "\nchannels=" + std::to_string(channels) + "\n");
        const Tone tone = analyseTone(decodeFirstChannel(heard), rate);
        EXPECT_NEAR(tone.hz, 440.0, 1.0);
        EXPECT_NEAR(tone.peakDBFS, -12.0, 0.5);
        fs::remove(heard);

        EXPECT_NE(run.output.find("Ondaline: Icecast metadata updated — " + title), std::string::npos) << run.output;
        EXPECT_EQ(shownTitle(stats, mount), title) << stats;

        // The log an operator pastes into a support request holds no password.
        const std::string password = env_["ONDALINE_ICECAST_SOURCE_PASSWORD"];
        EXPECT_NE(run.output.find("\nAuthorization: Basic ***\r\n"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find(password), std::string::npos);
        EXPECT_EQ(run.output.find(ondaline::icecast::basicCredentials("source", password)), std::string::npos);
    }
}

// Titles go out one at a time, the newest waiting one next, so a burst
// larger than the server's client limit ends on its last title. A title the
// server will not take is reported.
TEST_F(Icecast, BurstOfTitlesEndsOnTheLastAndARefusedTitleIsReported)
{
    ASSERT_FALSE(env_.empty()) << "the icecast peer is not running";
    auto burst = std::async(std::launch::async,
                            [&] { return harness(env_, "/burst.aac", "--source tone --metadata-burst 50", 8); });
    auto oversized = std::async(std::launch::async, [&] {
        return harness(env_, "/oversized.aac", "--source tone --metadata " + std::string(10240, 'x'), 5);
    });
    std::this_thread::sleep_for(5s);  // live, and the burst long over
    const std::string stats = adminStats();
    const auto run = burst.get();
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(shownTitle(stats, "/burst.aac"), "TEXT 50") << stats;
    EXPECT_NE(run.output.find("Ondaline: Icecast metadata updated — TEXT 50\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Ondaline: Icecast metadata update failed"), std::string::npos) << run.output;

    const auto refused = oversized.get();
    EXPECT_EQ(refused.exitCode, 0) << refused.output;
    EXPECT_NE(refused.output.find("Ondaline: Icecast metadata update failed: "), std::string::npos) << refused.output;
}

TEST_F(Icecast, WrongPasswordAndATakenMountAreRefused)
{
    ASSERT_FALSE(env_.empty()) << "the icecast peer is not running";
    auto wrong = env_;
    wrong["ONDALINE_ICECAST_SOURCE_PASSWORD"] = "not-the-password";
    auto refused = harness(wrong, "/refused.aac", "--source tone", 2);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("delegate: error Icecast: Authentication failed — check password"), std::string::npos)
        << refused.output;

    auto first = std::async(std::launch::async, [&] { return harness(env_, "/taken.aac", "--source tone", 5); });
    std::this_thread::sleep_for(1500ms);
    auto second = harness(env_, "/taken.aac", "--source tone", 2);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.output.find("delegate: error Icecast: Mount point in use or forbidden"), std::string::npos)
        << second.output;
    EXPECT_EQ(first.get().exitCode, 0);
}

TEST_F(Icecast, ServerGoingAwayTakesTheLostPathAndTheBackOff)
{
    // A server of this test's own, so stopping it disturbs no other test.
    const std::string peerDir = runFile("icecast-lost");
    const std::string script = shellQuote(std::string(ONDALINE_SOURCE_DIR) + "/scripts/peers/icecast");
    ASSERT_EQ(runCommand(script + " start " + shellQuote(peerDir)).exitCode, 0);
    const auto env = loadPeerEnvFrom(peerDir, "icecast");
    auto source = std::async(std::launch::async, [&] { return harness(env, "/lost.aac", "--source tone", 15); });
    std::this_thread::sleep_for(3s);
    runCommand(script + " stop " + shellQuote(peerDir));
    const auto run = source.get();
    fs::remove_all(peerDir);
    EXPECT_EQ(run.exitCode, 0) << run.output;  // went live; the user's stop ended it in order
    for (const char* line : {"Ondaline: Icecast connection lost", "Ondaline: State → Error",
                             "Ondaline: Reconnecting in 10s (attempt 1/10)…", "delegate: error Reconnecting (1/10)…"}) {
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    }
}
