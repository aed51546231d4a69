#include "support/recording.h"

#include "support/process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
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
                                          "packet=pts_time,duration_time -of csv=p=0 " +
                                          shellQuote(file))
                                   .output);
    double first = -1, end = 0;
    for (std::string line; std::getline(packets, line);) {
        double pts = 0, length = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &length) != 2) continue;
        if (first < 0) first = pts;
        end = pts + length;
    }
    return first < 0 ? 0 : end - first;
}

namespace {

struct Packet {
    bool audio;
    long ms;
};

std::vector<Packet> packetsInFileOrder(const std::string& file)
{
    std::istringstream lines(
        runCommand("ffprobe -v error -show_entries packet=codec_type,pts -of csv=p=0 " + shellQuote(file)).output);
    std::vector<Packet> packets;
    for (std::string line; std::getline(lines, line);) {
        char type[16] = {};
        long pts = 0;
        if (std::sscanf(line.c_str(), "%15[a-z],%ld", type, &pts) != 2) continue;
        packets.push_back({std::string(type) == "audio", pts});  // FLV's time base is 1 ms
    }
    return packets;
}

}  // namespace

std::vector<long> audioPacketTimes(const std::string& file)
{
    std::vector<long> times;
    for (const auto& packet : packetsInFileOrder(file)) {
        if (packet.audio) times.push_back(packet.ms);
    }
    return times;
}

std::vector<double> avOffsetsAt(const std::string& file, const std::vector<double>& seconds)
{
    const auto packets = packetsInFileOrder(file);
    std::vector<double> offsets;
    for (const double at : seconds) {
        std::vector<double> around;
        long audio = -1;
        for (const auto& packet : packets) {
            if (packet.audio) audio = packet.ms;
            else if (audio >= 0 && std::abs(packet.ms - at * 1000) <= 500) around.push_back(double(audio - packet.ms));
        }
        if (around.empty()) {
            offsets.push_back(1e9);  // nothing there: no offset to speak of
            continue;
        }
        std::nth_element(around.begin(), around.begin() + long(around.size() / 2), around.end());
        offsets.push_back(around[around.size() / 2]);
    }
    return offsets;
}

double avStartOffset(const std::string& file)
{
    std::optional<long> audio, video;
    for (const auto& packet : packetsInFileOrder(file)) {
        auto& first = packet.audio ? audio : video;
        if (!first) first = packet.ms;
    }
    return audio && video ? double(*audio - *video) : 1e9;
}

double audioStampsOffTheirFrames(const std::string& file)
{
    double rate = 0;
    if (std::sscanf(probeAudio(file, "stream=sample_rate").c_str(), "sample_rate=%lf", &rate) != 1 || !(rate > 0))
        return 1e9;
    double worst = 0, frames = 0;
    for (const long ms : audioPacketTimes(file)) {
        worst = std::max(worst, std::abs(double(ms) - std::floor(frames * 1000 / rate)));
        frames += 1024;
    }
    return frames > 0 ? worst : 1e9;
}

std::string decodeErrors(const std::string& file)
{
    return runCommand("ffmpeg -v error -i " + shellQuote(file) + " -f null -").output;
}

}  // namespace ondaline::test
