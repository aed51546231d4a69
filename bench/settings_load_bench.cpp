// What loading a settings file costs in memory: a normal file, a hostile
// one nested millions of levels deep, the largest file the reader takes
// holding one long schedule, and as large a file of lists where the record
// wants none. Each load runs in a child process of its own,
// which reports how far its peak resident size rose above where it started.

#include "models/image_schedule_config.h"
#include "models/station_path.h"
#include "support/run_folder.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace ondaline;

long peakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    }
    return 0;
}

// A station folder of the benchmark's own, found through HOME's pointer file.
const std::string& station()
{
    static const std::string folder = [] {
        const std::string root = test::runFile("settings");
        fs::create_directories(root + "/station/Misc/System/Streamer");
        setenv("HOME", root.c_str(), 1);
        StationPath::save(root + "/station");
        return root + "/station";
    }();
    return folder;
}

std::string settingsText(int kind)
{
    switch (kind) {
    case 0:
        return R"({"stationName":"Radio Ondes","entries":[{"dayOfWeek":2,"startHour":6,"startMinute":0,)"
               R"("endHour":9,"endMinute":0,"imagePath":"/images/morning.png"}]})";
    case 1:
        return "{\"x\":" + std::string(7'000'000, '[') + std::string(7'000'000, ']') + "}";
    case 4:
    case 5:
    case 6: {
        // Millions of empty lists where a text belongs, under a key of the
        // record, under an overlay's key, and under a key it does not know.
        const char* opening[] = {"{\"stationName\":[", "{\"nowPlaying\":{\"fontName\":[", "{\"fromElsewhere\":["};
        const char* closing[] = {"]}", "]}}", "]}"};
        std::string text = opening[kind - 4];
        while (text.size() + 3 < 16 * 1024 * 1024 - 64) text += "[],";
        text.pop_back();  // the last comma
        return text + closing[kind - 4];
    }
    default: {
        // A long schedule of real entries, or of empty ones, which are not entries.
        const std::string entry = kind == 2 ? R"({"dayOfWeek":2,"startHour":6,"startMinute":0,"endHour":9,)"
                                              R"("endMinute":0,"imagePath":"/images/morning.png"},)"
                                            : "{},";
        std::string text = "{\"entries\":[";
        while (text.size() + entry.size() < 16 * 1024 * 1024 - 64) text += entry;
        text.back() = ']';
        return text + "}";
    }
    }
}

void BM_SettingsLoadPeak(benchmark::State& state)
{
    const std::string text = settingsText(static_cast<int>(state.range(0)));
    {
        station();
        std::ofstream(ImageScheduleConfig::configFile(), std::ios::binary) << text;
    }
    long risenKiB = 0;
    for (auto _ : state) {
        int channel[2];
        if (pipe(channel) != 0) return state.SkipWithError("pipe");
        const pid_t child = fork();
        if (child == 0) {
            const long before = peakKiB();
            const auto config = ImageScheduleConfig::load();
            benchmark::DoNotOptimize(config);
            const long risen = peakKiB() - before;
            (void)!write(channel[1], &risen, sizeof risen);
            _exit(0);
        }
        close(channel[1]);
        (void)!read(channel[0], &risenKiB, sizeof risenKiB);
        close(channel[0]);
        waitpid(child, nullptr, 0);
    }
    state.counters["file_MiB"] = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    state.counters["peak_rise_MiB"] = static_cast<double>(risenKiB) / 1024.0;
    state.counters["rise_per_file_byte"] = static_cast<double>(risenKiB) * 1024.0 / static_cast<double>(text.size());
}
BENCHMARK(BM_SettingsLoadPeak)
    ->ArgName("normal|nested|long_schedule|empty_entries|wrong_type|wrong_type_in_overlay|unknown_key")
    ->DenseRange(0, 6)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// What the autosave costs the main thread with a key typed, and the next
// start's load: in a station of one's own, where the settings file holds the
// key, and in one its group may change, where the key is kept apart in the
// private file (a locked change of it, and a read at the load).
void BM_SettingsSaveAndLoadWithAKey(benchmark::State& state)
{
    const bool shared = state.range(0) == 1;
    const std::string streamer = station() + "/Misc/System/Streamer";
    fs::permissions(streamer, shared ? fs::perms::owner_all | fs::perms::group_all : fs::perms::owner_all);
    setenv("XDG_CONFIG_HOME", (fs::path(station()).parent_path() / "config").c_str(), 1);
    ImageScheduleConfig record;
    record.stationName = "Radio Ondes";
    std::uint64_t n = 0;
    for (auto _ : state) {
        record.streamKey = "live-" + std::to_string(++n);  // typed anew: each save changes it
        const SettingsSave saved = record.save();
        if (!saved.written || saved.notOwn.empty() != !shared) return state.SkipWithError("not saved as expected");
        const auto loaded = ImageScheduleConfig::load();
        if (loaded.streamKey != record.streamKey) return state.SkipWithError("the key did not come back");
        benchmark::DoNotOptimize(loaded);
    }
    fs::permissions(streamer, fs::perms::owner_all);
}
BENCHMARK(BM_SettingsSaveAndLoadWithAKey)->ArgName("own|shared")->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

}  // namespace
