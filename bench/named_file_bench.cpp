// What reading the song file costs each time the dashboard polls it: the
// walk from the station folder one name at a time, the read relative to the
// folder it opened, and, where others may change the settings, the reading
// thread's rights changed and given back around it (root only). Against a
// plain read of the same file by its path.

#include "platform/file_rights/files.h"
#include "platform/file_rights/named_file.h"
#include "support/run_folder.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace ondaline;

const std::string& station()
{
    static const std::string folder = [] {
        const std::string root = test::runFile("named-file") + "/station";
        fs::create_directories(root + "/Misc/System");
        std::ofstream(root + "/Misc/System/current_song.txt") << "Artist\tTitle\n";
        return root;
    }();
    return folder;
}

void BM_SongFileRead(benchmark::State& state)
{
    const std::string song = station() + "/Misc/System/current_song.txt";
    platform::NamedFileRules rules;
    if (state.range(0) == 2) {
        if (::geteuid() != 0) return state.SkipWithError("changing the reading thread's rights needs root");
        rules.readAs = platform::FileReader{};
    }
    for (auto _ : state) {
        const platform::FileRead read = state.range(0) == 0 ? platform::readRegularFile(song)
                                                            : platform::readNamedFile(song, rules);
        benchmark::DoNotOptimize(read.contents);
    }
}
BENCHMARK(BM_SongFileRead)->ArgName("by_path|walked|walked_as_another")->DenseRange(0, 2);

}  // namespace
