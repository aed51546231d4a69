#include "sources/spectrum_analyzer.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace ondaline::sources {

std::vector<float> spectrumBandEdges(int bandCount, float sampleRate)
{
    const float maxFreq = std::min(sampleRate * 0.5f, 16000.0f);
    std::vector<float> edges(static_cast<std::size_t>(bandCount) + 1);
    for (int i = 0; i <= bandCount; ++i) {
        edges[i] = 30.0f * std::pow(maxFreq / 30.0f, static_cast<float>(i) / static_cast<float>(bandCount));
    }
    return edges;
}

std::vector<float> spectrumBandGains(int bandCount)
{
    std::vector<float> gains(static_cast<std::size_t>(bandCount));
    for (int i = 0; i < bandCount; ++i) {
        gains[i] = 12.0f * (1.0f - static_cast<float>(i) / static_cast<float>(bandCount - 1));
    }
    return gains;
}

BinRange spectrumBandBins(float lowEdge, float highEdge, float binWidth)
{
    constexpr int lastBin = SpectrumAnalyzer::fftSize / 2 - 1;
    // Truncated like an integer conversion; a non-finite or huge quotient
    // (a rate of 0) is pinned to the ends instead of overflowing.
    auto bin = [](float hz) { return std::isfinite(hz) ? static_cast<int>(std::clamp(hz, -1.0f, 1e6f)) : 0; };
    return {std::max(1, bin(lowEdge / binWidth)), std::min(lastBin, bin(highEdge / binWidth))};
}

SpectrumAnalyzer::SpectrumAnalyzer(int bandCount, float sampleRate)
    : bandCount_(bandCount), sampleRate_(sampleRate), window_(platform::normalisedHannWindow(fftSize))
{
    if (bandCount < 2) throw std::invalid_argument("a spectrum needs at least two bands");
    levels.assign(static_cast<std::size_t>(bandCount), 0.0f);
    bandEdges_ = spectrumBandEdges(bandCount, sampleRate);
    bandGains_ = spectrumBandGains(bandCount);
    accumBuffer_.reserve(fftSize);
}

void SpectrumAnalyzer::process(const float* buffer, std::size_t frameCount)
{
    if (!buffer || frameCount == 0) return;
    // Only the newest fftSize samples can ever be analysed: keep no more.
    if (frameCount >= fftSize) {
        accumBuffer_.assign(buffer + (frameCount - fftSize), buffer + frameCount);
    } else {
        accumBuffer_.insert(accumBuffer_.end(), buffer, buffer + frameCount);
        if (accumBuffer_.size() > fftSize) accumBuffer_.erase(accumBuffer_.begin(), accumBuffer_.end() - fftSize);
    }
    if (accumBuffer_.size() < fftSize) return;
    analyse();
    accumBuffer_.clear();
}

void SpectrumAnalyzer::analyse()
{
    std::vector<float> frame(fftSize);
    std::transform(accumBuffer_.begin(), accumBuffer_.end(), window_.begin(), frame.begin(), std::multiplies<>());
    std::vector<float> magnitudes(fftSize / 2);
    fft_.squaredMagnitudes(frame, magnitudes);

    const float binWidth = sampleRate_ / static_cast<float>(fftSize);
    for (int i = 0; i < bandCount_; ++i) {
        float& level = levels[i];
        const auto [lo, hi] = spectrumBandBins(bandEdges_[i], bandEdges_[i + 1], binWidth);
        if (hi < lo) {
            level *= decayFactor;
            continue;
        }
        const float sum = std::accumulate(magnitudes.begin() + lo, magnitudes.begin() + hi + 1, 0.0f);
        const float power = sum / static_cast<float>(hi - lo + 1) * fftNormFactor;
        const float dB = 10.0f * std::log10(std::max(power, 1e-10f)) + bandGains_[i];
        const float target = std::max(std::min((dB + 60.0f) / 60.0f, 1.0f), 0.0f);
        if (level < target) {
            level += (target - level) * attackFactor;
        } else {
            level *= decayFactor;
        }
    }
}

}  // namespace ondaline::sources
