#include "support/tone_analysis.h"

#include "support/process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace ondaline::test {

std::vector<float> decodeFirstChannel(const std::string& file)
{
    std::vector<float> samples;
    FILE* pipe = popen(("ffmpeg -v error -i " + shellQuote(file) + " -af 'pan=mono|c0=c0' -f f32le -").c_str(), "r");
    if (!pipe) return samples;
    float buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, sizeof(float), 4096, pipe)) > 0) samples.insert(samples.end(), buffer, buffer + n);
    pclose(pipe);
    return samples;
}

void writeToneFLAC(const std::string& file, int sampleRate, int channels, double hz, double seconds)
{
    runCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=" + std::to_string(hz) +
               ":sample_rate=" + std::to_string(sampleRate) + ":duration=" + std::to_string(seconds) + " -ac " +
               std::to_string(channels) + " -c:a flac -f flac " + shellQuote(file));
}

std::vector<float> fromOnset(const std::vector<float>& samples, float threshold)
{
    const auto onset = std::find_if(samples.begin(), samples.end(), [&](float x) { return std::abs(x) > threshold; });
    return {onset, samples.end()};
}

Tone analyseTone(const std::vector<float>& samples, double sampleRate, double margin)
{
    const auto skip = static_cast<std::size_t>(sampleRate * margin);
    if (samples.size() <= 2 * skip + 2) return {};
    const std::size_t begin = skip + 1, end = samples.size() - skip;
    int crossings = 0;
    std::size_t first = 0, last = 0;
    double sumSquares = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sumSquares += double(samples[i]) * samples[i];
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings++ == 0) first = i;
            last = i;
        }
    }
    if (crossings < 2) return {};
    const double rms = std::sqrt(sumSquares / double(end - begin));
    return {(crossings - 1) / (double(last - first) / sampleRate), 20 * std::log10(rms * std::sqrt(2.0))};
}

double medianPitch(const std::vector<float>& samples, double sampleRate, double from)
{
    const auto at = [&](double seconds) { return samples.begin() + static_cast<long>(seconds * sampleRate); };
    std::vector<double> stretches;
    for (; (from + 0.4) * sampleRate <= double(samples.size()); from += 0.2)
        stretches.push_back(analyseTone({at(from), at(from + 0.4)}, sampleRate, 0).hz);
    if (stretches.empty()) return 0;
    std::nth_element(stretches.begin(), stretches.begin() + long(stretches.size() / 2), stretches.end());
    return stretches[stretches.size() / 2];
}

double medianLevel(const std::vector<float>& samples, double sampleRate, double from)
{
    const auto at = [&](double seconds) { return samples.begin() + static_cast<long>(seconds * sampleRate); };
    std::vector<double> stretches;
    for (; (from + 0.1) * sampleRate <= double(samples.size()); from += 0.1) {
        double sumSquares = 0;
        for (auto sample = at(from); sample != at(from + 0.1); ++sample) sumSquares += double(*sample) * *sample;
        stretches.push_back(sumSquares / double(at(from + 0.1) - at(from)));
    }
    if (stretches.empty()) return -1000;
    std::nth_element(stretches.begin(), stretches.begin() + long(stretches.size() / 2), stretches.end());
    return 10 * std::log10(stretches[stretches.size() / 2] * 2);
}

namespace {

// The amplitude of a sine of `hz` in `samples`, under a Hann window.
double amplitudeAt(const float* samples, std::size_t count, double sampleRate, double hz)
{
    double re = 0, im = 0, weights = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count));
        const double phase = 2 * std::numbers::pi * hz * double(i) / sampleRate;
        re += w * samples[i] * std::cos(phase);
        im -= w * samples[i] * std::sin(phase);
        weights += w;
    }
    return 2 * std::hypot(re, im) / weights;
}

}  // namespace

std::string whereHeard(const std::vector<float>& samples, double sampleRate, double hz, double levelDBFS, double from)
{
    const auto tenth = static_cast<std::size_t>(sampleRate / 10);
    std::string heard;
    for (auto begin = static_cast<std::size_t>(from * sampleRate); begin + tenth <= samples.size(); begin += tenth) {
        // Within the window's main lobe of the tone, wherever it falls.
        double amplitude = 0;
        for (double off = -10; off <= 10; off += 5)
            amplitude = std::max(amplitude, amplitudeAt(samples.data() + begin, tenth, sampleRate, hz + off));
        const double dbfs = 20 * std::log10(std::max(amplitude, 1e-9));
        if (dbfs < levelDBFS) continue;
        char stretch[64];
        std::snprintf(stretch, sizeof stretch, "%s%.1f s at %.0f dBFS", heard.empty() ? "" : ", ",
                      double(begin) / sampleRate, dbfs);
        heard += stretch;
    }
    return heard;
}

}  // namespace ondaline::test
