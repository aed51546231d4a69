#include "support/recording.h"

#include "support/process.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace ondaline::test {

std::vector<std::string> recordingsOf(const std::string& recordDir, const std::string& key)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(recordDir)) {
        if (entry.path().filename().string().starts_with(key + "-")) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string recordingOf(const std::string& recordDir, const std::string& key)
{
    const auto files = recordingsOf(recordDir, key);
    return files.empty() ? std::string() : files.back();
}

std::string probeAudio(const std::string& file, const std::string& entries)
{
    return runCommand("ffprobe -v error -select_streams a:0 -show_entries " + entries +
                      " -of default=noprint_wrappers=1 " + shellQuote(file))
        .output;
}

double audioSpan(const std::string& file)
{
    std::istringstream packets(runCommand("ffprobe -v error -select_streams a:0 -show_entries "
                                          "packet=pts_time,duration_time -of csv=p=0 " + shellQuote(file)).output);
    double first = -1, end = 0;
    for (std::string line; std::getline(packets, line);) {
        double pts = 0, length = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &length) != 2) continue;
        if (first < 0) first = pts;
        end = pts + length;
    }
    return first < 0 ? 0 : end - first;
}

std::string decodeErrors(const std::string& file)
{
    return runCommand("ffmpeg -v error -i " + shellQuote(file) + " -f null -").output;
}

}  // namespace ondaline::test
