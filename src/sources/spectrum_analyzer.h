#pragma once

// Band levels for the spectrum bars: mono samples in, `bandCount` levels
// between 0 and 1 out, lowest band first. Every 4096 collected samples the
// newest 4096 are windowed and transformed; each band's mean bin power, tilted
// from +12 dB at the bottom to 0 dB at the top, maps −60…0 dB onto 0…1, and the
// level rises half way to that target or decays by 0.82.
//
// One analyser belongs to one source and is used on that source's thread
// only; `levels` is read there right after `process`.

#include "platform/dsp/real_fft.h"

#include <cstddef>
#include <vector>

namespace ondaline::sources {

// Band edges in Hz, bandCount + 1 of them, spaced evenly on a log scale from
// 30 Hz to min(sampleRate / 2, 16000).
std::vector<float> spectrumBandEdges(int bandCount, float sampleRate);

// Per-band gain in dB: +12 for the lowest band falling in equal steps to 0.
std::vector<float> spectrumBandGains(int bandCount);

// The inclusive FFT bins a band averages (hi < lo: none).
struct BinRange {
    int lo = 0, hi = 0;
};
BinRange spectrumBandBins(float lowEdge, float highEdge, float binWidth);

class SpectrumAnalyzer {
public:
    static constexpr int fftSize = 4096;

    // Fewer than two bands has no defined gain slope: std::invalid_argument.
    explicit SpectrumAnalyzer(int bandCount = 15, float sampleRate = 44100);

    void process(const float* buffer, std::size_t frameCount);

    int bandCount() const { return bandCount_; }
    std::vector<float> levels;

private:
    void analyse();

    static constexpr float fftNormFactor = 4.0f / (4096.0f * 4096.0f);
    static constexpr float attackFactor = 0.5f;
    static constexpr float decayFactor = 0.82f;

    int bandCount_;
    float sampleRate_;
    platform::RealFFT fft_{fftSize};
    std::vector<float> window_;
    std::vector<float> accumBuffer_;
    std::vector<float> bandEdges_;
    std::vector<float> bandGains_;
};

}  // namespace ondaline::sources
