// ondaline-harness: drives the engine from the command line for the
// end-to-end tests. It streams for a given time after the stream went live
// (with --connects N, after it went live for the Nth time, reconnects
// included), prints every activity-log line and every delegate call, and
// exits 0 when the stream went live so often and ended with the orderly
// disconnect, 1 otherwise. A hang-up (SIGHUP, its terminal closed) ends the
// run early, in the same order.

#include "base/activity_log.h"
#include "base/print.h"
#include "engine/ondaline.h"
#include "platform/codec/library_log.h"
#include "platform/graphics/canvas.h"
#include "platform/graphics/qt_messages.h"
#include "platform/hang_up.h"
#include "platform/standard_descriptors.h"
#include "platform/standard_stream.h"
#include "sources/audio_source_capture.h"
#include "sources/spectrum_analyzer.h"
#include "sources/tcp_audio_server.h"
#include "sources/test_player.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include <sys/resource.h>

using namespace ondaline;
using Clock = std::chrono::steady_clock;

namespace {

// Set by SIGHUP; the main loop looks at it at least four times a second.
std::atomic<bool> hungUp{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void onHangUp(int) { hungUp = true; }

// The harness's main thread is the engine's main queue.
class LoopExecutor final : public platform::MainExecutor {
public:
    void post(std::function<void()> task) override
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        ready_.notify_one();
    }

    // Runs what is posted until `deadline`.
    void runUntil(Clock::time_point deadline)
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                if (!ready_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

struct Outcome : OndalineDelegate {
    explicit Outcome(int wanted) : connectsWanted(wanted) {}

    const int connectsWanted;
    int connects = 0;
    std::optional<Clock::time_point> liveSince;
    std::optional<Clock::time_point> wantedSince;  // live for the connectsWanted-th time
    bool disconnected = false;
    bool finalError = false;

    void ondalineDidConnect(Ondaline&) override
    {
        line("delegate: connected");
        if (!liveSince) liveSince = Clock::now();
        if (++connects == connectsWanted) wantedSince = Clock::now();
    }
    void ondalineDidDisconnect(Ondaline&) override
    {
        line("delegate: disconnected");
        disconnected = true;
    }
    void ondalineDidChangeState(Ondaline&, StreamState state) override
    {
        line("delegate: state " + std::string(rawValue(state)));
    }
    void ondalineDidEncounterError(Ondaline&, const std::string& message, NoticeKind kind) override
    {
        line("delegate: error " + message);
        // A notice of a retry on its way is not the end of the stream.
        if (kind != NoticeKind::retrying && kind != NoticeKind::unhealthy) finalError = true;
    }
    void ondalineDidUpdateStats(Ondaline&, std::uint64_t bytes, std::uint64_t packets) override
    {
        line("delegate: stats " + std::to_string(bytes) + " " + std::to_string(packets));
    }

    static void line(const std::string& text) { writeStandardOutput(text + "\n"); }
};

// A sine fed through sendAudioBuffer in 1024-frame blocks at real-time pace,
// digital silence (still delivered) during the gap.
struct ToneGap {
    double startSeconds = 0, lengthSeconds = 0;
};

// With `noise`, independent white noise in each channel at that peak level
// instead: programme that takes the whole bit rate, as music does.
class ToneSource {
public:
    ToneSource(std::shared_ptr<Ondaline> engine, double rate, std::uint32_t channels, double hz, double dbfs,
               ToneGap gap, bool noise)
        : thread_([=, this, engine = std::move(engine)] { run(*engine, rate, channels, hz, dbfs, gap, noise); })
    {
    }
    ~ToneSource()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void run(Ondaline& engine, double rate, std::uint32_t channels, double hz, double dbfs, ToneGap gap, bool noise)
    {
        std::minstd_rand random(1);
        std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
        constexpr std::uint32_t frames = 1024;
        const double amplitude = std::pow(10.0, dbfs / 20.0);
        std::vector<std::vector<float>> planes(channels, std::vector<float>(frames));
        std::vector<const float*> pointers;
        for (auto& plane : planes) pointers.push_back(plane.data());
        std::uint64_t position = 0;
        sources::SpectrumAnalyzer analyzer(40);
        auto deadline = Clock::now();
        const auto blockDuration = std::chrono::duration<double>(frames / rate);
        while (!stop_) {
            for (std::uint32_t i = 0; i < frames; ++i, ++position) {
                const double t = static_cast<double>(position) / rate;
                const bool silent = t >= gap.startSeconds && t < gap.startSeconds + gap.lengthSeconds;
                const auto sample = silent ? 0.0f
                                           : static_cast<float>(amplitude *
                                                                std::sin(2 * std::numbers::pi * hz * position / rate));
                for (auto& plane : planes) {
                    plane[i] = noise && !silent ? static_cast<float>(amplitude) * uniform(random) : sample;
                }
            }
            engine.sendAudioBuffer({pointers.data(), channels, frames});
            // The bars follow the tone as a source's analyser would make them.
            analyzer.process(planes[0].data(), frames);
            engine.setSpectrumLevels(analyzer.levels);
            deadline += std::chrono::duration_cast<Clock::duration>(blockDuration);
            std::this_thread::sleep_until(deadline);
        }
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Captures the application of that name into the engine, as the dashboard
// does with the capture source.
void startCapture(sources::AudioSourceCapture& capture, const std::shared_ptr<Ondaline>& engine,
                  const std::string& name)
{
    capture.setOnAudioBuffer([weakEngine = std::weak_ptr(engine)](const sources::AudioSampleBuffer& buffer) {
        const auto target = weakEngine.lock();
        const auto pcm = sources::AudioBufferConverter::extractPCMFloat32(buffer);
        if (!target || !pcm || pcm->second.isNonInterleaved()) return;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm->first.data());
        target->sendRawPCMData(ByteView(bytes, pcm->first.size() * sizeof(float)), pcm->second.sampleRate,
                               pcm->second.channelsPerFrame);
    });
    capture.setOnError([](const std::string& error) { Outcome::line("harness: capture error " + error); });
    for (const auto& candidate : capture.availableSources()) {
        if (candidate.name != name) continue;
        if (const auto error = capture.startCapture(candidate)) Outcome::line("harness: capture failed " + *error);
        return;
    }
    Outcome::line("harness: no application named " + name + " is playing");
}

int usage()
{
    platform::StandardStream::error().write(
        "usage: ondaline-harness --mode rtmp|youtube|facebook|kick|icecast --url URL --key KEY\n"
        "         [--bitrate BPS] [--rate HZ] [--channels N] [--source none|tone|noise|tcp|playlist DIR|capture "
        "NAME]\n"
        "         [--tone-hz F] [--tone-dbfs L] [--tone-gap START,LEN] [--seconds N] [--connects N] [--tcp-port P]\n"
        "         [--host H --port P --mount M --password PW] [--metadata TEXT]   (icecast)\n"
        "         [--metadata-burst N]   (icecast: titles \"TEXT 1\" to \"TEXT N\" at once)\n"
        "         [--image PATH] [--song TEXT] [--bars] [--crawler FILE]              (video)\n"
        "         [--stall-encoder MS]   (the encoder queue held up MS each second, as under load)\n");
    return 2;
}

std::optional<StreamMode> modeFromWord(const std::string& word)
{
    static const std::map<std::string, StreamMode> modes{{"rtmp", StreamMode::rtmp},
                                                         {"youtube", StreamMode::youtube},
                                                         {"facebook", StreamMode::facebook},
                                                         {"kick", StreamMode::kick},
                                                         {"icecast", StreamMode::icecast}};
    const auto found = modes.find(word);
    if (found == modes.end()) return std::nullopt;
    return found->second;
}

// Milliseconds since midnight of a log line's "HH:mm:ss.SSS" stamp.
std::optional<long> millisecondsOfDay(std::string_view stamp)
{
    int hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
    if (std::sscanf(std::string(stamp).c_str(), "%d:%d:%d.%d", &hours, &minutes, &seconds, &milliseconds) != 4) {
        return std::nullopt;
    }
    return ((hours * 60L + minutes) * 60 + seconds) * 1000 + milliseconds;
}

// How long sound has gone out: from where the last connection's sound
// began, as the activity log dated it, to now. Its first audio packet (the
// one stamped 0 ms) stands for the moment the stream's clock began: as the
// picture's first frame went out (its sequence header sent with it), or
// without a picture as the carrier watchdog started. That packet is sent
// later, on a busy machine a quarter of a second later, behind the
// encoders' first work; the delegate hears of the connection later still,
// while sound from a sender already connected flows.
std::optional<double> secondsSinceFirstSound()
{
    std::istringstream log(ActivityLog::shared().allText());
    std::optional<long> pictureBegan, carrierBegan, began;
    for (std::string line; std::getline(log, line);) {
        if (!line.starts_with('[')) continue;  // the rest of a line of several
        const auto at = millisecondsOfDay(std::string_view(line).substr(1));
        if (line.find("] Ondaline: Sent H.264 sequence header") != std::string::npos) pictureBegan = at;
        if (line.find("] Ondaline: Carrier watchdog started") != std::string::npos) carrierBegan = at;
        if (line.find("] Ondaline: Audio packet #") != std::string::npos && line.ends_with(", ts=0ms")) {
            began = pictureBegan ? pictureBegan : carrierBegan ? carrierBegan : at;
            pictureBegan.reset();
            carrierBegan.reset();
        }
    }
    const auto now = millisecondsOfDay(formatLogTime(std::chrono::system_clock::now()));
    if (!began || !now) return std::nullopt;
    constexpr long day = 24L * 60 * 60 * 1000;
    return double((*now - *began + day) % day) / 1000;
}

}  // namespace

int main(int argc, char** argv)
{
    platform::openClosedStandardDescriptors();
    ignoreBrokenPipeSignal();
    platform::catchHangUp(onHangUp);
    const platform::StandardStreamsFlushedAtExit flushed(std::chrono::seconds(1));
    platform::routeQtMessagesThroughStandardError();
    platform::routeLibraryLog();
    std::map<std::string, std::string> options{
        {"--mode", "rtmp"},        {"--bitrate", "320000"}, {"--rate", "44100"},     {"--channels", "2"},
        {"--source", "none"},      {"--tone-hz", "440"},    {"--tone-dbfs", "-12"},  {"--seconds", "5"},
        {"--connects", "1"},       {"--url", ""},           {"--key", ""},           {"--host", ""},
        {"--port", "8000"},        {"--mount", "/stream"},  {"--password", ""},      {"--metadata", ""},
        {"--metadata-burst", "0"}, {"--tone-gap", "0,0"},   {"--image", ""},         {"--song", ""},
        {"--crawler", ""},         {"--tcp-port", "9170"},  {"--stall-encoder", "0"}};
    bool bars = false;
    std::string sourceOperand;  // the folder of a playlist, the name of a captured application
    for (int i = 1; i < argc; i += 2) {
        if (std::string(argv[i]) == "--bars") {
            bars = true;
            --i;
            continue;
        }
        if (i + 1 >= argc || !options.contains(argv[i])) return usage();
        options[argv[i]] = argv[i + 1];
        if (std::string(argv[i]) == "--source" &&
            (options["--source"] == "playlist" || options["--source"] == "capture")) {
            if (i + 2 >= argc) return usage();
            sourceOperand = argv[++i + 1];
        }
    }
    const auto mode = modeFromWord(options["--mode"]);
    const std::string source = options["--source"];
    if (!mode || (source != "none" && source != "tone" && source != "noise" && source != "tcp" &&
                  source != "playlist" && source != "capture")) {
        return usage();
    }

    double rate, seconds, toneHz, toneDbfs;
    std::int64_t bitrate;
    std::uint32_t channels;
    unsigned long port, tcpPort;
    int connects, metadataBurst, stallMs;
    ToneGap toneGap;
    try {
        port = std::stoul(options["--port"]);
        tcpPort = std::stoul(options["--tcp-port"]);
        bitrate = std::stoll(options["--bitrate"]);
        rate = std::stod(options["--rate"]);
        channels = static_cast<std::uint32_t>(std::stoul(options["--channels"]));
        seconds = std::stod(options["--seconds"]);
        connects = std::stoi(options["--connects"]);
        metadataBurst = std::stoi(options["--metadata-burst"]);
        stallMs = std::stoi(options["--stall-encoder"]);
        toneHz = std::stod(options["--tone-hz"]);
        toneDbfs = std::stod(options["--tone-dbfs"]);
        const std::string gap = options["--tone-gap"];
        toneGap = {std::stod(gap), std::stod(gap.substr(gap.find(',') + 1))};
    } catch (const std::exception&) {
        return usage();
    }
    if (rate <= 0 || channels == 0 || channels > 8 || seconds < 0 || connects < 1 || port > 65535 || tcpPort > 65535) {
        return usage();
    }

    platform::ensureGuiRuntime();  // pictures are drawn with Qt, started here on the main thread
    auto loop = std::make_shared<LoopExecutor>();
    auto outcome = std::make_shared<Outcome>(connects);
    auto engine = Ondaline::create(loop);
    engine->setDelegate(outcome);
    engine->setStreamMode(*mode);
    engine->configure(options["--url"], options["--key"], bitrate, rate, channels);
    IcecastConfig icecast;
    icecast.host = options["--host"];
    icecast.port = static_cast<std::uint16_t>(port);
    icecast.mountPoint = options["--mount"];
    icecast.password = options["--password"];
    engine->setIcecastConfig(icecast);
    if (!options["--image"].empty()) engine->setVideoImagePath(options["--image"]);
    std::string song = options["--song"];
    for (std::size_t at; (at = song.find("\\n")) != std::string::npos;) song.replace(at, 2, "\n");
    engine->setCurrentSongText(song);
    VisualizationConfig visualization;
    visualization.enabled = bars;
    engine->setVizConfig(visualization);
    if (!options["--crawler"].empty()) {
        CrawlerConfig crawler;
        crawler.enabled = true;
        engine->setCrawlerConfig(crawler);
        engine->setCrawlerFilePath(options["--crawler"]);
    }

    // The TCP input listens from the start, as the dashboard's does when it
    // is the saved source; a sender may connect before the stream is live.
    std::shared_ptr<sources::TCPAudioServer> tcpServer;
    if (source == "tcp") {
        tcpServer = sources::TCPAudioServer::create(loop, static_cast<std::uint16_t>(tcpPort));
        tcpServer->setStreamer(engine);
        tcpServer->setOnStatusChange([](const std::string& status) { Outcome::line("tcp: status " + status); });
        tcpServer->setOnMeterUpdate([](float, float) {});  // the meters also drive the bars
        tcpServer->start();
    }
    // The playlist player runs from the start, as the dashboard's does, and
    // plays once the stream is live.
    std::shared_ptr<sources::TestPlayer> player;
    if (source == "playlist") {
        player = sources::TestPlayer::create(loop);
        player->setStreamer(engine);
        player->setOnTrackChange([](int position, int count, const std::string& name) {
            Outcome::line("harness: track " + std::to_string(position) + "/" + std::to_string(count) + " " + name);
        });
        player->loadPlaylist(sourceOperand);
        player->setup();
        print(std::string("harness: player output ") +
              (player->engine().kind() == platform::AudioOutput::Kind::soundServer ? "sound server" : "null"));
    }
    std::shared_ptr<sources::AudioSourceCapture> capture;
    engine->connect();

    // Going live may take the engine's own limits (connect 10 s, negotiation
    // 15 s) and a few retries; past this the run has failed.
    const auto giveUpAt = Clock::now() + std::chrono::seconds(60);
    std::optional<ToneSource> tone;
    bool metadataSent = false;
    auto nextStall = Clock::now();
    const auto runLength = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!outcome->finalError) {
        // The checks below run every 50 ms until the stream is live, then
        // four times a second (a wake-up costs the process a context
        // switch), and the run ends on time.
        auto until = Clock::now() + std::chrono::milliseconds(outcome->liveSince ? 250 : 50);
        if (outcome->wantedSince) until = std::min(until, *outcome->wantedSince + runLength);
        if (stallMs > 0 && outcome->liveSince) until = std::min(until, nextStall);
        loop->runUntil(until);
        if (hungUp) {
            print("harness: hung up, ending the stream");
            break;
        }
        if (!outcome->liveSince) {
            if (Clock::now() > giveUpAt) break;
            continue;
        }
        if (player && !player->isPlaying() && player->playGeneration() == 0) player->play();
        if (source == "capture" && !capture) {
            capture = sources::AudioSourceCapture::create();
            startCapture(*capture, engine, sourceOperand);
        }
        if ((source == "tone" || source == "noise") && !tone) {
            tone.emplace(engine, rate, channels, toneHz, toneDbfs, toneGap, source == "noise");
        }
        // A machine too busy to run the encoder queue on time: its video
        // ticks come late, and some not at all.
        if (stallMs > 0 && Clock::now() >= nextStall) {
            nextStall += std::chrono::seconds(1);
            engine->encoderQueue().async([stallMs] {
                std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
            });
        }
        if (!metadataSent) {
            if (!options["--metadata"].empty()) engine->updateIcecastMetadata(options["--metadata"]);
            for (int i = 1; i <= metadataBurst; ++i) engine->updateIcecastMetadata("TEXT " + std::to_string(i));
            metadataSent = true;
        }
        const auto& since = outcome->wantedSince;
        if (since && Clock::now() - *since >= runLength) break;
        // Live again after reconnects within the engine's back-off, or not at all.
        if (!since && Clock::now() - *outcome->liveSince > std::chrono::seconds(90)) break;
    }

    if (const auto sounding = secondsSinceFirstSound()) {
        char text[80];
        std::snprintf(text, sizeof text, "harness: sources stopped %.3f s after the first sound went out", *sounding);
        print(text);
    }
    tone.reset();
    if (tcpServer) tcpServer->stop();
    if (player) player->stop();
    if (capture) capture->stopCapture();
    engine->disconnect();
    loop->runUntil(Clock::now() + std::chrono::seconds(1));
    const bool ok = outcome->wantedSince && outcome->disconnected && !outcome->finalError;
    rusage resources{};
    getrusage(RUSAGE_SELF, &resources);
    print("harness: peak RSS " + std::to_string(resources.ru_maxrss) + " kB");
    print(std::string("harness: ") + (ok ? "stream went live and ended in order" : "stream failed"));
    return ok ? 0 : 1;
}
